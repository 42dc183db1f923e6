// Live measurements against the simulated headset over a pseudo-terminal,
// through the C interface as an application uses it.
//
//   bench_live stream --rate=300 --seconds=20 [--warmup=3]
//       The simulator runs as a separate voq-sim process, so that this
//       process's CPU time (getrusage RUSAGE_SELF) is the library's and the
//       application loop's alone.  Background acquisition, and a
//       WaitForBatch loop that reads every channel.  Reports the CPU share of
//       one core, the share spent spinning in the last 2 ms before each batch
//       deadline, the intervals between WaitForBatch returns and heap
//       allocations per sample.
//
//   bench_live drift --seconds=60 [--drift=500]
//       An in-process simulator whose clock runs fast by `drift` ppm, with
//       its block-write record on.  The same loop at verbosity 3.  Reports
//       the latency from the simulator writing a block to the sample
//       callback for the block's last sample (median, 90th to 99th
//       percentiles, extremes), the intervals between
//       WaitForBatch returns, and the "Estimated sample rate updated to"
//       values of the last 30 s (or half the run when shorter) against the
//       true rate.
//
//   bench_live startup [--repeats=5]
//       The time from VOQ_Headset_New to a ready headset against an
//       in-process simulator, with a timeline of the commands it sent.
//
//   bench_live lsl --rate=600 --seconds=20 [--warmup=3]
//       `voq --port PATH lsl` against a voq-sim process, read by the tests'
//       inlet (voq-lsl-inlet) in a third process, all on the loopback
//       interface.  After the warm-up, while the inlet is connected: the
//       tool's whole CPU share (every thread, from /proc), and the age of
//       the newest sample each time the inlet receives samples (its local
//       clock minus the sample's time stamp).  Built with the tool and the
//       LSL outlet only.
//
// Results are printed as "key=value" lines; scripts/bench reads them.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ThreadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double CpuSeconds() {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) * 1e-6 + double(u.ru_stime.tv_sec) +
           double(u.ru_stime.tv_usec) * 1e-6;
}

// The whole machine's CPU time so far (all cores), and the idle part of it,
// from /proc/stat: how busy other work kept the machine during a run.
struct MachineTime {
    double total = 0, idle = 0;
};

MachineTime ReadMachineTime() {
    MachineTime t;
    FILE* f = std::fopen("/proc/stat", "r");
    if (!f) return t;
    unsigned long long v[10] = {0};
    if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7], &v[8], &v[9]) >= 5) {
        for (int i = 0; i < 8; ++i) t.total += double(v[i]);   // guest time is counted in user time
        t.idle = double(v[3] + v[4]);
    }
    std::fclose(f);
    return t;
}

double BusyShare(const MachineTime& a, const MachineTime& b) {
    const double total = b.total - a.total;
    return total > 0 ? 1.0 - (b.idle - a.idle) / total : -1.0;
}

std::string LoadAverage() {
    FILE* f = std::fopen("/proc/loadavg", "r");
    if (!f) return "?";
    char text[64] = "";
    if (!std::fgets(text, sizeof text, f)) text[0] = '\0';
    std::fclose(f);
    std::string s(text);
    size_t cut = 0;
    for (int fields = 0; fields < 3 && cut != std::string::npos; ++fields) cut = s.find(' ', cut + (fields ? 1 : 0));
    return cut == std::string::npos ? s : s.substr(0, cut);
}

std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback) {
    const std::string prefix = "--" + name + "=";
    for (int i = 2; i < argc; ++i)
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return argv[i] + prefix.size();
    return fallback;
}

double Number(int argc, char** argv, const std::string& name, double fallback) {
    const std::string v = Option(argc, argv, name, "");
    return v.empty() ? fallback : std::atof(v.c_str());
}

struct Stats {
    double mean = 0, sd = 0, min = 0, max = 0;
    size_t n = 0;
};

Stats Describe(const std::vector<double>& v) {
    Stats s;
    s.n = v.size();
    if (v.empty()) return s;
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / double(v.size());
    double sq = 0;
    for (double x : v) sq += (x - s.mean) * (x - s.mean);
    s.sd = v.size() > 1 ? std::sqrt(sq / double(v.size() - 1)) : 0.0;
    s.min = *std::min_element(v.begin(), v.end());
    s.max = *std::max_element(v.begin(), v.end());
    return s;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const double rank = p / 100.0 * double(v.size() - 1);
    const size_t lo = size_t(std::floor(rank));
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - double(lo));
}

// ---------------------------------------------------------------------------
// Messages: counted by kind without allocating; rate estimates kept.

struct RateReport {
    double time;
    double rate;
};

std::atomic<int> gViolations{0};
std::atomic<int> gDischarges{0};
std::atomic<int> gLevelOneOrTwo{0};
std::vector<RateReport> gRates;   // reserved before use; written by the caller's thread only
char gFirstProblem[256] = "";

int CollectMessage(const char* message, int level) {
    if (!message) return 0;
    static const char kMarker[] = "Estimated sample rate updated to ";
    if (level == 3) {
        if (const char* at = std::strstr(message, kMarker)) {
            if (gRates.size() < gRates.capacity()) gRates.push_back({Now(), std::strtod(at + sizeof kMarker - 1, nullptr)});
        }
    }
    if (std::strstr(message, "Real-time violation")) ++gViolations;
    if (std::strstr(message, "Discharging buffer")) ++gDischarges;
    if (level <= 2 && gLevelOneOrTwo++ == 0) std::snprintf(gFirstProblem, sizeof gFirstProblem, "%s", message);
    return 0;
}

// ---------------------------------------------------------------------------
// The application loop: WaitForBatch, then every channel's batch read.

struct LoopResult {
    uint64_t batches = 0;
    uint64_t samples = 0;
    std::vector<double> returns;   // Now() at each WaitForBatch return
    double longestRead = 0.0;      // seconds spent reading one batch, at most
};

std::vector<VOQ_Channel> ChannelList(VOQ_Headset h) {
    const unsigned channels = VOQ_Headset_GetNumberOfChannels(h);
    std::vector<VOQ_Channel> list;
    for (unsigned i = 0; i < channels; ++i) list.push_back(VOQ_Headset_GetChannelByIndex(h, i));
    return list;
}

// Allocates nothing itself (`result.returns` is reserved by the caller).
void BatchLoop(VOQ_Headset h, const std::vector<VOQ_Channel>& list, double seconds, LoopResult& result,
               double& checksum) {
    const uint64_t batch = reinterpret_cast<VOQ::Headset*>(h)->BatchSize();
    const double end = Now() + seconds;
    while (Now() < end) {
        VOQ_Headset_WaitForBatch(h);
        const double back = Now();
        if (VOQ_Error()) throw std::runtime_error(std::string("WaitForBatch: ") + VOQ_Error());
        if (result.returns.size() < result.returns.capacity()) result.returns.push_back(back);
        for (VOQ_Channel c : list)
            for (uint64_t k = 0; k < batch; ++k) checksum += VOQ_Channel_ReadBuffered(c);
        result.longestRead = std::max(result.longestRead, Now() - back);
        if (VOQ_Error()) throw std::runtime_error(std::string("reading: ") + VOQ_Error());
        ++result.batches;
        result.samples += batch;
    }
}

std::vector<double> Intervals(const std::vector<double>& returns, double from) {
    std::vector<double> out;
    for (size_t i = 1; i < returns.size(); ++i)
        if (returns[i - 1] >= from) out.push_back(returns[i] - returns[i - 1]);
    return out;
}

// ---------------------------------------------------------------------------
// Programs in processes of their own: voq-sim, and for the LSL run the voq
// tool and the tests' inlet.

class ChildProcess {
public:
    // Starts `program` and reads the first line of its standard output (the
    // simulator's device path, the tool's first stream name, ...).
    ChildProcess(const std::string& program, const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0) dup2(quiet, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        char c;
        while (read(out_, &c, 1) == 1 && c != '\n') firstLine_.push_back(c);
        if (firstLine_.empty()) throw std::runtime_error(program + " did not start");
    }
    ~ChildProcess() {
        if (out_ >= 0) close(out_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The rest of its standard output, until it ends.
    std::string Rest() {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
        return text;
    }
    // Asks it to stop (SIGINT, Ctrl-C) and waits for it.
    void Interrupt() {
        kill(pid_, SIGINT);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    const std::string& FirstLine() const { return firstLine_; }
    // Its CPU seconds so far (user + system, all threads), from /proc.
    double CpuSeconds() const {
        char file[64];
        std::snprintf(file, sizeof file, "/proc/%d/stat", int(pid_));
        FILE* f = std::fopen(file, "r");
        if (!f) return -1.0;
        char buffer[1024];
        size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        buffer[n] = '\0';
        const char* p = std::strrchr(buffer, ')');
        if (!p) return -1.0;
        unsigned long utime = 0, stime = 0;
        // Fields after the command name: state is field 3; utime and stime
        // are fields 14 and 15.
        if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
            return -1.0;
        return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string firstLine_;
};

VOQ_Headset Connect(const std::string& path) {
    VOQ_Headset h = VOQ_Headset_New(path.c_str());
    if (!h) throw std::runtime_error(std::string("VOQ_Headset_New: ") + (VOQ_Error() ? VOQ_Error() : "?"));
    return h;
}

// ---------------------------------------------------------------------------

int StreamMode(int argc, char** argv) {
    const int rate = int(Number(argc, argv, "rate", 300));
    const double seconds = Number(argc, argv, "seconds", 20);
    const double warmup = Number(argc, argv, "warmup", 3);
    ChildProcess sim(VOQ_SIM_PROGRAM, {"--rate", std::to_string(rate)});
    VOQ_Headset h = Connect(sim.FirstLine());
    VOQ::Headset& object = *reinterpret_cast<VOQ::Headset*>(h);
    VOQ_Headset_SetMessageCallback(h, &CollectMessage);
    VOQ_Headset_StartImpedanceDriver(h);
    if (VOQ_Headset_StartBackgroundAcquisition(h) != 1) throw std::runtime_error("no background acquisition");

    const std::vector<VOQ_Channel> list = ChannelList(h);
    double checksum = 0.0;
    LoopResult warm;
    warm.returns.reserve(size_t(warmup * 100) + 100);
    BatchLoop(h, list, warmup, warm, checksum);

    LoopResult run;
    run.returns.reserve(size_t(seconds * 100) + 100);
    const double simCpu0 = sim.CpuSeconds();
    const uint64_t alloc0 = voqbench::AllocationCount();
    const double spin0 = object.SpinSeconds();
    const std::string load = LoadAverage();
    const MachineTime machine0 = ReadMachineTime();
    const double cpu0 = CpuSeconds();
    const double thread0 = ThreadCpuSeconds();
    const double wall0 = Now();
    BatchLoop(h, list, seconds, run, checksum);
    const double wall1 = Now();
    const double thread1 = ThreadCpuSeconds();
    const double cpu1 = CpuSeconds();
    const MachineTime machine1 = ReadMachineTime();
    const double spin1 = object.SpinSeconds();
    const uint64_t alloc1 = voqbench::AllocationCount();
    const double simCpu1 = sim.CpuSeconds();
    const uint64_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(h);
    const unsigned channels = object.NumberOfChannels();
    VOQ_Headset_StopBackgroundAcquisition(h);
    VOQ_Headset_Delete(h);

    const double wall = wall1 - wall0;
    const double cpu = cpu1 - cpu0;
    const double spin = spin1 - spin0;
    const double batchesPerSecond = double(run.batches) / wall;
    const Stats intervals = Describe(Intervals(run.returns, 0.0));
    std::printf("mode=stream\nrate=%d\nseconds=%.3f\nbatches=%llu\nbatches_per_second=%.4f\n", rate, wall,
                (unsigned long long)run.batches, batchesPerSecond);
    std::printf("samples=%llu\nchannels=%u\n", (unsigned long long)run.samples, channels);
    std::printf("caller_thread_share=%.6f\nother_threads_share=%.6f\n", (thread1 - thread0) / wall,
                (cpu - (thread1 - thread0)) / wall);
    std::printf("cpu_share=%.6f\nspin_share=%.6f\ncpu_share_besides_spin=%.6f\n", cpu / wall, spin / wall,
                (cpu - spin) / wall);
    std::printf("spin_bound_share=%.6f\n", 0.002 * batchesPerSecond);
    std::printf("simulator_cpu_share=%.6f\n", simCpu0 >= 0 && simCpu1 >= 0 ? (simCpu1 - simCpu0) / wall : -1.0);
    std::printf("allocations_per_sample=%.6f\n", double(alloc1 - alloc0) / double(run.samples));
    std::printf("interval_mean_ms=%.4f\ninterval_sd_ms=%.4f\ninterval_min_ms=%.4f\ninterval_max_ms=%.4f\n",
                intervals.mean * 1e3, intervals.sd * 1e3, intervals.min * 1e3, intervals.max * 1e3);
    std::printf("longest_read_ms=%.4f\nchecksum=%g\n", run.longestRead * 1e3, checksum);
    std::printf("load_average=%s\nmachine_busy_share=%.4f\n", load.c_str(), BusyShare(machine0, machine1));
    std::printf("overflowed=%llu\nviolations=%d\ndischarges=%d\nproblems=%d\n", (unsigned long long)overflowed,
                gViolations.load(), gDischarges.load(), gLevelOneOrTwo.load());
    if (gFirstProblem[0]) std::printf("first_problem=%s\n", gFirstProblem);
    return 0;
}

// ---------------------------------------------------------------------------

struct SampleTimes {
    std::vector<std::pair<uint32_t, double>> entries;   // stamp, Now() in the callback
};

void RecordSample(VOQ_Headset, double sampleTime, void* data) {
    SampleTimes& times = *static_cast<SampleTimes*>(data);
    if (times.entries.size() < times.entries.capacity())
        times.entries.emplace_back(uint32_t(std::llround(sampleTime * 1800.0)), Now());
}

int DriftMode(int argc, char** argv) {
    const double seconds = Number(argc, argv, "seconds", 60);
    const double drift = Number(argc, argv, "drift", 500);
    voqsim::Config config;
    config.driftPpm = drift;
    voqsim::Simulator sim(config);
    const std::string path = sim.Start();
    // The simulator's time base on this process's clock.
    double offset = 0.0, best = 1e9;
    for (int i = 0; i < 20; ++i) {
        const double a = Now();
        const double s = sim.HostTime();
        const double b = Now();
        if (b - a < best) {
            best = b - a;
            offset = 0.5 * (a + b) - s;
        }
    }

    VOQ_Headset h = Connect(path);
    VOQ::Headset& object = *reinterpret_cast<VOQ::Headset*>(h);
    const double nominal = VOQ_Headset_GetSamplingRate(h);
    const double trueRate = nominal * (1.0 + drift * 1e-6);
    gRates.reserve(size_t(seconds * 10) + 100);
    VOQ_Headset_SetMessageCallback(h, &CollectMessage);
    VOQ_Headset_SetVerbosity(h, 3);
    VOQ_Headset_StartImpedanceDriver(h);
    SampleTimes times;
    times.entries.reserve(size_t(seconds * trueRate * 1.2) + 1000);
    VOQ_Headset_SetSampleCallback(h, &RecordSample, &times);
    sim.RecordBlockWrites(true);
    if (VOQ_Headset_StartBackgroundAcquisition(h) != 1) throw std::runtime_error("no background acquisition");

    LoopResult run;
    run.returns.reserve(size_t(seconds * 100) + 100);
    const std::vector<VOQ_Channel> list = ChannelList(h);
    double checksum = 0.0;
    const std::string load = LoadAverage();
    const MachineTime machine0 = ReadMachineTime();
    const double start = Now();
    BatchLoop(h, list, seconds, run, checksum);
    const double end = Now();
    const MachineTime machine1 = ReadMachineTime();
    const uint64_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(h);
    VOQ_Headset_StopBackgroundAcquisition(h);
    VOQ_Headset_SetSampleCallback(h, nullptr, nullptr);
    const std::vector<voqsim::BlockWrite> writes = sim.TakeBlockWrites();
    VOQ_Headset_Delete(h);

    // Latency: each data block's write against the callback of its last
    // sample, matched by the sample's time stamp.
    std::vector<std::pair<uint32_t, double>> callbacks = times.entries;
    std::sort(callbacks.begin(), callbacks.end());
    std::vector<double> latencies;
    size_t unmatched = 0;
    for (const voqsim::BlockWrite& w : writes) {
        if (w.dataPackets == 0) continue;
        auto it = std::lower_bound(callbacks.begin(), callbacks.end(), std::make_pair(w.lastSampleStamp, -1e300));
        if (it == callbacks.end() || it->first != w.lastSampleStamp) {
            ++unmatched;
            continue;
        }
        latencies.push_back(it->second - (w.hostTime + offset));
    }
    // Skip the first second of the stream (the worker starts it).
    const double from = start + 1.0;
    const Stats intervals = Describe(Intervals(run.returns, start + 5.0));
    const double window = std::min(30.0, 0.5 * (end - start));
    std::vector<double> rates;
    for (const RateReport& r : gRates)
        if (r.time >= end - window) rates.push_back(r.rate);
    const Stats rateStats = Describe(rates);
    (void)from;

    std::printf("mode=drift\ndrift_ppm=%.1f\nseconds=%.3f\nbatches=%llu\n", drift, end - start,
                (unsigned long long)run.batches);
    std::printf("latency_blocks=%zu\nlatency_unmatched=%zu\n", latencies.size(), unmatched);
    std::printf("latency_median_ms=%.4f\nlatency_p99_ms=%.4f\nlatency_max_ms=%.4f\nlatency_min_ms=%.4f\n",
                Percentile(latencies, 50) * 1e3, Percentile(latencies, 99) * 1e3,
                latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()) * 1e3,
                latencies.empty() ? 0.0 : *std::min_element(latencies.begin(), latencies.end()) * 1e3);
    std::printf("latency_p90_ms=%.4f\nlatency_p95_ms=%.4f\nlatency_p98_ms=%.4f\n", Percentile(latencies, 90) * 1e3,
                Percentile(latencies, 95) * 1e3, Percentile(latencies, 98) * 1e3);
    std::printf("interval_mean_ms=%.4f\ninterval_sd_ms=%.4f\ninterval_min_ms=%.4f\ninterval_max_ms=%.4f\n",
                intervals.mean * 1e3, intervals.sd * 1e3, intervals.min * 1e3, intervals.max * 1e3);
    std::printf("true_rate=%.6f\nrate_window_s=%.1f\nrate_estimates=%zu\nrate_mean=%.6f\n", trueRate, window,
                rateStats.n, rateStats.mean);
    std::printf("rate_error_percent=%.6f\nrate_sd=%.6f\nrate_min=%.6f\nrate_max=%.6f\n",
                rateStats.n ? (rateStats.mean - trueRate) / trueRate * 100.0 : 0.0, rateStats.sd, rateStats.min,
                rateStats.max);
    std::printf("nominal_error_percent=%.6f\n", (nominal - trueRate) / trueRate * 100.0);
    std::printf("load_average=%s\nmachine_busy_share=%.4f\nchecksum=%g\n", load.c_str(), BusyShare(machine0, machine1),
                checksum);
    std::printf("overflowed=%llu\nviolations=%d\ndischarges=%d\nproblems=%d\n", (unsigned long long)overflowed,
                gViolations.load(), gDischarges.load(), gLevelOneOrTwo.load());
    if (gFirstProblem[0]) std::printf("first_problem=%s\n", gFirstProblem);
    (void)object;
    return 0;
}

// ---------------------------------------------------------------------------

int StartupMode(int argc, char** argv) {
    const int repeats = int(Number(argc, argv, "repeats", 5));
    std::vector<double> totals;
    for (int r = 0; r < repeats; ++r) {
        voqsim::Simulator sim;
        const std::string path = sim.Start();
        const double simStart = Now() - sim.HostTime();
        const double t0 = Now();
        VOQ_Headset h = Connect(path);
        const double t1 = Now();
        totals.push_back(t1 - t0);
        if (r == 0) {
            // Timeline of the first start-up: each command's arrival at the
            // simulator, from the call.
            const std::vector<voqsim::CommandRecord> commands = sim.Commands();
            double previous = 0.0;
            for (size_t i = 0; i < commands.size(); ++i) {
                const double at = commands[i].hostTime + simStart - t0;
                std::printf("command_%02zu=family %d at %.1f ms (+%.1f ms)\n", i, commands[i].family, at * 1e3,
                            (at - previous) * 1e3);
                previous = at;
            }
            std::printf("last_command_to_ready_ms=%.1f\n", (t1 - t0 - previous) * 1e3);
        }
        VOQ_Headset_Delete(h);
        sim.Stop();
    }
    const Stats s = Describe(totals);
    std::printf("mode=startup\nrepeats=%d\nstartup_min_s=%.4f\nstartup_median_s=%.4f\nstartup_max_s=%.4f\n",
                repeats, s.min, Percentile(totals, 50), s.max);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------

#ifdef VOQ_TOOL_PROGRAM
int LslMode(int argc, char** argv) {
    const int rate = int(Number(argc, argv, "rate", 600));
    const double seconds = Number(argc, argv, "seconds", 20);
    const double warmup = Number(argc, argv, "warmup", 3);
    // Every LSL exchange on the loopback interface, for the tool and the inlet.
    setenv("LSLAPICFG", VOQ_LSL_CONFIG, 1);
    ChildProcess sim(VOQ_SIM_PROGRAM, {"--rate", std::to_string(rate)});
    ChildProcess tool(VOQ_TOOL_PROGRAM, {"--port", sim.FirstLine(), "--quiet", "lsl"});
    const std::string name = tool.FirstLine();   // "VOQ <serial number>"
    const std::string sourceId = "VOQ-" + name.substr(name.find(' ') + 1);
    struct timespec pause = {time_t(warmup), long((warmup - std::floor(warmup)) * 1e9)};
    nanosleep(&pause, nullptr);

    // The inlet's first line comes once it is connected.
    ChildProcess inlet(VOQ_LSL_INLET_PROGRAM, {sourceId, "--seconds", std::to_string(seconds), "--latency"});
    const std::string load = LoadAverage();
    const MachineTime machine0 = ReadMachineTime();
    const double cpu0 = tool.CpuSeconds(), simCpu0 = sim.CpuSeconds(), wall0 = Now();
    const std::string out = inlet.Rest();
    const double cpu1 = tool.CpuSeconds(), simCpu1 = sim.CpuSeconds(), wall1 = Now();
    const MachineTime machine1 = ReadMachineTime();
    tool.Interrupt();

    const double wall = wall1 - wall0;
    std::printf("mode=lsl\nrate=%d\nseconds=%.3f\nstream=%s\n", rate, wall, name.c_str());
    std::printf("cpu_share=%.6f\nsimulator_cpu_share=%.6f\n", (cpu1 - cpu0) / wall, (simCpu1 - simCpu0) / wall);
    unsigned long samples = 0, chunks = 0;
    double median = -1, p99 = -1, maximum = -1;
    const char* summary = std::strstr(out.c_str(), "summary samples=");
    if (summary) std::sscanf(summary, "summary samples=%lu", &samples);
    const char* latency = std::strstr(out.c_str(), "latency chunks=");
    if (latency) std::sscanf(latency, "latency chunks=%lu median_ms=%lf p99_ms=%lf max_ms=%lf", &chunks, &median, &p99, &maximum);
    std::printf("samples=%lu\nchunks=%lu\nage_median_ms=%.3f\nage_p99_ms=%.3f\nage_max_ms=%.3f\n", samples, chunks,
                median, p99, maximum);
    std::printf("block_period_ms=%.1f\n", voqsim::Config().blockIntervalSeconds * 1e3);
    std::printf("load_average=%s\nmachine_busy_share=%.4f\n", load.c_str(), BusyShare(machine0, machine1));
    return samples > 0 ? 0 : 1;
}
#endif

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_live stream|drift|startup|lsl [--option=value ...]\n");
        return 2;
    }
    const std::string mode = argv[1];
    try {
        if (mode == "stream") return StreamMode(argc, argv);
        if (mode == "drift") return DriftMode(argc, argv);
        if (mode == "startup") return StartupMode(argc, argv);
#ifdef VOQ_TOOL_PROGRAM
        if (mode == "lsl") return LslMode(argc, argv);
#endif
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_live: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "bench_live: unknown mode %s\n", mode.c_str());
    return 2;
}
