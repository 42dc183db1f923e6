// How good the sample times are: a simulated headset whose clock runs fast
// by `drift` ppm, behind a link that holds every block back by up to
// `jitter` ms (in bursts, never out of order), with a trigger every second
// and the simulator's truth file.  The application loop reads batches and
// their times with VOQ_Headset_GetSampleTimes, as `voq stream --timestamps
// host` does; the sample callback meanwhile notes VOQ_HostClock() for every
// sample, which is what stamping each sample with its block's arrival gives.
// Both are compared with the true measurement times of the trigger onsets.
//
//   bench_timestamps [--seconds=60] [--drift=500] [--jitter=30]
//
// Results are printed as "key=value" lines; scripts/bench reads them.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "Simulator.h"
#include "TriggerOnsets.h"
#include "VOQ_API.h"

namespace {

double Number(int argc, char** argv, const std::string& name, double fallback) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).compare(0, prefix.size(), prefix) == 0) return std::atof(argv[i] + prefix.size());
    return fallback;
}

// The arrival stamps, noted by the sample callback on the reading thread.
struct Arrivals {
    VOQ_Source trigger = nullptr;
    voqtest::OnsetFinder onsets;
};
void NoteArrival(VOQ_Headset, double, void* data) {
    Arrivals& a = *static_cast<Arrivals*>(data);
    a.onsets.Add(VOQ_Source_GetSignal(a.trigger), VOQ_HostClock());
}

struct Summary {
    int count = 0;
    double mean = 0.0, sd = 0.0, worst = 0.0;
};
Summary Summarise(const std::vector<voqtest::Matched>& matched, double from) {
    Summary s;
    double sum = 0.0, squares = 0.0;
    for (const voqtest::Matched& m : matched) {
        if (m.truth < from) continue;
        sum += m.error;
        squares += m.error * m.error;
        s.worst = std::max(s.worst, std::fabs(m.error));
        ++s.count;
    }
    if (s.count > 0) {
        s.mean = sum / s.count;
        s.sd = std::sqrt(std::max(0.0, squares / s.count - s.mean * s.mean));
    }
    return s;
}
void Print(const char* prefix, const Summary& s) {
    std::printf("%s_onsets=%d\n%s_error_mean_ms=%.3f\n%s_error_sd_ms=%.3f\n%s_error_max_ms=%.3f\n", prefix, s.count,
                prefix, s.mean * 1e3, prefix, s.sd * 1e3, prefix, s.worst * 1e3);
}

int Run(int argc, char** argv) {
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();
    const double seconds = Number(argc, argv, "seconds", 60);
    voqsim::Config config;
    config.driftPpm = Number(argc, argv, "drift", 500);
    config.jitterMilliseconds = Number(argc, argv, "jitter", 30);
    config.triggerPeriodSeconds = 1.0;
    config.truthPath = "/tmp/voq-bench-truth-" + std::to_string(getpid()) + ".txt";
    std::remove(config.truthPath.c_str());
    voqsim::Simulator sim(config);
    const std::string path = sim.Start();

    VOQ_Headset h = VOQ_Headset_New(path.c_str());
    if (!h) throw std::runtime_error(std::string("VOQ_Headset_New: ") + (VOQ_Error() ? VOQ_Error() : "?"));
    VOQ_Headset_SetMessageCallback(h, nullptr);
    VOQ_Headset_ChooseChannels(h, "Fz TRG", "", 1);
    const unsigned batch = 18;
    VOQ_Headset_ConfigureBatch(h, batch, 0.05);
    VOQ_Channel fz = VOQ_Headset_GetChannelByIndex(h, 0), trg = VOQ_Headset_GetChannelByIndex(h, 1);
    Arrivals arrivals;
    arrivals.trigger = VOQ_Headset_GetSourceByName(h, "TRG");
    arrivals.onsets.onsets.reserve(size_t(seconds) + 16);
    VOQ_Headset_SetSampleCallback(h, &NoteArrival, &arrivals);
    if (VOQ_Error()) throw std::runtime_error(VOQ_Error());
    VOQ_Headset_StartBackgroundAcquisition(h);

    const double period = 1.0 / (VOQ_Headset_GetSamplingRate(h) * (1.0 + config.driftPpm * 1e-6));
    voqtest::OnsetFinder stamped;
    std::vector<double> times(batch), trigger(batch);
    double first = -1.0, previous = -1.0, worstInterval = 0.0;
    long backwards = 0;
    const double end = VOQ_HostClock() + seconds;
    while (VOQ_HostClock() < end) {
        VOQ_Headset_WaitForBatch(h);
        for (unsigned k = 0; k < batch; ++k) {
            VOQ_Channel_ReadBuffered(fz);
            trigger[k] = VOQ_Channel_ReadBuffered(trg);
        }
        if (VOQ_Headset_GetSampleTimes(h, times.data(), batch) != batch || VOQ_Error())
            throw std::runtime_error(std::string("reading: ") + (VOQ_Error() ? VOQ_Error() : "times missing"));
        for (unsigned k = 0; k < batch; ++k) {
            if (first < 0) first = times[k];
            stamped.Add(trigger[k], times[k]);
            if (previous >= 0 && !(times[k] > previous)) ++backwards;
            if (previous >= 0 && times[k] - first >= 10.0)
                worstInterval = std::max(worstInterval, std::fabs((times[k] - previous) / period - 1.0));
            previous = times[k];
        }
    }
    VOQ_Headset_StopBackgroundAcquisition(h);
    VOQ_Headset_Delete(h);
    sim.Stop();

    const std::vector<voqtest::Onset> truth = voqtest::ReadTruth(config.truthPath);
    std::remove(config.truthPath.c_str());
    const std::vector<voqtest::Matched> matched = voqtest::Match(stamped.onsets, truth);
    const std::vector<voqtest::Matched> byArrival = voqtest::Match(arrivals.onsets.onsets, truth);
    // From when on every onset's stamp lies within 1 ms of the truth.
    double within = 0.0;
    for (const voqtest::Matched& m : matched)
        if (std::fabs(m.error) > 0.001) within = m.truth - first + 1.0;
    std::printf("seconds=%.0f\ndrift_ppm=%.0f\njitter_ms=%.0f\n", seconds, config.driftPpm, config.jitterMilliseconds);
    std::printf("truth_onsets=%zu\nstamped_onsets=%zu\nmatched_onsets=%zu\n", truth.size(), stamped.onsets.size(),
                matched.size());
    Print("stamp", Summarise(matched, first + 10.0));
    Print("arrival", Summarise(byArrival, first + 10.0));
    std::printf("stamp_within_1ms_after_s=%.0f\n", std::ceil(within));
    std::printf("stamp_backwards=%ld\nstamp_interval_worst_pct=%.3f\n", backwards, worstInterval * 100.0);
    for (const voqtest::Matched& m : matched) std::printf("onset=%.3f %.3f\n", m.truth - first, m.error * 1e3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_timestamps: %s\n", e.what());
        return 1;
    }
}
