// The trigger truth: for every trigger onset that the host will see in its
// trigger channel, a line "VALUE SECONDS" appended to a file (and flushed at
// once), SECONDS being the host's monotonic clock (CLOCK_MONOTONIC, the
// clock of std::chrono::steady_clock) at which the device measured the
// sample where the host's trigger channel changes.
//
// The host shows a data packet's trigger late by a number of samples that it
// takes from each acquisition-mode answer (16 while the headset filters at
// 300 or 600 samples/s, since the filter delays the signals by as much; 0
// otherwise), and a seven-sensor headset's value in the upper four bits.
// This model follows the blocks in the order they go to the host, so a line
// names the very sample where the host's channel changes to a new non-zero
// value.  Internal to the simulator; not thread-safe.
#ifndef VOQSIM_TRUTH_H
#define VOQSIM_TRUTH_H

#include "Framing.h"

#include <cstdio>
#include <deque>
#include <string>

namespace voqsim {

// The host's trigger delay, in samples, after an acquisition-mode answer
// reporting this filter mode and rate.
int HostTriggerDelay(int filterMode, int rate);

class TriggerTruth {
public:
    TriggerTruth() = default;
    ~TriggerTruth() { Close(); }
    TriggerTruth(const TriggerTruth&) = delete;
    TriggerTruth& operator=(const TriggerTruth&) = delete;

    // Appends to `path` ("" for none).  Throws std::runtime_error.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    // One block as it goes to the host.  `epoch` is the monotonic-clock
    // seconds of host time 0; `upperNibble`: the host reads the value from
    // the upper four bits (a seven-sensor headset).
    void Observe(const Block& block, double epoch, bool upperNibble);

private:
    std::FILE* file_ = nullptr;
    std::deque<int> delayLine_;   // trigger bytes the host has yet to show
    int shown_ = 0;               // the value the host shows now
};

}  // namespace voqsim

#endif
