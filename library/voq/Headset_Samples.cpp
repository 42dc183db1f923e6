// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::ProcessData(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    throw Error("not implemented yet: Headset::ProcessData");
}

void Headset::ProcessExtendedData(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    throw Error("not implemented yet: Headset::ProcessExtendedData");
}

void Headset::ProcessSample(const DataPacketStruct& packet, double receptionTime, double packetTime) {
    throw Error("not implemented yet: Headset::ProcessSample");
}

void Headset::HandleAccelerometerSample(double time, double x, double y, double z) {
    throw Error("not implemented yet: Headset::HandleAccelerometerSample");
}

void Headset::SetSampleCallback(VOQ_SampleCallback callback, void* userData) {
    throw Error("not implemented yet: Headset::SetSampleCallback");
}

}  // namespace VOQ
