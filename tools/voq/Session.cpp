// One use of a headset by the `voq` tool.
#include "Session.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "Interrupt.h"
#include "Simulator.h"
#include "voq/Text.h"

namespace voqtool {

namespace {

// The library's messages, queued by its callback (which may run on the
// acquisition thread) and printed by the main thread.
struct MessageQueue {
    std::mutex mutex;
    std::deque<std::pair<std::string, int>> messages;
    std::atomic<unsigned long> realTimeViolations{0};
    std::atomic<unsigned long> discharges{0};
};
MessageQueue gMessages;

int OnLibraryMessage(const char* message, int level) {
    std::string text = message != nullptr ? message : "";
    if (text.find("Real-time violation") != std::string::npos) ++gMessages.realTimeViolations;
    if (text.find("Discharging buffer") != std::string::npos) ++gMessages.discharges;
    std::lock_guard<std::mutex> lock(gMessages.mutex);
    if (gMessages.messages.size() < 10000) gMessages.messages.emplace_back(std::move(text), level);
    return level;
}

std::string SecondsText(double s) { return Format("%g s", s); }

// How long stopping and disconnecting may take before the program leaves
// without them.
const double kCloseLimitSeconds = 5.0;

std::string HintForConnectFailure(const std::string& message, const std::string& port) {
    if (message.find("VOQSerialPort") != std::string::npos)
        return "pass --port PATH (e.g. /dev/rfcomm0) or set VOQSerialPort; "
               "to try without a headset, use --simulate";
    if (message.find("Failed to open COM port") != std::string::npos)
        return "check that " + port + " exists and that you may open it (on Linux, membership "
               "of the dialout group); is the headset paired and bound to it?";
    if (message.find("COM port") != std::string::npos)
        return port + " does not behave like a serial device; pass the headset's serial port";
    return "the device on " + port + " did not answer like a VOQ headset: is it switched on, "
           "in range, and is this its serial port?";
}

// $TMPDIR, or /tmp.
std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

[[noreturn]] void LeaveNow(int code, const std::string& line) {
    std::fflush(stdout);
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    // The library call on the connecting thread cannot be abandoned any other
    // way; the system closes the port.
    std::_Exit(code);
}

}  // namespace

voqsim::Config SimulatorConfig(const SimOptions& sim) {
    voqsim::Config config;
    config.samplingRate = sim.rate;
    config.layout = sim.layout;
    config.driftPpm = sim.driftPpm;
    config.impedanceAllKOhm = sim.impedanceKOhm;
    config.cmfImpedanceKOhm = sim.cmfKOhm;
    config.seed = sim.seed;
    config.serialNumber = sim.serial;
    config.jitterMilliseconds = sim.jitterMs;
    config.truthPath = sim.truthPath;
    config.linkPath = sim.linkPath;
    for (const std::string& item : sim.drops) {
        const std::pair<double, double> drop = ParseDropItem(item);
        config.drops.push_back({drop.first, drop.second});
    }
    if (!sim.impedanceOf.empty()) {
        std::vector<voqsim::Slot> slots = voqsim::DescribeSlots(voqsim::LayoutImage(sim.layout));
        for (const std::string& item : sim.impedanceOf) {
            std::pair<std::string, double> entry = ParseImpedanceItem(item);
            bool found = false;
            std::string names;
            for (const voqsim::Slot& slot : slots) {
                if (slot.kind != voqsim::SlotKind::Electrode && slot.kind != voqsim::SlotKind::Reference)
                    continue;
                names += (names.empty() ? "" : " ") + slot.name;
                if (Upper(slot.name) == Upper(entry.first)) found = true;
            }
            if (!found)
                throw ToolError("the simulated layout " + sim.layout + " has no electrode " + entry.first,
                                "its electrodes are: " + names, kExitUsage);
            config.impedanceKOhm[entry.first] = entry.second;
        }
    }
    return config;
}

void WarnOfOverflow(unsigned long long overflowed, const char* where) {
    if (overflowed > 0)
        std::fprintf(stderr, "voq: warning: %llu samples were lost because they were not read in time%s\n", overflowed,
                     where);
}

void WarnOfLinkLosses(unsigned long long linkLosses, unsigned long long missing, const char* where) {
    if (linkLosses > 0)
        std::fprintf(stderr, "voq: warning: the link was lost %llu %s; %llu samples are missing%s\n", linkLosses,
                     linkLosses == 1 ? "time" : "times", missing, where);
}

void ThrowIfLibraryFailed(const std::string& hint) {
    const char* error = VOQ_Error();
    if (error != nullptr) {
        std::string text = error;
        VOQ_ClearError();
        throw ToolError(text, hint);
    }
}

Session::Session(const CommonOptions& options)
    : options_(options), errStyle_(UseColour(options.colour, STDERR_FILENO)) {}

Session::~Session() { Close(kExitFailure); }

int Session::Close(int code) {
    if (headset_ != nullptr) {
        // Stopping and disconnecting talk to the headset, which may have
        // gone away: they run on a thread of their own and are given up
        // after a while (the system closes the port).
        std::atomic<bool> done{false};
        std::string failure, hint;
        std::thread closer([this, &done, &failure, &hint] {
            try {
                Stop();
            } catch (const ToolError& e) {
                failure = e.what();
                hint = e.Hint();
            }
            VOQ_ClearError();
            VOQ_Headset_Delete(headset_);
            const char* error = VOQ_ClearError();
            if (error != nullptr && failure.empty()) failure = std::string("while disconnecting: ") + error;
            done = true;
        });
        auto started = std::chrono::steady_clock::now();
        while (!done && std::chrono::steady_clock::now() - started < std::chrono::duration<double>(kCloseLimitSeconds)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            DrainMessages();
        }
        if (!done) {
            closer.detach();
            if (code == kExitOK)
                LeaveNow(kExitFailure,
                         ErrorLine(Format("the headset did not answer while stopping, for %g s", kCloseLimitSeconds),
                                   "it may still be streaming: switch it off and on again", errStyle_));
            LeaveNow(code, "");
        }
        closer.join();
        headset_ = nullptr;
        DrainMessages();
        if (!failure.empty() && code == kExitOK) {
            std::fprintf(stderr, "%s\n", ErrorLine(failure, hint, errStyle_).c_str());
            code = kExitFailure;
        }
    }
    simulator_.reset();
    if (!linkDirectory_.empty()) rmdir(linkDirectory_.c_str());
    linkDirectory_.clear();
    return code;
}

void Session::Progress(const std::string& text) {
    // Progress is for a person watching: only on a terminal.
    if (options_.quiet || isatty(STDERR_FILENO) != 1) return;
    DrainMessages();
    std::fprintf(stderr, "voq: %s\n", text.c_str());
    std::fflush(stderr);
}

void Session::DrainMessages() {
    std::deque<std::pair<std::string, int>> messages;
    {
        std::lock_guard<std::mutex> lock(gMessages.mutex);
        messages.swap(gMessages.messages);
    }
    int verbosity = options_.EffectiveVerbosity();
    for (const auto& m : messages)
        if (m.second <= verbosity) std::fprintf(stderr, "%s\n", m.first.c_str());
    if (!messages.empty()) std::fflush(stderr);
}

DeliveryReports Session::Reports() const {
    DeliveryReports r;
    r.realTimeViolations = gMessages.realTimeViolations.load();
    r.discharges = gMessages.discharges.load();
    return r;
}

void Session::Connect() {
    if (options_.simulate) {
        try {
            voqsim::Config config = SimulatorConfig(options_.sim);
            // A headset that drops its link comes back on a new terminal: the
            // port is then a link that follows it, a temporary one unless
            // asked for.
            if (!config.drops.empty() && config.linkPath.empty()) {
                std::string pattern = TemporaryDirectory() + "/voq-sim-XXXXXX";
                if (mkdtemp(&pattern[0]) == nullptr)
                    throw std::runtime_error("cannot make a directory for its link: " + std::string(strerror(errno)));
                linkDirectory_ = pattern;
                config.linkPath = linkDirectory_ + "/headset";
            }
            simulator_ = std::make_unique<voqsim::Simulator>(config);
            port_ = simulator_->Start();
            if (!config.linkPath.empty()) port_ = config.linkPath;
        } catch (const ToolError&) {
            throw;
        } catch (const std::exception& e) {
            throw ToolError(std::string("cannot start the simulated headset: ") + e.what(),
                            "pseudo-terminals must be available (/dev/ptmx)");
        }
        Progress("simulated headset (" + options_.sim.layout + ", " +
                 std::to_string(options_.sim.rate) + " samples/s) on " + port_);
    } else {
        port_ = options_.port;
    }

    VOQ_ClearError();
    headset_ = VOQ_Headset_New(nullptr);
    ThrowIfLibraryFailed("");
    VOQ_Headset_SetMessageCallback(headset_, OnLibraryMessage);
    // Level-2 reports are counted even when they are not shown.
    VOQ_Headset_SetVerbosity(headset_, std::max(options_.EffectiveVerbosity(), 2));

    std::string shownPort = port_;
    if (shownPort.empty() || Upper(shownPort) == "DEFAULT") {
        const char* fromEnvironment = VOQ_GetDefaultPort();
        shownPort = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    if (!shownPort.empty()) Progress("connecting to " + shownPort + " ...");

    std::atomic<bool> done{false};
    std::string failure;
    VOQ_Headset headset = headset_;
    std::string port = port_;
    std::thread worker([&done, &failure, headset, port] {
        VOQ_ClearError();
        VOQ_Headset_Connect(headset, port.c_str());
        const char* error = VOQ_ClearError();
        if (error != nullptr) failure = error;
        done = true;
    });
    auto started = std::chrono::steady_clock::now();
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        DrainMessages();
        if (Interrupted()) {
            worker.detach();
            LeaveNow(kExitInterrupted, "voq: interrupted while connecting");
        }
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (options_.timeoutSeconds > 0 && elapsed > options_.timeoutSeconds && !done) {
            worker.detach();
            LeaveNow(kExitFailure,
                     ErrorLine("no answer from the headset on " + shownPort + " within " +
                                   SecondsText(options_.timeoutSeconds),
                               "is it switched on, in range, and is " + shownPort +
                                   " its serial port? A slow link may need a longer --timeout",
                               errStyle_));
        }
    }
    worker.join();
    DrainMessages();
    if (!failure.empty()) throw ToolError(failure, HintForConnectFailure(failure, shownPort));
    port_ = shownPort;
}

void Session::KeepLink(double seconds) {
    VOQ_ClearError();
    VOQ_Headset_SetReconnect(headset_, seconds);
    ThrowIfLibraryFailed("");
}

void Session::ChooseMontage(const MontageOptions& montage) {
    if (montage.montage.empty() && montage.reference.empty()) return;
    VOQ_ClearError();
    VOQ_Headset_ChooseChannels(headset_, montage.montage.c_str(), montage.reference.c_str(), 1);
    ThrowIfLibraryFailed(
        "channels are electrode names with optional weights, e.g. \"F3 C3-A1/2-A2/2 Cz*2\"; "
        "'voq info' lists the names this headset knows");
}

void Session::ChooseMontageWithTrigger(const MontageOptions& montage) {
    ChooseMontage(montage);
    if (montage.montage.empty()) return;
    const unsigned n = VOQ_Headset_GetNumberOfChannels(headset_);
    for (unsigned i = 0; i < n; ++i)
        if (VOQ_Channel_IsTrigger(VOQ_Headset_GetChannelByIndex(headset_, i))) return;
    VOQ_ClearError();
    VOQ_Headset_ChooseChannels(headset_, (montage.montage + " TRG").c_str(), montage.reference.c_str(), 1);
    if (VOQ_ClearError() != nullptr) {
        ChooseMontage(montage);
        if (!options_.quiet) std::fprintf(stderr, "voq: warning: this headset has no trigger input\n");
    }
}

void Session::AddFilter(const std::string& filter) {
    if (filter.empty()) return;
    VOQ_ClearError();
    VOQ_Headset_AddFilter(headset_, nullptr, filter.c_str(), nullptr);
    ThrowIfLibraryFailed("a filter is a ;-separated chain such as \"bandpass 1 40 order 4; notch 50; car\"");
}

void Session::StartAcquisition() {
    // The data stream is started here, on this thread, and the background
    // thread only reads it; Stop() ends both in order.
    VOQ_ClearError();
    acquiring_ = true;   // stopped on exit even when the answer got lost
    VOQ_Headset_StartDataAcquisition(headset_);
    ThrowIfLibraryFailed("the headset did not start streaming");
    VOQ_ClearError();
    int started = VOQ_Headset_StartBackgroundAcquisition(headset_);
    ThrowIfLibraryFailed("");
    if (started == 0) throw ToolError("could not start the acquisition thread");
    background_ = true;
}

void Session::StartImpedanceDriver() {
    VOQ_ClearError();
    impedanceDriver_ = true;   // stopped on exit even when the answer got lost
    VOQ_Headset_StartImpedanceDriver(headset_);
    ThrowIfLibraryFailed("the headset did not start its impedance driver");
}

void Session::StopImpedanceDriver() {
    if (!impedanceDriver_) return;
    impedanceDriver_ = false;
    VOQ_ClearError();
    VOQ_Headset_StopImpedanceDriver(headset_);
    ThrowIfLibraryFailed("the headset did not stop its impedance driver");
}

void Session::Stop() {
    if (headset_ == nullptr) return;
    // While the link is lost (or after giving up) the port is closed and
    // the headset streams nothing: there is nothing to stop on it.
    if (VOQ_Headset_IsConnected(headset_) == 0) acquiring_ = impedanceDriver_ = false;
    std::string failure;
    if (background_) {
        background_ = false;
        VOQ_ClearError();
        VOQ_Headset_StopBackgroundAcquisition(headset_);
        const char* error = VOQ_ClearError();
        if (error != nullptr) failure = error;
    }
    if (acquiring_) {
        acquiring_ = false;
        VOQ_ClearError();
        VOQ_Headset_StopDataAcquisition(headset_);
        const char* error = VOQ_ClearError();
        if (error != nullptr && failure.empty()) failure = error;
    }
    if (impedanceDriver_) {
        impedanceDriver_ = false;
        VOQ_ClearError();
        VOQ_Headset_StopImpedanceDriver(headset_);
        const char* error = VOQ_ClearError();
        if (error != nullptr && failure.empty()) failure = error;
    }
    DrainMessages();
    if (!failure.empty())
        throw ToolError("could not stop the headset: " + failure,
                        "switch the headset off and on again before the next use");
}

}  // namespace voqtool
