#include "voq/SampleTimeRing.h"

#include <sched.h>

#include <limits>
#include <string>

#include "voq/Error.h"

namespace VOQ {

void SampleTimeRing::Reserve(uint64_t wanted) {
    if (wanted <= capacity) return;
    if (wanted > std::numeric_limits<size_t>::max() / sizeof(double))
        throw Error("cannot keep the times of " + std::to_string(wanted) + " samples");
    std::unique_ptr<std::atomic<double>[]> grown(new std::atomic<double>[size_t(wanted)]());
    const uint64_t samples = count.load(std::memory_order_relaxed);
    const uint64_t kept = samples < capacity ? samples : capacity;
    for (uint64_t k = samples - kept; k < samples; ++k)
        grown[size_t(k % wanted)].store(times[size_t(k % capacity)].load(std::memory_order_relaxed),
                                        std::memory_order_relaxed);
    times = std::move(grown);
    capacity = wanted;
    // The slots beyond the times kept were never written: older samples
    // have no time here, however large the ring has become.
    if (samples - kept > firstKept) firstKept = samples - kept;
}

void SampleTimeRing::Pause() { sched_yield(); }

}  // namespace VOQ
