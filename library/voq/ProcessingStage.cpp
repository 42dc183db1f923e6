#include "voq/ProcessingStage.h"

#include <algorithm>

#include "voq/Channel.h"
#include "voq/Error.h"
#include "voq/Filter.h"

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

void ProcessingStage::RunFilter(double samplingRate) {
    Filter& f = *filter;
    if (samplingRate > 0 && samplingRate != f.Rate()) {
        try {
            f.SetRate(samplingRate);
        } catch (const Error& e) {
            throw Error("filter stage \"" + name + "\" cannot run at the new sampling rate: " + e.what());
        }
    }
    double* frame = f.Frame();
    const size_t count = f.Channels();
    const size_t available = input ? input->channels.size() : 0;
    for (size_t i = 0; i < count; ++i) {
        const Channel* from = i < available ? input->channels[i] : nullptr;
        frame[i] = from ? from->buffer.Newest() : 0.0;
    }
    f.Step(frame);
    const size_t outputs = std::min(count, channels.size());
    for (size_t i = 0; i < outputs; ++i)
        if (channels[i]) channels[i]->buffer.Write(frame[i]);
}

}  // namespace VOQ
