// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Source.h"

#include "voq/Error.h"

namespace VOQ {

Source::Source(SourceID::Code c) : code(c), gain(1.0), rawOffset(0.0) {}
Source::Source(SourceID::Code c, const std::string& n, unsigned long impedanceWindowLength, double g, double offset)
    : name(n), code(c), gain(g), rawOffset(offset) {}
bool Source::IsTrigger() const { throw Error("not implemented yet: Source::IsTrigger"); }
bool Source::IsAccelerometer() const { throw Error("not implemented yet: Source::IsAccelerometer"); }
bool Source::IsSensor() const { throw Error("not implemented yet: Source::IsSensor"); }
bool Source::IsReferentialEEG() const { throw Error("not implemented yet: Source::IsReferentialEEG"); }
bool Source::NameMatches(const std::string& requested, bool includeAliases) const { throw Error("not implemented yet: Source::NameMatches"); }
void Source::SetRawSignal(double raw) { throw Error("not implemented yet: Source::SetRawSignal"); }
void Source::ComputeImpedance(double eegCos, double eegSin, double cmfCos, double cmfSin) { throw Error("not implemented yet: Source::ComputeImpedance"); }
void Source::AllocateImpedanceBuffers(unsigned long length) { throw Error("not implemented yet: Source::AllocateImpedanceBuffers"); }
void Source::FlushImpedanceBuffers() { throw Error("not implemented yet: Source::FlushImpedanceBuffers"); }
SourceID::Code ResolveRedundantSourceIDs(SourceID::Code code, StringCounter& votes) { throw Error("not implemented yet: ResolveRedundantSourceIDs"); }

}  // namespace VOQ
