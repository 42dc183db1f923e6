#include "voq/ProcessingStage.h"

#include "voq/Channel.h"
#include "voq/Error.h"

namespace VOQ {

ProcessingStage::ProcessingStage(const std::string& n, VOQ_ProcessingStageCallback cb, void* param, ProcessingStage* in)
    : name(n), callback(cb), paramData(param), borrowed(false), input(in) {}

ProcessingStage::~ProcessingStage() { ClearChannels(); }

void ProcessingStage::ClearChannels() {
    if (!borrowed)
        for (Channel* channel : channels) delete channel;
    channels.clear();
    borrowed = false;
}

void ProcessingStage::BorrowChannels(const std::vector<Channel*>& others) {
    ClearChannels();
    channels = others;
    borrowed = true;
}

void ProcessingStage::CopyChannels(const std::vector<Channel*>& others) {
    // `others` may be this stage's own list: copy the pointers first.
    const std::vector<Channel*> originals = others;
    std::vector<Channel*> copies;
    copies.reserve(originals.size());
    try {
        for (const Channel* original : originals) {
            if (!original) continue;
            Channel* copy = new Channel(original->name, 1);
            copies.push_back(copy);
            copy->Copy(*original);
        }
    } catch (...) {
        for (Channel* copy : copies) delete copy;
        throw;
    }
    ClearChannels();
    channels = copies;
}

Channel* ProcessingStage::AddChannel(const std::string& channelName, uint64_t capacity) {
    Channel* channel = new Channel(channelName, capacity);
    try {
        channels.push_back(channel);
    } catch (...) {
        delete channel;
        throw;
    }
    return channel;
}

Channel* ProcessingStage::GetChannelByIndex(unsigned int index) const {
    if (index >= channels.size())
        throw Error("Channel index " + std::to_string(index) + " is out of range (" +
                    std::to_string(channels.size()) + " channels available in ProcessingStage \"" + name + "\")");
    return channels[index];
}

Channel* ProcessingStage::GetChannelByName(const std::string& channelName, bool throwIfMissing) const {
    return ::GetChannelByName(channels, channelName, throwIfMissing);
}

}  // namespace VOQ
