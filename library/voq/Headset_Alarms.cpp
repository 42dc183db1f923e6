// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::ProcessAlarm(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    throw Error("not implemented yet: Headset::ProcessAlarm");
}

int Headset::GetAlarm(bool remove) {
    throw Error("not implemented yet: Headset::GetAlarm");
}

int Headset::NumberOfAlarms() const {
    throw Error("not implemented yet: Headset::NumberOfAlarms");
}

void Headset::ClearAlarms() {
    throw Error("not implemented yet: Headset::ClearAlarms");
}

std::string Headset::AlarmText(int code, const std::vector<unsigned>& parameters) {
    (void)code;
    (void)parameters;
    throw Error("not implemented yet: Headset::AlarmText");
}

}  // namespace VOQ
