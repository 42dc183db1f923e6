// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

std::string Headset::FirmwareRevision() const {
    throw Error("not implemented yet: Headset::FirmwareRevision");
}

std::string Headset::BatteryLevel() const {
    throw Error("not implemented yet: Headset::BatteryLevel");
}

double Headset::BatteryLevel(unsigned int index) const {
    throw Error("not implemented yet: Headset::BatteryLevel");
}

std::string Headset::InfoString() const {
    throw Error("not implemented yet: Headset::InfoString");
}

}  // namespace VOQ
