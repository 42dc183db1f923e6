// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::InterpretCalibrationMemory(const uint8_t* bytes) {
    throw Error("not implemented yet: Headset::InterpretCalibrationMemory");
}

void Headset::FlashNewCMFLocation(SourceID::Code code, signed char layoutVersion) {
    throw Error("not implemented yet: Headset::FlashNewCMFLocation");
}

void Headset::ForgetSources() {
    throw Error("not implemented yet: Headset::ForgetSources");
}

void Headset::DumpCalibrationMemoryToFile(const std::string& fileName, const std::string& format) {
    throw Error("not implemented yet: Headset::DumpCalibrationMemoryToFile");
}

void Headset::ReadCalibrationMemoryFromFile(const std::string& fileName, const std::string& format) {
    throw Error("not implemented yet: Headset::ReadCalibrationMemoryFromFile");
}

void Headset::WriteCalibrationMemory(unsigned int firstPage) {
    throw Error("not implemented yet: Headset::WriteCalibrationMemory");
}

bool Headset::WriteCalibrationMemoryPage(unsigned int page, const uint8_t* data) {
    throw Error("not implemented yet: Headset::WriteCalibrationMemoryPage");
}

}  // namespace VOQ
