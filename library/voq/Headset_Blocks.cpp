// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

bool Headset::TryToReadBlock() {
    throw Error("not implemented yet: Headset::TryToReadBlock");
}

int Headset::ReadBlock() {
    throw Error("not implemented yet: Headset::ReadBlock");
}

int Headset::DecodePacket(const uint8_t* packet, size_t available, double receptionTime) {
    throw Error("not implemented yet: Headset::DecodePacket");
}

bool Headset::Resynchronize() {
    throw Error("not implemented yet: Headset::Resynchronize");
}

size_t Headset::FlushData(double seconds) {
    throw Error("not implemented yet: Headset::FlushData");
}

int Headset::KillDataStream(bool wait) {
    throw Error("not implemented yet: Headset::KillDataStream");
}

void Headset::FeedFakeData(const char* bytes, size_t count) {
    throw Error("not implemented yet: Headset::FeedFakeData");
}

void Headset::AttachFakeData() {
    throw Error("not implemented yet: Headset::AttachFakeData");
}

}  // namespace VOQ
