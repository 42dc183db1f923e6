// One raw signal of a headset: an electrode, the common-mode signal, the
// trigger byte and its bits, the timing signals, the zero signal or an
// accelerometer axis, with its calibration and impedance estimate.
#ifndef VOQ_SOURCE_H
#define VOQ_SOURCE_H

#include <string>
#include <vector>

#include "voq/Atomic.h"
#include "voq/Protocol.h"
#include "voq/RingBuffer.h"
#include "voq/Text.h"

namespace VOQ {

class Source {
public:
    explicit Source(SourceID::Code code);
    Source(SourceID::Code code, const std::string& name, unsigned long impedanceWindowLength, double gain,
           double rawOffset);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    bool IsTrigger() const;
    bool IsAccelerometer() const;
    // Inline: sample processing asks for every montage source on every sample.
    bool IsSensor() const {
        if (code == SourceID::NR || code == SourceID::CM) return false;
        return code < SourceID::NC || code > SourceID::ACCZ;   // not NC, TRG..TRG7, accelerometer
    }
    bool IsReferentialEEG() const {
        if (!IsSensor()) return false;
        if (code >= SourceID::X1 && code <= SourceID::X3) return false;
        return code < SourceID::ECG || code > SourceID::EOG;
    }
    bool IsFactoryReference() const { return gain == 0.0; }
    bool IsCommonModeSignal() const { return code == SourceID::CM; }

    // Similar() of the request against the name, then (when asked) each alias.
    bool NameMatches(const std::string& requested, bool includeAliases) const;
    // Similar() of the request against each alias.
    bool AliasMatches(const std::string& requested) const;
    // The same for a key that is already trimmed and upper-cased (a look-up
    // that compares one key with every source).
    bool NameIsKey(const std::string& key) const { return SimilarToKey(key, name); }
    bool AliasIsKey(const std::string& key) const {
        for (const std::string& alias : aliases)
            if (SimilarToKey(key, alias)) return true;
        return false;
    }
    void SetRawSignal(double raw) {
        rawSignal = raw;
        signal = (raw - rawOffset) * gain;
    }
    void ComputeImpedance(double eegCos, double eegSin, double cmfCos, double cmfSin);
    void AllocateImpedanceBuffers(unsigned long length);
    // Discards the unread values of the five impedance buffers.
    void FlushImpedanceBuffers();

    std::string name;
    std::vector<std::string> aliases;
    SourceID::Code code;
    double gain;
    double rawOffset;
    // Per-sample values, written by the reading thread, read by anyone.
    RelaxedDouble rawSignal;
    RelaxedDouble signal;
    RelaxedDouble impedanceEEG;
    RelaxedDouble impedanceCMF;
    RelaxedDouble dcOffset;
    RingBuffer eegInPhase;
    RingBuffer eegQuadrature;
    RingBuffer cmfInPhase;
    RingBuffer cmfQuadrature;
    RingBuffer signalHistory;
};

// Adds the code's naming-scheme vote to `votes` and returns the code to use
// (T7, T8, P7, P8, TP9, TP10 come back as T3, T4, T5, T6, M1, M2).
SourceID::Code ResolveRedundantSourceIDs(SourceID::Code code, StringCounter& votes);

}  // namespace VOQ

#endif
