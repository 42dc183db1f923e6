#include <algorithm>
#include <memory>

#include "voq/Headset.h"

namespace VOQ {

namespace {

bool InCascade(const std::vector<ProcessingStage*>& cascade, const ProcessingStage* stage) {
    for (const ProcessingStage* member : cascade)
        if (member == stage) return true;
    return false;
}

}  // namespace

ProcessingStage* Headset::AddProcessingStage(const std::string& name, VOQ_ProcessingStageCallback callback,
                                             void* paramData, ProcessingStage* input) {
    ReadLockGuard guard(*this);
    if (MatchProcessingStage(name, false))
        throw Error("cannot add ProcessingStage \"" + name + "\" because this name already exists in the cascade");
    // An input must be a stage of this cascade: anything else would be a
    // stale or foreign handle.
    if (input && !InCascade(cascade, input))
        throw Error("cannot add ProcessingStage \"" + name + "\" because its input is not a stage of this headset");
    if (!input && !cascade.empty()) input = cascade.back();

    std::unique_ptr<ProcessingStage> stage(new ProcessingStage(name, callback, paramData, input));
    if (input) stage->CopyChannels(input->channels);
    cascade.push_back(stage.get());
    ProcessingStage* added = stage.release();
    FitSampleTimes();
    return added;
}

ProcessingStage* Headset::MatchProcessingStage(const std::string& name, bool mustMatch) {
    const std::string trimmed = Trim(name);
    // Stage names are unique without regard to case and surrounding blanks.
    for (ProcessingStage* stage : cascade)
        if (Similar(stage->name, trimmed)) return stage;
    if (!mustMatch) return nullptr;
    throw Error("failed to match processing stage \"" + trimmed + "\"");
}

ProcessingStage* Headset::GetProcessingStageByIndex(unsigned int index) {
    if (index >= cascade.size())
        throw Error("ProcessingStage index " + std::to_string(index) + " is out of range (" +
                    std::to_string(cascade.size()) + " stages available)");
    return cascade[index];
}

unsigned int Headset::NumberOfProcessingStages() const { return static_cast<unsigned int>(cascade.size()); }

void Headset::ReallocateStageBuffers(ProcessingStage* stage, double seconds) {
    if (!stage) return;
    ReadLockGuard guard(*this);
    if (!InCascade(cascade, stage)) throw Error("cannot reallocate the buffers of a ProcessingStage of another cascade");
    const uint64_t capacity = std::max<uint64_t>(SamplesFor(seconds), 1);
    for (Channel* channel : stage->channels)
        if (channel) channel->buffer.Allocate(capacity);
    FitSampleTimes();
}

void Headset::ForgetCascade() {
    ReadLockGuard guard(*this);
    for (ProcessingStage* stage : cascade) {
        stage->ClearChannels();
        stage->callback = nullptr;
        stage->paramData = nullptr;
        delete stage;
    }
    cascade.clear();
}

}  // namespace VOQ
