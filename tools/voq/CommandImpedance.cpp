// `voq impedance`: the electrodes' contact, live or as one settled snapshot.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "Session.h"
#include "voq/Text.h"

namespace voqtool {

namespace {

// Seconds without a new sample after which the headset counts as gone.
const double kSilenceLimit = 5.0;

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::vector<std::string> Table(const std::vector<Electrode>& electrodes, double cmf,
                               const ImpedanceOptions& o, const Style& style,
                               const std::string& status) {
    std::vector<std::string> lines;
    lines.push_back(style.Bold("Impedance, kOhm") +
                    Format(" (good <= %g, fair <= %g, poor above)", o.goodKOhm, o.fairKOhm) +
                    (status.empty() ? "" : "  " + style.Dim(status)));
    for (const Electrode& e : electrodes) {
        double z = VOQ_Source_GetImpedanceEEG(e.source);
        Contact c = Grade(z, o.goodKOhm, o.fairKOhm);
        lines.push_back(Format("  %-12s %7s  ", e.name.c_str(), ImpedanceText(z).c_str()) +
                        ColouredContact(c, style));
    }
    Contact c = Grade(cmf, o.goodKOhm, o.fairKOhm);
    lines.push_back(Format("  %-12s %7s  ", "common-mode", ImpedanceText(cmf).c_str()) +
                    ColouredContact(c, style));
    return lines;
}

}  // namespace

std::vector<Electrode> MeasurableElectrodes(VOQ_Headset h) {
    // The referential electrodes of the montage; the factory reference has
    // no signal of its own and so no estimate.
    std::vector<Electrode> electrodes;
    VOQ_ClearError();
    unsigned int n = VOQ_Headset_GetNumberOfSources(h);
    for (unsigned int i = 0; i < n; ++i) {
        VOQ_Source s = VOQ_Headset_GetSourceByIndex(h, i);
        ThrowIfLibraryFailed("");
        if (VOQ_Source_IsReferentialEEG(s) && !VOQ_Source_IsFactoryReference(s)) {
            const char* name = VOQ_Source_GetName(s);
            electrodes.push_back({name != nullptr ? name : "?", s});
        }
    }
    ThrowIfLibraryFailed("");
    // In the headset's slot order, which is the order of the source names.
    const char* slotNames = VOQ_Headset_GetSourceNames(h, 0x17);
    std::vector<std::string> order = Split(slotNames != nullptr ? slotNames : "");
    auto rank = [&order](const Electrode& e) {
        return std::find(order.begin(), order.end(), e.name) - order.begin();
    };
    std::stable_sort(electrodes.begin(), electrodes.end(),
                     [&rank](const Electrode& a, const Electrode& b) { return rank(a) < rank(b); });
    return electrodes;
}

int RunImpedance(const Options& options, Session& session) {
    const ImpedanceOptions& o = options.impedance;
    session.Connect();
    session.ChooseMontage(o.montage);
    VOQ_Headset h = session.Headset();
    Style style(UseColour(options.common.colour, STDOUT_FILENO));

    VOQ_ClearError();
    VOQ_Headset_ReallocateBuffers(h, 1.0, o.windowSeconds);
    ThrowIfLibraryFailed("");

    std::vector<Electrode> electrodes = MeasurableElectrodes(h);
    if (electrodes.empty())
        throw ToolError("the montage has no electrodes whose impedance can be measured",
                        "choose electrodes with --montage, e.g. --montage \"F3 C3 P3\"");
    std::vector<VOQ_Channel> channels;
    unsigned int channelCount = VOQ_Headset_GetNumberOfChannels(h);
    for (unsigned int i = 0; i < channelCount; ++i) channels.push_back(VOQ_Headset_GetChannelByIndex(h, i));
    ThrowIfLibraryFailed("");

    session.Progress("starting the impedance driver ...");
    session.StartImpedanceDriver();
    session.StartAcquisition();

    // The estimates average over the window: they settle one window after
    // the first sample.
    const double settleSeconds = o.windowSeconds + 0.3;
    auto started = std::chrono::steady_clock::now();
    auto lastSample = started;
    bool sampling = false;
    std::chrono::steady_clock::time_point firstSample;
    LiveBlock live(stdout, isatty(STDOUT_FILENO) == 1);
    bool interrupted = false;

    for (;;) {
        // Wait one refresh period, a little at a time.
        auto periodStart = std::chrono::steady_clock::now();
        while (!Interrupted() && Since(periodStart) < o.refreshSeconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            session.DrainMessages();
        }
        if (Interrupted()) {
            interrupted = true;
            break;
        }
        // Samples arrived?  Channel buffers are emptied: only the estimates
        // are of interest here.
        size_t arrived = 0;
        for (VOQ_Channel c : channels) {
            arrived = std::max(arrived, VOQ_Channel_GetNumberOfBufferedSamples(c));
            VOQ_Channel_FlushOutputBuffer(c);
        }
        ThrowIfLibraryFailed("");
        if (arrived > 0) {
            lastSample = std::chrono::steady_clock::now();
            if (!sampling) {
                sampling = true;
                firstSample = lastSample;
            }
        } else if (Since(lastSample) > kSilenceLimit) {
            throw ToolError(Format("no samples from the headset for %g s", kSilenceLimit),
                            "is it still switched on and in range?");
        }
        bool settled = sampling && Since(firstSample) >= settleSeconds;
        double cmf = VOQ_Headset_GetImpedanceCMF(h);
        ThrowIfLibraryFailed("");

        if (o.once) {
            if (!settled) continue;
            std::vector<std::string> lines = Table(electrodes, cmf, o, style, "");
            for (const std::string& line : lines) std::printf("%s\n", line.c_str());
            std::fflush(stdout);
            break;
        }
        std::string status = settled ? Format("t = %.1f s, Ctrl-C to stop", Since(started))
                                     : std::string("settling ...");
        live.Show(Table(electrodes, cmf, o, style, status));
        if (o.seconds >= 0 && Since(started) >= o.seconds) break;
    }

    if (interrupted && (o.once || o.seconds >= 0)) return kExitInterrupted;
    return kExitOK;
}

}  // namespace voqtool
