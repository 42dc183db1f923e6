#include "BlockBuilder.h"

#include <algorithm>

#include "voq/Headset.h"
#include "voq/Protocol.h"

namespace voqtest {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes U16(unsigned value) { return Bytes{uint8_t(value & 0xFF), uint8_t((value >> 8) & 0xFF)}; }

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes RawPacket(int species, const Bytes& body, uint32_t timeStamp) {
    // Sized once and filled in place: GCC 12 at -O3 misreads an insert at
    // the end of a freshly sized vector as a write out of bounds.
    Bytes out(6 + body.size());
    out[0] = uint8_t(6 + body.size());
    out[1] = uint8_t(species);
    VOQ::WriteU32LE(out.data() + 2, timeStamp);
    std::copy(body.begin(), body.end(), out.begin() + 6);
    return out;
}

Bytes ResponsePacket(int species, int code, int identifier, const Bytes& payload, uint32_t timeStamp) {
    Bytes body{uint8_t(code), uint8_t(identifier)};
    body.insert(body.end(), payload.begin(), payload.end());
    return RawPacket(species, body, timeStamp);
}

Bytes AlarmPacket(int species, int codeByte, const std::vector<unsigned>& parameters, bool sixteenBit,
                  uint32_t timeStamp) {
    Bytes body{uint8_t(codeByte), uint8_t((sixteenBit ? 0x80 : 0x00) | (parameters.size() & 0x3F))};
    for (unsigned p : parameters) {
        body.push_back(uint8_t(p & 0xFF));
        if (sixteenBit) body.push_back(uint8_t((p >> 8) & 0xFF));
    }
    return RawPacket(species, body, timeStamp);
}

Bytes DataPacket(uint8_t sequence, uint8_t trigger, const std::array<int16_t, 24>& readings, uint32_t timeStamp) {
    Bytes body{sequence, trigger};
    for (int16_t r : readings) {
        Bytes b = U16(uint16_t(r));
        body.insert(body.end(), b.begin(), b.end());
    }
    return RawPacket(3, body, timeStamp);
}

Bytes AccelerometerPacket(const std::array<std::array<int16_t, 3>, 3>& samples, int16_t offset2, int16_t offset3,
                          uint32_t timeStamp) {
    Bytes body{20, 0};
    auto add = [&](int16_t v) {
        Bytes b = U16(uint16_t(v));
        body.insert(body.end(), b.begin(), b.end());
    };
    for (int k = 0; k < 3; ++k) {
        if (k == 1) add(offset2);
        if (k == 2) add(offset3);
        for (int16_t v : samples[k]) add(v);
    }
    return RawPacket(4, body, timeStamp);
}

BlockBuilder& BlockBuilder::Add(const Bytes& packet) {
    packets_.insert(packets_.end(), packet.begin(), packet.end());
    return *this;
}

Bytes BlockBuilder::Build() const {
    const size_t natural = 24 + packets_.size();
    Bytes out(22 + packets_.size() + 2);  // filled in place, as in RawPacket
    out[0] = start_[0];
    out[1] = start_[1];
    VOQ::WriteU16LE(out.data() + 2, hasLength_ ? lengthOverride_ : uint16_t(natural));
    VOQ::WriteU32LE(out.data() + 4, timeStamp_);
    VOQ::WriteU16LE(out.data() + 14, number_);
    out[16] = clock_.month;
    out[17] = clock_.day;
    out[18] = clock_.year;
    out[19] = clock_.hour;
    out[20] = clock_.minute;
    out[21] = clock_.second;
    std::copy(packets_.begin(), packets_.end(), out.begin() + 22);
    out[out.size() - 2] = end_[0];
    out[out.size() - 1] = end_[1];
    uint16_t crc = VOQ::CRC16(out.data() + 14, out.size() - 16);
    if (corruptCRC_) crc ^= 0x5A5A;
    VOQ::WriteU16LE(out.data() + 12, crc);
    return out;
}

Bytes Block(uint16_t number, const std::vector<Bytes>& packets, uint32_t timeStamp) {
    BlockBuilder builder(number);
    builder.TimeStamp(timeStamp);
    for (const Bytes& packet : packets) builder.Add(packet);
    return builder.Build();
}

void Feed(VOQ::Headset& headset, const Bytes& bytes) {
    headset.FeedFakeData(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace voqtest
