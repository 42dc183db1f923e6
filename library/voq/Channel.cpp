// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Channel.h"

#include "voq/Error.h"
#include "voq/Source.h"

namespace VOQ {

Channel::Channel(Source& source, uint64_t capacity) { throw Error("not implemented yet: Channel::Channel"); }
Channel::Channel(const std::string& n, uint64_t capacity) { throw Error("not implemented yet: Channel::Channel"); }
void Channel::Add(Source* source, double weight) { throw Error("not implemented yet: Channel::Add"); }
void Channel::Copy(const Channel& other) { throw Error("not implemented yet: Channel::Copy"); }
std::string Channel::Name() const { throw Error("not implemented yet: Channel::Name"); }
Source* Channel::MaxPositiveSource() const { throw Error("not implemented yet: Channel::MaxPositiveSource"); }
std::string Channel::String(bool full) const { throw Error("not implemented yet: Channel::String"); }
double Channel::CalculateRawSignal() const { throw Error("not implemented yet: Channel::CalculateRawSignal"); }
bool Channel::AutoSwap(Source* replacement) { throw Error("not implemented yet: Channel::AutoSwap"); }
bool Channel::IsReferentialEEG() const { throw Error("not implemented yet: Channel::IsReferentialEEG"); }
bool Channel::IsTrigger() const { throw Error("not implemented yet: Channel::IsTrigger"); }
double Channel::LookBack(uint64_t n, bool strict) const { throw Error("not implemented yet: Channel::LookBack"); }

}  // namespace VOQ

VOQ::Channel* GetChannelByName(const std::vector<VOQ::Channel*>& channels, const std::string& name, bool throwIfMissing) {
    throw VOQ::Error("not implemented yet: GetChannelByName");
}
