// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/ProcessingStage.h"

#include "voq/Channel.h"
#include "voq/Error.h"

namespace VOQ {

ProcessingStage::ProcessingStage(const std::string& n, VOQ_ProcessingStageCallback cb, void* param, ProcessingStage* in)
    : name(n), callback(cb), paramData(param), borrowed(false), input(in) {}
ProcessingStage::~ProcessingStage() {}
void ProcessingStage::ClearChannels() { throw Error("not implemented yet: ProcessingStage::ClearChannels"); }
void ProcessingStage::BorrowChannels(const std::vector<Channel*>& others) { throw Error("not implemented yet: ProcessingStage::BorrowChannels"); }
void ProcessingStage::CopyChannels(const std::vector<Channel*>& others) { throw Error("not implemented yet: ProcessingStage::CopyChannels"); }
Channel* ProcessingStage::AddChannel(const std::string& channelName, uint64_t capacity) { throw Error("not implemented yet: ProcessingStage::AddChannel"); }
Channel* ProcessingStage::GetChannelByIndex(unsigned int index) const { throw Error("not implemented yet: ProcessingStage::GetChannelByIndex"); }
Channel* ProcessingStage::GetChannelByName(const std::string& channelName, bool throwIfMissing) const { throw Error("not implemented yet: ProcessingStage::GetChannelByName"); }

}  // namespace VOQ
