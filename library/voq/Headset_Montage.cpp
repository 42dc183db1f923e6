// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

Channel* Headset::ConstructChannel(std::string specification, bool autoSwap) {
    throw Error("not implemented yet: Headset::ConstructChannel");
}

void Headset::ChooseChannels(const std::string& montageText, const std::string& reference, bool autoSwap) {
    throw Error("not implemented yet: Headset::ChooseChannels");
}

void Headset::SetDefaultReference(const std::string& reference, bool autoSwap) {
    throw Error("not implemented yet: Headset::SetDefaultReference");
}

std::string Headset::SetTraditionalReference(bool autoSwap) {
    throw Error("not implemented yet: Headset::SetTraditionalReference");
}

void Headset::AddChannelToMontage(const std::string& specification, bool autoSwap) {
    throw Error("not implemented yet: Headset::AddChannelToMontage");
}

void Headset::AddChannelToMontage(Channel* channel) {
    throw Error("not implemented yet: Headset::AddChannelToMontage");
}

void Headset::AddChannelToMontage(Source* source) {
    throw Error("not implemented yet: Headset::AddChannelToMontage");
}

void Headset::ForgetMontage() {
    throw Error("not implemented yet: Headset::ForgetMontage");
}

unsigned int Headset::NumberOfChannels() const {
    throw Error("not implemented yet: Headset::NumberOfChannels");
}

const std::vector<Channel*>& Headset::OutputChannels() const {
    throw Error("not implemented yet: Headset::OutputChannels");
}

Channel* Headset::GetChannelByIndex(unsigned int index) {
    throw Error("not implemented yet: Headset::GetChannelByIndex");
}

Channel* Headset::GetChannelByName(const std::string& name, bool throwIfMissing) {
    throw Error("not implemented yet: Headset::GetChannelByName");
}

std::string Headset::MontageString(bool full) const {
    throw Error("not implemented yet: Headset::MontageString");
}

std::string Headset::ReferenceString() const {
    throw Error("not implemented yet: Headset::ReferenceString");
}

}  // namespace VOQ
