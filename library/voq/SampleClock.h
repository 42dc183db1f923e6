// The host time at which each sample was measured, estimated from when the
// blocks that carry the samples arrive.
//
// Every data packet carries the headset's time stamp (1/1800-s ticks of its
// own crystal) and an 8-bit packet counter.  The ticks put each sample on
// the headset's time axis x; what is estimated is the line
//
//     host time = offset + slope * x
//
// that maps that axis onto the host's monotonic clock (HostClock).  The
// slope follows the headset's drift (a crystal 500 ppm fast gives a slope
// of 1 / 1.0005).
//
// The evidence is one point per block: when the headset sent it (the
// block's own time stamp; the x of its last sample when that stamp is not
// plausible) against the host time at which the block arrived.  A block can
// arrive late (the link holds blocks back, often several at once, and the
// reading thread may be busy) but never before it was sent, so every point
// lies on or above the line and the line sought is the lower envelope of
// the points.  Points are kept for a sliding window of kWindowSeconds of x, one
// per kBucketSeconds (the lowest of the bucket); the line is the edge of
// the points' lower convex hull over their mean x, which minimises the sum
// of the points' heights above a line that stays below all of them.  Until
// the points span kMinSlopeSpan the slope stays as it was (1 at first) and
// only the offset follows the lowest point.  The slope never leaves
// 1 +- kMaxDrift.
//
// The stamps themselves: a sample's stamp moves from its predecessor's by
// the slope times the x between them, corrected towards the line by at most
// kSlew of that step (kWarmUpSlew for the first kWarmUpSeconds of a
// segment), so that stamps never jump and every interval stays within about
// kSlew + kMaxDrift of the true sample period.  Stamps strictly increase.
//
// What happens in practice:
//   - a lost or corrupted block: the ticks of the next sample say how far x
//     moved; later samples keep their own times;
//   - ticks that do not advance plausibly while the packet counter does (a
//     headset that repeats or resets its time stamps): x moves by the
//     counter's gap times the ticks per sample;
//   - a block delivered after a later one: its samples lie behind on x; they
//     are stamped just after the last stamp (1 microsecond apart);
//   - a stream stopped and started again, a long silence, a change of the
//     sampling rate: the ticks go on, and so does the line (points older
//     than the window are dropped; the slope is kept while too few remain);
//   - ticks that jump where nothing explains it (the headset's clock set
//     again): a new segment, whose line is learnt afresh from its own points
//     with the slope learnt so far; its stamps still never go back.
//
// Allocation-free.  Not thread-safe: the thread that reads blocks owns it.
#ifndef VOQ_SAMPLECLOCK_H
#define VOQ_SAMPLECLOCK_H

#include <array>
#include <cstdint>

namespace VOQ {

class SampleClock {
public:
    static constexpr double kWindowSeconds = 60.0;
    static constexpr double kBucketSeconds = 0.5;
    static constexpr double kMinSlopeSpan = 4.0;
    static constexpr double kMaxDrift = 0.003;
    static constexpr double kSlew = 0.005;
    static constexpr double kWarmUpSlew = 0.05;
    static constexpr double kWarmUpSeconds = 3.0;
    // Seconds a sample's stamp follows a stamp it cannot be later than.
    static constexpr double kMinimumStep = 1e-6;

    SampleClock() = default;

    // Forgets the stream and the line (a new connection), keeping only the
    // last stamp given, which later stamps still follow.
    void Reset();
    // A block arrived at `arrival` (HostClock seconds); `lastTicks` is the
    // time stamp of its last data sample, `blockTicks` the block's own time
    // stamp (when the headset sent it).  Call before stamping its samples.
    void BeginBlock(double arrival, uint32_t lastTicks, uint32_t blockTicks);
    // Stamps the next sample, in the order the samples arrive: `ticks` is
    // its time stamp, `counterGap` the number of samples since the previous
    // one by the packet counter (1 in sequence; 0 when unknown, after a
    // restart or a resynchronisation), `ticksPerSample` 1800 / rate (0 when
    // unknown).  A sample stamped without any BeginBlock counts as arriving
    // with the previous one.
    double Stamp(uint32_t ticks, int counterGap, int ticksPerSample);

    // The line's slope: host seconds per headset second.
    double Slope() const { return slope; }

private:
    struct Point {
        double x;   // headset seconds from the segment's origin
        double a;   // arrival, host seconds from the segment's origin
    };
    static constexpr int kBuckets = int(kWindowSeconds / kBucketSeconds) + 2;

    void StartSegment(double arrival);
    void AddPoint(double x, double a);
    void Fit();
    double LineAt(double x) const { return offset + slope * x; }
    // The hull's height at x (over its first `vertices` vertices, two or more).
    double EnvelopeAt(int vertices, double x) const;
    double SegmentSeconds(int64_t ticks) const;

    // Stream position
    bool haveSample = false;
    uint32_t lastTicks = 0;
    int64_t position = 0;      // continuous ticks of the current segment
    int64_t furthest = 0;      // the largest position stamped
    int64_t segmentStart = 0;  // position of the segment's first sample
    double lastArrival = 0.0;
    bool blockPending = false;
    double blockArrival = 0.0;
    uint32_t blockLastTicks = 0;
    uint32_t blockSentTicks = 0;

    // Segment and line
    int64_t originTicks = 0;   // position at x = 0
    double originHost = 0.0;   // host seconds at a = 0
    bool haveLine = false;
    double offset = 0.0;
    double slope = 1.0;        // learnt again with each connection

    // Points, one per bucket, oldest first, in a ring
    std::array<Point, kBuckets> points{};
    std::array<int64_t, kBuckets> bucketOf{};
    int first = 0;
    int count = 0;
    std::array<Point, kBuckets> hull{};   // scratch of Fit

    // Stamps
    bool haveStamp = false;
    double lastStamp = 0.0;
};

}  // namespace VOQ

#endif
