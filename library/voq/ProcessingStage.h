// One stage of a user processing cascade: named output channels filled by a
// callback that runs once per sample, reading its input stage's channels; or,
// for a filter stage, by a ready-made Filter run on the input's newest values.
#ifndef VOQ_PROCESSINGSTAGE_H
#define VOQ_PROCESSINGSTAGE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VOQ_API.h"

namespace VOQ {

class Channel;
class Filter;
class Headset;

class ProcessingStage {
public:
    ProcessingStage(const std::string& name, VOQ_ProcessingStageCallback callback, void* paramData,
                    ProcessingStage* input);
    ~ProcessingStage();
    ProcessingStage(const ProcessingStage&) = delete;
    ProcessingStage& operator=(const ProcessingStage&) = delete;

    void ClearChannels();
    void BorrowChannels(const std::vector<Channel*>& others);
    void CopyChannels(const std::vector<Channel*>& others);
    Channel* AddChannel(const std::string& channelName, uint64_t capacity);
    Channel* GetChannelByIndex(unsigned int index) const;
    Channel* GetChannelByName(const std::string& channelName, bool throwIfMissing) const;
    // A filter stage's work for one sample, on the reading thread: the
    // input's newest values through the filter into this stage's channels
    // (the first channel of each list with the first, and so on).  A new
    // sampling rate redesigns the filter first; a rate it cannot run at
    // throws an Error naming the stage.
    void RunFilter(double samplingRate);

    std::string name;
    VOQ_ProcessingStageCallback callback;
    std::vector<Channel*> channels;
    void* paramData;
    bool borrowed;
    ProcessingStage* input;
    std::unique_ptr<Filter> filter;   // set for a filter stage, which has no callback
    // The headset whose cascade holds this stage (not owned); null for a
    // stage made outside a headset.  The C interface changes a stage's
    // channels through it, under its read lock.
    Headset* owner = nullptr;
};

}  // namespace VOQ

#endif
