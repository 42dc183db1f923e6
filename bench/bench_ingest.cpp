// Ingest: a stream recorded from the simulated headset (24 electrodes and the
// trigger, factory montage with the traditional reference, impedance driver
// on, accelerometer on) read back through the fake-data input into block
// reading and sample processing, on one thread.
//
//   BM_Ingest   block reading and sample processing of one lap per iteration
//   BM_Floor    the least any reader must do with the same bytes: the CRC of
//               every block and one double written per channel per sample
//   BM_FilterSections  a ready-made filter ("bandpass 1 40 order 4; notch
//               50", five second-order sections) run frame by frame over 24
//               EEG channels of noise at 300 samples/s
//
// The first two report items_per_second = samples per second of the reading
// thread's CPU time (manual time: only the reading is timed, not making and
// feeding the lap); BM_FilterSections reports ns_per_channel_sample_section.
//
// Other modes (instead of the benchmarks):
//   --allocations [--laps=N]           heap allocations per sample in steady
//                                      state, at verbosity 0 to 7, and at
//                                      verbosity 2 with a filter stage
//   --callgrind=ingest|floor [--laps=N]  runs N laps of one path, for
//                                      valgrind --tool=callgrind
//                                      --collect-atstart=no
//                                      --toggle-collect='voqbench::Run*Lap*'
// Common option: --record-seconds=S (length of the recorded lap, default 5).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "StreamRecording.h"
#include "VOQ.h"

namespace voqbench {

namespace {

double gRecordSeconds = 5.0;
std::unique_ptr<Recording> gRecording;

const Recording& TheRecording() {
    if (!gRecording) {
        RecordOptions options;
        options.seconds = gRecordSeconds;
        gRecording.reset(new Recording(RecordFromSimulator(options)));
    }
    return *gRecording;
}

double LapSeconds(const Recording& r) { return double(r.lapSamples) / r.options.samplingRate; }

struct Counts {
    uint64_t samples = 0;
    uint64_t messages = 0;
    int worstLevel = 99;
};
Counts gCounts;

void CountSample(VOQ_Headset, double, void* counts) { ++static_cast<Counts*>(counts)->samples; }

int CountMessage(const char*, int level) {
    ++gCounts.messages;
    if (level < gCounts.worstLevel) gCounts.worstLevel = level;
    return 0;
}

// A headset reading the recording, with a sample callback and a silent
// message sink at `verbosity`; channel buffers hold more than a lap.
std::unique_ptr<VOQ::Headset> ReplayHeadset(const Recording& r, int verbosity, Counts& counts) {
    std::unique_ptr<VOQ::Headset> h(new VOQ::Headset("deferred"));
    h->SetMessageCallback(&CountMessage);
    h->SetVerbosity(verbosity);
    PrepareReplayHeadset(*h, r, LapSeconds(r) + 1.0);
    h->SetSampleCallback(&CountSample, &counts);
    return h;
}

// Samples per second of the fastest lap and of the median lap: on a machine
// shared with other work the fastest laps are the ones least disturbed.
void LapRates(benchmark::State& state, std::vector<double>& laps, double samplesPerLap) {
    if (laps.empty()) return;
    std::sort(laps.begin(), laps.end());
    state.counters["best_lap_samples_per_second"] = samplesPerLap / laps.front();
    state.counters["median_lap_samples_per_second"] = samplesPerLap / laps[laps.size() / 2];
}

}  // namespace

// The measured paths (not inlined, so that callgrind can select them).
__attribute__((noinline)) void RunIngestLap(VOQ::Headset& headset, size_t blocks) {
    for (size_t i = 0; i < blocks; ++i)
        if (!headset.TryToReadBlock()) std::abort();
}

__attribute__((noinline)) uint64_t RunFloorLap(const std::vector<Bytes>& blocks, double* out, size_t channels,
                                               size_t rows, uint64_t& sample) {
    uint64_t bad = 0;
    for (const Bytes& b : blocks) {
        const size_t length = b.size();
        if (VOQ::CRC16(&b[14], length - 16) != VOQ::ReadU16LE(&b[12])) ++bad;
        size_t at = 22;
        while (at + 6 <= length - 2) {
            const size_t n = b[at];
            if (n == 0) break;
            if (b[at + 1] == 3) {
                double* row = out + (sample++ % rows) * channels;
                for (size_t c = 0; c < channels; ++c) row[c] = double(VOQ::ReadS16LE(&b[at + 8 + 2 * (c % 24)]));
            }
            at += n;
        }
    }
    return bad;
}

namespace {

// The reading thread's CPU time: on a machine shared with other work the
// time the thread waits for a core is not the library's cost.
double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_Ingest(benchmark::State& state) {
    const Recording& r = TheRecording();
    Counts counts;
    gCounts = Counts();
    std::unique_ptr<VOQ::Headset> h = ReplayHeadset(r, 2, counts);
    LapPlayer player(r);
    std::vector<Bytes> blocks;
    uint64_t lap = 0;
    for (; lap < 2; ++lap) {   // warm-up
        player.MakeLap(lap, blocks);
        FeedBlocks(*h, blocks);
        RunIngestLap(*h, blocks.size());
    }
    const uint64_t before = counts.samples;
    std::vector<double> laps;
    for (auto _ : state) {
        player.MakeLap(lap++, blocks);
        FeedBlocks(*h, blocks);
        h->FlushBuffers();
        const double start = ThreadSeconds();
        RunIngestLap(*h, blocks.size());
        const double elapsed = ThreadSeconds() - start;
        state.SetIterationTime(elapsed);
        laps.push_back(elapsed);
    }
    LapRates(state, laps, double(r.lapSamples));
    const uint64_t samples = counts.samples - before;
    if (samples != uint64_t(state.iterations()) * r.lapSamples) state.SkipWithError("samples were lost");
    if (gCounts.messages != 0) state.SkipWithError("the replayed stream raised messages");
    state.SetItemsProcessed(int64_t(samples));
    state.counters["channels"] = double(h->NumberOfChannels());
    state.counters["montage_sources"] = double(h->NumberOfMontageSources());
    state.counters["samples_per_lap"] = double(r.lapSamples);
    state.counters["bytes_per_sample"] = double(r.lapBytes) / double(r.lapSamples);
}

void BM_Floor(benchmark::State& state) {
    const Recording& r = TheRecording();
    Counts counts;
    std::unique_ptr<VOQ::Headset> h = ReplayHeadset(r, 2, counts);
    const size_t channels = h->NumberOfChannels();
    const size_t rows = size_t(r.options.samplingRate);
    std::vector<double> out(channels * rows);
    LapPlayer player(r);
    std::vector<Bytes> blocks;
    uint64_t lap = 0, sample = 0, bad = 0;
    std::vector<double> laps;
    for (auto _ : state) {
        player.MakeLap(lap++, blocks);
        const double start = ThreadSeconds();
        bad += RunFloorLap(blocks, out.data(), channels, rows, sample);
        benchmark::ClobberMemory();
        const double elapsed = ThreadSeconds() - start;
        state.SetIterationTime(elapsed);
        laps.push_back(elapsed);
    }
    LapRates(state, laps, double(r.lapSamples));
    benchmark::DoNotOptimize(out.data());
    if (bad != 0) state.SkipWithError("a lap failed its CRC");
    state.SetItemsProcessed(int64_t(sample));
    state.counters["channels"] = double(channels);
}

const char* const kBenchFilter = "bandpass 1 40 order 4; notch 50";

void BM_FilterSections(benchmark::State& state) {
    const size_t channels = 24, frames = 3000;
    VOQ::Filter filter(kBenchFilter, 300.0, std::vector<bool>(channels, true));
    std::vector<double> noise(channels * frames), work(noise.size());
    uint64_t seed = 12345;
    for (double& v : noise) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        v = double(int64_t(seed >> 33) % 200001 - 100000) * 1e-3;   // microvolts
    }
    std::vector<double> laps;
    for (auto _ : state) {
        work = noise;   // fresh input every lap (not timed)
        const double start = ThreadSeconds();
        for (size_t f = 0; f < frames; ++f) filter.Step(&work[f * channels]);
        benchmark::ClobberMemory();
        const double elapsed = ThreadSeconds() - start;
        state.SetIterationTime(elapsed);
        laps.push_back(elapsed);
    }
    benchmark::DoNotOptimize(work.data());
    const double units = double(frames * channels * filter.SectionCount());
    std::sort(laps.begin(), laps.end());
    if (!laps.empty()) {
        state.counters["ns_per_channel_sample_section"] = laps[laps.size() / 2] / units * 1e9;
        state.counters["best_ns_per_channel_sample_section"] = laps.front() / units * 1e9;
    }
    state.counters["sections"] = double(filter.SectionCount());
    state.counters["channels"] = double(channels);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(units));
}

BENCHMARK(BM_Ingest)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterSections)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Allocations per sample in steady state at each verbosity, then at
// verbosity 2 with a filter stage (run 8): two laps to warm up, then `laps`
// laps counted (only while blocks are read and processed).
int AllocationsMode(int laps) {
    const Recording& r = TheRecording();
    for (int run = 0; run <= 8; ++run) {
        const int verbosity = run == 8 ? 2 : run;
        Counts counts;
        gCounts = Counts();
        std::unique_ptr<VOQ::Headset> h = ReplayHeadset(r, verbosity, counts);
        if (run == 8) h->AddFilterStage("", kBenchFilter, nullptr);
        LapPlayer player(r);
        std::vector<Bytes> blocks;
        uint64_t allocations = 0, samples = 0, messages = 0;
        for (int lap = 0; lap < laps + 2; ++lap) {
            player.MakeLap(uint64_t(lap), blocks);
            FeedBlocks(*h, blocks);
            h->FlushBuffers();
            const uint64_t s0 = counts.samples, m0 = gCounts.messages;
            const uint64_t a0 = AllocationCount();
            RunIngestLap(*h, blocks.size());
            const uint64_t a1 = AllocationCount();
            if (lap >= 2) {
                allocations += a1 - a0;
                samples += counts.samples - s0;
                messages += gCounts.messages - m0;
            }
        }
        if (run == 8) {
            std::printf("filtered_allocations channels=%u samples=%llu allocations=%llu per_sample=%.6f\n",
                        h->NumberOfChannels(), (unsigned long long)samples, (unsigned long long)allocations,
                        double(allocations) / double(samples));
            continue;
        }
        std::printf("allocations verbosity=%d samples=%llu allocations=%llu per_sample=%.6f messages_per_sample=%.6f\n",
                    verbosity, (unsigned long long)samples, (unsigned long long)allocations,
                    double(allocations) / double(samples), double(messages) / double(samples));
    }
    return 0;
}

int CallgrindMode(const std::string& path, int laps) {
    const Recording& r = TheRecording();
    Counts counts;
    std::unique_ptr<VOQ::Headset> h = ReplayHeadset(r, 2, counts);
    const size_t channels = h->NumberOfChannels();
    std::vector<double> out(channels * size_t(r.options.samplingRate));
    LapPlayer player(r);
    std::vector<Bytes> blocks;
    uint64_t sample = 0, bad = 0, processed = 0;
    // Two laps to warm up (the floor's are not collected: they run before
    // the ingest laps that callgrind is told to collect, and vice versa).
    for (int lap = 0; lap < 2; ++lap) {
        player.MakeLap(uint64_t(lap), blocks);
        FeedBlocks(*h, blocks);
        for (size_t i = 0; i < blocks.size(); ++i) h->TryToReadBlock();
    }
    for (int lap = 2; lap < laps + 2; ++lap) {
        player.MakeLap(uint64_t(lap), blocks);
        if (path == "ingest") {
            FeedBlocks(*h, blocks);
            h->FlushBuffers();
            RunIngestLap(*h, blocks.size());
        } else {
            bad += RunFloorLap(blocks, out.data(), channels, out.size() / channels, sample);
        }
        processed += r.lapSamples;
    }
    benchmark::DoNotOptimize(out.data());
    std::printf("callgrind path=%s laps=%d samples=%llu channels=%zu\n", path.c_str(), laps,
                (unsigned long long)processed, channels);
    return bad == 0 ? 0 : 1;
}

}  // namespace
}  // namespace voqbench

int main(int argc, char** argv) {
    std::vector<char*> rest;
    rest.push_back(argv[0]);
    bool allocations = false;
    std::string callgrind;
    int laps = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--record-seconds=", 0) == 0) {
            voqbench::gRecordSeconds = std::atof(a.c_str() + 17);
        } else if (a == "--allocations") {
            allocations = true;
        } else if (a.rfind("--callgrind=", 0) == 0) {
            callgrind = a.substr(12);
        } else if (a.rfind("--laps=", 0) == 0) {
            laps = std::atoi(a.c_str() + 7);
        } else {
            rest.push_back(argv[i]);
        }
    }
    try {
        if (allocations) return voqbench::AllocationsMode(laps > 0 ? laps : 10);
        if (!callgrind.empty()) {
            if (callgrind != "ingest" && callgrind != "floor") {
                std::fprintf(stderr, "--callgrind takes ingest or floor\n");
                return 2;
            }
            return voqbench::CallgrindMode(callgrind, laps > 0 ? laps : 4);
        }
        int count = int(rest.size());
        benchmark::Initialize(&count, rest.data());
        if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 2;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ingest: %s\n", e.what());
        return 1;
    }
    return 0;
}
