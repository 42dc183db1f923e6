#include "voq/Headset.h"

#include <cstdio>
#include <cstring>

namespace VOQ {

namespace {

struct PayloadSize {
    int family;
    size_t minimum;
    size_t expected;
};

// Smallest acceptable and expected payload sizes of the families recorded.
const PayloadSize kPayloadSizes[] = {
    {CommandFamily::FirmwareRevision, 1, 1},
    {CommandFamily::FirmwareRevisionSub, 4, 4},
    {CommandFamily::DeviceIdentification, 1, 1},
    {CommandFamily::LED, 1, 1},
    {CommandFamily::DataAcquisitionMode, 4, 4},
    {CommandFamily::SerialNumberAndSensorCount, 6, 6},
    {CommandFamily::CalibrationMemory, 18, 18},
    {CommandFamily::RealTimeClock, 13, 13},
    {CommandFamily::AnalogResetMode, 2, 2},
    {CommandFamily::AcquisitionSettings, 10, 10},
    {CommandFamily::AccelerometerRate, 2, 2},
    {CommandFamily::ImpedanceDriverMode, 2, 2},
    {CommandFamily::Echo, 0, 1},
};

const PayloadSize* FindPayloadSize(int family) {
    for (const PayloadSize& entry : kPayloadSizes)
        if (entry.family == family) return &entry;
    return nullptr;
}

}  // namespace

void Headset::ProcessResponse(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    (void)receptionTime;
    (void)packetTime;
    if (length < ResponsePacketStruct::kWireSize) {
        if (WillShow(2)) Message(2, "malformed response packet");
        return;
    }
    const ResponsePacketStruct response = ResponsePacketStruct::Decode(packet);
    const int species = response.header.species;
    const int code = response.code;
    const int identifier = response.identifier;
    const uint8_t* payload = packet + ResponsePacketStruct::kWireSize;
    const size_t n = length - ResponsePacketStruct::kWireSize;
    const std::string id = std::to_string(identifier);

    if (WillShow(3)) {
        Message(3, std::string("Received ") + PacketSpeciesName(species) + " 0x" + HexString(code, 2, true) + " (" +
                       CommandFamilyName(code) + ") in answer to command " + id);
    }

    // Refusals settle the command and record nothing.
    if (code == ResponseCode::WrongMode) {
        if (WillShow(3)) Message(3, "command " + id + " rejected: headset is in wrong mode");
        ForgetPending(identifier, false, true);
        return;
    }
    if (code >= ResponseCode::FirstReserved && code <= ResponseCode::LastReserved) {
        if (WillShow(3))
            Message(3, "command " + id + " rejected: headset responded with reserved code 0x" + HexString(code, 2, true));
        ForgetPending(identifier, false, true);
        return;
    }
    if (code >= ResponseCode::FirstBadParameter) {
        if (WillShow(3)) {
            Message(3, "command " + id + " rejected: parameter[" +
                           std::to_string(code - ResponseCode::FirstBadParameter) + "] is bad");
        }
        ForgetPending(identifier, true, true);
        return;
    }

    const PayloadSize* size = FindPayloadSize(code);
    if (size == nullptr) {
        if (WillShow(2)) {
            Message(2, "Command " + id + " response ignored due to unsupported command code 0x" +
                           HexString(code, 2, true));
        }
        if (WillShow(3)) {
            Message(3, "Response type 0x" + HexString(code, 2, true) + " delivered " + std::to_string(n) +
                           " bytes: " + PythonString(payload, n, true) + " = " + PythonString(payload, n, false));
        }
        ForgetPending(identifier, true, false);
        return;
    }
    if (n < size->minimum) {
        if (WillShow(2))
            Message(2, std::string("malformed payload in response to ") + CommandFamilyName(code) + " command " + id);
        return;
    }
    if (n > size->expected && WillShow(3)) {
        Message(3, std::string("extraneous bytes follow payload in response to ") + CommandFamilyName(code) +
                       " command " + id);
    }

    const bool master = species != PacketSpecies::ResponseFromSlave;
    switch (code) {
        case CommandFamily::FirmwareRevision: {
            std::string revision = NullTerminatedString(reinterpret_cast<const char*>(payload), n);
            std::lock_guard<std::mutex> lock(stateLock);
            (master ? masterFirmwareRevision : slaveFirmwareRevision) = revision;
            break;
        }
        case CommandFamily::FirmwareRevisionSub: {
            std::lock_guard<std::mutex> lock(stateLock);
            (master ? masterSubRevisions : slaveSubRevisions)[payload[0]] = payload[1];
            break;
        }
        case CommandFamily::DeviceIdentification: {
            std::vector<std::string> words =
                Split(std::string(reinterpret_cast<const char*>(payload), n), " \t\r\n,");
            std::string revision;
            if (words.size() >= 2) {
                revision = words.back();
                words.pop_back();
            }
            std::string model = Join(" ", words);
            std::lock_guard<std::mutex> lock(stateLock);
            hardwareModel = model;
            hardwareRevision = revision;
            break;
        }
        case CommandFamily::LED:
            // The message's spelling is the established text that logs and
            // callers match: keep it as it is.
            if (WillShow(3)) Message(3, "Reponse to LED command: " + PythonString(payload, n, true));
            break;
        case CommandFamily::DataAcquisitionMode: {
            // A stopped stream starts its packet numbers afresh: the first
            // packet after a restart is never out of sequence.
            if (payload[0] == 0) expectedDataPacketCounter = -1;
            dataAcquisitionMode = payload[0];
            filterMode = payload[1];
            const double rate = ReadU16LE(payload + 2);
            samplingRate = rate;
            // The headset's filter delays the signals against the trigger
            // input; the trigger is delayed by the same number of samples.
            int delay = 0;
            if (payload[1] != 0) {
                if (rate == 300 || rate == 600) {
                    delay = 16;
                } else if (WillShow(1)) {
                    Message(1, "WARNING: unrecognized sampling rate " + NumberString(rate) +
                                   "Hz: trigger channel will NOT be delayed to compensate for signal filtering");
                }
            } else if (WillShow(1)) {
                Message(1,
                        "headset filter mode is off: trigger channel will NOT be delayed to compensate for signal "
                        "filtering");
            }
            triggerDelayLine.Allocate(uint64_t(delay + 1));
            for (int k = 0; k < delay; ++k) triggerDelayLine.Write(0.0);
            break;
        }
        case CommandFamily::SerialNumberAndSensorCount:
            serialNumber = ReadU32LE(payload);
            break;
        case CommandFamily::CalibrationMemory: {
            using namespace CalibrationLayout;
            const int page = payload[0];
            if (page < kPages) {
                TakeCalibrationPage(page, payload + kPageData);
            } else if (WillShow(1)) {
                Message(1, "Headset returned an unexpected calibration memory page number " + std::to_string(page));
            }
            break;
        }
        case CommandFamily::RealTimeClock: {
            const RealTimeClockStruct queried = RealTimeClockStruct::Decode(payload + ClockAnswerLayout::kCurrent);
            const RealTimeClockStruct set = RealTimeClockStruct::Decode(payload + ClockAnswerLayout::kLastSet);
            std::lock_guard<std::mutex> lock(stateLock);
            onboardClockQueried.Set(&queried);
            onboardClockSet.Set(&set);
            break;
        }
        case CommandFamily::AnalogResetMode:
            analogResetMode = ReadU16LE(payload);
            break;
        case CommandFamily::AcquisitionSettings:
            if (WillShow(3)) {
                char selection[16];
                std::snprintf(selection, sizeof selection, "%08X", unsigned(ReadU32LE(payload + 6)));
                Message(3, "AcquisitionSettings returned:\n    samplesPerSecond = " +
                               std::to_string(ReadU16LE(payload)) +
                               "\n          filterMode = " + std::to_string(ReadU16LE(payload + 2)) +
                               "\n          recordType = " + std::to_string(ReadU16LE(payload + 4)) +
                               "\n    channelSelection = 0x" + selection);
            }
            break;
        case CommandFamily::AccelerometerRate: {
            const int rate = ReadU16LE(payload);
            accelerometerRate = double(rate);
            for (RingBuffer& queue : accelerometerQueues) queue.Allocate(uint64_t(rate));
            break;
        }
        case CommandFamily::ImpedanceDriverMode:
            impedanceDriverMode = ReadU16LE(payload);
            break;
        case CommandFamily::Echo:
            if (n >= 9 && std::memcmp(payload, "VOQ Ready", 9) == 0) readyFlag = true;
            if (WillShow(2)) Message(2, PythonString(payload, n, false));
            break;
        default:
            break;
    }
    ForgetPending(identifier, true, false);
}

std::string Headset::NullTerminatedString(const char* data, size_t length) const {
    std::string text(data, length);
    size_t zero = text.find('\0');
    if (zero == std::string::npos) return text;
    if (WillShow(3))
        Message(3, "VOQ message overflow - extraneous bytes received in " + PythonString(data, length, true));
    return text.substr(0, zero);
}

}  // namespace VOQ
