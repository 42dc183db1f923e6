// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::ProcessResponse(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    throw Error("not implemented yet: Headset::ProcessResponse");
}

std::string Headset::NullTerminatedString(const char* data, size_t length) const {
    throw Error("not implemented yet: Headset::NullTerminatedString");
}

}  // namespace VOQ
