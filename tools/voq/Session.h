// One use of a headset by the `voq` tool: the optional simulated headset,
// the connection, the library's messages, and an orderly stop.
#ifndef VOQ_TOOL_SESSION_H
#define VOQ_TOOL_SESSION_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Format.h"
#include "Tool.h"
#include "VOQ_API.h"

namespace voqsim {
class Simulator;
struct Config;
}

namespace voqtool {

// The simulator configuration for these options; throws ToolError for an
// electrode name that the layout does not have.
voqsim::Config SimulatorConfig(const SimOptions& sim);

// Throws ToolError with the library's pending error text, if there is one.
// Call VOQ_ClearError() before the calls to be checked.
void ThrowIfLibraryFailed(const std::string& hint);

// The closing warnings of a long-running command about samples it lost:
// `overflowed` not read in time, and `missing` across `linkLosses` losses
// of the link.  `where` says where the losses are noted (" (annotated in the
// file)", say), or is empty.  Nothing is printed for a count of 0.
void WarnOfOverflow(unsigned long long overflowed, const char* where);
void WarnOfLinkLosses(unsigned long long linkLosses, unsigned long long missing, const char* where);

// Counters of the library's level-2 reports about batch delivery.
struct DeliveryReports {
    unsigned long realTimeViolations = 0;
    unsigned long discharges = 0;
};

class Session {
public:
    explicit Session(const CommonOptions& options);
    ~Session();   // Close(kExitFailure) unless closed

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts the simulated headset when asked, then connects.  Honours the
    // connection time-out and Ctrl-C: either leaves the program at once with
    // the right exit code (the library call cannot be abandoned otherwise).
    void Connect();
    VOQ_Headset Headset() const { return headset_; }
    const std::string& Port() const { return port_; }
    bool Simulated() const { return simulator_ != nullptr; }
    voqsim::Simulator* Simulator() const { return simulator_.get(); }

    // Reconnection after a lost link, for this many seconds (0: none).
    void KeepLink(double seconds);

    // Applies --montage / --reference when given (the library's own message
    // on a bad text).
    void ChooseMontage(const MontageOptions& montage);
    // The same, adding the trigger channel TRG when --montage was given
    // without it (with a warning, unless quiet, when the headset has none).
    void ChooseMontageWithTrigger(const MontageOptions& montage);
    // Adds a filter stage for --filter when given (the library's own message
    // on a bad text); after the montage is chosen, which would remove it.
    void AddFilter(const std::string& filter);

    // Acquisition on the device, read by the library's background thread,
    // and the impedance driver, remembered so that Stop() (and the
    // destructor) undo them.
    void StartAcquisition();
    void StartImpedanceDriver();
    // Stops the impedance driver again (nothing when this session did not
    // start it).  Throws ToolError when the device does not obey.
    void StopImpedanceDriver();
    // Stops acquisition on the device and the impedance driver if this
    // session started them.  Throws ToolError when the device does not obey.
    void Stop();

    // Stops what was started, disconnects and lets the headset and the
    // simulator go, within a few seconds even when the headset has stopped
    // answering.  `code` is the command's exit code so far: after a
    // successful command a failure to stop is reported and makes it 1; after
    // a failed one (often a headset that went away) it is not reported.
    // Returns the exit code.
    int Close(int code);

    // Prints the library's queued messages (up to the verbosity asked for)
    // on standard error.  Safe to call often.
    void DrainMessages();
    DeliveryReports Reports() const;

    // Progress text on standard error, when it is a terminal and not --quiet.
    void Progress(const std::string& text);

    const CommonOptions& Options() const { return options_; }
    const Style& ErrStyle() const { return errStyle_; }

private:
    CommonOptions options_;
    Style errStyle_;
    std::unique_ptr<voqsim::Simulator> simulator_;
    std::string linkDirectory_;   // a temporary directory holding the simulator's link
    VOQ_Headset headset_ = nullptr;
    std::string port_;
    bool acquiring_ = false;
    bool background_ = false;
    bool impedanceDriver_ = false;
};

}  // namespace voqtool

#endif
