#include "voq/Protocol.h"

#include <cstring>

#include "voq/Error.h"
#include "voq/Text.h"

namespace VOQ {

namespace {

struct AlarmEntry {
    const char* name;      // nullptr: the code has no name of its own
    const char* message;   // printf-like template of the firmware
};

#include "voq/ProtocolTables.inc"

const char* const kSpeciesNames[8] = {
    "Nop", "ResponseFromMaster", "AlarmFromMaster", "Data",
    "ExtendedData", "ResponseFromSlave", "AlarmFromSlave", "Reserved7",
};

const char* const kHighSourceIDNames[16] = {
    "TRG", "SND", "RCV", "NUL", "TRG0", "TRG1", "TRG2", "TRG3",
    "TRG4", "TRG5", "TRG6", "TRG7", "ACCT", "ACCX", "ACCY", "ACCZ",
};

const AlarmEntry* FindAlarm(long code) {
    if (code >= 512 && code < 512 + long(sizeof kMasterAlarms / sizeof kMasterAlarms[0]))
        return &kMasterAlarms[code - 512];
    if (code >= 1536 && code < 1536 + long(sizeof kSlaveAlarms / sizeof kSlaveAlarms[0]))
        return &kSlaveAlarms[code - 1536];
    return nullptr;
}

// CRC register after shifting i * 256 through eight steps of 0x8005.
constexpr uint16_t TableEntry(unsigned i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit) crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x8005 : (crc << 1));
    return crc;
}


}  // namespace

const char* PacketSpeciesName(long code) {
    return (code >= 0 && code < 8) ? kSpeciesNames[code] : "UnknownPacketSpecies";
}

const char* ExtendedDataSubtypeName(long code) {
    return code == ExtendedDataSubtype::AccelerometerData ? "AccelerometerData" : "UnknownExtendedDataSubtype";
}

const char* CommandDestinationName(long code) {
    switch (code) {
    case CommandDestination::Master: return "Master";
    case CommandDestination::Slave: return "Slave";
    default: return "UnknownCommandDestination";
    }
}

const char* CommandFamilyName(long code) {
    switch (code) {
    case CommandFamily::FirmwareRevision: return "FirmwareRevision";
    case CommandFamily::FirmwareRevisionSub: return "FirmwareRevisionSub";
    case CommandFamily::DeviceIdentification: return "DeviceIdentification";
    case CommandFamily::LED: return "LED";
    case CommandFamily::DataAcquisitionMode: return "DataAcquisitionMode";
    case CommandFamily::SerialNumberAndSensorCount: return "SerialNumberAndSensorCount";
    case CommandFamily::CalibrationMemory: return "CalibrationMemory";
    case CommandFamily::RealTimeClock: return "RealTimeClock";
    case CommandFamily::AnalogResetMode: return "AnalogResetMode";
    case CommandFamily::SelfTest: return "SelfTest";
    case CommandFamily::AcquisitionSettings: return "AcquisitionSettings";
    case CommandFamily::AccelerometerRate: return "AccelerometerRate";
    case CommandFamily::BatteryMonitor: return "BatteryMonitor";
    case CommandFamily::Shutdown: return "Shutdown";
    case CommandFamily::InternalStorage: return "InternalStorage";
    case CommandFamily::ImpedanceDriverMode: return "ImpedanceDriverMode";
    case CommandFamily::Echo: return "Echo";
    default: return "UnknownCommandFamily";
    }
}

const char* SourceIDName(long code) {
    if (code >= 0 && code < 128) return kSourceIDNames[code];
    if (code == 128) return "U128";
    if (code == 255) return "NC";
    if (code >= 256 && code <= 271) return kHighSourceIDNames[code - 256];
    return "UnknownSourceID";
}

const char* AlarmName(long code) {
    const AlarmEntry* entry = FindAlarm(code);
    return (entry && entry->name) ? entry->name : "UnknownAlarm";
}

const char* AlarmMessage(long code) {
    const AlarmEntry* entry = FindAlarm(code);
    return entry ? entry->message : "UnknownAlarm";
}

// ---------------------------------------------------------------------------

#define VOQ_CRC_ROW(i) TableEntry(i), TableEntry(i + 1), TableEntry(i + 2), TableEntry(i + 3), \
    TableEntry(i + 4), TableEntry(i + 5), TableEntry(i + 6), TableEntry(i + 7)
#define VOQ_CRC_ROWS(i) VOQ_CRC_ROW(i), VOQ_CRC_ROW(i + 8), VOQ_CRC_ROW(i + 16), VOQ_CRC_ROW(i + 24)
const uint16_t CRCTABLE[256] = {
    VOQ_CRC_ROWS(0), VOQ_CRC_ROWS(32), VOQ_CRC_ROWS(64), VOQ_CRC_ROWS(96),
    VOQ_CRC_ROWS(128), VOQ_CRC_ROWS(160), VOQ_CRC_ROWS(192), VOQ_CRC_ROWS(224),
};
#undef VOQ_CRC_ROWS
#undef VOQ_CRC_ROW

namespace {

// Four bytes a step: table k gives the register after byte i followed by k
// zero bytes.  The CRC is linear, so the four lookups combine by XOR, and only
// the first two bytes of a step meet the register.
struct SlicedCRCTables {
    uint16_t t[4][256];
};

constexpr SlicedCRCTables MakeSlicedCRCTables() {
    SlicedCRCTables s{};
    for (unsigned i = 0; i < 256; ++i) s.t[0][i] = TableEntry(i);
    for (int k = 1; k < 4; ++k)
        for (unsigned i = 0; i < 256; ++i)
            s.t[k][i] = uint16_t(s.t[0][s.t[k - 1][i] >> 8] ^ (s.t[k - 1][i] << 8));
    return s;
}

constexpr SlicedCRCTables kSlicedCRC = MakeSlicedCRCTables();

}  // namespace

uint16_t CRC16(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint16_t crc = 0;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        crc = uint16_t(kSlicedCRC.t[3][(crc >> 8) ^ bytes[i]] ^ kSlicedCRC.t[2][(crc & 0xFF) ^ bytes[i + 1]] ^
                       kSlicedCRC.t[1][bytes[i + 2]] ^ kSlicedCRC.t[0][bytes[i + 3]]);
    }
    for (; i < length; ++i) crc = uint16_t(CRCTABLE[((crc >> 8) ^ bytes[i]) & 0xFF] ^ ((crc & 0xFF) << 8));
    return crc;
}

// ---------------------------------------------------------------------------

Command::Command() : payloadLength(0), packet{}, packetLength(6), succeeded(false), rejected(false) {}

Command::Command(CommandDestination::Code destination, CommandFamily::Code family, const void* payload,
                 size_t length)
    : Command() {
    Init(destination, family, payload, length);
}

void Command::Init(CommandDestination::Code destination, CommandFamily::Code family, const void* payload,
                   size_t length) {
    if (length > kMaxPayload)
        throw Error("command payload of " + std::to_string(length) + " bytes is too long (at most " +
                    std::to_string(kMaxPayload) + " bytes fit the length byte)");
    payloadLength = length;
    if (length) std::memcpy(packet + 6, payload, length);
    packet[0] = uint8_t(length + 5);
    packet[1] = uint8_t(destination);
    packet[4] = uint8_t(family);
    packetLength = length + 6;
    succeeded = false;
    rejected = false;
}

void Command::Init(const void* bytes, size_t length) {
    if (length < 6) throw Error("a command packet needs at least 6 bytes");
    if (length > kMaxPacket) length = kMaxPacket;
    std::memcpy(packet, bytes, length);
    packetLength = length;
    payloadLength = length - 6;
    succeeded = false;
    rejected = false;
}

const uint8_t* Command::Sign(int identifier) {
    packet[5] = uint8_t(identifier);
    WriteU16LE(packet + 2, CRC16(packet + 4, payloadLength + 2));
    return packet;
}

Command WordCommand(CommandDestination::Code destination, CommandFamily::Code family, uint16_t value) {
    uint8_t payload[2];
    WriteU16LE(payload, value);
    return Command(destination, family, payload, sizeof payload);
}

Command StopStreamCommand() {
    return WordCommand(CommandDestination::Master, CommandFamily::DataAcquisitionMode, ModeRequest::Stop);
}

std::string Command::Description() const {
    std::string text = "command " + std::to_string(Identifier()) + ": " + CommandDestinationName(Destination()) +
                       "." + CommandFamilyName(Family()) + "(";
    for (size_t i = 0; i < payloadLength; ++i) {
        if (i == 0) text += " ";
        text += HexString(packet[6 + i], 2, true) + " ";
    }
    return text + ")";
}

}  // namespace VOQ
