// Writes the seed corpora of the fuzz targets:
//   headset_stream/    bytes recorded from the simulated headset over its
//                      pseudo-terminal (start-up answers, the data stream at
//                      300 and 600 samples per second, a 7-sensor headset,
//                      and the stream while each fault is injected), cut at
//                      block starts into files of a few blocks, plus framing
//                      edge cases built by hand;
//   calibration_file/  the simulator's calibration images dumped in each
//                      format, and damaged dumps;
//   montage/, source_names/  hand-written texts.
//
//   voq_fuzz_seeds <corpus directory>
//
// File names carry a content hash, so that re-running adds nothing twice.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Simulator.h"

namespace {

using voqfuzz::Bytes;

std::string gRoot;
int gWritten = 0;

uint32_t Hash(const Bytes& bytes) {
    uint32_t h = 2166136261u;
    for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

void Save(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string directory = gRoot + "/" + target;
    mkdir(directory.c_str(), 0755);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", unsigned(Hash(bytes)));
    std::ofstream file(directory + "/" + name + suffix, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ++gWritten;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// ----- A raw host on the simulator's pseudo-terminal ------------------------

class RawHost {
public:
    explicit RawHost(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        struct termios t;
        if (tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            t.c_cc[VMIN] = 0;
            t.c_cc[VTIME] = 0;
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~RawHost() {
        if (fd_ >= 0) close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    void Send(VOQ::CommandDestination::Code destination, VOQ::CommandFamily::Code family, const Bytes& payload) {
        VOQ::Command command(destination, family, payload.data(), payload.size());
        command.Sign(identifier_++ % 250 + 1);
        size_t done = 0;
        while (done < command.packetLength) {
            ssize_t n = write(fd_, command.packet + done, command.packetLength - done);
            if (n > 0) done += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        }
    }
    void Send(VOQ::CommandFamily::Code family, const Bytes& payload = Bytes()) {
        Send(VOQ::CommandDestination::Master, family, payload);
    }

    // Everything that arrives within `seconds`.
    Bytes Record(double seconds) {
        Bytes bytes;
        const double end = VOQ::PrecisionTime() + seconds;
        uint8_t chunk[4096];
        while (VOQ::PrecisionTime() < end) {
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0)
                bytes.insert(bytes.end(), chunk, chunk + n);
            else
                VOQ::Sleep(0.002);
        }
        return bytes;
    }

private:
    int fd_ = -1;
    int identifier_ = 0;
};

// Cuts recorded bytes at block starts ("#2") into files of at least
// `chunk` bytes; `options` is the stream target's option byte.
void SaveStream(const std::string& name, const Bytes& bytes, uint8_t options, size_t chunk = 1600) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == '#' && bytes[i + 1] == '2') starts.push_back(i);
    starts.push_back(bytes.size());
    size_t begin = 0;
    int part = 0;
    for (size_t start : starts) {
        if (start - begin < chunk && start != bytes.size()) continue;
        if (start > begin) {
            Bytes seed{options};
            seed.insert(seed.end(), bytes.begin() + long(begin), bytes.begin() + long(start));
            Save("headset_stream", name + "-" + std::to_string(part++), seed);
        }
        begin = start;
    }
}

Bytes U16(unsigned v) { return voqfuzz::U16(v); }

void RecordSimulator() {
    using namespace VOQ::CommandFamily;
    voqsim::Config config;
    config.triggerPeriodSeconds = 0.2;
    config.accelerometerRate = 25;
    voqsim::Simulator sim(config);
    RawHost host(sim.Start());
    if (!host.IsOpen()) throw VOQ::Error("cannot open the simulator's pseudo-terminal");

    // Start-up: every query the library makes, answered.
    host.Send(Echo, FromText("VOQ Ready"));
    host.Send(DataAcquisitionMode, U16(1));
    host.Send(DeviceIdentification);
    host.Send(SerialNumberAndSensorCount);
    host.Send(FirmwareRevision);
    host.Send(VOQ::CommandDestination::Slave, FirmwareRevision, Bytes());
    host.Send(FirmwareRevisionSub);
    host.Send(VOQ::CommandDestination::Slave, FirmwareRevisionSub, Bytes());
    host.Send(RealTimeClock);
    host.Send(BatteryMonitor, U16(1));
    host.Send(ImpedanceDriverMode, U16(2));
    host.Send(AnalogResetMode, U16(0));
    for (unsigned page = 0; page < 8; ++page) host.Send(CalibrationMemory, U16(page));
    host.Send(AccelerometerRate);
    host.Send(AcquisitionSettings);
    host.Send(LED, U16(3));
    host.Send(SelfTest);
    host.Send(InternalStorage);
    SaveStream("startup", host.Record(0.6), 0x01);

    // The data stream, with the impedance driver on.
    host.Send(DataAcquisitionMode, U16(2));
    SaveStream("stream300", host.Record(0.8), 0x01);

    // The stream while faults are injected; check sums kept as sent.
    struct Fault {
        const char* name;
        std::function<void()> inject;
    };
    const Fault faults[] = {
        {"corrupt", [&] { sim.CorruptNextBlocks(2); }},
        {"truncate", [&] { sim.TruncateNextBlock(); }},
        {"truncate-header", [&] { sim.TruncateNextBlock(9); }},
        {"drop", [&] { sim.DropBytesInNextBlock(7); }},
        {"swap", [&] { sim.SwapNextBlocks(); }},
        {"skip", [&] { sim.SkipDataPackets(5); }},
        {"alarms",
         [&] {
             sim.SendAlarm(2, 0x0F, {80, 75, 3000, 2900}, true);
             sim.SendAlarm(6, 0x0B, {0x10, 0x02, 12}, false);
             sim.SendAlarm(2, 0x2E, {}, false);
             sim.SendAlarm(2, 0x33, {}, false);
             sim.SendAlarm(2, 0x7F, {1, 2, 3, 4, 5, 6, 7, 8}, true);
         }},
        {"raw", [&] { sim.SendRaw({'#', '2', 0xFF, 0x03, 0, '\r', '\n', '#', '2', 0x10, 0, 1, 2}); }},
        {"refusals",
         [&] {
             sim.SetRefusal(AccelerometerRate, 0xF0);
             sim.SetRefusal(LED, 0x80);
             sim.SetRefusal(SelfTest, 0xE3);
             host.Send(AccelerometerRate, U16(33));
             host.Send(LED, U16(1));
             host.Send(SelfTest);
         }},
        {"malformed",
         [&] {
             for (int family : {18, 19, 29, 33, 40, 47, 48, 65, 165, 172, 218, 236})
                 sim.SetMalformedAnswer(family, true);
             host.Send(DataAcquisitionMode, U16(0));
             host.Send(DeviceIdentification);
             host.Send(CalibrationMemory, U16(3));
             host.Send(RealTimeClock);
             host.Send(AccelerometerRate);
             host.Send(ImpedanceDriverMode, U16(0));
             host.Send(Echo, FromText("x"));
         }},
    };
    for (const Fault& fault : faults) {
        fault.inject();
        SaveStream(std::string("fault-") + fault.name, host.Record(0.25), 0x00, 4000);
        sim.ClearFaults();
    }

    // 600 samples per second, filter off.
    host.Send(AcquisitionSettings, Bytes{0x58, 0x02, 0, 0});
    host.Send(DataAcquisitionMode, U16(0));
    SaveStream("stream600", host.Record(0.4), 0x01 | 0x02 | 0x10);

    // A 7-sensor headset: its calibration pages, then its stream.
    host.Send(DataAcquisitionMode, U16(1));
    host.Record(0.1);
    sim.UseLayout("seven");
    for (unsigned page = 0; page < 8; ++page) host.Send(CalibrationMemory, U16(page));
    host.Send(DataAcquisitionMode, U16(2));
    SaveStream("seven", host.Record(0.5), 0x01 | 0x04);
    host.Send(DataAcquisitionMode, U16(1));
    sim.Stop();
}

// ----- Framing edge cases, built by hand ------------------------------------

void HandMadeStreams() {
    using voqfuzz::Block;
    using voqfuzz::Packet;
    using voqfuzz::Response;
    auto save = [](const std::string& name, const Bytes& bytes, uint8_t options = 0x00) {
        Bytes seed{options};
        seed.insert(seed.end(), bytes.begin(), bytes.end());
        Save("headset_stream", name, seed);
    };
    Bytes data(50, 0);
    data[0] = 7;
    data[1] = 0xA5;
    const Bytes dataPacket = Packet(3, data, 600);
    Bytes accelerometer(24, 0);
    accelerometer[0] = 20;
    accelerometer[8] = 60;
    accelerometer[16] = 120;
    const Bytes accelerometerPacket = Packet(4, accelerometer, 600);

    save("empty-block", Block(12, {}));
    save("every-species", Block(2, {Response(1, 29, 1, FromText("ABC-100 Rev 2")), Packet(2, {0x01, 0x00}),
                                   dataPacket, accelerometerPacket, Response(5, 18, 2, FromText("9.9\0\0")),
                                   Packet(6, {0x0B, 0x02, 1, 2}), Packet(7, {1, 2, 3}), Packet(0, {0})}));
    Bytes tooLong = Block(3, {dataPacket});
    tooLong[2] = 0x01;
    tooLong[3] = 0x04;
    Bytes tooShort = Block(3, {});
    tooShort[2] = 21;
    tooShort[3] = 0;
    Bytes shortest = Block(3, {});
    shortest.resize(22);
    shortest[2] = 22;
    shortest[20] = '\r';
    shortest[21] = '\n';
    VOQ::WriteU16LE(&shortest[12], VOQ::CRC16(&shortest[14], 6));
    Bytes faults;
    for (const Bytes& b : {tooLong, Block(4, {dataPacket}), tooShort, Block(5, {}), shortest, Block(6, {})})
        faults.insert(faults.end(), b.begin(), b.end());
    save("length-faults", faults);
    Bytes badStart = Block(7, {dataPacket});
    badStart[1] = '3';
    Bytes badEnd = Block(8, {dataPacket});
    badEnd.back() = '\r';
    Bytes badCrc = Block(9, {dataPacket});
    badCrc[30] ^= 0x40;
    Bytes codes;
    for (const Bytes& b : {badStart, badEnd, badCrc, Block(10, {dataPacket})}) codes.insert(codes.end(), b.begin(), b.end());
    save("code-faults", codes);
    // A packet claiming more than is left, one claiming nothing, leftovers.
    Bytes overshoot = dataPacket;
    overshoot[0] = 59;
    save("overshoot", Block(11, {overshoot}), 0x01);
    save("zero-length-packet", Block(11, {Bytes{0, 3, 0, 0, 0, 0, 0}, dataPacket}), 0x01);
    save("leftover", Block(11, {dataPacket, Bytes{9, 9, 9}}), 0x01);
    save("out-of-order", [&] {
        Bytes b;
        for (uint16_t n : {5, 7, 65535, 0, 0})
            for (uint8_t x : Block(n, {dataPacket})) b.push_back(x);
        return b;
    }(), 0x01);
    // Responses and refusals, sizes around each family's minimum.
    std::vector<Bytes> responses;
    const int families[] = {18, 19, 29, 30, 33, 40, 47, 48, 65, 145, 165, 172, 186, 189, 203, 218, 236};
    for (int family : families)
        for (size_t n : {0, 1, 2, 4, 6, 10, 13, 18, 24})
            responses.push_back(Response(family == 172 || family == 218 ? 5 : 1, family, 3, Bytes(n, uint8_t(n * 7 + 1))));
    for (int code : {0x80, 0xE0, 0xE7, 0xF0, 0xF3, 0xFF, 0x99}) responses.push_back(Response(1, code, 4, {}));
    for (size_t k = 0; k < responses.size(); k += 12) {
        std::vector<Bytes> group(responses.begin() + long(k),
                                 responses.begin() + long(std::min(responses.size(), k + 12)));
        save("responses-" + std::to_string(k / 12), Block(uint16_t(20 + k), group), 0x01);
    }
    // A calibration image arriving in eight pages.
    std::vector<Bytes> pages;
    const voqfuzz::Image image = voqfuzz::SevenSensorImage();
    for (int p = 0; p < 8; ++p) {
        Bytes payload{uint8_t(p), 0};
        payload.insert(payload.end(), image.begin() + 16 * p, image.begin() + 16 * p + 16);
        pages.push_back(Response(1, 47, uint8_t(p), payload));
    }
    pages.push_back(Response(1, 47, 9, Bytes(18, 9)));
    save("calibration-pages", Block(40, pages), 0x01);
    // Alarms: widths, counts, templates, the battery and the command faults.
    save("alarms", Block(41, {Packet(2, {0x0F, 0x84, 80, 0, 75, 0, 0xB8, 0x0B, 0x54, 0x0B}),
                              Packet(2, {0x0A, 0x03, 0x21, 0x05, 0x03}), Packet(6, {0x06, 0x03, 0x10, 0x02, 12}),
                              Packet(2, {0x2E, 0x00}), Packet(2, {0x31, 0x00}), Packet(2, {0x33, 0x00}),
                              Packet(2, {0x0F, 0x83, 1, 2}), Packet(6, {0xFF, 0x3F}), Packet(2, {})}),
         0x01);
    // Extended data of another subtype, short and long accelerometer packets.
    Bytes longer = accelerometer;
    longer.push_back(1);
    save("extended", Block(42, {Packet(4, {21, 0}), Packet(4, Bytes(accelerometer.begin(), accelerometer.end() - 1)),
                                Packet(4, longer), Packet(4, {})}),
         0x01);
    // Data packets: short, long, out of sequence, trigger bits.
    Bytes shortData(data.begin(), data.end() - 1);
    Bytes longData = data;
    longData.push_back(0);
    Bytes jump = data;
    jump[0] = 200;
    save("data-packets", Block(43, {Packet(3, shortData), Packet(3, longData), Packet(3, jump), dataPacket}), 0x01);
    // Garbage between blocks, and a start code inside a block body.
    Bytes noise = FromText("\r\n#2\x18\r\n#\r\n");
    const Bytes good = Block(44, {dataPacket});
    noise.insert(noise.end(), good.begin(), good.end());
    save("noise", noise);
}

// ----- Calibration files ------------------------------------------------------

Bytes Slurp(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void CalibrationFiles() {
    const std::string scratch = gRoot + "/.dump";
    VOQ::Headset headset("deferred");
    headset.SetMessageCallback(nullptr);
    for (const std::string& layout : voqsim::LayoutNames()) {
        const voqsim::Image image = voqsim::LayoutImage(layout);
        try {
            headset.InterpretCalibrationMemory(image.data());
        } catch (const VOQ::Error&) {
        }
        for (const char* format : {"DEC", "HEX", "BIN"}) {
            headset.DumpCalibrationMemoryToFile(scratch, format);
            Save("calibration_file", layout + "-" + format, Slurp(scratch));
        }
        Save("calibration_file", layout + "-bare", Bytes(image.begin(), image.end()));
    }
    std::remove(scratch.c_str());

    std::string dec = "DEC\n";
    std::string hex = "hex\n";
    for (int i = 0; i < 128; ++i) {
        dec += std::to_string(i * 3) + (i % 8 == 7 ? "\n" : " ");
        char text[8];
        std::snprintf(text, sizeof text, "%x%s", (i * 5) & 0xFF, i % 8 == 7 ? "\n" : "\t");
        hex += text;
    }
    Save("calibration_file", "dec-wide-values", FromText(dec));
    Save("calibration_file", "hex-lower-case", FromText(hex));
    Save("calibration_file", "dec-no-final-newline", FromText(dec.substr(0, dec.size() - 1)));
    Save("calibration_file", "dec-short", FromText(dec.substr(0, dec.size() / 2)));
    Save("calibration_file", "dec-signs", FromText("DEC -1 +2 -300 99999999999999999999 0x10 7"));
    Save("calibration_file", "bin-short", FromText("BIN\nabc"));
    Save("calibration_file", "unknown-header", FromText("OCT\n1 2 3"));
    Save("calibration_file", "empty", Bytes());
}

// ----- Texts ----------------------------------------------------------------------

Bytes Join(uint8_t options, const std::vector<std::string>& parts, char separator = '\0') {
    Bytes bytes{options};
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) bytes.push_back(uint8_t(separator));
        bytes.insert(bytes.end(), parts[k].begin(), parts[k].end());
    }
    return bytes;
}

void Montages() {
    const struct {
        const char* name;
        uint8_t options;
        std::vector<std::string> parts;
    } seeds[] = {
        {"common", 0x21, {"F3 C3-A1/2-A2/2 Cz*2 Fz/2", "A1/2+A2/2", "O1-O2", "Cz", "filtered"}},
        {"factory", 0x00, {"FACTORY", "FACTORY", "", "TRG", "raw"}},
        {"blanks", 0x08, {"F3 - A1/2 - A2/2", "", "-F3", "F3", ""}},
        {"bad-terms", 0x00, {"2*F3 F3/2*3 F3/0 F3*1e-3 F3/2/2 F3**2 //", "LE", "+", "-", "raw"}},
        {"auto-swap", 0x01, {"A1 A2 Pz", "A1/2+A2/2", "A1", "A1", "x"}},
        {"separators", 0x28, {"Fz, Cz,  Pz\t\r\nO1", "M1/2+M2/2", "", "Pz", "Stage"}},
        {"numbers", 0x04, {"CH3 SRC04 5 T7 P8 TRG ACCX 41 0 999999999999", "TP9/2+TP10/2", "SRC1-CH2", "ch3", ""}},
        {"seven", 0x13, {"F3 A1A2 C4-P4 LE", "A1A2", "LE", "LE", "s"}},
        {"specials", 0x08, {"X1 CM NUL ZERO Trig SND RCV ACCT", "", "X1*-1", "CM", ""}},
        {"odd-numbers", 0x00, {"F3*nan F3*inf F3/1e-320 F3*1e308*1e308 Cz*-0", "Cz*0", "", "", ""}},
        {"reference-only", 0x40, {"", "Cz/3+Pz/3+Fz/3", "", "", ""}},
        {"bad-reference", 0x41, {"F3", "Nowhere", "", "", ""}},
        {"traditional", 0x11, {"", "", "F4", "F4", "raw"}},
    };
    for (const auto& seed : seeds) Save("montage", seed.name, Join(seed.options, seed.parts));
}

void SourceNameSeeds() {
    auto record = [](int operation, const std::string& a, const std::string& b = std::string()) {
        std::string r(1, char(operation));
        r += a;
        if (!b.empty()) r += '\x01' + b;
        return r;
    };
    const struct {
        const char* name;
        uint8_t options;
        std::vector<std::string> records;
    } seeds[] = {
        {"match", 0x00,
         {record(0, "T3"), record(1, " fp1 "), record(0, "CH3"), record(1, "SRC041"), record(0, "0"),
          record(1, "999999999999"), record(0, "Trigger"), record(1, "nowhere")}},
        {"aliases", 0x02,
         {record(2, "Fp1 Front Left"), record(2, "F3 F4"), record(2, "Nothing here"), record(1, "front"),
          record(2, ",,, \t")}},
        {"rename", 0x00,
         {record(3, "F3", "Left"), record(3, "F4", "Left"), record(3, "Left", "5"), record(1, "Left"),
          record(3, "nowhere", "x"), record(6, "Left-F4/2")}},
        {"schemes", 0x02,
         {record(4, "10-10"), record(0, "T7"), record(4, "1020"), record(4, "10 20"), record(5, "\x13"),
          record(5, "\xff")}},
        {"montage", 0x00,
         {record(3, "Cz", "Top"), record(7, "Top F3 Cz", "A1/2+A2/2"), record(7, "FACTORY", "FACTORY")}},
        {"seven", 0x01, {record(0, "LE"), record(0, "A1A2"), record(2, "X1 Ears"), record(1, "SRC1")}},
        {"set-name", 0x02, {record(8, "F4", "\x04"), record(1, "F4"), record(8, "", "\x00"), record(7, "", "")}},
    };
    for (const auto& seed : seeds) Save("source_names", seed.name, Join(seed.options, seed.records));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    gRoot = argv[1];
    mkdir(gRoot.c_str(), 0755);
    try {
        RecordSimulator();
        HandMadeStreams();
        CalibrationFiles();
        Montages();
        SourceNameSeeds();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "voq_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    std::printf("%d seed files written under %s\n", gWritten, gRoot.c_str());
    return 0;
}
