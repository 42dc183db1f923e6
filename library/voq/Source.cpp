#include "voq/Source.h"

#include <cmath>

#include "voq/Error.h"

namespace VOQ {

namespace {

// Scale factors from the mean in-phase and quadrature products of one window
// to kilo-ohms, for the 110 Hz (electrode) and 130 Hz (common-mode) drives.
const double kEEGImpedanceScale = 0.01950289701;
const double kCMFImpedanceScale = 0.0239163282228;

}  // namespace

Source::Source(SourceID::Code c)
    : name(SourceIDName(c)),
      code(c),
      gain(1.0),
      rawOffset(0.0),
      rawSignal(0.0),
      signal(0.0),
      impedanceEEG(-1.0),
      impedanceCMF(-1.0),
      dcOffset(0.0) {}

Source::Source(SourceID::Code c, const std::string& n, unsigned long impedanceWindowLength, double g, double offset)
    : name(n),
      code(c),
      gain(g),
      rawOffset(offset),
      rawSignal(0.0),
      signal(0.0),
      impedanceEEG(-1.0),
      impedanceCMF(-1.0),
      dcOffset(0.0) {
    AllocateImpedanceBuffers(impedanceWindowLength);
}

bool Source::IsTrigger() const {
    return code == SourceID::TRG || (code >= SourceID::TRG0 && code <= SourceID::TRG7);
}

bool Source::IsAccelerometer() const { return code >= SourceID::ACCT && code <= SourceID::ACCZ; }

bool Source::NameMatches(const std::string& requested, bool includeAliases) const {
    return Similar(requested, name) || (includeAliases && AliasMatches(requested));
}

bool Source::AliasMatches(const std::string& requested) const { return AliasIsKey(Upper(Trim(requested))); }

void Source::ComputeImpedance(double eegCos, double eegSin, double cmfCos, double cmfSin) {
    // Only the reading thread writes these buffers, and whoever else flushes
    // or reallocates them holds the headset's read lock: no entry protocol.
    const double s = signal;
    RingBuffer* const buffers[5] = {&eegInPhase, &eegQuadrature, &cmfInPhase, &cmfQuadrature, &signalHistory};
    const double values[5] = {s * eegCos, s * eegSin, s * cmfCos, s * cmfSin, s};
    // Means of the window: running sums over the capacity (slots not yet
    // written count as zeros); 0 without storage.  Buffers in step share the
    // capacity: one division, then products.
    double scale = 0.0;
    const bool inStep = RingBuffer::WriteUnsharedInStep(buffers, values);
    if (inStep) scale = 1.0 / double(int64_t(signalHistory.Capacity()));
    auto mean = [inStep, scale](const RingBuffer& b) { return inStep ? b.Sum() * scale : b.Mean(); };

    dcOffset = mean(signalHistory);
    if (eegCos == 0.0 && eegSin == 0.0) {
        impedanceEEG = -1.0;
    } else {
        const double i = mean(eegInPhase), q = mean(eegQuadrature);
        impedanceEEG = std::sqrt(i * i + q * q) * kEEGImpedanceScale;
    }
    if (cmfCos == 0.0 && cmfSin == 0.0) {
        impedanceCMF = -1.0;
    } else {
        const double i = mean(cmfInPhase), q = mean(cmfQuadrature);
        impedanceCMF = std::sqrt(i * i + q * q) * kCMFImpedanceScale;
    }
}

void Source::AllocateImpedanceBuffers(unsigned long length) {
    eegInPhase.Allocate(length);
    eegQuadrature.Allocate(length);
    cmfInPhase.Allocate(length);
    cmfQuadrature.Allocate(length);
    signalHistory.Allocate(length);
}

void Source::FlushImpedanceBuffers() {
    eegInPhase.Flush();
    eegQuadrature.Flush();
    cmfInPhase.Flush();
    cmfQuadrature.Flush();
    signalHistory.Flush();
}

SourceID::Code ResolveRedundantSourceIDs(SourceID::Code code, StringCounter& votes) {
    switch (code) {
        // Positions named alike in both conventions.
        case SourceID::Fp1: case SourceID::Fpz: case SourceID::Fp2: case SourceID::F7:
        case SourceID::F3: case SourceID::Fz: case SourceID::F4: case SourceID::F8:
        case SourceID::C3: case SourceID::Cz: case SourceID::C4:
        case SourceID::P3: case SourceID::P4: case SourceID::O1: case SourceID::O2:
        case SourceID::Oz: case SourceID::Iz: case SourceID::Nz:
            votes.Count("10-10") += 1;
            votes.Count("10-20") += 1;
            return code;
        // The temporal names of the 10-20 convention.
        case SourceID::T3: case SourceID::T4: case SourceID::T5: case SourceID::T6:
            votes.Count("10-20") += 1;
            return code;
        // Their 10-10 names, and the 10-10 names of the mastoids: one Source
        // per physical position, under the 10-20 code.
        case SourceID::T7: votes.Count("10-10") += 1; return SourceID::T3;
        case SourceID::T8: votes.Count("10-10") += 1; return SourceID::T4;
        case SourceID::P7: votes.Count("10-10") += 1; return SourceID::T5;
        case SourceID::P8: votes.Count("10-10") += 1; return SourceID::T6;
        case SourceID::TP9: votes.Count("10-10") += 1; return SourceID::M1;
        case SourceID::TP10: votes.Count("10-10") += 1; return SourceID::M2;
        default:
            break;
    }
    // Positions that only the 10-10 system has (AF3 to PO8) weigh more.
    if (code >= SourceID::AF3 && code <= SourceID::PO8) votes.Count("10-10") += 5;
    return code;
}

}  // namespace VOQ
