// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

bool Headset::Send(Command& command, double timeout, int attempts) {
    throw Error("not implemented yet: Headset::Send");
}

const uint8_t* Headset::Sign(Command& command) {
    throw Error("not implemented yet: Headset::Sign");
}

void Headset::ForgetPending(int identifier, bool succeeded, bool rejected) {
    throw Error("not implemented yet: Headset::ForgetPending");
}

void Headset::ForgetPendingUnsettled() {
    throw Error("not implemented yet: Headset::ForgetPendingUnsettled");
}

bool Headset::Echo(const std::string& message, double timeout, int attempts) {
    throw Error("not implemented yet: Headset::Echo");
}

void Headset::UseOptionalCommandPrefix(bool use) {
    throw Error("not implemented yet: Headset::UseOptionalCommandPrefix");
}

int Headset::QueryDeviceID() {
    throw Error("not implemented yet: Headset::QueryDeviceID");
}

int Headset::QuerySerialNumberAndSensorCount() {
    throw Error("not implemented yet: Headset::QuerySerialNumberAndSensorCount");
}

int Headset::QueryFirmwareRevisions() {
    throw Error("not implemented yet: Headset::QueryFirmwareRevisions");
}

int Headset::SetClock() {
    throw Error("not implemented yet: Headset::SetClock");
}

int Headset::ReadClock() {
    throw Error("not implemented yet: Headset::ReadClock");
}

int Headset::StartBatteryMonitor() {
    throw Error("not implemented yet: Headset::StartBatteryMonitor");
}

int Headset::QuerySensorInfo() {
    throw Error("not implemented yet: Headset::QuerySensorInfo");
}

int Headset::QueryImpedanceDriverMode() {
    throw Error("not implemented yet: Headset::QueryImpedanceDriverMode");
}

int Headset::StartImpedanceDriver() {
    throw Error("not implemented yet: Headset::StartImpedanceDriver");
}

int Headset::StopImpedanceDriver() {
    throw Error("not implemented yet: Headset::StopImpedanceDriver");
}

int Headset::QueryAnalogResetMode() {
    throw Error("not implemented yet: Headset::QueryAnalogResetMode");
}

int Headset::StartAnalogReset(bool wait) {
    throw Error("not implemented yet: Headset::StartAnalogReset");
}

int Headset::LockAnalogReset() {
    throw Error("not implemented yet: Headset::LockAnalogReset");
}

int Headset::ReleaseAnalogReset() {
    throw Error("not implemented yet: Headset::ReleaseAnalogReset");
}

int Headset::QueryDataAcquisitionMode() {
    throw Error("not implemented yet: Headset::QueryDataAcquisitionMode");
}

int Headset::StartDataAcquisition() {
    throw Error("not implemented yet: Headset::StartDataAcquisition");
}

int Headset::StopDataAcquisition() {
    throw Error("not implemented yet: Headset::StopDataAcquisition");
}

int Headset::QueryAcquisitionSettings() {
    throw Error("not implemented yet: Headset::QueryAcquisitionSettings");
}

int Headset::ConfigureAcquisitionSettings(unsigned short samplesPerSecond, unsigned short filterMode) {
    throw Error("not implemented yet: Headset::ConfigureAcquisitionSettings");
}

int Headset::QueryAccelerometerRate() {
    throw Error("not implemented yet: Headset::QueryAccelerometerRate");
}

int Headset::SetAccelerometerRate(unsigned short rate) {
    throw Error("not implemented yet: Headset::SetAccelerometerRate");
}

int Headset::ChangeLEDs(unsigned short value) {
    throw Error("not implemented yet: Headset::ChangeLEDs");
}

int Headset::Shutdown() {
    throw Error("not implemented yet: Headset::Shutdown");
}

int Headset::SelfTest() {
    throw Error("not implemented yet: Headset::SelfTest");
}

std::string Headset::HardwareModel() const {
    throw Error("not implemented yet: Headset::HardwareModel");
}

std::string Headset::HardwareRevision() const {
    throw Error("not implemented yet: Headset::HardwareRevision");
}

}  // namespace VOQ
