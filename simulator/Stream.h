// The device's clocks and what it measures: the real-time clock and its tick
// count (which drift against the host's monotonic clock), the sample clock,
// and the data and accelerometer packets of each sample as it falls due.
// Internal to the simulator; not thread-safe (the device's mutex guards it).
//
// Host times here are seconds since the simulator's epoch (its Start()) on
// the host's monotonic clock.
#ifndef VOQSIM_STREAM_H
#define VOQSIM_STREAM_H

#include "SignalModel.h"
#include "Simulator.h"
#include "Wire.h"

#include <cstdint>
#include <ctime>
#include <vector>

namespace voqsim {

// A packet waiting to be framed.
struct QueuedPacket {
    Bytes bytes;
    int64_t sample = -1;       // data packets: the sample number
    double measured = 0.0;     // data packets: host time the sample was measured
    bool accelerometer = false;
    int triggerDelay = -1;     // acquisition answers: the trigger delay the host
                               // takes from it, in samples (see TriggerTruth)
};

// What goes into the samples besides the signal model.
struct SampleSettings {
    SignalInputs signals;
    double triggerPeriodSeconds = 1.0;   // 0: none
    int triggerValue = 0;                // 0: cycling
    bool sevenSensors = false;           // the value travels in the upper four bits
    int skip = 0;                        // samples still to leave out (decremented)
};

class Stream {
public:
    // ---- the device clock ----
    // Sets the clock to the host's calendar time, tick 0 now.
    void ResetClock(double now);
    // Sets the clock from a clock record; tick 0 now.
    void SetClock(const uint8_t record[wire::kClockRecordSize], double now);
    void SetDrift(double ppm, double now);
    double Drift() const { return 1.0 + driftPpm_ * 1e-6; }
    // The time stamp (ticks) at host time `host`.
    uint32_t Stamp(double host) const;
    // The clock record now, and the one of the time the clock was set.
    void Reading(double host, uint8_t out[wire::kClockRecordSize]) const;
    void SetAt(uint8_t out[wire::kClockRecordSize]) const;

    // ---- sampling ----
    bool Running() const { return running_; }
    int Rate() const { return rate_; }
    // A run starts with sample 0 measured now.
    void Start(double now, int rate, int accelerometerRate, uint64_t seed, const std::vector<Slot>& slots);
    void Stop() { running_ = false; }
    // The rate changes: the next sample is measured now.
    void ChangeRate(double now, int rate, int accelerometerRate, uint64_t seed, const std::vector<Slot>& slots);
    void ChangeAccelerometerRate(int rate);
    // A new image: the signals start again from the same seed.
    void ResetSignals(uint64_t seed, const std::vector<Slot>& slots);
    // Host time at which sample n is measured: t0 + n / (rate x drift).
    double MeasuredAt(int64_t n) const { return rebaseHost_ + double(n - rebaseSample_) / effectiveRate_; }
    double NextDue() const { return MeasuredAt(nextSample_); }
    // Makes the packets of every sample measured by `now`, in order; counts
    // skipped samples in `stats`.
    void Generate(double now, SampleSettings& settings, const std::vector<Slot>& slots, StreamStats& stats,
                  std::vector<QueuedPacket>& out);

private:
    double Ticks(double host) const {
        return ticksAtRebase_ + (host - clockRebaseHost_) * wire::kTicksPerSecond * Drift();
    }
    int64_t SampleTicks(int64_t n) const { return tickBase_ + (n - tickBaseSample_) * ticksPerSample_; }
    int64_t AccelerometerTicks(int64_t m) const;
    void Rebase(double now);
    void QueueAccelerometerPacket(std::vector<QueuedPacket>& out);

    // Device clock: ticks = ticksAtRebase + (host - clockRebaseHost) * 1800 *
    // drift; the calendar time at tick 0 is clockSetCalendar.
    double driftPpm_ = 0.0;
    time_t clockSetCalendar_ = 0;
    double clockRebaseHost_ = 0.0;
    double ticksAtRebase_ = 0.0;

    // Sample clock.
    bool running_ = false;
    int rate_ = 300;
    int64_t nextSample_ = 0;
    double rebaseHost_ = 0.0;
    int64_t rebaseSample_ = 0;
    double effectiveRate_ = 300.0;
    int ticksPerSample_ = 6;
    int64_t tickBase_ = 0;
    int64_t tickBaseSample_ = 0;
    int accelerometerRate_ = 0;
    int64_t accelerometerIndex_ = 0;
    int64_t accelerometerTickBase_ = 0;
    unsigned triggerCounter_ = 0;
    SignalModel signals_;
};

}  // namespace voqsim

#endif
