// The simulated headset's device thread: the pseudo-terminal, command
// handling, streaming, block framing and faults.
#include "Simulator.h"

#include "SignalModel.h"

#include <voq/Protocol.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace voqsim {

namespace {

using Bytes = std::vector<uint8_t>;

const int kSpeciesResponseMaster = 1;
const int kSpeciesAlarmMaster = 2;
const int kSpeciesData = 3;
const int kSpeciesExtended = 4;
const int kSpeciesResponseSlave = 5;
const int kSpeciesAlarmSlave = 6;

// Alarm code bytes of the master processor.
const int kAlarmPowerDown = 0x02;
const int kAlarmBatteryLevel = 0x0F;
const int kAlarmHoldOffDelay = 0x2F;
const int kAlarmPacketSizeError = 0x30;
const int kAlarmCheckFailed = 0x31;
const int kAlarmConnectionCreated = 0x33;

const size_t kBlockOverhead = 24;          // header, number, clock, terminator
const size_t kMaxBlock = 1024;
const size_t kMaxResponsePayload = 255 - 8;
const size_t kMaxBacklog = 256 * 1024;     // undelivered bytes before blocks are dropped
const double kHoldOffSeconds = 0.25;
const double kSwapHoldSeconds = 0.1;
const double kTicksPerSecond = 1800.0;

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Validate(const Config& c) {
    if (c.samplingRate != 300 && c.samplingRate != 600)
        throw std::invalid_argument("sampling rate must be 300 or 600, not " +
                                    std::to_string(c.samplingRate));
    if (c.filterMode != 0 && c.filterMode != 1)
        throw std::invalid_argument("filter mode must be 0 or 1");
    if (!c.image.empty() && c.image.size() != 128)
        throw std::invalid_argument("a calibration image has 128 bytes, not " +
                                    std::to_string(c.image.size()));
    if (c.image.empty()) LayoutImage(c.layout);   // throws for an unknown name
    if (std::find(c.accelerometerRates.begin(), c.accelerometerRates.end(), c.accelerometerRate) ==
        c.accelerometerRates.end())
        throw std::invalid_argument("accelerometer rate " + std::to_string(c.accelerometerRate) +
                                    " is not among the supported rates");
    for (int r : c.accelerometerRates)
        if (r < 0 || r > 1800) throw std::invalid_argument("accelerometer rates are 0 to 1800");
    if (!(c.blockIntervalSeconds >= 0.001 && c.blockIntervalSeconds <= 1.0))
        throw std::invalid_argument("block interval must be 1 ms to 1 s");
    if (!(c.batteryPeriodSeconds > 0.0)) throw std::invalid_argument("battery period must be positive");
    if (!(c.driftPpm > -500000.0 && c.driftPpm < 500000.0))
        throw std::invalid_argument("drift must be within +-500000 ppm");
}

Image ImageOf(const Config& c) {
    if (c.image.size() == 128) {
        Image image;
        std::copy(c.image.begin(), c.image.end(), image.begin());
        return image;
    }
    return LayoutImage(c.layout);
}

int OccupiedSlots(const Image& image) {
    int n = 0;
    for (int k = 0; k < 24; ++k)
        if (image[size_t(k)] != 0x00 && image[size_t(k)] != 0xFF) ++n;
    return n;
}

void Put16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

Bytes PacketHeader(int species, uint32_t stamp) {
    Bytes b;
    b.push_back(0);   // length, filled in when the packet is complete
    b.push_back(uint8_t(species));
    Put32(b, stamp);
    return b;
}

void Finish(Bytes& packet) { packet[0] = uint8_t(packet.size()); }

void SetNonBlockingCloseOnExec(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

// The smallest payload that a host accepts for each family's answer.
size_t SmallestAnswer(int family, size_t normal) {
    switch (family) {
    case 18: case 29: case 30: case 236: return 1;
    case 19: case 33: return 4;
    case 40: return 6;
    case 47: return 18;
    case 48: return 13;
    case 65: case 172: case 218: return 2;
    case 165: return 10;
    default: return normal;
    }
}

void RecordClock(uint8_t* out, time_t calendar) {
    struct tm local;
    localtime_r(&calendar, &local);
    out[0] = uint8_t(local.tm_mon + 1);
    out[1] = uint8_t(local.tm_mday);
    out[2] = uint8_t(std::max(0, local.tm_year - 100));
    out[3] = uint8_t(local.tm_hour);
    out[4] = uint8_t(local.tm_min);
    out[5] = uint8_t(local.tm_sec);
}

struct QueuedPacket {
    Bytes bytes;
    int64_t sample = -1;      // data packets: the sample number
    bool accelerometer = false;
};

struct PendingBlock {
    Bytes bytes;
    std::vector<int64_t> samples;
    uint64_t accelerometerPackets = 0;
    uint16_t number = 0;
    uint32_t lastSampleStamp = 0;   // of the last data packet
};

const size_t kMaxBlockWrites = 1000000;

struct Pty {
    int master = -1;
    int slave = -1;
    int watch = -1;           // inotify descriptor
    std::string path;
};

Pty OpenPty() {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0) throw std::runtime_error(std::string("posix_openpt failed: ") + strerror(errno));
    char name[128];
    if (grantpt(p.master) != 0 || unlockpt(p.master) != 0 ||
        ptsname_r(p.master, name, sizeof name) != 0) {
        const int e = errno;
        close(p.master);
        throw std::runtime_error(std::string("cannot prepare the pseudo-terminal: ") + strerror(e));
    }
    p.path = name;
    SetNonBlockingCloseOnExec(p.master);
    // The device keeps the host's side open itself so that the port never
    // hangs up between connections.
    p.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.slave < 0) {
        const int e = errno;
        close(p.master);
        throw std::runtime_error("cannot open " + p.path + ": " + strerror(e));
    }
    struct termios t;
    if (tcgetattr(p.slave, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B921600);
        cfsetospeed(&t, B921600);
        tcsetattr(p.slave, TCSANOW, &t);
    }
    // Watch the host open and close the port.  Without inotify the device
    // still works; it then announces the connection only once.
    p.watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (p.watch >= 0 && inotify_add_watch(p.watch, name, IN_OPEN | IN_CLOSE) < 0) {
        close(p.watch);
        p.watch = -1;
    }
    return p;
}

void ClosePty(Pty& p) {
    if (p.watch >= 0) close(p.watch);
    if (p.slave >= 0) close(p.slave);
    if (p.master >= 0) close(p.master);
    p = Pty();
}

}  // namespace

// ---------------------------------------------------------------------------

struct Simulator::Device {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    Config config;
    Image image{};
    std::vector<Slot> slots;
    bool sevenSensors = false;

    // Link and thread.
    Pty pty;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;
    bool running = false;
    bool stopRequested = false;
    bool hangUpRequested = false;
    std::chrono::steady_clock::time_point epoch;
    bool connectionPending = true;

    DeviceState state;

    // The device clock: ticks = ticksAtRebase + (host - clockRebaseHost) *
    // 1800 * (1 + drift); the calendar time at tick 0 is clockSetCalendar.
    time_t clockSetCalendar = 0;
    double clockRebaseHost = 0.0;
    double ticksAtRebase = 0.0;

    // Streaming.
    int64_t nextSample = 0;
    double rebaseHost = 0.0;
    int64_t rebaseSample = 0;
    double effectiveRate = 300.0;
    int ticksPerSample = 6;
    int64_t tickBase = 0;
    int64_t tickBaseSample = 0;
    double nextBlockHost = 0.0;
    int accelerometerRate = 0;
    int64_t accelerometerIndex = 0;
    int64_t accelerometerTickBase = 0;
    unsigned triggerCounter = 0;
    SignalModel signals;

    double nextBatteryHost = -1.0;

    // Input.
    Bytes input;
    double inputSince = 0.0;

    // Output.
    std::vector<QueuedPacket> packets;
    bool urgent = false;
    Bytes output;
    uint16_t blockNumber = 0;

    // Latency hook: blocks in `output` not yet written (with the count of
    // output bytes up to their end), and the blocks written.
    bool recordWrites = false;
    std::deque<std::pair<size_t, BlockWrite>> unwritten;
    std::vector<BlockWrite> written;

    // Faults.
    bool silent = false;
    std::set<int> silentFamilies;
    std::map<int, int> refusals;
    std::map<int, int> failFirst;
    std::set<int> malformed;
    int corruptNext = 0;
    double corruptFraction = 0.0;
    Random faultRandom;
    bool truncatePending = false;
    size_t truncateKeep = 0;
    bool dropPending = false;
    size_t dropCount = 0;
    bool swapPending = false;
    bool holding = false;
    PendingBlock held;
    double heldSince = 0.0;
    int skipNext = 0;

    std::vector<CommandRecord> commands;
    StreamStats stats;

    // ---- helpers (all called with the mutex held) ----

    double Now() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch).count();
    }
    double Drift() const { return 1.0 + config.driftPpm * 1e-6; }
    double DeviceTicks(double host) const {
        return ticksAtRebase + (host - clockRebaseHost) * kTicksPerSecond * Drift();
    }
    uint32_t Stamp(double host) const {
        const double t = std::max(0.0, std::floor(DeviceTicks(host)));
        return uint32_t(uint64_t(t));
    }
    double DueTime(int64_t n) const { return rebaseHost + double(n - rebaseSample) / effectiveRate; }
    int64_t SampleTicks(int64_t n) const { return tickBase + (n - tickBaseSample) * ticksPerSample; }
    int64_t AccelerometerTicks(int64_t m) const {
        return accelerometerTickBase + int64_t(std::llround(double(m) * kTicksPerSecond / accelerometerRate));
    }

    void Wake() const {
        if (wakeWrite >= 0) {
            const char c = 1;
            ssize_t ignored = write(wakeWrite, &c, 1);
            (void)ignored;
        }
    }

    void LoadImageLocked(const Image& newImage) {
        image = newImage;
        slots = DescribeSlots(image);
        sevenSensors = OccupiedSlots(image) == 7;
        if (state.acquiring) signals.Reset(config.seed, slots, state.samplingRate);
    }

    void ResetDevice(double now) {
        state = DeviceState();
        state.samplingRate = config.samplingRate;
        state.filterMode = config.filterMode;
        state.accelerometerRate = config.accelerometerRate;
        clockSetCalendar = time(nullptr);
        clockRebaseHost = now;
        ticksAtRebase = 0.0;
        nextBatteryHost = -1.0;
        input.clear();
        packets.clear();
        DropOutput();
        urgent = false;
        holding = false;
        connectionPending = true;
    }

    // The device's sample clock starts (again) at sample `nextSample` now.
    void RebaseStream(double now) {
        rebaseHost = now;
        rebaseSample = nextSample;
        effectiveRate = state.samplingRate * Drift();
        ticksPerSample = int(kTicksPerSecond) / state.samplingRate;
        tickBaseSample = nextSample;
        tickBase = int64_t(std::llround(std::max(0.0, DeviceTicks(now))));
        accelerometerIndex = 0;
        accelerometerTickBase = tickBase;
    }

    void StartAcquisition(double now) {
        if (state.acquiring) return;
        state.acquiring = true;
        state.acquisitionMode = 1;
        const uint64_t blocks = stats.blocksSent, corrupted = stats.blocksCorrupted, runs = stats.runs;
        stats = StreamStats();
        stats.blocksSent = blocks;
        stats.blocksCorrupted = corrupted;
        stats.runs = runs + 1;
        nextSample = 0;
        RebaseStream(now);
        accelerometerRate = state.accelerometerRate;
        triggerCounter = 0;
        signals.Reset(config.seed, slots, state.samplingRate);
        nextBlockHost = now + config.blockIntervalSeconds;
    }

    void StopAcquisition() {
        state.acquiring = false;
        state.acquisitionMode = 0;
    }

    // What a headset does when its link goes: everything stops.
    void StopEverything() {
        StopAcquisition();
        state.impedanceDriverMode = 0;
        state.batteryMonitor = false;
        nextBatteryHost = -1.0;
    }

    void DiscardUndelivered() {
        for (const QueuedPacket& p : packets)
            if (p.sample >= 0) ++stats.samplesDiscarded;
        packets.clear();
        if (holding) stats.samplesDiscarded += held.samples.size();
        holding = false;
        DropOutput();
        urgent = false;
    }

    void DropOutput() {
        output.clear();
        unwritten.clear();
    }

    // `n` more bytes of `output` went out with the write() that began at
    // `before`.
    void NoteWritten(size_t n, double before) {
        while (!unwritten.empty() && unwritten.front().first <= n) {
            BlockWrite w = unwritten.front().second;
            w.hostTime = before;
            if (written.size() < kMaxBlockWrites) written.push_back(w);
            unwritten.pop_front();
        }
        for (auto& entry : unwritten) entry.first -= n;
    }

    void Queue(Bytes packet, bool makeUrgent = true) {
        Finish(packet);
        QueuedPacket q;
        q.bytes = std::move(packet);
        packets.push_back(std::move(q));
        if (makeUrgent) urgent = true;
    }

    void QueueAlarm(int species, int codeByte, const std::vector<unsigned>& parameters,
                    bool sixteenBit, double now) {
        Bytes b = PacketHeader(species, Stamp(now));
        const size_t count = std::min<size_t>(parameters.size(), 63);
        b.push_back(uint8_t(codeByte));
        b.push_back(uint8_t((sixteenBit ? 0x80 : 0x00) | count));
        for (size_t i = 0; i < count; ++i) {
            if (sixteenBit)
                Put16(b, parameters[i]);
            else
                b.push_back(uint8_t(parameters[i]));
        }
        Queue(std::move(b));
    }

    void QueueResponse(int species, int code, int identifier, const Bytes& payload, double now) {
        Bytes b = PacketHeader(species, Stamp(now));
        b.push_back(uint8_t(code));
        b.push_back(uint8_t(identifier));
        const size_t n = std::min(payload.size(), kMaxResponsePayload);
        b.insert(b.end(), payload.begin(), payload.begin() + long(n));
        Queue(std::move(b));
    }

    // ---- commands ----

    void ReadInput(double now) {
        if (pty.master < 0) return;
        uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = read(pty.master, buffer, sizeof buffer);
            if (n <= 0) break;
            if (input.empty()) inputSince = now;
            input.insert(input.end(), buffer, buffer + n);
        }
        ParseInput(now);
        if (!input.empty() && now - inputSince > kHoldOffSeconds) {
            input.clear();
            if (Active()) QueueAlarm(kSpeciesAlarmMaster, kAlarmHoldOffDelay, {}, false, now);
        }
    }

    bool Active() const { return state.linkUp && state.poweredOn; }

    void ParseInput(double now) {
        size_t pos = 0;
        while (pos < input.size()) {
            size_t start = pos;
            const bool prefixed = input[start] == 0x7E;
            if (prefixed) ++start;
            if (start >= input.size()) break;
            const size_t length = input[start];
            if (length < 5) {
                if (Active())
                    QueueAlarm(kSpeciesAlarmMaster, kAlarmPacketSizeError, {unsigned(length)}, false, now);
                pos = start + 1;
                continue;
            }
            if (input.size() - start < length + 1) break;   // wait for the rest
            const uint8_t* p = &input[start];
            CommandRecord r;
            r.destination = p[1];
            r.family = p[4];
            r.identifier = p[5];
            r.payload.assign(p + 6, p + length + 1);
            r.crcValid = VOQ::CRC16(p + 4, length - 3) == VOQ::ReadU16LE(p + 2);
            r.prefixed = prefixed;
            r.hostTime = now;
            pos = start + length + 1;
            Handle(r, now);
            commands.push_back(std::move(r));
            changed.notify_all();
        }
        if (pos > 0) {
            input.erase(input.begin(), input.begin() + long(pos));
            inputSince = now;
        }
    }

    void Handle(CommandRecord& r, double now) {
        if (!Active()) {
            r.ignored = true;
            return;
        }
        if (connectionPending) {
            connectionPending = false;
            QueueAlarm(kSpeciesAlarmMaster, kAlarmConnectionCreated, {}, false, now);
        }
        if (!r.crcValid) {
            r.ignored = true;
            QueueAlarm(kSpeciesAlarmMaster, kAlarmCheckFailed, {}, false, now);
            return;
        }
        if (r.destination != 1 && r.destination != 2) {
            r.ignored = true;
            return;
        }
        const int species = r.destination == 1 ? kSpeciesResponseMaster : kSpeciesResponseSlave;
        if (silentFamilies.count(r.family)) {
            r.ignored = true;
            return;
        }
        auto fail = failFirst.find(r.family);
        if (fail != failFirst.end() && fail->second > 0) {
            if (--fail->second == 0) failFirst.erase(fail);
            r.ignored = true;
            return;
        }
        auto refusal = refusals.find(r.family);
        if (refusal != refusals.end()) {
            QueueResponse(species, refusal->second, r.identifier, {}, now);
            return;
        }
        std::vector<Bytes> answers;
        int code = Execute(r, now, answers);
        if (code != r.family) {
            QueueResponse(species, code, r.identifier, {}, now);
            return;
        }
        for (Bytes& a : answers) {
            if (malformed.count(r.family)) {
                const size_t smallest = SmallestAnswer(r.family, a.size());
                a.resize(smallest > 0 ? std::min(a.size(), smallest - 1) : 0);
                if (smallest <= 1) a.clear();
            }
            QueueResponse(species, r.family, r.identifier, a, now);
        }
        AfterAnswer(r, now);
    }

    static bool SubCommand(const CommandRecord& r, unsigned& value) {
        if (r.payload.size() < 2) return false;
        value = VOQ::ReadU16LE(r.payload.data());
        return true;
    }

    // Carries out a command.  Returns the family when it was carried out
    // (with its answers), or a refusal code.
    int Execute(const CommandRecord& r, double now, std::vector<Bytes>& answers) {
        const bool master = r.destination == 1;
        const Bytes& in = r.payload;
        Bytes out;
        unsigned sub = 0;
        switch (r.family) {
        case 18: {
            const std::string& text = master ? config.masterFirmware : config.slaveFirmware;
            out.assign(text.begin(), text.end());
            out.push_back(0);
            break;
        }
        case 19: {
            const std::map<int, int>& map = master ? config.masterSubRevisions : config.slaveSubRevisions;
            if (!in.empty()) {
                auto it = map.find(in[0]);
                if (it == map.end()) return 0xF0;
                answers.push_back({uint8_t(it->first), uint8_t(it->second), 0, 0});
                return r.family;
            }
            if (map.empty()) answers.push_back({0, 0, 0, 0});
            for (const auto& entry : map)
                answers.push_back({uint8_t(entry.first), uint8_t(entry.second), 0, 0});
            return r.family;
        }
        case 29: {
            const std::string text = Identification();
            out.assign(text.begin(), text.end());
            break;
        }
        case 30:
            if (in.empty()) return 0xF0;
            state.led = in.size() >= 2 ? int(VOQ::ReadU16LE(in.data())) : int(in[0]);
            out.push_back(uint8_t(state.led));
            break;
        case 33:
            if (!SubCommand(r, sub) || sub > 2) return 0xF0;
            if (sub == 1) StopAcquisition();
            if (sub == 2) StartAcquisition(now);
            out.push_back(uint8_t(state.acquisitionMode));
            out.push_back(uint8_t(state.filterMode));
            Put16(out, unsigned(state.samplingRate));
            break;
        case 40:
            Put32(out, SerialNumber());
            Put16(out, unsigned(config.sensorCount >= 0 ? config.sensorCount : OccupiedSlots(image)));
            break;
        case 47: {
            if (in.empty()) return 0xF0;
            if (in[0] >= 0xA0) {
                const int page = in[0] - 0xA0;
                if (page >= 8) return 0xF0;
                if (in.size() < 2 || in[1] != 0x3C) return 0xF1;
                if (in.size() < 18) return 0xF2;
                std::copy(in.begin() + 2, in.begin() + 18, image.begin() + 16 * page);
                LoadImageLocked(image);
                out = Page(page);
            } else {
                const unsigned page = in.size() >= 2 ? VOQ::ReadU16LE(in.data()) : in[0];
                if (page >= 8) return 0xF0;
                out = Page(int(page));
            }
            break;
        }
        case 48:
            if (in.size() == 6) {
                const int limits[6][2] = {{1, 12}, {1, 31}, {0, 99}, {0, 23}, {0, 59}, {0, 59}};
                for (int i = 0; i < 6; ++i)
                    if (in[size_t(i)] < limits[i][0] || in[size_t(i)] > limits[i][1]) return 0xF0 + i;
                SetClock(in.data(), now);
            } else if (!in.empty()) {
                return 0xF0;
            }
            out.resize(13, 0);
            RecordClock(&out[0], clockSetCalendar + time_t(std::floor(DeviceTicks(now) / kTicksPerSecond)));
            RecordClock(&out[7], clockSetCalendar);
            break;
        case 65:
            if (!SubCommand(r, sub) || sub > 3) return 0xF0;
            if (sub == 1) state.analogResetMode = 0;
            if (sub == 2) state.analogResetMode = 1;
            if (sub == 3) state.analogResetMode = 2;
            Put16(out, unsigned(state.analogResetMode));
            break;
        case 145:
            Put16(out, 0);
            break;
        case 165:
            if (in.size() >= 4 && VOQ::ReadU16LE(in.data()) != 0) {
                const unsigned rate = VOQ::ReadU16LE(in.data());
                const unsigned filter = VOQ::ReadU16LE(in.data() + 2);
                if (rate != 300 && rate != 600) return 0xF0;
                if (filter > 1) return 0xF1;
                SetRate(int(rate), int(filter), now);
            }
            Put16(out, unsigned(state.samplingRate));
            Put16(out, unsigned(state.filterMode));
            Put16(out, 1);
            Put32(out, 0x00FFFFFF);
            break;
        case 172:
            if (in.size() >= 2) {
                const int rate = VOQ::ReadU16LE(in.data());
                const auto& rates = config.accelerometerRates;
                if (std::find(rates.begin(), rates.end(), rate) == rates.end()) return 0xF0;
                SetAccelerometerRate(rate);
            } else if (!in.empty()) {
                return 0xF0;
            }
            Put16(out, unsigned(state.accelerometerRate));
            break;
        case 186:
            if (!SubCommand(r, sub) || sub > 1) return 0xF0;
            state.batteryMonitor = sub == 1;
            nextBatteryHost = state.batteryMonitor ? now + config.batteryFirstDelaySeconds : -1.0;
            Put16(out, sub);
            break;
        case 189:
            Put16(out, 1);
            break;
        case 203:
            Put16(out, 0);
            Put16(out, 0);
            break;
        case 218:
            if (!SubCommand(r, sub) || sub > 2) return 0xF0;
            if (sub == 1) state.impedanceDriverMode = 0;
            if (sub == 2) state.impedanceDriverMode = 1;
            Put16(out, unsigned(state.impedanceDriverMode));
            break;
        case 236:
            out = in;
            break;
        default:
            return 0xE0;
        }
        answers.push_back(std::move(out));
        return r.family;
    }

    // Effects that follow the answer.
    void AfterAnswer(const CommandRecord& r, double now) {
        if (r.family == 189) {
            QueueAlarm(kSpeciesAlarmMaster, kAlarmPowerDown, {}, false, now);
            BuildBlocks(now);
            StopEverything();
            DiscardPackets();
            state.poweredOn = false;
        }
    }

    void DiscardPackets() {
        for (const QueuedPacket& p : packets)
            if (p.sample >= 0) ++stats.samplesDiscarded;
        packets.clear();
        urgent = false;
    }

    std::string Identification() const {
        if (!config.identification.empty()) return config.identification;
        return OccupiedSlots(image) == 7 ? "VOQ7 HS Rev 1" : "VOQ24 HS Rev 2";
    }

    uint32_t SerialNumber() const {
        if (config.serialNumber != 0) return config.serialNumber;
        return OccupiedSlots(image) == 7 ? 700042u : 2400117u;
    }

    Bytes Page(int page) const {
        // Sized first and filled in place: GCC 12 at -O3 misreads an insert
        // into a two-byte vector as an out-of-bounds copy.
        Bytes b(18, 0);
        b[0] = uint8_t(page);
        std::copy(image.begin() + 16 * page, image.begin() + 16 * page + 16, b.begin() + 2);
        return b;
    }

    void SetClock(const uint8_t* record, double now) {
        struct tm local;
        std::memset(&local, 0, sizeof local);
        local.tm_mon = record[0] - 1;
        local.tm_mday = record[1];
        local.tm_year = record[2] + 100;
        local.tm_hour = record[3];
        local.tm_min = record[4];
        local.tm_sec = record[5];
        local.tm_isdst = -1;
        clockSetCalendar = mktime(&local);
        clockRebaseHost = now;
        ticksAtRebase = 0.0;
        if (state.acquiring) {
            // The next sample is stamped from the new clock.
            tickBaseSample = nextSample;
            tickBase = int64_t(std::llround(std::max(0.0, DeviceTicks(DueTime(nextSample)))));
            accelerometerIndex = 0;
            accelerometerTickBase = tickBase;
        }
    }

    void SetRate(int rate, int filter, double now) {
        const bool changedRate = rate != state.samplingRate;
        state.samplingRate = rate;
        state.filterMode = filter;
        if (changedRate && state.acquiring) {
            RebaseStream(now);
            accelerometerRate = state.accelerometerRate;
            signals.Reset(config.seed, slots, rate);
        }
    }

    void SetAccelerometerRate(int rate) {
        state.accelerometerRate = rate;
        if (state.acquiring) {
            accelerometerRate = rate;
            accelerometerIndex = 0;
            accelerometerTickBase = SampleTicks(nextSample);
        }
    }

    void SetDrift(double ppm, double now) {
        const double ticks = DeviceTicks(now);
        const double due = DueTime(nextSample);
        config.driftPpm = ppm;
        ticksAtRebase = ticks;
        clockRebaseHost = now;
        if (state.acquiring) {
            rebaseSample = nextSample;
            rebaseHost = due;
            effectiveRate = state.samplingRate * Drift();
        }
    }

    // ---- streaming ----

    SignalInputs Inputs() const {
        SignalInputs in;
        in.backgroundMicrovolts = config.backgroundMicrovolts;
        in.alphaMicrovolts = config.alphaMicrovolts;
        in.blinkMicrovolts = config.blinkMicrovolts;
        in.impedanceDriverOn = state.impedanceDriverMode != 0;
        in.cmfImpedanceKOhm = config.cmfImpedanceKOhm;
        std::map<std::string, double> byName;
        for (const auto& entry : config.impedanceKOhm) byName[Lower(entry.first)] = entry.second;
        for (size_t k = 0; k < 24 && k < slots.size(); ++k) {
            auto it = byName.find(Lower(slots[k].name));
            in.impedanceKOhm[k] = it != byName.end() ? it->second : config.impedanceAllKOhm;
        }
        return in;
    }

    void QueueAccelerometerPacket() {
        const int64_t first = AccelerometerTicks(accelerometerIndex);
        Bytes b = PacketHeader(kSpeciesExtended, uint32_t(uint64_t(first)));
        b.push_back(uint8_t(VOQ::ExtendedDataSubtype::AccelerometerData));
        b.push_back(0);
        for (int i = 0; i < 3; ++i) {
            const int64_t ticks = AccelerometerTicks(accelerometerIndex + i);
            if (i > 0) Put16(b, unsigned(uint16_t(int16_t(ticks - first))));
            int16_t xyz[3];
            signals.Accelerometer(double(ticks) / kTicksPerSecond, xyz);
            for (int16_t v : xyz) Put16(b, unsigned(uint16_t(v)));
        }
        Finish(b);
        QueuedPacket q;
        q.bytes = std::move(b);
        q.accelerometer = true;
        packets.push_back(std::move(q));
        accelerometerIndex += 3;
    }

    void GenerateSamples(double now) {
        if (!state.acquiring) return;
        const SignalInputs inputs = Inputs();
        const int64_t period = int64_t(std::llround(config.triggerPeriodSeconds * state.samplingRate));
        std::array<double, 24> microvolts{};
        while (DueTime(nextSample) <= now) {
            const int64_t n = nextSample++;
            const int64_t ticks = SampleTicks(n);
            if (accelerometerRate > 0)
                while (AccelerometerTicks(accelerometerIndex + 2) <= ticks) QueueAccelerometerPacket();
            const uint32_t stamp = uint32_t(uint64_t(ticks));
            signals.Next(n, double(stamp) / kTicksPerSecond, inputs, microvolts);
            unsigned trigger = 0;
            if (period > 0 && n > 0 && n % period == 0) {
                unsigned value = config.triggerValue > 0
                                     ? unsigned(config.triggerValue)
                                     : (sevenSensors ? triggerCounter % 15 + 1 : triggerCounter % 255 + 1);
                ++triggerCounter;
                trigger = sevenSensors ? ((value & 0x0F) << 4) : (value & 0xFF);
            }
            if (skipNext > 0) {
                --skipNext;
                ++stats.samplesSkipped;
                continue;
            }
            Bytes b = PacketHeader(kSpeciesData, stamp);
            b.push_back(uint8_t(n & 0xFF));
            b.push_back(uint8_t(trigger));
            for (size_t k = 0; k < 24; ++k) {
                const double gain = k < slots.size() ? slots[k].gain : 0.0;
                long raw = 0;
                if (gain != 0.0) {
                    const double counts = microvolts[k] / gain;
                    raw = std::lround(std::max(-32768.0, std::min(32767.0, counts)));
                }
                Put16(b, unsigned(uint16_t(int16_t(raw))));
            }
            Finish(b);
            QueuedPacket q;
            q.bytes = std::move(b);
            q.sample = n;
            packets.push_back(std::move(q));
        }
    }

    // ---- blocks ----

    void BuildBlocks(double now) {
        if (silent || !Active()) {
            DiscardPackets();
            return;
        }
        size_t i = 0;
        while (i < packets.size()) {
            PendingBlock block;
            size_t body = 0;
            size_t j = i;
            while (j < packets.size() && kBlockOverhead + body + packets[j].bytes.size() <= kMaxBlock) {
                body += packets[j].bytes.size();
                ++j;
            }
            if (j == i) {   // cannot happen: packets are at most 255 bytes
                ++i;
                continue;
            }
            Bytes& b = block.bytes;
            const size_t length = kBlockOverhead + body;
            b.reserve(length);
            b.push_back('#');
            b.push_back('2');
            Put16(b, unsigned(length));
            Put32(b, Stamp(now));
            Put32(b, 0);
            Put16(b, 0);   // CRC, below
            Put16(b, blockNumber);
            uint8_t clock[6];
            RecordClock(clock, clockSetCalendar + time_t(std::floor(DeviceTicks(now) / kTicksPerSecond)));
            b.insert(b.end(), clock, clock + 6);
            block.number = blockNumber;
            for (size_t k = i; k < j; ++k) {
                b.insert(b.end(), packets[k].bytes.begin(), packets[k].bytes.end());
                if (packets[k].sample >= 0) {
                    block.samples.push_back(packets[k].sample);
                    block.lastSampleStamp = VOQ::ReadU32LE(&packets[k].bytes[2]);
                }
                if (packets[k].accelerometer) ++block.accelerometerPackets;
            }
            b.push_back('\r');
            b.push_back('\n');
            uint16_t crc = VOQ::CRC16(&b[14], length - 16);
            bool corrupt = false;
            if (corruptNext > 0) {
                --corruptNext;
                corrupt = true;
            } else if (corruptFraction > 0.0 && faultRandom.Uniform() < corruptFraction) {
                corrupt = true;
            }
            if (corrupt) {
                crc = uint16_t(crc ^ 0x5A5A);
                ++stats.blocksCorrupted;
            }
            VOQ::WriteU16LE(&b[12], crc);
            if (dropPending) {
                dropPending = false;
                const size_t area = length - 16;
                const size_t count = std::min(dropCount, area);
                const size_t from = 14 + (area - count) / 2;
                b.erase(b.begin() + long(from), b.begin() + long(from + count));
            }
            if (truncatePending) {
                truncatePending = false;
                const size_t keep = truncateKeep > 0 ? std::min(truncateKeep, b.size() - 1) : b.size() / 2;
                b.resize(keep);
            }
            ++blockNumber;
            Emit(std::move(block), now);
            i = j;
        }
        packets.clear();
        urgent = false;
    }

    void Emit(PendingBlock block, double now) {
        if (swapPending && !holding) {
            swapPending = false;
            holding = true;
            held = std::move(block);
            heldSince = now;
            return;
        }
        Deliver(block);
        if (holding) {
            holding = false;
            Deliver(held);
        }
    }

    void Deliver(const PendingBlock& block) {
        if (output.size() > kMaxBacklog || pty.master < 0) {
            // The host is not reading: the device's buffer overflows.
            stats.samplesDiscarded += block.samples.size();
            return;
        }
        output.insert(output.end(), block.bytes.begin(), block.bytes.end());
        if (recordWrites) {
            BlockWrite w;
            w.number = block.number;
            w.dataPackets = int(block.samples.size());
            w.lastSample = block.samples.empty() ? -1 : block.samples.back();
            w.lastSampleStamp = block.lastSampleStamp;
            unwritten.emplace_back(output.size(), w);
        }
        ++stats.blocksSent;
        for (int64_t s : block.samples) {
            if (stats.firstSampleNumber < 0) stats.firstSampleNumber = s;
            stats.lastSampleNumber = s;
            ++stats.dataPacketsSent;
        }
        stats.accelerometerPacketsSent += block.accelerometerPackets;
    }

    void WriteOutput() {
        if (pty.master < 0) {
            DropOutput();
            return;
        }
        while (!output.empty()) {
            const double before = recordWrites ? Now() : 0.0;
            const ssize_t n = write(pty.master, output.data(), output.size());
            if (n > 0) {
                output.erase(output.begin(), output.begin() + n);
                if (!unwritten.empty()) NoteWritten(size_t(n), before);
            } else {
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) DropOutput();
                break;
            }
        }
    }

    // ---- the host opening and closing the port ----

    void ReadWatch() {
        if (pty.watch < 0) return;
        alignas(struct inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = read(pty.watch, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
                struct inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                at += ssize_t(sizeof event) + ssize_t(event.len);
                if (event.mask & IN_OPEN) {
                    if (state.hostOpenCount++ == 0) HostOpened();
                }
                if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    if (state.hostOpenCount > 0 && --state.hostOpenCount == 0) HostClosed();
                }
            }
        }
    }

    void HostOpened() {
        connectionPending = true;
        if (state.linkUp && !state.poweredOn) state.poweredOn = true;
    }

    void HostClosed() {
        StopEverything();
        DiscardUndelivered();
        input.clear();
        connectionPending = true;
        if (pty.slave >= 0) tcflush(pty.slave, TCIFLUSH);
    }

    // ---- the thread ----

    void Service(double now) {
        if (hangUpRequested) {
            ClosePty(pty);
            hangUpRequested = false;
            changed.notify_all();
        }
        ReadWatch();
        GenerateSamples(now);   // what fell due before the commands that follow
        ReadInput(now);
        if (Active() && nextBatteryHost >= 0.0 && now >= nextBatteryHost) {
            QueueAlarm(kSpeciesAlarmMaster, kAlarmBatteryLevel,
                       {unsigned(config.battery1Percent), unsigned(config.battery2Percent),
                        unsigned(config.battery1Counts), unsigned(config.battery2Counts)},
                       true, now);
            nextBatteryHost += config.batteryPeriodSeconds;
            if (nextBatteryHost < now) nextBatteryHost = now + config.batteryPeriodSeconds;
        }
        GenerateSamples(now);
        const bool blockDue = state.acquiring && now >= nextBlockHost;
        if (!packets.empty() && (urgent || !state.acquiring || blockDue)) BuildBlocks(now);
        if (blockDue) {
            nextBlockHost += config.blockIntervalSeconds;
            if (nextBlockHost < now) nextBlockHost = now + config.blockIntervalSeconds;
        }
        if (holding && now - heldSince >= kSwapHoldSeconds) {
            holding = false;
            Deliver(held);
        }
        WriteOutput();
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopRequested) {
            Service(Now());
            // While acquisition runs the device wakes for the block cadence:
            // samples are made when their block goes.
            const double now = Now();
            double deadline = NextDeadline(now);
            if (state.acquiring) deadline = std::min(deadline, nextBlockHost);
            const double until = std::max(0.0, deadline - now);
            struct pollfd fds[3];
            nfds_t count = 0;
            fds[count++] = {wakeRead, POLLIN, 0};
            if (pty.master >= 0) {
                short events = POLLIN;
                if (!output.empty()) events = short(events | POLLOUT);
                fds[count++] = {pty.master, events, 0};
            }
            if (pty.watch >= 0) fds[count++] = {pty.watch, POLLIN, 0};
            const int timeoutMs = int(std::ceil(until * 1000.0));
            lock.unlock();
            poll(fds, count, timeoutMs);
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(wakeRead, drain, sizeof drain) > 0) {
                }
            }
            lock.lock();
        }
    }

    // Deadlines other than the streaming cadence.
    double NextDeadline(double now) const {
        double deadline = now + 0.05;
        if (nextBatteryHost >= 0.0) deadline = std::min(deadline, nextBatteryHost);
        if (!input.empty()) deadline = std::min(deadline, inputSince + kHoldOffSeconds + 0.001);
        if (holding) deadline = std::min(deadline, heldSince + kSwapHoldSeconds);
        return deadline;
    }
};

// ---------------------------------------------------------------------------

Simulator::Simulator(Config config) : device_(new Device) {
    Validate(config);
    device_->config = std::move(config);
    device_->LoadImageLocked(ImageOf(device_->config));
    device_->faultRandom = Random(device_->config.seed ^ 0xFA017ull);
}

Simulator::~Simulator() { Stop(); }

std::string Simulator::Start() {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (d.running) throw std::logic_error("the simulated headset is already running");
    int wake[2];
    if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe failed: ") + strerror(errno));
    try {
        d.pty = OpenPty();
    } catch (...) {
        close(wake[0]);
        close(wake[1]);
        throw;
    }
    d.wakeRead = wake[0];
    d.wakeWrite = wake[1];
    d.epoch = std::chrono::steady_clock::now();
    d.stopRequested = false;
    d.hangUpRequested = false;
    d.commands.clear();
    d.stats = StreamStats();
    d.blockNumber = 0;
    d.faultRandom = Random(d.config.seed ^ 0xFA017ull);
    d.ResetDevice(0.0);
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    return d.pty.path;
}

void Simulator::Stop() {
    Device& d = *device_;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (!d.running) return;
        d.stopRequested = true;
        d.changed.notify_all();
        d.Wake();
    }
    d.thread.join();
    std::lock_guard<std::mutex> lock(d.mutex);
    ClosePty(d.pty);
    close(d.wakeRead);
    close(d.wakeWrite);
    d.wakeRead = d.wakeWrite = -1;
    d.running = false;
    d.changed.notify_all();
}

bool Simulator::IsRunning() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running;
}

std::string Simulator::DevicePath() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running ? device_->pty.path : std::string();
}

void Simulator::Configure(const Config& config) {
    Validate(config);
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    const Config old = d.config;
    const double now = d.running ? d.Now() : 0.0;
    if (config.driftPpm != old.driftPpm) d.SetDrift(config.driftPpm, now);
    d.config = config;
    if (config.layout != old.layout || config.image != old.image) d.LoadImageLocked(ImageOf(config));
    if (config.samplingRate != old.samplingRate || config.filterMode != old.filterMode)
        d.SetRate(config.samplingRate, config.filterMode, now);
    if (config.accelerometerRate != old.accelerometerRate) d.SetAccelerometerRate(config.accelerometerRate);
    d.Wake();
}

Config Simulator::GetConfig() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->config;
}

void Simulator::SetDriftPpm(double ppm) {
    if (!(ppm > -500000.0 && ppm < 500000.0))
        throw std::invalid_argument("drift must be within +-500000 ppm");
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.SetDrift(ppm, d.running ? d.Now() : 0.0);
    d.Wake();
}

bool Simulator::SetImpedance(const std::string& electrode, double kOhm) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.config.impedanceKOhm[electrode] = kOhm;
    for (const Slot& s : d.slots)
        if (Lower(s.name) == Lower(electrode)) return true;
    return false;
}

void Simulator::SetAllImpedances(double kOhm) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.impedanceAllKOhm = kOhm;
    device_->config.impedanceKOhm.clear();
}

void Simulator::SetCMFImpedance(double kOhm) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.cmfImpedanceKOhm = kOhm;
}

void Simulator::SetBatteryLevels(int battery1Percent, int battery2Percent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.battery1Percent = battery1Percent;
    device_->config.battery2Percent = battery2Percent;
}

void Simulator::SetTrigger(double periodSeconds, int value) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.triggerPeriodSeconds = std::max(0.0, periodSeconds);
    device_->config.triggerValue = value;
}

void Simulator::UseLayout(const std::string& name) {
    const Image image = LayoutImage(name);
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.layout = name;
    device_->config.image.clear();
    device_->LoadImageLocked(image);
}

void Simulator::LoadImage(const Image& image) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.image.assign(image.begin(), image.end());
    device_->LoadImageLocked(image);
}

std::vector<CommandRecord> Simulator::Commands() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->commands;
}

size_t Simulator::CommandCount() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->commands.size();
}

void Simulator::ClearCommands() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->commands.clear();
}

bool Simulator::WaitForCommands(size_t count, double timeoutSeconds) const {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    return d.changed.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
                              [&] { return d.commands.size() >= count; });
}

DeviceState Simulator::State() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->state;
}

StreamStats Simulator::Stats() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    StreamStats s = device_->stats;
    s.nextBlockNumber = device_->blockNumber;
    return s;
}

Image Simulator::CalibrationImage() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->image;
}

std::vector<Slot> Simulator::Slots() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->slots;
}

double Simulator::HostTime() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running ? device_->Now() : 0.0;
}

void Simulator::RecordBlockWrites(bool on) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->recordWrites = on;
    device_->unwritten.clear();
    if (on) device_->written.clear();
}

std::vector<BlockWrite> Simulator::TakeBlockWrites() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    std::vector<BlockWrite> taken;
    taken.swap(device_->written);
    return taken;
}

void Simulator::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->silent = silent;
}

void Simulator::SetSilentTo(int family, bool silent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (silent)
        device_->silentFamilies.insert(family);
    else
        device_->silentFamilies.erase(family);
}

void Simulator::SetRefusal(int family, int code) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (code == 0)
        device_->refusals.erase(family);
    else
        device_->refusals[family] = code & 0xFF;
}

void Simulator::FailFirstAttempts(int family, int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (count > 0)
        device_->failFirst[family] = count;
    else
        device_->failFirst.erase(family);
}

void Simulator::SetMalformedAnswer(int family, bool malformed) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (malformed)
        device_->malformed.insert(family);
    else
        device_->malformed.erase(family);
}

void Simulator::CorruptNextBlocks(int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->corruptNext = std::max(0, count);
}

void Simulator::SetCorruptBlockFraction(double fraction) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->corruptFraction = std::max(0.0, std::min(1.0, fraction));
}

void Simulator::TruncateNextBlock(size_t keepBytes) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->truncatePending = true;
    device_->truncateKeep = keepBytes;
}

void Simulator::DropBytesInNextBlock(size_t count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->dropPending = count > 0;
    device_->dropCount = count;
}

void Simulator::SwapNextBlocks() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->swapPending = true;
}

void Simulator::SkipDataPackets(int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->skipNext += std::max(0, count);
}

void Simulator::SendAlarm(int species, int codeByte, const std::vector<unsigned>& parameters,
                          bool sixteenBit) {
    if (species != kSpeciesAlarmMaster && species != kSpeciesAlarmSlave)
        throw std::invalid_argument("alarm species must be 2 (master) or 6 (slave)");
    if (parameters.size() > 63) throw std::invalid_argument("an alarm has at most 63 parameters");
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.QueueAlarm(species, codeByte & 0xFF, parameters, sixteenBit, d.running ? d.Now() : 0.0);
    d.Wake();
}

void Simulator::SendRaw(const std::vector<uint8_t>& bytes) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.silent || !d.Active() || d.pty.master < 0) return;
    // Blocks already made go first.
    if (!d.packets.empty()) d.BuildBlocks(d.Now());
    d.output.insert(d.output.end(), bytes.begin(), bytes.end());
    d.Wake();
}

void Simulator::LoseLink(bool hangUp) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.state.linkUp = false;
    d.StopEverything();
    d.DiscardUndelivered();
    d.input.clear();
    if (hangUp && d.running && d.pty.master >= 0) d.hangUpRequested = true;
    d.Wake();
}

std::string Simulator::RestoreLink() {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (!d.running) throw std::logic_error("the simulated headset is not running");
    d.Wake();
    d.changed.wait(lock, [&] { return !d.hangUpRequested || d.stopRequested; });
    if (d.stopRequested) throw std::logic_error("the simulated headset is stopping");
    if (d.pty.master < 0) d.pty = OpenPty();
    d.state.linkUp = true;
    d.state.poweredOn = true;
    d.state.hostOpenCount = 0;
    d.connectionPending = true;
    d.input.clear();
    d.Wake();
    return d.pty.path;
}

void Simulator::ClearFaults() {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.silent = false;
    d.silentFamilies.clear();
    d.refusals.clear();
    d.failFirst.clear();
    d.malformed.clear();
    d.corruptNext = 0;
    d.corruptFraction = 0.0;
    d.truncatePending = false;
    d.dropPending = false;
    d.swapPending = false;
    if (d.holding) {
        d.holding = false;
        d.Deliver(d.held);
    }
    d.skipNext = 0;
    d.Wake();
}

}  // namespace voqsim
