// voq_soak: a long acquisition run against the simulated headset, with the
// background worker reading and the caller taking paced batches, reporting
// every interval and at the end: samples received, samples lost (gaps in the
// samples' own time stamps, read back through the "SND" channel), samples
// delivered twice or out of order, buffer overflows, real-time violations,
// failed waits and the process's resident memory.
//
//   voq_soak [--seconds N] [--rate 300|600] [--interval SECONDS]
//            [--simulator PATH-TO-voq-sim]
//
// Without --simulator the simulated headset runs inside this process; with
// it, the voq-sim program runs as a child process, so that the memory figures
// are the library's (and this program's) alone.
//
// Exit status: 0 when nothing was lost, repeated, overflowed or failed; 1
// otherwise; 2 for bad arguments or a failed start.  Memory growth is only
// reported.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Simulator.h"
#include "Support.h"
#include "VOQ.h"
#include "VOQ_API.h"

using namespace reliability;

namespace {

struct Options {
    double seconds = 1800.0;
    int rate = 600;
    double interval = 60.0;
    std::string simulator;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "voq_soak: %s\nusage: voq_soak [--seconds N] [--rate 300|600] [--interval SECONDS] "
                 "[--simulator PATH]\n",
                 problem.c_str());
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) Usage(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--seconds") options.seconds = std::atof(value.c_str());
        else if (option == "--rate") options.rate = std::atoi(value.c_str());
        else if (option == "--interval") options.interval = std::atof(value.c_str());
        else if (option == "--simulator") options.simulator = value;
        else Usage("unknown option " + option);
    }
    if (!(options.seconds > 0)) Usage("--seconds must be positive");
    if (options.rate != 300 && options.rate != 600) Usage("--rate must be 300 or 600");
    if (!(options.interval > 0)) Usage("--interval must be positive");
    return options;
}

struct Totals {
    uint64_t received = 0, lost = 0, repeated = 0, overflowed = 0, failedWaits = 0;
    int realTimeViolations = 0, discharges = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const long rssBefore = ResidentKilobytes();

    std::unique_ptr<voqsim::Simulator> sim;
    std::unique_ptr<ChildSimulator> child;
    std::string path;
    if (options.simulator.empty()) {
        voqsim::Config config;
        config.samplingRate = options.rate;
        sim.reset(new voqsim::Simulator(config));
        path = sim->Start();
    } else {
        child.reset(new ChildSimulator(options.simulator, options.rate));
        path = child->Path();
    }
    if (path.empty()) {
        std::fprintf(stderr, "voq_soak: the simulated headset did not start\n");
        return 2;
    }

    VOQ_Headset handle = VOQ_Headset_New(path.c_str());
    if (!handle) {
        std::fprintf(stderr, "voq_soak: cannot connect: %s\n", VOQ_Error() ? VOQ_Error() : "?");
        return 2;
    }
    VOQ::Headset* headset = reinterpret_cast<VOQ::Headset*>(handle);
    VOQ_Headset_SetMessageCallback(handle, &MessageLog::Sink);
    VOQ_Headset_SetVerbosity(handle, 2);
    if (VOQ_Headset_GetSamplingRate(handle) != options.rate) VOQ_Headset_ConfigureADC(handle, options.rate, 1);
    VOQ_Headset_ChooseChannels(handle, "SND Cz-Pz F3 C3-A1/2-A2/2 TRG ACCZ", "", 0);
    if (const char* error = VOQ_ClearError()) {
        std::fprintf(stderr, "voq_soak: %s\n", error);
        return 2;
    }
    const int snd = FindChannel(handle, "SND");
    const unsigned channelCount = unsigned(headset->OutputChannels().size());
    std::vector<VOQ_Channel> channels;
    for (unsigned k = 0; k < channelCount; ++k) channels.push_back(VOQ_Headset_GetChannelByIndex(handle, k));
    const uint64_t batch = headset->BatchSize();
    const uint32_t ticksPerSample = uint32_t(1800 / options.rate);

    std::printf("soak: %.0f s at %d samples/s, batches of %llu, %u channels, simulator %s\n", options.seconds,
                options.rate, (unsigned long long)batch, channelCount,
                options.simulator.empty() ? "in this process" : "in a child process");
    std::printf("%9s %12s %8s %8s %10s %10s %10s %10s %12s\n", "seconds", "received", "lost", "repeated",
                "overflowed", "rt-viol.", "waits-fail", "RSS-kB", "rate-est.");

    MessageLog::Clear();
    VOQ_Headset_StartBackgroundAcquisition(handle);
    Totals totals;
    bool haveLast = false;
    uint32_t last = 0;
    const double start = VOQ::PrecisionTime();
    double nextReport = options.interval;
    long rssStart = -1, rssMax = 0, rssEnd = 0;
    // The rate estimate's range once the controller has settled.
    const double estimateFrom = std::min(30.0, options.seconds / 2);
    double lowestEstimate = 1e300, highestEstimate = 0.0;
    for (;;) {
        const double elapsed = VOQ::PrecisionTime() - start;
        if (elapsed >= options.seconds) break;
        VOQ_Headset_WaitForBatch(handle);
        if (const char* error = VOQ_ClearError()) {
            ++totals.failedWaits;
            std::fprintf(stderr, "wait failed at %.1f s: %s\n", elapsed, error);
            VOQ::Sleep(0.1);
            continue;
        }
        for (unsigned k = 0; k < channelCount; ++k) {
            for (uint64_t i = 0; i < batch; ++i) {
                const double value = VOQ_Channel_ReadBuffered(channels[k]);
                if (int(k) != snd) continue;
                const uint32_t tick = Ticks(value);
                ++totals.received;
                if (haveLast) {
                    if (tick <= last) {
                        ++totals.repeated;
                        continue;
                    }
                    totals.lost += (tick - last) / ticksPerSample - 1;
                }
                last = tick;
                haveLast = true;
            }
        }
        if (rssStart < 0 && elapsed >= std::min(10.0, options.seconds / 4)) rssStart = ResidentKilobytes();
        if (elapsed >= estimateFrom) {
            lowestEstimate = std::min(lowestEstimate, headset->EstimatedSampleRate());
            highestEstimate = std::max(highestEstimate, headset->EstimatedSampleRate());
        }
        if (elapsed >= nextReport) {
            nextReport += options.interval;
            const long rss = ResidentKilobytes();
            rssMax = std::max(rssMax, rss);
            std::printf("%9.0f %12llu %8llu %8llu %10llu %10d %10llu %10ld %12.3f\n", elapsed,
                        (unsigned long long)totals.received, (unsigned long long)totals.lost,
                        (unsigned long long)totals.repeated,
                        (unsigned long long)VOQ_Headset_GetNumberOfOverflowedSamples(handle),
                        MessageLog::Count("Real-time violation", 2), (unsigned long long)totals.failedWaits, rss,
                        headset->EstimatedSampleRate());
            std::fflush(stdout);
        }
    }
    totals.overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(handle);
    totals.realTimeViolations = MessageLog::Count("Real-time violation", 2);
    totals.discharges = MessageLog::Count("Discharging buffer", 2);
    rssEnd = ResidentKilobytes();
    rssMax = std::max(rssMax, rssEnd);
    const double estimated = headset->EstimatedSampleRate();
    VOQ_Headset_StopBackgroundAcquisition(handle);
    const double stopDeadline = VOQ::PrecisionTime() + 12.0;
    while (headset->BackgroundAcquisitionAlive() && VOQ::PrecisionTime() < stopDeadline) VOQ::Sleep(0.01);
    VOQ_Headset_Delete(handle);

    const double minutes = options.seconds / 60.0;
    if (rssStart < 0) rssStart = rssEnd;
    std::printf("\nsummary: %.1f minutes at %d samples/s\n", minutes, options.rate);
    std::printf("  samples received      %llu\n", (unsigned long long)totals.received);
    if (sim) std::printf("  samples sent          %llu\n", (unsigned long long)sim->Stats().dataPacketsSent);
    std::printf("  samples lost          %llu\n", (unsigned long long)totals.lost);
    std::printf("  repeated/out of order %llu\n", (unsigned long long)totals.repeated);
    std::printf("  overflowed            %llu\n", (unsigned long long)totals.overflowed);
    std::printf("  real-time violations  %d (buffer discharges %d)\n", totals.realTimeViolations, totals.discharges);
    std::printf("  failed waits          %llu\n", (unsigned long long)totals.failedWaits);
    std::printf("  estimated sample rate %.3f at the end, %.3f to %.3f after the first %.0f s\n", estimated,
                lowestEstimate, highestEstimate, estimateFrom);
    std::printf("  resident memory       %ld kB before connecting, %ld kB after warm-up, %ld kB at the end, "
                "%ld kB at most\n",
                rssBefore, rssStart, rssEnd, rssMax);
    std::printf("  memory growth         %+ld kB after warm-up (%+.1f kB per hour)\n", rssEnd - rssStart,
                options.seconds > 60 ? double(rssEnd - rssStart) * 3600.0 / options.seconds : 0.0);
    const bool clean = totals.lost == 0 && totals.repeated == 0 && totals.overflowed == 0 && totals.failedWaits == 0 &&
                       totals.received > 0;
    std::printf("  result                %s\n", clean ? "no loss" : "LOSS OR FAILURES");
    return clean ? 0 : 1;
}
