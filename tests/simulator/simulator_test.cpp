// The simulated headset, checked on the wire through a real pseudo-terminal
// with the test's own decoder (HostLink).
#include "HostLink.h"

#include "Simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace simtest;

namespace {

const double kTwoPi = 6.283185307179586;
const int kMaster = 1;
const int kSlave = 2;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Gain of slot k as the image states it: microvolts per count.
double SlotGain(const voqsim::Image& image, int k, bool commonMode = false) {
    const int16_t g = S16(&image[size_t(24 + 4 * k)]);
    return (commonMode ? 74.0 : 0.301) * (1.0 + g / 32768.0);
}

struct Sample {
    int sequence = 0;
    int trigger = 0;
    uint32_t stamp = 0;
    int16_t raw[24] = {};
};

void AppendSamples(const std::vector<Packet>& packets, std::vector<Sample>& samples) {
    for (const Packet& p : packets) {
        if (p.species != 3) continue;
        EXPECT_EQ(p.bytes.size(), 56u);
        if (p.bytes.size() < 56) continue;
        Sample s;
        s.stamp = p.stamp;
        s.sequence = p.bytes[6];
        s.trigger = p.bytes[7];
        for (int k = 0; k < 24; ++k) s.raw[k] = S16(&p.bytes[size_t(8 + 2 * k)]);
        samples.push_back(s);
    }
}

// Reads blocks for `seconds`, checking the framing of each; returns the data
// packets and gives the blocks and accelerometer packets.
std::vector<Sample> Stream(HostLink& host, double seconds, std::vector<Block>* blocks = nullptr,
                           std::vector<Packet>* accelerometer = nullptr, bool requireCrc = true) {
    std::vector<Sample> samples;
    const double end = Seconds() + seconds;
    Block block;
    while (Seconds() < end && host.NextBlock(block, 0.5)) {
        EXPECT_LE(block.length, 1024u);
        EXPECT_TRUE(block.packetsFit) << "block " << block.number;
        if (requireCrc) {
            EXPECT_TRUE(block.crcOk) << "block " << block.number;
        }
        AppendSamples(block.packets, samples);
        if (accelerometer)
            for (const Packet& p : block.packets)
                if (p.species == 4) accelerometer->push_back(p);
        if (blocks) blocks->push_back(block);
    }
    return samples;
}

// Amplitude-like estimates over samples [from, from + count) of slot k:
// sqrt(I^2 + Q^2) of signal x cos / sin at `hz`, t = stamp / 1800.
double Component(const std::vector<Sample>& s, size_t from, size_t count, int k, double gain, double hz) {
    double i = 0.0, q = 0.0;
    for (size_t n = from; n < from + count; ++n) {
        const double t = s[n].stamp / 1800.0;
        const double v = s[n].raw[k] * gain;
        i += v * std::cos(kTwoPi * hz * t);
        q += v * std::sin(kTwoPi * hz * t);
    }
    i /= double(count);
    q /= double(count);
    return std::sqrt(i * i + q * q);
}

bool HasAlarm(const std::vector<Packet>& packets, int species, int code) {
    for (const Packet& p : packets)
        if (p.species == species && p.bytes.size() >= 8 && p.bytes[6] == code) return true;
    return false;
}

}  // namespace

TEST(SimulatorWire, OwnCrcMatchesTheCheckValues) {
    const std::string abc = "abc", digits = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()), 0xCADB);
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xFEE8);
}

TEST(SimulatorCommands, AnswersEachFamily) {
    voqsim::Config config;
    config.batteryFirstDelaySeconds = 0.1;
    voqsim::Simulator sim(config);
    const std::string path = sim.Start();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    HostLink host(path);
    ASSERT_TRUE(host.IsOpen());
    Packet r;
    std::vector<Packet> others;

    // Echo, with the prefix: the first answer is announced by ConnectionCreated.
    const int id = host.Send(kMaster, 236, Text("VOQ Ready"), -1, true);
    ASSERT_TRUE(host.Response(id, r, 1.0, &others));
    EXPECT_TRUE(HasAlarm(others, 2, 0x33));
    EXPECT_EQ(r.species, 1);
    EXPECT_EQ(r.Code(), 236);
    EXPECT_EQ(r.Payload(), Text("VOQ Ready"));

    ASSERT_TRUE(host.Ask(kMaster, 29, {}, r));
    EXPECT_EQ(r.Payload(), Text("VOQ24 HS Rev 2"));
    ASSERT_TRUE(host.Ask(kMaster, 40, {}, r));
    ASSERT_EQ(r.Payload().size(), 6u);
    EXPECT_EQ(U32(&r.Payload()[0]), 2400117u);
    EXPECT_EQ(U16(&r.Payload()[4]), 24);
    ASSERT_TRUE(host.Ask(kMaster, 18, {}, r));
    EXPECT_EQ(r.Payload(), Text(std::string("1.18.0") + '\0'));
    ASSERT_TRUE(host.Ask(kSlave, 18, {}, r));
    EXPECT_EQ(r.species, 5);
    EXPECT_EQ(r.Payload(), Text(std::string("1.9.4") + '\0'));
    others.clear();
    ASSERT_TRUE(host.Ask(kMaster, 19, {}, r, &others));
    EXPECT_EQ(r.Payload(), (Bytes{1, 2, 0, 0}));
    ASSERT_EQ(others.size(), 1u);   // the second entry of the map
    EXPECT_EQ(others[0].Payload(), (Bytes{2, 7, 0, 0}));

    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(0), r));
    EXPECT_EQ(r.Payload(), (Bytes{0, 1, 0x2C, 0x01}));   // stopped, filter 1, 300
    ASSERT_TRUE(host.Ask(kMaster, 165, U16Bytes(0), r));
    EXPECT_EQ(r.Payload(), (Bytes{0x2C, 0x01, 1, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0x00}));

    // Calibration memory: eight pages, then a page write read back.
    const voqsim::Image expected = voqsim::LayoutImage("standard24");
    for (int page = 0; page < 8; ++page) {
        ASSERT_TRUE(host.Ask(kMaster, 47, U16Bytes(unsigned(page)), r));
        const Bytes p = r.Payload();
        ASSERT_EQ(p.size(), 18u);
        EXPECT_EQ(p[0], page);
        EXPECT_TRUE(std::equal(p.begin() + 2, p.end(), expected.begin() + 16 * page)) << "page " << page;
    }
    EXPECT_EQ(expected[127], 2);
    EXPECT_EQ(expected[126], 33);
    EXPECT_EQ(expected[14], 33);
    Bytes write{0xA7, 0x3C};
    for (int i = 0; i < 16; ++i) write.push_back(uint8_t(0x40 + i));
    Bytes page7{7, 0};
    page7.insert(page7.end(), write.begin() + 2, write.end());
    ASSERT_TRUE(host.Ask(kMaster, 47, write, r));
    EXPECT_EQ(r.Payload(), page7);
    ASSERT_TRUE(host.Ask(kMaster, 47, U16Bytes(7), r));
    EXPECT_EQ(r.Payload(), page7);
    EXPECT_EQ(sim.CalibrationImage()[127], 0x4F);
    write[1] = 0x3D;
    ASSERT_TRUE(host.Ask(kMaster, 47, write, r));
    EXPECT_EQ(r.Code(), 0xF1);

    // Accelerometer: an unsupported rate is refused, a supported one taken.
    ASSERT_TRUE(host.Ask(kSlave, 172, U16Bytes(33), r));
    EXPECT_EQ(r.Code(), 0xF0);
    ASSERT_TRUE(host.Ask(kSlave, 172, U16Bytes(25), r));
    EXPECT_EQ(r.Payload(), U16Bytes(25));
    ASSERT_TRUE(host.Ask(kSlave, 172, {}, r));
    EXPECT_EQ(r.Payload(), U16Bytes(25));

    // Clock: set, then the answer carries the time it was set.
    ASSERT_TRUE(host.Ask(kMaster, 48, Bytes{7, 3, 26, 14, 5, 9}, r));
    const Bytes clock = r.Payload();
    ASSERT_EQ(clock.size(), 13u);
    EXPECT_EQ(Bytes(clock.begin() + 7, clock.end()), (Bytes{7, 3, 26, 14, 5, 9}));
    EXPECT_EQ(Bytes(clock.begin(), clock.begin() + 5), (Bytes{7, 3, 26, 14, 5}));
    ASSERT_TRUE(host.Ask(kMaster, 48, Bytes{13, 3, 26, 14, 5, 9}, r));
    EXPECT_EQ(r.Code(), 0xF0);

    // Modes.
    ASSERT_TRUE(host.Ask(kSlave, 218, U16Bytes(2), r));
    EXPECT_EQ(r.species, 5);
    EXPECT_EQ(r.Payload(), U16Bytes(1));
    ASSERT_TRUE(host.Ask(kMaster, 65, U16Bytes(3), r));
    EXPECT_EQ(r.Payload(), U16Bytes(2));
    EXPECT_EQ(sim.State().impedanceDriverMode, 1);
    EXPECT_EQ(sim.State().analogResetMode, 2);
    ASSERT_TRUE(host.Ask(kMaster, 99, {}, r));
    EXPECT_EQ(r.Code(), 0xE0);

    // Battery monitor: a BatteryLevel alarm with four 16-bit parameters.
    others.clear();
    ASSERT_TRUE(host.Ask(kMaster, 186, U16Bytes(1), r, &others));
    Block block;
    const double until = Seconds() + 1.0;
    while (!HasAlarm(others, 2, 0x0F) && Seconds() < until && host.NextBlock(block, 0.5))
        others.insert(others.end(), block.packets.begin(), block.packets.end());
    bool found = false;
    for (const Packet& p : others) {
        if (p.species != 2 || p.bytes[6] != 0x0F) continue;
        found = true;
        ASSERT_EQ(p.bytes.size(), 16u);
        EXPECT_EQ(p.bytes[7], 0x84);
        EXPECT_EQ(U16(&p.bytes[8]), 87);
        EXPECT_EQ(U16(&p.bytes[10]), 84);
        EXPECT_EQ(U16(&p.bytes[12]), 3912);
        EXPECT_EQ(U16(&p.bytes[14]), 3890);
    }
    EXPECT_TRUE(found);

    // A spoiled CRC is not carried out; the device reports CheckFailed.
    others.clear();
    host.Send(kMaster, 29, {}, 200, false, true);
    ASSERT_TRUE(host.NextBlock(block, 1.0));
    EXPECT_TRUE(HasAlarm(block.packets, 2, 0x31));

    const std::vector<voqsim::CommandRecord> record = sim.Commands();
    ASSERT_GE(record.size(), 2u);
    EXPECT_TRUE(record.front().prefixed);
    EXPECT_TRUE(record.front().crcValid);
    EXPECT_EQ(record.front().family, 236);
    EXPECT_EQ(record.front().payload, Text("VOQ Ready"));
    EXPECT_FALSE(record[1].prefixed);
    EXPECT_FALSE(record.back().crcValid);
    EXPECT_TRUE(record.back().ignored);
    EXPECT_EQ(record.back().identifier, 200);
}

TEST(SimulatorStreaming, RateSequenceDriftAndSignals) {
    voqsim::Config config;
    config.samplingRate = 600;
    config.driftPpm = 50000;          // 5 % fast: 630 samples per host second
    config.accelerometerRate = 25;
    voqsim::Simulator sim(config);
    HostLink host(sim.Start());
    Packet r;
    std::vector<Packet> around;
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r, &around));
    EXPECT_EQ(r.Payload(), (Bytes{1, 1, 0x58, 0x02}));

    std::vector<Block> blocks;
    std::vector<Packet> accelerometer;
    std::vector<Sample> s;
    AppendSamples(around, s);   // the start's answer may share a block with sample 0
    const std::vector<Sample> streamed = Stream(host, 1.4, &blocks, &accelerometer);
    s.insert(s.end(), streamed.begin(), streamed.end());
    ASSERT_GT(s.size(), 700u);

    // Sequence numbers and time stamps: one sample period (3 ticks) apart.
    for (size_t n = 1; n < s.size(); ++n) {
        ASSERT_EQ(s[n].sequence, (s[n - 1].sequence + 1) & 0xFF) << n;
        ASSERT_EQ(s[n].stamp - s[n - 1].stamp, 3u) << n;
    }
    EXPECT_EQ(s[0].sequence, 0);
    for (size_t b = 1; b < blocks.size(); ++b) {
        EXPECT_EQ(blocks[b].number, uint16_t(blocks[b - 1].number + 1));
        EXPECT_GE(blocks[b].stamp, blocks[b - 1].stamp);
    }

    // Cadence: about one block every 20 ms, several samples in each.
    size_t dataBlocks = 0;
    for (const Block& b : blocks)
        for (const Packet& p : b.packets)
            if (p.species == 3) {
                ++dataBlocks;
                break;
            }
    EXPECT_GT(dataBlocks, 45u);
    EXPECT_LT(dataBlocks, 100u);

    // Rate against the host's clock: the slope of the count of samples
    // received against the arrival time of their blocks (after a warm-up),
    // fitted over every block so that the reader's scheduling jitter averages
    // out.
    double sumT = 0.0, sumN = 0.0, sumTT = 0.0, sumTN = 0.0, fitted = 0.0;
    size_t received = 0;
    for (const Block& b : blocks) {
        for (const Packet& p : b.packets) received += p.species == 3;
        const double t = b.arrival - blocks[0].arrival;
        if (t < 0.2) continue;
        sumT += t;
        sumN += double(received);
        sumTT += t * t;
        sumTN += t * double(received);
        fitted += 1.0;
    }
    ASSERT_GT(fitted, 20.0);
    const double rate = (fitted * sumTN - sumT * sumN) / (fitted * sumTT - sumT * sumT);
    EXPECT_NEAR(rate, 630.0, 9.0);

    // Triggers: value 1 at sample 600 only.
    for (size_t n = 0; n < s.size(); ++n) EXPECT_EQ(s[n].trigger, n == 600 ? 1 : 0) << n;

    // Accelerometer: three samples 72 ticks apart per packet, every 216 ticks.
    ASSERT_GE(accelerometer.size(), 8u);
    for (size_t i = 0; i < accelerometer.size(); ++i) {
        const Bytes& b = accelerometer[i].bytes;
        ASSERT_EQ(b.size(), 30u);
        EXPECT_EQ(b[6], 20);
        EXPECT_EQ(S16(&b[14]), 72);
        EXPECT_EQ(S16(&b[22]), 144);
        EXPECT_NEAR(S16(&b[12]), 1000, 30);
        if (i > 0) {
            EXPECT_EQ(accelerometer[i].stamp - accelerometer[i - 1].stamp, 216u);
        }
    }
    const double expectedPackets = (s.size() / 600.0) * 25.0 / 3.0;
    EXPECT_NEAR(double(accelerometer.size()), expectedPackets, 1.5);

    // Signals: alpha at O1 (slot 17), not much at Cz (slot 9); a blink on Fp1
    // (slot 0) from 1 s on, none on O1.
    const voqsim::Image image = sim.CalibrationImage();
    const double alphaO1 = 2.0 * Component(s, 0, 600, 17, SlotGain(image, 17), 10.0);
    const double alphaCz = 2.0 * Component(s, 0, 600, 9, SlotGain(image, 9), 10.0);
    EXPECT_GT(alphaO1, 10.0);
    EXPECT_LT(alphaO1, 30.0);
    EXPECT_LT(alphaCz, 8.0);
    auto swing = [&](int k) {
        double rest = 0.0, peak = -1e9;
        for (size_t n = 0; n < 500; ++n) rest += s[n].raw[k] * SlotGain(image, k);
        rest /= 500.0;
        for (size_t n = 600; n < 780 && n < s.size(); ++n) peak = std::max(peak, s[n].raw[k] * SlotGain(image, k));
        return peak - rest;
    };
    EXPECT_GT(swing(0), 70.0);
    EXPECT_LT(swing(17), 50.0);
    double mean = 0.0, square = 0.0;
    for (size_t n = 0; n < 500; ++n) mean += s[n].raw[9] * SlotGain(image, 9);
    mean /= 500.0;
    for (size_t n = 0; n < 500; ++n) square += std::pow(s[n].raw[9] * SlotGain(image, 9) - mean, 2);
    const double rms = std::sqrt(square / 500.0);
    EXPECT_GT(rms, 2.0);
    EXPECT_LT(rms, 30.0);

    // The device's own count agrees with what arrived.
    around.clear();
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(1), r, &around));
    AppendSamples(around, s);
    const voqsim::StreamStats stats = sim.Stats();
    EXPECT_EQ(stats.firstSampleNumber, 0);
    EXPECT_EQ(stats.dataPacketsSent, s.size());
    EXPECT_EQ(stats.lastSampleNumber + 1, int64_t(stats.dataPacketsSent));
    EXPECT_FALSE(sim.State().acquiring);
}

TEST(SimulatorStreaming, ImpedanceTonesGiveBackTheConfiguredValues) {
    voqsim::Config config;
    config.impedanceAllKOhm = 7.0;
    config.impedanceKOhm = {{"Fp1", 12.0}, {"o2", 40.0}, {"A1", 20.0}};
    config.cmfImpedanceKOhm = 3.0;
    voqsim::Simulator sim(config);
    HostLink host(sim.Start());
    Packet r;
    ASSERT_TRUE(host.Ask(kSlave, 218, U16Bytes(2), r));
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r));
    const std::vector<Sample> on = Stream(host, 1.15);
    ASSERT_GE(on.size(), 300u);
    const size_t from = on.size() - 300;
    const voqsim::Image image = sim.CalibrationImage();
    const std::vector<voqsim::Slot> slots = voqsim::DescribeSlots(image);
    for (const voqsim::Slot& slot : slots) {
        const double gain = SlotGain(image, slot.index, slot.kind == voqsim::SlotKind::CommonMode);
        const double z110 = Component(on, from, 300, slot.index, gain, 110.0) * 0.01950289701;
        const double z130 = Component(on, from, 300, slot.index, gain, 130.0) * 0.0239163282228;
        if (slot.kind == voqsim::SlotKind::Electrode || slot.kind == voqsim::SlotKind::Reference) {
            const double expected = slot.name == "Fp1" ? 12.0 : slot.name == "O2" ? 40.0
                                  : slot.name == "A1"  ? 20.0 : 7.0;
            EXPECT_NEAR(z110, expected, 0.03 * expected) << slot.name;
            EXPECT_NEAR(z130, 3.0, 0.1) << slot.name;
        } else {
            EXPECT_LT(z110, 0.3) << slot.name;
        }
    }
    // Driver off: the tones go.
    ASSERT_TRUE(host.Ask(kSlave, 218, U16Bytes(1), r));
    const std::vector<Sample> off = Stream(host, 0.5);
    ASSERT_GE(off.size(), 120u);
    EXPECT_LT(Component(off, off.size() - 120, 120, 0, SlotGain(image, 0), 110.0) * 0.01950289701, 0.3);
}

TEST(SimulatorFaults, CommandFaults) {
    voqsim::Simulator sim;
    HostLink host(sim.Start());
    Packet r;
    ASSERT_TRUE(host.Ask(kMaster, 236, Text("x"), r));

    sim.SetSilentTo(29, true);
    int id = host.Send(kMaster, 29, {});
    EXPECT_FALSE(host.Response(id, r, 0.2));
    sim.SetSilentTo(29, false);
    ASSERT_TRUE(host.Ask(kMaster, 29, {}, r));

    sim.FailFirstAttempts(40, 2);
    for (int attempt = 0; attempt < 2; ++attempt) {
        id = host.Send(kMaster, 40, {});
        EXPECT_FALSE(host.Response(id, r, 0.15)) << attempt;
    }
    ASSERT_TRUE(host.Ask(kMaster, 40, {}, r));
    EXPECT_EQ(r.Payload().size(), 6u);

    sim.SetRefusal(33, 0x80);
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r));
    EXPECT_EQ(r.Code(), 0x80);
    EXPECT_FALSE(sim.State().acquiring);
    sim.SetRefusal(33, 0);

    sim.SetMalformedAnswer(40, true);
    ASSERT_TRUE(host.Ask(kMaster, 40, {}, r));
    EXPECT_EQ(r.Code(), 40);
    EXPECT_EQ(r.Payload().size(), 5u);
    sim.SetMalformedAnswer(40, false);

    sim.SetSilent(true);
    id = host.Send(kMaster, 236, Text("y"));
    EXPECT_FALSE(host.Response(id, r, 0.2));
    sim.SetSilent(false);
    ASSERT_TRUE(host.Ask(kMaster, 236, Text("z"), r));

    int ignored = 0;
    for (const voqsim::CommandRecord& c : sim.Commands()) ignored += c.ignored;
    EXPECT_EQ(ignored, 3);   // the silenced family and the two failed attempts
}

TEST(SimulatorFaults, BlockFaultsAlarmsAndRawBytes) {
    voqsim::Simulator sim;
    HostLink host(sim.Start());
    Packet r;
    Block a, b;
    ASSERT_TRUE(host.Ask(kMaster, 236, Text("x"), r));

    sim.CorruptNextBlocks(1);
    host.Send(kMaster, 236, Text("c1"));
    ASSERT_TRUE(host.NextBlock(a, 1.0));
    EXPECT_FALSE(a.crcOk);
    host.Send(kMaster, 236, Text("c2"));
    ASSERT_TRUE(host.NextBlock(a, 1.0));
    EXPECT_TRUE(a.crcOk);

    sim.SwapNextBlocks();
    const int first = host.Send(kMaster, 236, Text("s1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int second = host.Send(kMaster, 236, Text("s2"));
    ASSERT_TRUE(host.NextBlock(a, 1.0));
    ASSERT_TRUE(host.NextBlock(b, 1.0));
    ASSERT_FALSE(a.packets.empty());
    ASSERT_FALSE(b.packets.empty());
    EXPECT_EQ(a.packets.back().Identifier(), second);
    EXPECT_EQ(b.packets.back().Identifier(), first);
    EXPECT_EQ(a.number, uint16_t(b.number + 1));

    sim.TruncateNextBlock(20);
    host.Send(kMaster, 236, Text("truncated"));
    Bytes raw = host.ReadFor(0.15);
    ASSERT_EQ(raw.size(), 20u);
    EXPECT_EQ(U16(&raw[2]), 24u + 8 + 9);   // the header still tells the whole

    sim.DropBytesInNextBlock(5);
    host.Send(kMaster, 236, Text("dropped"));
    raw = host.ReadFor(0.15);
    ASSERT_GE(raw.size(), 4u);
    EXPECT_EQ(raw.size(), size_t(U16(&raw[2])) - 5);

    sim.SendRaw(Text("xyz"));
    EXPECT_EQ(host.ReadFor(0.15), Text("xyz"));

    sim.SendAlarm(6, 0x0B, {0x1234, 7}, true);
    ASSERT_TRUE(host.NextBlock(a, 1.0));
    ASSERT_EQ(a.packets.size(), 1u);
    EXPECT_EQ(a.packets[0].bytes, (Bytes{12, 6, a.packets[0].bytes[2], a.packets[0].bytes[3],
                                         a.packets[0].bytes[4], a.packets[0].bytes[5], 0x0B, 0x82,
                                         0x34, 0x12, 7, 0}));
    sim.SendAlarm(2, 0x0A, {0x21, 5, 3}, false);
    ASSERT_TRUE(host.NextBlock(a, 1.0));
    ASSERT_EQ(a.packets.size(), 1u);
    EXPECT_EQ(Bytes(a.packets[0].bytes.begin() + 6, a.packets[0].bytes.end()), (Bytes{0x0A, 0x03, 0x21, 5, 3}));
    EXPECT_EQ(a.packets[0].bytes[0], 11);
    EXPECT_TRUE(a.crcOk);
}

TEST(SimulatorFaults, StreamFaultsAreCounted) {
    voqsim::Config config;
    config.accelerometerRate = 0;
    voqsim::Simulator sim(config);
    HostLink host(sim.Start());
    Packet r;
    std::vector<Packet> around;
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r, &around));
    std::vector<Sample> s;
    AppendSamples(around, s);
    const std::vector<Sample> begun = Stream(host, 0.2);
    s.insert(s.end(), begun.begin(), begun.end());
    sim.SkipDataPackets(5);
    sim.SetCorruptBlockFraction(0.5);
    std::vector<Block> blocks;
    std::vector<Sample> more = Stream(host, 0.6, &blocks, nullptr, false);
    sim.SetCorruptBlockFraction(0.0);
    s.insert(s.end(), more.begin(), more.end());
    around.clear();
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(1), r, &around));
    AppendSamples(around, s);
    EXPECT_TRUE(host.ReadFor(0.1).empty());

    int bad = 0;
    for (const Block& b : blocks) bad += !b.crcOk;
    EXPECT_GT(bad, int(blocks.size()) / 5);
    EXPECT_LT(bad, int(blocks.size()) * 4 / 5);

    int gaps = 0;
    for (size_t n = 1; n < s.size(); ++n) {
        const int step = (s[n].sequence - s[n - 1].sequence) & 0xFF;
        if (step != 1) {
            ++gaps;
            EXPECT_EQ(step, 6);
            EXPECT_EQ(s[n].stamp - s[n - 1].stamp, 6u * 6u);
        }
    }
    EXPECT_EQ(gaps, 1);
    const voqsim::StreamStats stats = sim.Stats();
    EXPECT_EQ(stats.samplesSkipped, 5u);
    EXPECT_EQ(stats.dataPacketsSent, s.size());
    EXPECT_EQ(uint64_t(stats.lastSampleNumber - stats.firstSampleNumber + 1), s.size() + 5);
    EXPECT_EQ(stats.blocksCorrupted, uint64_t(bad));
}

TEST(SimulatorFaults, LinkLossShutdownAndReconnection) {
    voqsim::Simulator sim;
    const std::string path = sim.Start();
    Packet r;
    std::vector<Packet> others;
    {
        HostLink host(path);
        ASSERT_TRUE(host.Ask(kMaster, 236, Text("1"), r, &others));
        EXPECT_TRUE(HasAlarm(others, 2, 0x33));
        ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r));
    }
    // The host went away: acquisition stopped; a new host is announced again.
    for (int i = 0; i < 50 && sim.State().acquiring; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(sim.State().acquiring);
    HostLink host(path);
    others.clear();
    ASSERT_TRUE(host.Ask(kMaster, 236, Text("2"), r, &others));
    EXPECT_TRUE(HasAlarm(others, 2, 0x33));
    for (const Packet& p : others) EXPECT_NE(p.species, 3);   // no stale samples

    sim.LoseLink(false);
    int id = host.Send(kMaster, 236, Text("3"));
    EXPECT_FALSE(host.Response(id, r, 0.2));
    EXPECT_EQ(sim.RestoreLink(), path);
    others.clear();
    ASSERT_TRUE(host.Ask(kMaster, 236, Text("4"), r, &others));
    EXPECT_TRUE(HasAlarm(others, 2, 0x33));

    // Shutdown: answered, PowerDown, then nothing until the port is reopened.
    others.clear();
    ASSERT_TRUE(host.Ask(kMaster, 189, U16Bytes(1), r, &others));
    Block block;
    if (!HasAlarm(others, 2, 0x02)) {
        ASSERT_TRUE(host.NextBlock(block, 0.5));
        EXPECT_TRUE(HasAlarm(block.packets, 2, 0x02));
    }
    id = host.Send(kMaster, 236, Text("5"));
    EXPECT_FALSE(host.Response(id, r, 0.2));
    EXPECT_FALSE(sim.State().poweredOn);
    host.Close();
    HostLink again(path);
    ASSERT_TRUE(again.Ask(kMaster, 236, Text("6"), r));

    // A hang-up: the host's side fails; the link comes back on a new path.
    sim.LoseLink(true);
    again.ReadFor(0.3);
    EXPECT_TRUE(again.hungUp);
    const std::string fresh = sim.RestoreLink();
    ASSERT_FALSE(fresh.empty());
    HostLink third(fresh);
    ASSERT_TRUE(third.IsOpen());
    ASSERT_TRUE(third.Ask(kMaster, 236, Text("7"), r));
}

TEST(SimulatorImages, LayoutsFilesAndSevenSensorTriggers) {
    const voqsim::Image seven = voqsim::LayoutImage("seven");
    EXPECT_EQ(seven[0], 0x97);
    EXPECT_EQ(int8_t(seven[127]), 1);
    const std::vector<voqsim::Slot> sevenSlots = voqsim::DescribeSlots(seven);
    EXPECT_EQ(sevenSlots[0].name, "A1A2");
    EXPECT_EQ(sevenSlots[0].kind, voqsim::SlotKind::Reference);
    EXPECT_EQ(sevenSlots[7].kind, voqsim::SlotKind::Unused);
    const std::vector<voqsim::Slot> standard = voqsim::DescribeSlots(voqsim::LayoutImage("standard24"));
    EXPECT_EQ(standard[14].kind, voqsim::SlotKind::CommonMode);
    EXPECT_EQ(standard[14].name, "CM");
    EXPECT_NEAR(standard[14].gain, 74.0, 0.5);
    EXPECT_EQ(standard[19].name, "A1");
    for (uint8_t byte : voqsim::LayoutImage("erased")) EXPECT_EQ(byte, 0xFF);
    EXPECT_THROW(voqsim::LayoutImage("nine"), std::invalid_argument);

    // Files: a bare image and a HEX dump.
    const std::string bare = testing::TempDir() + "voqsim_bare.bin";
    const std::string hex = testing::TempDir() + "voqsim_image.hex";
    voqsim::Image image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 3);
    {
        std::ofstream(bare, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 128);
        std::ofstream out(hex);
        out << "HEX\n";
        for (size_t i = 0; i < image.size(); ++i) {
            char text[4];
            std::snprintf(text, sizeof text, "%02X", image[i]);
            out << text << ((i + 1) % 8 ? " " : "\n");
        }
    }
    EXPECT_EQ(voqsim::ReadImageFile(bare), image);
    EXPECT_EQ(voqsim::ReadImageFile(hex), image);
    EXPECT_THROW(voqsim::ReadImageFile(testing::TempDir() + "voqsim_missing.bin"), std::runtime_error);
    std::remove(bare.c_str());
    std::remove(hex.c_str());

    // The seven-sensor headset: its identity, and triggers in the upper bits.
    voqsim::Config config;
    config.layout = "seven";
    config.triggerPeriodSeconds = 0.05;   // every 15 samples at 300/s
    voqsim::Simulator sim(config);
    HostLink host(sim.Start());
    Packet r;
    ASSERT_TRUE(host.Ask(kMaster, 29, {}, r));
    EXPECT_EQ(r.Payload(), Text("VOQ7 HS Rev 1"));
    ASSERT_TRUE(host.Ask(kMaster, 40, {}, r));
    EXPECT_EQ(U16(&r.Payload()[4]), 7);
    std::vector<Packet> around;
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r, &around));
    std::vector<Sample> s;
    AppendSamples(around, s);
    const std::vector<Sample> streamed = Stream(host, 0.25);
    s.insert(s.end(), streamed.begin(), streamed.end());
    ASSERT_GT(s.size(), 46u);
    EXPECT_EQ(s[15].trigger, 0x10);
    EXPECT_EQ(s[30].trigger, 0x20);
    EXPECT_EQ(s[45].trigger, 0x30);
    EXPECT_EQ(s[16].trigger, 0);
}
