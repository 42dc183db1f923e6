#include <algorithm>
#include <memory>

#include "voq/Filter.h"
#include "voq/Headset.h"

namespace VOQ {

namespace {

bool InCascade(const std::vector<ProcessingStage*>& cascade, const ProcessingStage* stage) {
    for (const ProcessingStage* member : cascade)
        if (member == stage) return true;
    return false;
}

const char* const kChangeStages = "change the processing stages";

}  // namespace

ProcessingStage* Headset::AddProcessingStage(const std::string& name, VOQ_ProcessingStageCallback callback,
                                             void* paramData, ProcessingStage* input) {
    return AddStage(name, callback, paramData, input, nullptr);
}

ProcessingStage* Headset::AddFilterStage(const std::string& name, const std::string& filterText,
                                         ProcessingStage* input) {
    ParseFilterText(filterText);   // a bad text fails before anything is touched
    std::string stageName = name;
    if (Trim(name).empty()) {
        ReadLockGuard guard(*this);
        stageName = "filter";
        for (int n = 2; MatchProcessingStage(stageName, false); ++n) stageName = "filter " + std::to_string(n);
    }
    return AddStage(stageName, nullptr, nullptr, input, &filterText);
}

ProcessingStage* Headset::AddStage(const std::string& name, VOQ_ProcessingStageCallback callback, void* paramData,
                                   ProcessingStage* input, const std::string* filterText) {
    RefuseChangeInsideCallback(kChangeStages);
    ReadLockGuard guard(*this);
    if (MatchProcessingStage(name, false))
        throw Error("cannot add ProcessingStage \"" + name + "\" because this name already exists in the cascade");
    // An input must be a stage of this cascade: anything else would be a
    // stale or foreign handle.
    if (input && !InCascade(cascade, input))
        throw Error("cannot add ProcessingStage \"" + name + "\" because its input is not a stage of this headset");
    if (!input && !cascade.empty()) input = cascade.back();

    std::unique_ptr<ProcessingStage> stage(new ProcessingStage(name, callback, paramData, input));
    stage->owner = this;
    if (input) stage->CopyChannels(input->channels);
    if (filterText) {
        // Made before the stage joins the cascade, so that a running
        // acquisition never sees it without its filter.
        if (!(double(samplingRate) > 0))
            throw Error("cannot add filter stage \"" + name + "\": the headset's sampling rate is not known yet");
        if (stage->channels.empty())
            throw Error("cannot add filter stage \"" + name + "\": its input has no channels (choose a montage first)");
        std::vector<bool> eeg;
        for (const Channel* channel : stage->channels) eeg.push_back(channel->IsReferentialEEG());
        stage->filter.reset(new Filter(*filterText, samplingRate, eeg));
    }
    cascade.push_back(stage.get());
    ProcessingStage* added = stage.release();
    FitSampleTimes();
    return added;
}

std::string Headset::PrefilteringText() const {
    ReadLockGuard guard(*this);
    std::vector<const ProcessingStage*> path;
    // Inputs are always earlier stages, so the walk ends at the first.
    for (const ProcessingStage* stage = cascade.empty() ? nullptr : cascade.back(); stage; stage = stage->input)
        path.push_back(stage);
    std::vector<FilterElement> chain;
    for (auto it = path.rbegin(); it != path.rend(); ++it)
        if ((*it)->filter) chain.insert(chain.end(), (*it)->filter->Chain().begin(), (*it)->filter->Chain().end());
    return VOQ::PrefilteringText(chain);
}

void Headset::CheckFiltersAt(double rate) const {
    ReadLockGuard guard(*this);
    for (const ProcessingStage* stage : cascade) {
        if (!stage->filter) continue;
        try {
            stage->filter->CheckRate(rate);
        } catch (const Error& e) {
            throw Error("cannot change the sampling rate to " + NumberString(rate) + " while filter stage \"" +
                        stage->name + "\" exists: " + e.what());
        }
    }
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
    RefuseChangeInsideCallback(kChangeStages);
    ReadLockGuard guard(*this);
    if (!InCascade(cascade, stage)) throw Error("cannot reallocate the buffers of a ProcessingStage of another cascade");
    const uint64_t capacity = std::max<uint64_t>(SamplesFor(seconds), 1);
    for (Channel* channel : stage->channels)
        if (channel) channel->buffer.Allocate(capacity);
    FitSampleTimes();
}

void Headset::RefuseFilterChannelEdit(const ProcessingStage* stage) const {
    // A filter takes its input's channels by position, as they were when
    // the filter stage was made: neither side's channels may change.
    for (const ProcessingStage* other : cascade)
        if (other && other->filter && (other == stage || other->input == stage))
            throw Error("cannot change the channels of ProcessingStage \"" + stage->name + "\": filter stage \"" +
                        other->name + "\" " + (other == stage ? "makes them" : "filters them"));
}

void Headset::ClearStageChannels(ProcessingStage* stage) {
    RefuseChangeInsideCallback(kChangeStages);
    ReadLockGuard guard(*this);
    RefuseFilterChannelEdit(stage);
    stage->ClearChannels();
}

Channel* Headset::AddStageChannel(ProcessingStage* stage, const std::string& channelName, uint64_t capacity) {
    RefuseChangeInsideCallback(kChangeStages);
    ReadLockGuard guard(*this);
    RefuseFilterChannelEdit(stage);
    return stage->AddChannel(channelName, capacity);
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
