// The sample clock against synthetic streams: a headset whose crystal runs
// fast or slow sends a block of the samples due every 20 ms of host time;
// the link holds blocks back (never reordering them).  Every stamp is
// compared with the host time at which its sample was truly measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "voq/SampleClock.h"

using VOQ::SampleClock;

namespace {

struct Stamped {
    double truth;
    double stamp;
};

// The headset and its link.  Sample n is measured at host time
// start + n * period (the period shortened by the drift) and carries
// n * ticksPerSample ticks from its stream's origin.
class Stream {
public:
    Stream(double driftPpm, int rate) : drift(driftPpm * 1e-6) { SetRate(rate); }

    void SetRate(int samplesPerSecond) {
        rebaseTime = nextDue;
        rebaseTicks = ticks;
        rate = samplesPerSecond;
        ticksPerSample = 1800 / rate;
        sinceRebase = 0;
    }
    // Sends the blocks of `seconds` of host time; `delay` gives each block's
    // hold-up, `lose(k)` drops the samples of the run's k-th block (a CRC
    // failure, a dead link).
    void Run(double seconds, const std::function<double()>& delay, const std::function<bool(int)>& lose = nullptr) {
        const double end = now + seconds;
        int blocks = 0;
        for (; now < end; now += 0.02) {
            std::vector<Sample> block;
            while (nextDue <= now) {
                block.push_back(Sample{nextDue, uint32_t(ticks), counter});
                counter = (counter + 1) % 256;
                ++sinceRebase;
                ticks = rebaseTicks + sinceRebase * ticksPerSample;
                nextDue = rebaseTime + double(sinceRebase) / (rate * (1.0 + drift));
            }
            if (block.empty()) continue;
            lastArrival = std::max(lastArrival, now + delay());
            if (lose && lose(blocks++)) continue;
            Deliver(block, lastArrival);
        }
    }
    // The stream stops for `seconds` (samples are neither measured nor
    // sent; the crystal goes on) and starts again with the counter at 0.
    void Pause(double seconds) {
        now += seconds;
        const int64_t skipped = int64_t(std::ceil(seconds * rate * (1.0 + drift)));
        const double resume = nextDue + double(skipped) / (rate * (1.0 + drift));
        rebaseTicks = ticks + skipped * ticksPerSample;
        ticks = rebaseTicks;
        rebaseTime = resume;
        nextDue = resume;
        sinceRebase = 0;
        counter = 0;
        counterKnown = false;
    }
    // The headset's clock is set again: its ticks restart at 0.
    void ResetTicks() {
        rebaseTicks = 0;
        ticks = 0;
        rebaseTime = nextDue;
        sinceRebase = 0;
    }

    SampleClock clock;
    std::vector<Stamped> out;
    double now = 1000.0;   // host seconds

private:
    struct Sample {
        double due;
        uint32_t ticks;
        int counter;
    };
    void Deliver(const std::vector<Sample>& block, double arrival) {
        clock.BeginBlock(arrival, block.back().ticks, block.back().ticks);
        for (const Sample& s : block) {
            const int gap = counterKnown ? (s.counter - lastCounter + 256) % 256 : 0;
            counterKnown = true;
            lastCounter = s.counter;
            out.push_back(Stamped{s.due, clock.Stamp(s.ticks, gap, ticksPerSample)});
        }
    }

    double drift;
    int rate = 300;
    int ticksPerSample = 6;
    // The samples fall between the blocks' 20-ms marks (half a
    // millisecond before), whatever the rounding of the marks.
    double nextDue = 999.9995;
    double rebaseTime = 999.9995;
    int64_t rebaseTicks = 5000;
    int64_t ticks = 5000;
    int64_t sinceRebase = 0;
    int counter = 0;
    bool counterKnown = false;
    int lastCounter = 0;
    double lastArrival = 0.0;
};

// Errors of the stamps from `from` on (seconds of the run) against the
// truth plus `latency`; every stamp later than the one before, every
// interval from `from` on within 1 % of the true one.
struct Report {
    double worst = 0.0, mean = 0.0;
    bool increasing = true, regular = true;
};
Report Check(const std::vector<Stamped>& out, double from, double latency = 0.0) {
    Report r;
    const double start = out.front().truth;
    size_t n = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        if (k > 0 && !(out[k].stamp > out[k - 1].stamp)) r.increasing = false;
        if (out[k].truth - start < from) continue;
        const double error = out[k].stamp - out[k].truth - latency;
        r.worst = std::max(r.worst, std::fabs(error));
        r.mean += error;
        ++n;
        if (k > 0 && out[k - 1].truth - start >= from) {
            const double truth = out[k].truth - out[k - 1].truth, interval = out[k].stamp - out[k - 1].stamp;
            if (std::fabs(interval - truth) > 0.01 * truth) r.regular = false;
        }
    }
    r.mean /= double(n ? n : 1);
    return r;
}

std::mt19937 gRandom(7);
double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(gRandom); }

}  // namespace

// Constant delay, uniform and bursty one-sided jitter, fast and slow
// crystals: after 10 s every stamp within 1 ms of the truth (the constant
// delay, which no host can see, aside), intervals within 1 %, stamps
// always increasing.
TEST(SampleClock, FindsTheMeasurementTimesBehindTheLinkDelays) {
    struct Case {
        const char* name;
        double drift;
        double latency;
        std::function<double()> delay;
    };
    gRandom.seed(7);
    int burst = 0;
    const std::vector<Case> cases = {
        // The last sample of each block half a millisecond old at departure.
        {"constant 8 ms", 0.0, 0.0085, [] { return 0.008; }},
        {"uniform 0-30 ms, +500 ppm", 500.0, 0.0, [] { return Uniform(0.0, 0.030); }},
        {"uniform 0-30 ms, -500 ppm", -500.0, 0.0, [] { return Uniform(0.0, 0.030); }},
        // Every second or so the link stalls for 60-150 ms and then
        // releases everything at once; otherwise 0-10 ms.
        {"bursts, +300 ppm", 300.0, 0.0, [&burst] {
             if (burst > 0) return double(--burst) * 0.02;
             if (Uniform(0, 1) < 0.02) {
                 burst = int(Uniform(3, 8));
                 return double(burst) * 0.02;
             }
             return Uniform(0.0, 0.010);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stream s(c.drift, 300);
        s.Run(40.0, c.delay);
        const Report r = Check(s.out, 10.0, c.latency);
        EXPECT_LT(r.worst, c.drift == 0.0 ? 0.0002 : 0.003);
        EXPECT_LT(std::fabs(r.mean), c.drift == 0.0 ? 0.0001 : 0.0015);
        EXPECT_TRUE(r.increasing);
        EXPECT_TRUE(r.regular);
        EXPECT_NEAR(s.clock.Slope(), 1.0 / (1.0 + c.drift * 1e-6), 30e-6);
    }
}

// What happens on a real link: a lost block, a long silence, the stream
// stopped and started again, a change of rate, the headset's clock set
// again.  Later samples keep their own times; stamps never go back.
TEST(SampleClock, KeepsTimeThroughLossesGapsRestartsAndRateChanges) {
    gRandom.seed(7);
    auto jitter = [] { return Uniform(0.0, 0.030); };
    Stream s(500.0, 300);
    s.Run(20.0, jitter);
    const size_t settled = s.out.size();

    s.Run(5.0, jitter, [](int block) { return block % 17 == 3 || block == 100; });   // lost blocks
    s.Run(25.0, jitter, [](int block) { return block < 1000; });                      // 20 s of silence
    s.Pause(7.0);                                                                   // stop, start
    s.Run(5.0, jitter);
    s.SetRate(600);                                                                 // a new rate
    s.Run(5.0, jitter);
    s.ResetTicks();                                                                 // counted through
    s.Run(5.0, jitter);
    const std::vector<Stamped> steady(s.out.begin() + long(settled), s.out.end());
    Report r = Check(steady, 0.0);
    EXPECT_LT(r.worst, 0.003);
    EXPECT_TRUE(r.increasing);

    // Ticks that restart from 0 with the stream, so that no counter bridges
    // them: a new segment, learnt again within seconds.
    s.Pause(1.0);
    s.ResetTicks();
    const size_t reset = s.out.size();
    s.Run(20.0, jitter);
    const std::vector<Stamped> after(s.out.begin() + long(reset), s.out.end());
    r = Check(after, 10.0);
    EXPECT_LT(r.worst, 0.003);
    EXPECT_TRUE(r.regular);
    EXPECT_TRUE(Check(s.out, 0.0).increasing);
}
