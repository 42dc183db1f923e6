// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

Source* Headset::GetSourceByIndex(unsigned int index, bool allSources) {
    throw Error("not implemented yet: Headset::GetSourceByIndex");
}

unsigned int Headset::NumberOfMontageSources() const {
    throw Error("not implemented yet: Headset::NumberOfMontageSources");
}

double Headset::ImpedanceCMF() const {
    throw Error("not implemented yet: Headset::ImpedanceCMF");
}

Source* Headset::MatchSource(const std::string& name, bool mustMatch) {
    throw Error("not implemented yet: Headset::MatchSource");
}

Source* Headset::MatchSource(SourceID::Code code) {
    throw Error("not implemented yet: Headset::MatchSource");
}

bool Headset::AddSourceAliases(const std::string& list) {
    throw Error("not implemented yet: Headset::AddSourceAliases");
}

bool Headset::RenameSource(const std::string& from, const std::string& to) {
    throw Error("not implemented yet: Headset::RenameSource");
}

void Headset::UseNamingScheme(const std::string& scheme) {
    throw Error("not implemented yet: Headset::UseNamingScheme");
}

std::string Headset::SourceNames(uint16_t flags) const {
    throw Error("not implemented yet: Headset::SourceNames");
}

}  // namespace VOQ
