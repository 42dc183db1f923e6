// One output signal: a weighted sum of Sources with a name and a ring buffer
// of its values, one per sample.
#ifndef VOQ_CHANNEL_H
#define VOQ_CHANNEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "voq/RingBuffer.h"
#include "voq/Source.h"

namespace VOQ {

class Channel {
public:
    // One term (source, weight 1), empty name; capacity 0 gives 1.
    Channel(Source& source, uint64_t capacity);
    // No terms, the given name; capacity 0 gives 1.
    Channel(const std::string& name, uint64_t capacity);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    void Add(Source* source, double weight);
    // Takes the other's terms and name and a fresh buffer of its capacity.
    void Copy(const Channel& other);
    std::string Name() const;
    Source* MaxPositiveSource() const;
    std::string String(bool full) const;
    // The weighted sum of the terms' signals (inline: every channel, every
    // sample).
    double CalculateRawSignal() const {
        const size_t n = sources.size();
        const Source* const* term = sources.data();
        const double* weight = weights.data();
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i)
            if (term[i]) sum += weight[i] * term[i]->signal;
        return sum;
    }
    bool AutoSwap(Source* replacement);
    bool IsReferentialEEG() const;
    bool IsTrigger() const;
    double LookBack(uint64_t n, bool strict) const;

    std::vector<Source*> sources;
    std::vector<double> weights;
    std::string name;
    RingBuffer buffer;
};

}  // namespace VOQ

// Finds a channel by its largest positive source's name, then alias, then its
// text form; null or a message naming the known channels when none matches.
VOQ::Channel* GetChannelByName(const std::vector<VOQ::Channel*>& channels, const std::string& name,
                               bool throwIfMissing);

#endif
