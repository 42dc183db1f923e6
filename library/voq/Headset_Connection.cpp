// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

Headset::Headset(const std::string& portName) : acquisitionThread(this) {
    (void)portName;
    throw Error("not implemented yet: Headset::Headset");
}

Headset::~Headset() {}

void Headset::Init() {
    throw Error("not implemented yet: Headset::Init");
}

void Headset::Connect(std::string portName, bool initialize) {
    throw Error("not implemented yet: Headset::Connect");
}

void Headset::Disconnect() {
    throw Error("not implemented yet: Headset::Disconnect");
}

void Headset::CleanUp() {
    throw Error("not implemented yet: Headset::CleanUp");
}

double Headset::SecondsSinceConnection() const {
    throw Error("not implemented yet: Headset::SecondsSinceConnection");
}

}  // namespace VOQ
