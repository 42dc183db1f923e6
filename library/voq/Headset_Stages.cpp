// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

ProcessingStage* Headset::AddProcessingStage(const std::string& name, VOQ_ProcessingStageCallback callback, void* paramData, ProcessingStage* input) {
    throw Error("not implemented yet: Headset::AddProcessingStage");
}

ProcessingStage* Headset::MatchProcessingStage(const std::string& name, bool mustMatch) {
    throw Error("not implemented yet: Headset::MatchProcessingStage");
}

ProcessingStage* Headset::GetProcessingStageByIndex(unsigned int index) {
    throw Error("not implemented yet: Headset::GetProcessingStageByIndex");
}

unsigned int Headset::NumberOfProcessingStages() const {
    throw Error("not implemented yet: Headset::NumberOfProcessingStages");
}

void Headset::ReallocateStageBuffers(ProcessingStage* stage, double seconds) {
    throw Error("not implemented yet: Headset::ReallocateStageBuffers");
}

void Headset::ForgetCascade() {
    throw Error("not implemented yet: Headset::ForgetCascade");
}

}  // namespace VOQ
