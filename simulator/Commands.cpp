// Command handling: command packets read from the host, carried out and
// answered, with the command faults (silence, refusals, failed attempts,
// malformed answers).
#include "Device.h"

#include <voq/Protocol.h>

#include <algorithm>

namespace voqsim {

using namespace wire;

namespace {

// The smallest payload that a host accepts for each family's answer.
size_t SmallestAnswer(int family, size_t normal) {
    switch (family) {
    case kFirmwareRevision: case kIdentification: case kLED: case kEcho: return 1;
    case kSubRevisions: case kAcquisition: return 4;
    case kSerialNumber: return 6;
    case kCalibrationMemory: return 2 + kPageSize;
    case kClock: return 2 * kClockRecordSize + 1;
    case kAnalogReset: case kAccelerometerRate: case kImpedanceDriver: return 2;
    case kAcquisitionSettings: return 10;
    default: return normal;
    }
}

// The u16 sub-command of a family that takes one; false when missing.
bool SubCommand(const CommandRecord& r, unsigned& value) {
    if (r.payload.size() < 2) return false;
    value = Get16(r.payload.data());
    return true;
}

}  // namespace

void Simulator::Device::Queue(Bytes packet, bool makeUrgent) {
    Finish(packet);
    QueuedPacket q;
    q.bytes = std::move(packet);
    packets.push_back(std::move(q));
    if (makeUrgent) urgent = true;
}

void Simulator::Device::QueueAlarm(int species, int codeByte, const std::vector<unsigned>& parameters,
                                   bool sixteenBit, double now) {
    Bytes b = PacketHeader(species, stream.Stamp(now));
    const size_t count = std::min(parameters.size(), kMaxAlarmParameters);
    b.push_back(uint8_t(codeByte));
    b.push_back(uint8_t((sixteenBit ? kAlarmSixteenBitFlag : 0x00) | count));
    for (size_t i = 0; i < count; ++i) {
        if (sixteenBit)
            Put16(b, parameters[i]);
        else
            b.push_back(uint8_t(parameters[i]));
    }
    Queue(std::move(b));
}

void Simulator::Device::QueueResponse(int species, int code, int identifier, const Bytes& payload, double now,
                                      int triggerDelay) {
    Bytes b = PacketHeader(species, stream.Stamp(now));
    b.push_back(uint8_t(code));
    b.push_back(uint8_t(identifier));
    const size_t n = std::min(payload.size(), kMaxResponsePayload);
    b.insert(b.end(), payload.begin(), payload.begin() + long(n));
    Queue(std::move(b));
    packets.back().triggerDelay = triggerDelay;
}

void Simulator::Device::ReadInput(double now) {
    const size_t before = input.size();
    link.Read(input);
    if (before == 0 && input.size() > 0) inputSince = now;
    ParseInput(now);
    if (!input.empty() && now - inputSince > kHoldOffSeconds) {
        input.clear();
        if (Active()) QueueAlarm(kAlarmMaster, kAlarmHoldOffDelay, {}, false, now);
    }
}

void Simulator::Device::ParseInput(double now) {
    size_t pos = 0;
    while (pos < input.size()) {
        size_t start = pos;
        const bool prefixed = input[start] == kCommandPrefix;
        if (prefixed) ++start;
        if (start >= input.size()) break;
        const size_t length = input[start];
        if (length < kCommandMinLength) {
            if (Active()) QueueAlarm(kAlarmMaster, kAlarmPacketSizeError, {unsigned(length)}, false, now);
            pos = start + 1;
            continue;
        }
        if (input.size() - start < length + 1) break;   // wait for the rest
        const uint8_t* p = &input[start];
        CommandRecord r;
        r.destination = p[kCommandDestination];
        r.family = p[kCommandFamily];
        r.identifier = p[kCommandIdentifier];
        r.payload.assign(p + kCommandPayload, p + length + 1);
        r.crcValid = VOQ::CRC16(p + kCommandFamily, length + 1 - kCommandFamily) == Get16(p + kCommandCrc);
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

void Simulator::Device::Handle(CommandRecord& r, double now) {
    if (!Active()) {
        r.ignored = true;
        return;
    }
    if (connectionPending) {
        connectionPending = false;
        QueueAlarm(kAlarmMaster, kAlarmConnectionCreated, {}, false, now);
    }
    if (!r.crcValid) {
        r.ignored = true;
        QueueAlarm(kAlarmMaster, kAlarmCheckFailed, {}, false, now);
        return;
    }
    if (r.destination != kToMaster && r.destination != kToSlave) {
        r.ignored = true;
        return;
    }
    const int species = r.destination == kToMaster ? kResponseMaster : kResponseSlave;
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
    const int code = Execute(r, now, answers);
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
        // An acquisition-mode answer sets the host's trigger delay.
        const int delay = r.family == kAcquisition && a.size() >= SmallestAnswer(kAcquisition, 0)
                              ? HostTriggerDelay(a[1], int(Get16(&a[2])))
                              : -1;
        QueueResponse(species, r.family, r.identifier, a, now, delay);
    }
    AfterAnswer(r, now);
}

// Carries out a command.  Returns the family when it was carried out (with
// its answers), or a refusal code.
int Simulator::Device::Execute(const CommandRecord& r, double now, std::vector<Bytes>& answers) {
    const bool master = r.destination == kToMaster;
    const Bytes& in = r.payload;
    Bytes out;
    unsigned sub = 0;
    switch (r.family) {
    case kFirmwareRevision: {
        const std::string& text = master ? config.masterFirmware : config.slaveFirmware;
        out.assign(text.begin(), text.end());
        out.push_back(0);
        break;
    }
    case kSubRevisions: {
        const std::map<int, int>& map = master ? config.masterSubRevisions : config.slaveSubRevisions;
        if (!in.empty()) {
            auto it = map.find(in[0]);
            if (it == map.end()) return kRefusedParameter;
            answers.push_back({uint8_t(it->first), uint8_t(it->second), 0, 0});
            return r.family;
        }
        if (map.empty()) answers.push_back({0, 0, 0, 0});
        for (const auto& entry : map) answers.push_back({uint8_t(entry.first), uint8_t(entry.second), 0, 0});
        return r.family;
    }
    case kIdentification: {
        const std::string text = Identification();
        out.assign(text.begin(), text.end());
        break;
    }
    case kLED:
        if (in.empty()) return kRefusedParameter;
        state.led = in.size() >= 2 ? int(Get16(in.data())) : int(in[0]);
        out.push_back(uint8_t(state.led));
        break;
    case kAcquisition:
        if (!SubCommand(r, sub) || sub > kAcquisitionStart) return kRefusedParameter;
        if (sub == kAcquisitionStop) StopAcquisition();
        if (sub == kAcquisitionStart) StartAcquisition(now);
        out.push_back(uint8_t(state.acquisitionMode));
        out.push_back(uint8_t(state.filterMode));
        Put16(out, unsigned(state.samplingRate));
        break;
    case kSerialNumber:
        Put32(out, SerialNumber());
        Put16(out, unsigned(ReportedSensorCount()));
        break;
    case kCalibrationMemory: {
        if (in.empty()) return kRefusedParameter;
        if (in[0] >= kPageWrite) {
            const int page = in[0] - kPageWrite;
            if (page >= kCalibrationPages) return kRefusedParameter;
            if (in.size() < 2 || in[1] != kWriteEnable) return kRefusedParameter + 1;
            if (in.size() < 2 + kPageSize) return kRefusedParameter + 2;
            std::copy(in.begin() + 2, in.begin() + 2 + long(kPageSize), image.begin() + long(kPageSize) * page);
            LoadImageLocked(image);
            out = Page(page);
        } else {
            const unsigned page = in.size() >= 2 ? Get16(in.data()) : in[0];
            if (page >= unsigned(kCalibrationPages)) return kRefusedParameter;
            out = Page(int(page));
        }
        break;
    }
    case kClock:
        if (in.size() == kClockRecordSize) {
            const int limits[kClockRecordSize][2] = {{1, 12}, {1, 31}, {0, 99}, {0, 23}, {0, 59}, {0, 59}};
            for (size_t i = 0; i < kClockRecordSize; ++i)
                if (in[i] < limits[i][0] || in[i] > limits[i][1]) return kRefusedParameter + int(i);
            stream.SetClock(in.data(), now);
        } else if (!in.empty()) {
            return kRefusedParameter;
        }
        // The reading now, an unused byte, and when the clock was set.
        out.resize(2 * kClockRecordSize + 1, 0);
        stream.Reading(now, &out[0]);
        stream.SetAt(&out[kClockRecordSize + 1]);
        break;
    case kAnalogReset:
        if (!SubCommand(r, sub) || sub > kAnalogResetLock) return kRefusedParameter;
        if (sub == kAnalogResetRelease) state.analogResetMode = kAnalogReleased;
        if (sub == kAnalogResetStart) state.analogResetMode = kAnalogInReset;
        if (sub == kAnalogResetLock) state.analogResetMode = kAnalogLocked;
        Put16(out, unsigned(state.analogResetMode));
        break;
    case kSelfTest:
        Put16(out, 0);   // passed
        break;
    case kAcquisitionSettings:
        if (in.size() >= 4 && Get16(in.data()) != 0) {
            const unsigned rate = Get16(in.data());
            const unsigned filter = Get16(in.data() + 2);
            if (rate != unsigned(kSamplingRates[0]) && rate != unsigned(kSamplingRates[1]))
                return kRefusedParameter;
            if (filter > 1) return kRefusedParameter + 1;
            SetRate(int(rate), int(filter), now);
        }
        Put16(out, unsigned(state.samplingRate));
        Put16(out, unsigned(state.filterMode));
        Put16(out, kRecordType);
        Put32(out, kAllChannels);
        break;
    case kAccelerometerRate:
        if (in.size() >= 2) {
            const int rate = int(Get16(in.data()));
            const auto& rates = config.accelerometerRates;
            if (std::find(rates.begin(), rates.end(), rate) == rates.end()) return kRefusedParameter;
            SetAccelerometerRate(rate);
        } else if (!in.empty()) {
            return kRefusedParameter;
        }
        Put16(out, unsigned(state.accelerometerRate));
        break;
    case kBatteryMonitor:
        if (!SubCommand(r, sub) || sub > kBatteryStart) return kRefusedParameter;
        state.batteryMonitor = sub == kBatteryStart;
        nextBatteryHost = state.batteryMonitor ? now + config.batteryFirstDelaySeconds : -1.0;
        Put16(out, sub);
        break;
    case kShutdown:
        Put16(out, 1);
        break;
    case kInternalStorage:
        Put16(out, 0);   // no storage fitted
        Put16(out, 0);
        break;
    case kImpedanceDriver:
        if (!SubCommand(r, sub) || sub > kImpedanceStart) return kRefusedParameter;
        if (sub == kImpedanceStop) state.impedanceDriverMode = 0;
        if (sub == kImpedanceStart) state.impedanceDriverMode = 1;
        Put16(out, unsigned(state.impedanceDriverMode));
        break;
    case kEcho:
        out = in;
        break;
    default:
        return kRefusedReserved;
    }
    answers.push_back(std::move(out));
    return r.family;
}

// Effects that follow the answer.
void Simulator::Device::AfterAnswer(const CommandRecord& r, double now) {
    if (r.family == kShutdown) {
        QueueAlarm(kAlarmMaster, kAlarmPowerDown, {}, false, now);
        BuildBlocks(now);
        StopEverything();
        DiscardPackets();
        state.poweredOn = false;
    }
}

std::string Simulator::Device::Identification() const {
    if (!config.identification.empty()) return config.identification;
    return OccupiedSlots(image) == 7 ? "VOQ7 HS Rev 1" : "VOQ24 HS Rev 2";
}

uint32_t Simulator::Device::SerialNumber() const {
    if (config.serialNumber != 0) return config.serialNumber;
    return OccupiedSlots(image) == 7 ? 700042u : 2400117u;
}

Bytes Simulator::Device::Page(int page) const {
    // Sized first and filled in place: GCC 12 at -O3 misreads an insert into
    // a two-byte vector as an out-of-bounds copy.
    Bytes b(2 + kPageSize, 0);
    b[0] = uint8_t(page);
    const auto from = image.begin() + long(kPageSize) * page;
    std::copy(from, from + long(kPageSize), b.begin() + 2);
    return b;
}

}  // namespace voqsim
