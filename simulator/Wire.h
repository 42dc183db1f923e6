// The wire facts the simulated headset speaks, each named once: packet
// species, command families and their sub-commands, refusal codes, alarm
// codes, packet and block layout, and the little-endian byte helpers.
//
// The simulator names these itself instead of borrowing the library's
// decoding (it shares only the CRC and the source-code vocabulary), so that
// its tests catch the library's mistakes instead of repeating them.
// Internal to the simulator.
#ifndef VOQSIM_WIRE_H
#define VOQSIM_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace voqsim {

using Bytes = std::vector<uint8_t>;

namespace wire {

// Packet species (byte 1 of every packet the device sends).
enum Species : int {
    kResponseMaster = 1,
    kAlarmMaster = 2,
    kData = 3,
    kExtendedData = 4,
    kResponseSlave = 5,
    kAlarmSlave = 6,
};

// Command destinations (byte 1 of a command packet).
enum Destination : int {
    kToMaster = 1,
    kToSlave = 2,
};

// Command families (byte 4 of a command packet, and the code of its answer).
enum Family : int {
    kFirmwareRevision = 18,
    kSubRevisions = 19,
    kIdentification = 29,
    kLED = 30,
    kAcquisition = 33,
    kSerialNumber = 40,
    kCalibrationMemory = 47,
    kClock = 48,
    kAnalogReset = 65,
    kSelfTest = 145,
    kAcquisitionSettings = 165,
    kAccelerometerRate = 172,
    kBatteryMonitor = 186,
    kShutdown = 189,
    kInternalStorage = 203,
    kImpedanceDriver = 218,
    kEcho = 236,
};

// Sub-commands: the u16 payload of the families that take one.
enum AcquisitionCommand : unsigned { kAcquisitionQuery = 0, kAcquisitionStop = 1, kAcquisitionStart = 2 };
enum AnalogResetCommand : unsigned {
    kAnalogResetQuery = 0,
    kAnalogResetRelease = 1,
    kAnalogResetStart = 2,
    kAnalogResetLock = 3,
};
enum AnalogResetMode : int { kAnalogReleased = 0, kAnalogInReset = 1, kAnalogLocked = 2 };
enum ImpedanceCommand : unsigned { kImpedanceQuery = 0, kImpedanceStop = 1, kImpedanceStart = 2 };
enum BatteryCommand : unsigned { kBatteryStop = 0, kBatteryStart = 1 };

// Refusal codes, answered in place of the family's code.
const int kRefusedWrongMode = 0x80;   // the device is in the wrong mode
const int kRefusedReserved = 0xE0;    // reserved code: the device's answer to an unknown family
const int kRefusedParameter = 0xF0;   // + n: parameter n of the command is bad

// Alarm code bytes of the master processor.
enum AlarmCode : int {
    kAlarmPowerDown = 0x02,
    kAlarmBatteryLevel = 0x0F,
    kAlarmHoldOffDelay = 0x2F,
    kAlarmPacketSizeError = 0x30,
    kAlarmCheckFailed = 0x31,
    kAlarmConnectionCreated = 0x33,
};
// Alarm body: code byte, count byte (bit 7 set: 16-bit parameters), parameters.
const uint8_t kAlarmSixteenBitFlag = 0x80;
const size_t kMaxAlarmParameters = 63;

// Command packets: an optional prefix, then length (bytes after the length
// byte), destination, CRC (of family, identifier and payload), family,
// identifier, payload.
const uint8_t kCommandPrefix = 0x7E;
const size_t kCommandMinLength = 5;
const size_t kCommandDestination = 1;
const size_t kCommandCrc = 2;
const size_t kCommandFamily = 4;
const size_t kCommandIdentifier = 5;
const size_t kCommandPayload = 6;

// Packets the device sends: length, species, u32 time stamp, body.
const size_t kPacketStamp = 2;
const size_t kPacketHeader = 6;
// Responses: code, identifier, payload.
const size_t kMaxPacket = 255;
const size_t kMaxResponsePayload = kMaxPacket - 8;
// Data packets: sequence number (sample number mod 256), trigger byte, 24
// signed 16-bit readings.
const size_t kDataSequence = 6;
const size_t kDataTrigger = 7;
const int kReadings = 24;
// Extended data: subtype, then (accelerometer) a reserved byte and three
// samples of x, y, z, the second and third preceded by their tick offsets.
const uint8_t kAccelerometerSubtype = 20;
const int kAccelerometerSamplesPerPacket = 3;

// Blocks: "#2", u16 length, u32 time stamp, 4 reserved zero bytes, u16 CRC
// (of bytes kBlockNumber to length - 3), u16 block number, the clock record,
// packets, CR LF.
const uint8_t kBlockStart[2] = {'#', '2'};
const size_t kBlockLength = 2;
const size_t kBlockStamp = 4;
const size_t kBlockCrc = 12;
const size_t kBlockNumber = 14;
const size_t kBlockClock = 16;
const size_t kClockRecordSize = 6;   // month, day, year - 2000, hour, minute, second
const size_t kBlockOverhead = 24;    // everything but the packets
const size_t kBlockTrailer = 2;      // CR LF
const size_t kMaxBlock = 1024;

// Time stamps count ticks of the device clock.
const double kTicksPerSecond = 1800.0;
const int kSamplingRates[2] = {300, 600};

// Calibration memory: eight pages of 16 bytes; a write names 0xA0 + page and
// carries the write-enable byte.
const int kCalibrationPages = 8;
const size_t kPageSize = 16;
const uint8_t kPageWrite = 0xA0;
const uint8_t kWriteEnable = 0x3C;

// The acquisition settings answer: record type and channel selection.
const unsigned kRecordType = 1;
const uint32_t kAllChannels = 0x00FFFFFF;

// Little-endian byte helpers.
inline void Put16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline unsigned Get16(const uint8_t* p) { return unsigned(p[0]) | (unsigned(p[1]) << 8); }
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Set16(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// A packet's header with its length byte still 0; Finish() fills it in.
inline Bytes PacketHeader(int species, uint32_t stamp) {
    Bytes b;
    b.push_back(0);
    b.push_back(uint8_t(species));
    Put32(b, stamp);
    return b;
}
inline void Finish(Bytes& packet) { packet[0] = uint8_t(packet.size()); }

}  // namespace wire

// Names are compared ignoring letter case.
std::string Lower(std::string text);

}  // namespace voqsim

#endif
