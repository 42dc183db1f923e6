// The headset's wire protocol: its code spaces, the CRC, command packets and
// little-endian field access for the records that travel on the wire.
#ifndef VOQ_PROTOCOL_H
#define VOQ_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace VOQ {

// ---------------------------------------------------------------------------
// Code spaces

namespace PacketSpecies {
enum Code : int {
    Nop = 0,
    ResponseFromMaster = 1,
    AlarmFromMaster = 2,
    Data = 3,
    ExtendedData = 4,
    ResponseFromSlave = 5,
    AlarmFromSlave = 6,
    Reserved7 = 7,
};
}

namespace ExtendedDataSubtype {
enum Code : int { AccelerometerData = 20 };
}

namespace CommandDestination {
enum Code : int { Master = 1, Slave = 2 };
}

namespace CommandFamily {
enum Code : int {
    FirmwareRevision = 18,
    FirmwareRevisionSub = 19,
    DeviceIdentification = 29,
    LED = 30,
    DataAcquisitionMode = 33,
    SerialNumberAndSensorCount = 40,
    CalibrationMemory = 47,
    RealTimeClock = 48,
    AnalogResetMode = 65,
    SelfTest = 145,
    AcquisitionSettings = 165,
    AccelerometerRate = 172,
    BatteryMonitor = 186,
    Shutdown = 189,
    InternalStorage = 203,
    ImpedanceDriverMode = 218,
    Echo = 236,
};
}

namespace SourceID {
enum Code : int {
    NR = 0, Fp1, Fpz, Fp2, F7, F3, Fz, F4,
    F8, M1, T3, C3, Cz, C4, T4, M2,
    T5, P3, CM, P4, T6, O1, O2, X1,
    X2, X3, S1, S2, S3, S4, S5, S6,
    S7, Pz, A1, A2, A1A2, M1M2, ECG, EMG,
    EOG, Oz, AFz, AF3, AF4, AF7, AF8, F1,
    F2, F5, F6, F9, F10, FCz, FC1, FC2,
    FC3, FC4, FC5, FC6, FT7, FT8, FT9, FT10,
    C1, C2, C5, C6, T9, T10, CPz, CP1,
    CP2, CP3, CP4, CP5, CP6, TP7, TP8, P1,
    P2, P5, P6, P9, P10, POz, PO3, PO4,
    PO7, PO8, Iz, Nz, T7, T8, P7, P8,
    TP9, TP10, Xa, GSR, RSP, TMP1, TMP2, U103,
    U104, U105, L1, L2, L3, L4, L4a, L4b,
    L5, L6, L7, L8, R1, R2, R3, R4,
    R4a, R4b, R5, R6, R7, R8, G, U127,
    U128 = 128,
    NC = 255,
    TRG = 256, SND = 257, RCV = 258, NUL = 259,
    TRG0 = 260, TRG1, TRG2, TRG3, TRG4, TRG5, TRG6, TRG7,
    ACCT = 268, ACCX = 269, ACCY = 270, ACCZ = 271,
};
}

namespace Alarm {
// Alarm codes are species * 256 + code byte.
enum Code : int {
    UnknownAlarm = 512,
    SystemStarted = 513,
    CommandError = 522,
    LowBattery = 523,
    BatteryLevel = 527,
    PCCommReset = 558,
    HoldOffDelay = 559,
    PacketSizeError = 560,
    CheckFailed = 561,
    ConnectionCreated = 563,
    Slave_UnknownAlarm = 1536,
    Slave_SystemStarted = 1537,
};
}

// The one 16-bit sub-command of the mode families (data acquisition,
// impedance driver, analog reset; Stop releases the analog reset).
namespace ModeRequest {
enum Code : uint16_t { Query = 0, Stop = 1, Start = 2, Lock = 3 };
}

// Codes a response may carry instead of the family it answers: the command
// as a whole refused, or one of its parameters.
namespace ResponseCode {
enum Code : int {
    WrongMode = 0x80,          // refused: the headset is in the wrong mode
    FirstReserved = 0xE0,      // 0xE0 to 0xE7: refused with a reserved code
    LastReserved = 0xE7,
    FirstBadParameter = 0xF0,  // 0xF0 + k: parameter k refused (to 0xFF)
};
}

// Name lookups: constant strings, never allocate, never fail.
const char* PacketSpeciesName(long code);
const char* ExtendedDataSubtypeName(long code);
const char* CommandDestinationName(long code);
const char* CommandFamilyName(long code);
const char* SourceIDName(long code);
const char* AlarmName(long code);
const char* AlarmMessage(long code);

// ---------------------------------------------------------------------------
// CRC-16 (polynomial 0x8005, initial value 0, no reflection, no final XOR).

extern const uint16_t CRCTABLE[256];
uint16_t CRC16(const void* data, size_t length);

// ---------------------------------------------------------------------------
// Little-endian field access.  Wire records are decoded from bytes, never by
// casting a buffer to a structure, so that neither alignment nor the host's
// byte order matters.

inline uint16_t ReadU16LE(const uint8_t* p) { return uint16_t(p[0] | (uint16_t(p[1]) << 8)); }
inline int16_t ReadS16LE(const uint8_t* p) { return int16_t(ReadU16LE(p)); }
inline uint32_t ReadU32LE(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void WriteU16LE(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void WriteU32LE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// ---------------------------------------------------------------------------
// Command packets:
//   0 length (payload + 5), 1 destination, 2-3 CRC of bytes 4.., 4 family,
//   5 identifier, 6.. payload.

class Command {
public:
    static const size_t kMaxPayload = 250;   // the length byte must not wrap
    static const size_t kMaxPacket = 261;

    Command();
    Command(CommandDestination::Code destination, CommandFamily::Code family,
            const void* payload = nullptr, size_t length = 0);

    // Builds a packet; the identifier and CRC are left for signing.  A payload
    // longer than kMaxPayload is refused with a message.
    void Init(CommandDestination::Code destination, CommandFamily::Code family,
              const void* payload, size_t length);
    // Takes a complete, already-built packet (at least 6 bytes, at most 261).
    void Init(const void* packet, size_t length);
    // Stamps the identifier and the CRC; returns the first packet byte.
    const uint8_t* Sign(int identifier);
    // "command 7: Master.SerialNumberAndSensorCount( 01 A0 )"
    std::string Description() const;

    int Identifier() const { return packet[5]; }
    int Family() const { return packet[4]; }
    int Destination() const { return packet[1]; }

    size_t payloadLength;
    uint8_t packet[kMaxPacket];
    size_t packetLength;
    bool succeeded;
    bool rejected;
};

// A command whose payload is one little-endian 16-bit value.
Command WordCommand(CommandDestination::Code destination, CommandFamily::Code family, uint16_t value);
// The command that stops the data stream (data acquisition mode, Stop).
Command StopStreamCommand();

// ---------------------------------------------------------------------------
// Wire records, decoded from bytes.  Each Decode reads exactly the record's
// wire size from `p`; the caller makes sure that many bytes are there.

struct PacketHeaderStruct {            // 6 bytes at the start of every packet
    static const size_t kWireSize = 6;
    uint8_t length;                    // whole packet, header included
    uint8_t species;
    uint32_t timeStamp;                // 1/1800-second ticks
    static PacketHeaderStruct Decode(const uint8_t* p) {
        return PacketHeaderStruct{p[0], p[1], ReadU32LE(p + 2)};
    }
};

struct ResponsePacketStruct {          // species 1 and 5
    static const size_t kWireSize = 8; // header; the payload follows
    PacketHeaderStruct header;
    uint8_t code;                      // family answered, or a refusal code
    uint8_t identifier;                // identifier of the command answered
    static ResponsePacketStruct Decode(const uint8_t* p) {
        return ResponsePacketStruct{PacketHeaderStruct::Decode(p), p[6], p[7]};
    }
};

struct AlarmPacketStruct {             // species 2 and 6
    static const size_t kWireSize = 8; // header; the parameter chunk follows
    static const int kWideParameters = 0x80;  // descriptor: 16-bit parameters
    static const int kCountMask = 0x3F;       // descriptor: parameter count
    PacketHeaderStruct header;
    uint8_t code;                      // alarm number within the processor's table
    uint8_t descriptor;                // bit 7: 16-bit parameters; bits 0-5: count
    static AlarmPacketStruct Decode(const uint8_t* p) {
        return AlarmPacketStruct{PacketHeaderStruct::Decode(p), p[6], p[7]};
    }
};

struct DataPacketStruct {              // species 3
    static const size_t kWireSize = 56;
    PacketHeaderStruct header;
    uint8_t sequenceNumber;
    uint8_t trigger;
    int16_t readings[24];
    static void Decode(const uint8_t* p, DataPacketStruct& out) {
        out.header = PacketHeaderStruct::Decode(p);
        out.sequenceNumber = p[6];
        out.trigger = p[7];
        for (int k = 0; k < 24; ++k) out.readings[k] = ReadS16LE(p + 8 + 2 * k);
    }
};

struct ExtendedDataHeaderStruct {      // species 4
    static const size_t kWireSize = 8;
    static const size_t kSubtypeOffset = 6;
    static const size_t kAccelerometerPacketSize = 30;
    PacketHeaderStruct header;
    uint8_t subtype;
    static ExtendedDataHeaderStruct Decode(const uint8_t* p) {
        return ExtendedDataHeaderStruct{PacketHeaderStruct::Decode(p), p[kSubtypeOffset]};
    }
};

// ---------------------------------------------------------------------------
// Wire layout: where each field sits, in one place.

// Block framing constants.
const char* const AcceptableStartCode = "#2";
const char* const AcceptableTerminationCode = "\r\n";
const size_t kBlockHeaderSize = 14;
const size_t kMinimumBlockSize = 22;
const size_t kMaximumBlockSize = 1024;
const size_t kPacketHeaderSize = 6;   // length, species, 4-byte time stamp
const double kTicksPerSecond = 1800.0;

// A block of length L: a 14-byte header, a body that starts with the block
// number, and the terminator.
namespace BlockLayout {
const size_t kStartCode = 0;       // "#2"
const size_t kLength = 2;          // u16 L, the whole block
const size_t kTimeStamp = 4;       // u32 ticks
const size_t kCRC = 12;            // u16 CRC-16 of the bytes from kNumber to L - 3
const size_t kNumber = 14;         // u16 block number: the checked part starts here
const size_t kClock = 16;          // the clock record (RealTimeClockStruct)
const size_t kPackets = 22;        // packets, back to back, to L - 2
const size_t kTerminatorSize = 2;  // CR LF at L - 2
// The packet area of a block of `length` bytes (negative: none).
inline long PacketBytes(size_t length) { return long(length) - long(kPackets + kTerminatorSize); }
// The bytes the CRC covers.
inline size_t CheckedBytes(size_t length) { return length - kNumber - kTerminatorSize; }
}  // namespace BlockLayout

// The accelerometer packet (species 4, subtype AccelerometerData): three
// samples of x, y, z (s16 each); the second and third at an offset (s16
// ticks) from the packet's time stamp.
namespace AccelerometerLayout {
const size_t kFirstValues = 8;     // x, y, z at the packet's time stamp
const size_t kSecondOffset = 14;
const size_t kSecondValues = 16;
const size_t kThirdOffset = 22;
const size_t kThirdValues = 24;
}  // namespace AccelerometerLayout

// The answer to a clock query (family RealTimeClock): the current reading,
// one unused byte, the reading it was last set to.
namespace ClockAnswerLayout {
const size_t kCurrent = 0;
const size_t kLastSet = 7;
}  // namespace ClockAnswerLayout

// The calibration memory image: eight pages of sixteen bytes.  Slot codes at
// 0 to 23, the signed gain correction of slot k at 24 + 4k, the common-mode
// follower's position at 126 (layout version 2 on), the layout version at
// 127.  A page's bytes follow two others: in an answer the page number and
// an unused byte, in a write 0xA0 + the page number and the write-enable
// byte.
namespace CalibrationLayout {
const size_t kImageSize = 128;
const size_t kPageSize = 16;
const int kPages = 8;
const int kSlots = 24;
const size_t kGainCorrections = 24;
const size_t kGainCorrectionStride = 4;
const size_t kCMFLocation = 126;
const size_t kLayoutVersion = 127;
const size_t kPageData = 2;
const int kWritePage = 0xA0;
const int kWriteEnable = 0x3C;
}  // namespace CalibrationLayout

}  // namespace VOQ

#endif
