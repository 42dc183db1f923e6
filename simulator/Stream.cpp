// The device clock, the sample clock, and the packets of each sample.
#include "Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace voqsim {

namespace {

void Record(time_t calendar, uint8_t out[wire::kClockRecordSize]) {
    struct tm local;
    localtime_r(&calendar, &local);
    out[0] = uint8_t(local.tm_mon + 1);
    out[1] = uint8_t(local.tm_mday);
    out[2] = uint8_t(std::max(0, local.tm_year - 100));
    out[3] = uint8_t(local.tm_hour);
    out[4] = uint8_t(local.tm_min);
    out[5] = uint8_t(local.tm_sec);
}

}  // namespace

void Stream::ResetClock(double now) {
    clockSetCalendar_ = time(nullptr);
    clockRebaseHost_ = now;
    ticksAtRebase_ = 0.0;
}

void Stream::SetClock(const uint8_t record[wire::kClockRecordSize], double now) {
    struct tm local;
    std::memset(&local, 0, sizeof local);
    local.tm_mon = record[0] - 1;
    local.tm_mday = record[1];
    local.tm_year = record[2] + 100;
    local.tm_hour = record[3];
    local.tm_min = record[4];
    local.tm_sec = record[5];
    local.tm_isdst = -1;
    clockSetCalendar_ = mktime(&local);
    clockRebaseHost_ = now;
    ticksAtRebase_ = 0.0;
    if (running_) {
        // The next sample is stamped from the new clock.
        tickBaseSample_ = nextSample_;
        tickBase_ = int64_t(std::llround(std::max(0.0, Ticks(NextDue()))));
        accelerometerIndex_ = 0;
        accelerometerTickBase_ = tickBase_;
    }
}

void Stream::SetDrift(double ppm, double now) {
    const double ticks = Ticks(now);
    const double due = NextDue();
    driftPpm_ = ppm;
    ticksAtRebase_ = ticks;
    clockRebaseHost_ = now;
    if (running_) {
        rebaseSample_ = nextSample_;
        rebaseHost_ = due;
        effectiveRate_ = rate_ * Drift();
    }
}

uint32_t Stream::Stamp(double host) const {
    const double t = std::max(0.0, std::floor(Ticks(host)));
    return uint32_t(uint64_t(t));
}

void Stream::Reading(double host, uint8_t out[wire::kClockRecordSize]) const {
    Record(clockSetCalendar_ + time_t(std::floor(Ticks(host) / wire::kTicksPerSecond)), out);
}

void Stream::SetAt(uint8_t out[wire::kClockRecordSize]) const { Record(clockSetCalendar_, out); }

void Stream::Rebase(double now) {
    rebaseHost_ = now;
    rebaseSample_ = nextSample_;
    effectiveRate_ = rate_ * Drift();
    ticksPerSample_ = int(wire::kTicksPerSecond) / rate_;
    tickBaseSample_ = nextSample_;
    tickBase_ = int64_t(std::llround(std::max(0.0, Ticks(now))));
    accelerometerIndex_ = 0;
    accelerometerTickBase_ = tickBase_;
}

void Stream::Start(double now, int rate, int accelerometerRate, uint64_t seed, const std::vector<Slot>& slots) {
    running_ = true;
    rate_ = rate;
    nextSample_ = 0;
    Rebase(now);
    accelerometerRate_ = accelerometerRate;
    triggerCounter_ = 0;
    signals_.Reset(seed, slots, rate);
}

void Stream::ChangeRate(double now, int rate, int accelerometerRate, uint64_t seed, const std::vector<Slot>& slots) {
    rate_ = rate;
    if (!running_) return;
    Rebase(now);
    accelerometerRate_ = accelerometerRate;
    signals_.Reset(seed, slots, rate);
}

void Stream::ChangeAccelerometerRate(int rate) {
    if (!running_) return;
    accelerometerRate_ = rate;
    accelerometerIndex_ = 0;
    accelerometerTickBase_ = SampleTicks(nextSample_);
}

void Stream::ResetSignals(uint64_t seed, const std::vector<Slot>& slots) {
    if (running_) signals_.Reset(seed, slots, rate_);
}

int64_t Stream::AccelerometerTicks(int64_t m) const {
    return accelerometerTickBase_ +
           int64_t(std::llround(double(m) * wire::kTicksPerSecond / accelerometerRate_));
}

void Stream::QueueAccelerometerPacket(std::vector<QueuedPacket>& out) {
    const int64_t first = AccelerometerTicks(accelerometerIndex_);
    Bytes b = wire::PacketHeader(wire::kExtendedData, uint32_t(uint64_t(first)));
    b.push_back(wire::kAccelerometerSubtype);
    b.push_back(0);
    for (int i = 0; i < wire::kAccelerometerSamplesPerPacket; ++i) {
        const int64_t ticks = AccelerometerTicks(accelerometerIndex_ + i);
        if (i > 0) wire::Put16(b, unsigned(uint16_t(int16_t(ticks - first))));
        int16_t xyz[3];
        signals_.Accelerometer(double(ticks) / wire::kTicksPerSecond, xyz);
        for (int16_t v : xyz) wire::Put16(b, unsigned(uint16_t(v)));
    }
    wire::Finish(b);
    QueuedPacket q;
    q.bytes = std::move(b);
    q.accelerometer = true;
    out.push_back(std::move(q));
    accelerometerIndex_ += wire::kAccelerometerSamplesPerPacket;
}

void Stream::Generate(double now, SampleSettings& settings, const std::vector<Slot>& slots, StreamStats& stats,
                      std::vector<QueuedPacket>& out) {
    if (!running_) return;
    const int64_t period = int64_t(std::llround(settings.triggerPeriodSeconds * rate_));
    const int lastInPacket = wire::kAccelerometerSamplesPerPacket - 1;
    std::array<double, wire::kReadings> microvolts{};
    while (NextDue() <= now) {
        const double measured = NextDue();
        const int64_t n = nextSample_++;
        const int64_t ticks = SampleTicks(n);
        if (accelerometerRate_ > 0)
            while (AccelerometerTicks(accelerometerIndex_ + lastInPacket) <= ticks) QueueAccelerometerPacket(out);
        const uint32_t stamp = uint32_t(uint64_t(ticks));
        signals_.Next(n, double(stamp) / wire::kTicksPerSecond, settings.signals, microvolts);
        unsigned trigger = 0;
        if (period > 0 && n > 0 && n % period == 0) {
            const unsigned value = settings.triggerValue > 0 ? unsigned(settings.triggerValue)
                                   : settings.sevenSensors  ? triggerCounter_ % 15 + 1
                                                            : triggerCounter_ % 255 + 1;
            ++triggerCounter_;
            trigger = settings.sevenSensors ? ((value & 0x0F) << 4) : (value & 0xFF);
        }
        if (settings.skip > 0) {
            --settings.skip;
            ++stats.samplesSkipped;
            continue;
        }
        Bytes b = wire::PacketHeader(wire::kData, stamp);
        b.push_back(uint8_t(n & 0xFF));
        b.push_back(uint8_t(trigger));
        for (size_t k = 0; k < size_t(wire::kReadings); ++k) {
            const double gain = k < slots.size() ? slots[k].gain : 0.0;
            long raw = 0;
            if (gain != 0.0) {
                const double counts = microvolts[k] / gain;
                raw = std::lround(std::max(-32768.0, std::min(32767.0, counts)));
            }
            wire::Put16(b, unsigned(uint16_t(int16_t(raw))));
        }
        wire::Finish(b);
        QueuedPacket q;
        q.bytes = std::move(b);
        q.sample = n;
        q.measured = measured;
        out.push_back(std::move(q));
    }
}

}  // namespace voqsim
