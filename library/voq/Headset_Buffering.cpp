// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::ReallocateBuffers(double bufferSeconds, double impedanceSeconds) {
    throw Error("not implemented yet: Headset::ReallocateBuffers");
}

void Headset::FlushBuffers() {
    throw Error("not implemented yet: Headset::FlushBuffers");
}

uint64_t Headset::Buffered() const {
    throw Error("not implemented yet: Headset::Buffered");
}

uint64_t Headset::BufferOverflow() const {
    throw Error("not implemented yet: Headset::BufferOverflow");
}

void Headset::ConfigureBufferingController(double updateInterval, double levelSmoothing, double gainP, double gainI, double gainD) {
    throw Error("not implemented yet: Headset::ConfigureBufferingController");
}

void Headset::ConfigureBatch(unsigned int batchSize, double batchLatency) {
    throw Error("not implemented yet: Headset::ConfigureBatch");
}

bool Headset::RebaseBufferingController(double rate, bool resetUpdates) {
    throw Error("not implemented yet: Headset::RebaseBufferingController");
}

double Headset::WaitForBatch() {
    throw Error("not implemented yet: Headset::WaitForBatch");
}

uint64_t Headset::WaitForSamples(uint64_t n) {
    throw Error("not implemented yet: Headset::WaitForSamples");
}

void Headset::WasteSamples(uint64_t n) {
    throw Error("not implemented yet: Headset::WasteSamples");
}

void Headset::Receive(double duration, double idleTime) {
    throw Error("not implemented yet: Headset::Receive");
}

void Headset::Idle(double seconds) {
    throw Error("not implemented yet: Headset::Idle");
}

bool Headset::StartBackgroundAcquisition() {
    throw Error("not implemented yet: Headset::StartBackgroundAcquisition");
}

void Headset::StopBackgroundAcquisition() {
    throw Error("not implemented yet: Headset::StopBackgroundAcquisition");
}

void* AcquisitionThread::Run() { throw Error("not implemented yet: AcquisitionThread::Run"); }

}  // namespace VOQ
