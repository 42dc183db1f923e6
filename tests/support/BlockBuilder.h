// Builds the bytes a headset sends, for feeding a headset through its
// fake-data hook (Headset::AttachFakeData, then Headset::FeedFakeData or the
// Feed helpers below).
//
// Packets (each a complete packet, its length byte set to its size):
//   ResponsePacket(species, code, identifier, payload)   species 1 or 5
//   AlarmPacket(species, codeByte, parameters, sixteenBit)  species 2 or 6
//   DataPacket(sequence, trigger, readings)               species 3, 56 bytes
//   AccelerometerPacket(samples, offset2, offset3)        species 4, 30 bytes
//   RawPacket(species, body)                              header + body
// Every packet builder takes an optional time stamp in 1/1800 s ticks.
//
// Blocks:
//   Block(number, packets)    "#2", length, time stamp, 4 zero bytes, CRC,
//                             number, clock record, packets, CR LF
//   BlockBuilder              the same with every field adjustable, and
//                             deliberate faults (wrong length, CRC, codes)
//
// Example:
//   VOQ::Headset h("deferred");
//   h.AttachFakeData();
//   voqtest::Feed(h, voqtest::Block(5, {voqtest::ResponsePacket(1, 29, 3, voqtest::Text("ABC-100 Rev 2"))}));
//   h.TryToReadBlock();
#ifndef VOQTEST_BLOCKBUILDER_H
#define VOQTEST_BLOCKBUILDER_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace VOQ {
class Headset;
}

namespace voqtest {

using Bytes = std::vector<uint8_t>;

// The bytes of a text (no terminator).
Bytes Text(const std::string& text);
// Two bytes, low byte first.
Bytes U16(unsigned value);
// Concatenation.
Bytes Concat(const std::vector<Bytes>& parts);

// ----- Packets ---------------------------------------------------------------

// Header (length, species, time stamp) followed by `body`; the length byte is
// 6 + body size, cut to 8 bits.
Bytes RawPacket(int species, const Bytes& body, uint32_t timeStamp = 0);

// A response: code (a command family or a refusal code), identifier, payload.
Bytes ResponsePacket(int species, int code, int identifier, const Bytes& payload, uint32_t timeStamp = 0);

// An alarm: code byte, descriptor (bit 7 when sixteenBit, count in bits 0-5)
// and the parameters (8- or 16-bit, little-endian).
Bytes AlarmPacket(int species, int codeByte, const std::vector<unsigned>& parameters, bool sixteenBit = false,
                  uint32_t timeStamp = 0);

// A data packet: sequence number, trigger byte, 24 signed readings.
Bytes DataPacket(uint8_t sequence, uint8_t trigger, const std::array<int16_t, 24>& readings,
                 uint32_t timeStamp = 0);

// An accelerometer packet (species 4, subtype 20): three x, y, z samples and
// the time offsets of samples 2 and 3 in ticks.
Bytes AccelerometerPacket(const std::array<std::array<int16_t, 3>, 3>& samples, int16_t offset2, int16_t offset3,
                          uint32_t timeStamp = 0);

// ----- Blocks ----------------------------------------------------------------

struct ClockRecord {
    uint8_t month = 7, day = 3, year = 26, hour = 14, minute = 5, second = 9;
};

class BlockBuilder {
public:
    explicit BlockBuilder(uint16_t number = 0) : number_(number) {}

    BlockBuilder& Number(uint16_t number) { number_ = number; return *this; }
    BlockBuilder& TimeStamp(uint32_t ticks) { timeStamp_ = ticks; return *this; }
    BlockBuilder& Clock(const ClockRecord& clock) { clock_ = clock; return *this; }
    BlockBuilder& Add(const Bytes& packet);
    // Bytes placed in the packet area as they are (e.g. a truncated packet).
    BlockBuilder& AddRaw(const Bytes& bytes) { return Add(bytes); }

    // Deliberate faults.
    BlockBuilder& LengthField(uint16_t length) { lengthOverride_ = length; hasLength_ = true; return *this; }
    BlockBuilder& CorruptCRC() { corruptCRC_ = true; return *this; }
    BlockBuilder& StartCode(uint8_t a, uint8_t b) { start_ = {a, b}; return *this; }
    BlockBuilder& Terminator(uint8_t a, uint8_t b) { end_ = {a, b}; return *this; }

    // The block's bytes; the CRC covers bytes 14 to L - 3 of the built block.
    Bytes Build() const;

private:
    uint16_t number_;
    uint32_t timeStamp_ = 0;
    ClockRecord clock_;
    Bytes packets_;
    uint16_t lengthOverride_ = 0;
    bool hasLength_ = false;
    bool corruptCRC_ = false;
    std::array<uint8_t, 2> start_{{'#', '2'}};
    std::array<uint8_t, 2> end_{{'\r', '\n'}};
};

// A correct block with these packets.
Bytes Block(uint16_t number, const std::vector<Bytes>& packets = {}, uint32_t timeStamp = 0);

// Appends the bytes to the headset's fake-data queue (AttachFakeData first).
void Feed(VOQ::Headset& headset, const Bytes& bytes);

}  // namespace voqtest

#endif
