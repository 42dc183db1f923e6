#include "voq/SampleClock.h"

#include <algorithm>
#include <cmath>

#include "voq/Protocol.h"

namespace VOQ {

namespace {

// Ticks may run ahead of the host time elapsed between two samples' blocks
// by this much (the earlier block was held back longer) before the jump
// counts as unexplained.
const double kSlackSeconds = 5.0;
// A sample at most this far behind its predecessor belongs to a block
// delivered out of order.
const int64_t kReorderTicks = int64_t(kTicksPerSecond);
// Points further apart than this on the headset's clock have a gap between
// them.
const double kGapSeconds = 2.0;
// The last sample of a block at most this far after its first.
const int64_t kBlockTicks = 2 * int64_t(kTicksPerSecond);

// Twice the signed area of o, p, q: positive when q lies left of o -> p.
double Cross(double ox, double oa, double px, double pa, double qx, double qa) {
    return (px - ox) * (qa - oa) - (pa - oa) * (qx - ox);
}

}  // namespace

void SampleClock::Reset() {
    // Everything as new but the last stamp given: stamps never go back.
    SampleClock fresh;
    fresh.haveStamp = haveStamp;
    fresh.lastStamp = lastStamp;
    *this = fresh;
}

void SampleClock::BeginBlock(double arrival, uint32_t lastSampleTicks, uint32_t blockTicks) {
    blockPending = true;
    blockArrival = arrival;
    blockLastTicks = lastSampleTicks;
    blockSentTicks = blockTicks;
}

double SampleClock::SegmentSeconds(int64_t ticks) const { return double(ticks - originTicks) / kTicksPerSecond; }

void SampleClock::StartSegment(double arrival) {
    // Positions only need to be continuous within a segment.
    position = haveSample ? furthest + 1 : 0;
    segmentStart = position;
    originTicks = position;
    originHost = arrival;
    haveLine = false;
    offset = 0.0;
    first = 0;
    count = 0;
}

double SampleClock::Stamp(uint32_t ticks, int counterGap, int ticksPerSample) {
    const double arrival = blockPending ? blockArrival : lastArrival;
    bool fresh = !haveSample;
    bool behind = false;
    if (haveSample) {
        const int64_t d = int64_t(int32_t(ticks - lastTicks));   // wraps with the 32-bit counter
        const double elapsed = std::max(0.0, arrival - lastArrival);
        const double reach = (elapsed + kSlackSeconds) * kTicksPerSecond * (1.0 + kMaxDrift);
        const bool counterForward = counterGap >= 1 && counterGap <= 128;
        if (d > 0 && double(d) <= reach) {
            position += d;
        } else if (d <= 0 && d > -kReorderTicks && !counterForward) {
            position += d;
            behind = true;
        } else if (counterForward && ticksPerSample > 0) {
            position += int64_t(counterGap) * ticksPerSample;
        } else {
            fresh = true;
        }
    }
    if (fresh) StartSegment(arrival);
    haveSample = true;
    lastTicks = ticks;
    lastArrival = arrival;

    // The block's point: when it was sent (its last sample's position, or
    // the block's own stamp when that is not before it) against its arrival.
    if (blockPending) {
        blockPending = false;
        const int64_t span = int64_t(int32_t(blockLastTicks - ticks));
        const int64_t last = position + (span >= 0 && span <= kBlockTicks ? span : 0);
        const int64_t held = int64_t(int32_t(blockSentTicks - blockLastTicks));
        const int64_t sent = last + (held >= 0 && held <= kBlockTicks ? held : 0);
        AddPoint(SegmentSeconds(sent), arrival - originHost);
    } else if (!haveLine) {
        AddPoint(SegmentSeconds(position), arrival - originHost);
    }

    const double target = originHost + LineAt(SegmentSeconds(position));
    double stamp;
    if (!haveStamp || fresh) {
        stamp = haveStamp ? std::max(target, lastStamp + kMinimumStep) : target;
        furthest = position;
    } else if (behind || position <= furthest) {
        stamp = lastStamp + kMinimumStep;
    } else {
        // Follow the line from the last stamp, closing the gap at a bounded
        // rate.
        const double dx = double(position - furthest) / kTicksPerSecond;
        const double expected = lastStamp + slope * dx;
        const bool warmingUp = double(position - segmentStart) / kTicksPerSecond < kWarmUpSeconds;
        const double limit = (warmingUp ? kWarmUpSlew : kSlew) * slope * dx;
        stamp = expected + std::min(limit, std::max(-limit, target - expected));
        if (!(stamp > lastStamp)) stamp = lastStamp + kMinimumStep;
        furthest = position;
    }
    haveStamp = true;
    lastStamp = stamp;
    return stamp;
}

void SampleClock::AddPoint(double x, double a) {
    const int64_t bucket = int64_t(std::floor(x / kBucketSeconds));
    bool changed = true;
    if (count > 0) {
        Point& newest = points[size_t((first + count - 1) % kBuckets)];
        const int64_t newestBucket = bucketOf[size_t((first + count - 1) % kBuckets)];
        if (x <= newest.x) {
            changed = false;   // not later on the headset's clock: nothing new
        } else if (bucket == newestBucket) {
            // One point per bucket: the lowest, as the slope sees it.
            if (a - slope * x < newest.a - slope * newest.x)
                newest = Point{x, a};
            else
                changed = false;
        } else {
            if (count == kBuckets) {
                first = (first + 1) % kBuckets;
                --count;
            }
            const int slot = (first + count) % kBuckets;
            points[size_t(slot)] = Point{x, a};
            bucketOf[size_t(slot)] = bucket;
            ++count;
        }
    } else {
        points[size_t(first)] = Point{x, a};
        bucketOf[size_t(first)] = bucket;
        count = 1;
    }
    if (changed) {
        while (count > 1 && points[size_t(first)].x < x - kWindowSeconds) {
            first = (first + 1) % kBuckets;
            --count;
        }
        Fit();
    }
    // Whatever the fit says, no sample is measured after its block arrived.
    if (a < LineAt(x)) offset = a - slope * x;
}

double SampleClock::EnvelopeAt(int vertices, double x) const {
    int k = 0;
    while (k + 2 < vertices && hull[size_t(k + 1)].x < x) ++k;
    const Point& left = hull[size_t(k)];
    const Point& right = hull[size_t(k + 1)];
    return left.a + (right.a - left.a) * (x - left.x) / (right.x - left.x);
}

void SampleClock::Fit() {
    const Point& oldest = points[size_t(first)];
    const Point& newest = points[size_t((first + count - 1) % kBuckets)];
    haveLine = true;
    // The points since the last gap in them (a silence, a stopped stream):
    // across a gap the first points after it would decide the slope.
    int since = count - 1;
    while (since > 0 && points[size_t((first + since) % kBuckets)].x -
                                points[size_t((first + since - 1) % kBuckets)].x <= kGapSeconds)
        --since;
    if (count < 3 || newest.x - points[size_t((first + since) % kBuckets)].x < kMinSlopeSpan) {
        // Too short for a slope: the lowest point with the slope as it is.
        double low = oldest.a - slope * oldest.x;
        for (int k = 1; k < count; ++k) {
            const Point& p = points[size_t((first + k) % kBuckets)];
            low = std::min(low, p.a - slope * p.x);
        }
        offset = low;
        return;
    }
    // Lower convex hull (monotone chain: the points are in x order).
    int h = 0;
    double sumX = 0.0;
    for (int k = 0; k < count; ++k) {
        const Point& p = points[size_t((first + k) % kBuckets)];
        sumX += p.x;
        while (h >= 2 && Cross(hull[size_t(h - 2)].x, hull[size_t(h - 2)].a, hull[size_t(h - 1)].x,
                               hull[size_t(h - 1)].a, p.x, p.a) <= 0.0)
            --h;
        hull[size_t(h++)] = p;
    }
    // The envelope's mean slope over the middle half of the points' span,
    // centred on their mean x: a chord of the hull, so that no single short
    // edge decides it.
    const double meanX = sumX / double(count);
    const double quarter = 0.25 * (newest.x - oldest.x);
    const double low = std::max(oldest.x, meanX - quarter), high = std::min(newest.x, meanX + quarter);
    double s = (EnvelopeAt(h, high) - EnvelopeAt(h, low)) / (high - low);
    s = std::min(1.0 + kMaxDrift, std::max(1.0 - kMaxDrift, s));
    slope = s;
    // The line with that slope that touches the envelope from below.
    double touch = hull[0].a - s * hull[0].x;
    for (int k = 1; k < h; ++k) touch = std::min(touch, hull[size_t(k)].a - s * hull[size_t(k)].x);
    offset = touch;
}

}  // namespace VOQ
