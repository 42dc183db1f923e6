// The subcommands of the `voq` tool.  Each returns the exit code or throws
// ToolError.
#ifndef VOQ_TOOL_COMMANDS_H
#define VOQ_TOOL_COMMANDS_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Tool.h"
#include "VOQ_API.h"

namespace voqtool {

class Session;

// The headset commands connect through `session`; the caller closes it.
int RunInfo(const Options& options, Session& session);
int RunImpedance(const Options& options, Session& session);
int RunStream(const Options& options, Session& session);
int RunRecord(const Options& options, Session& session);
int RunRepair(const Options& options);
int RunView(const Options& options, Session& session);
int RunLsl(const Options& options, Session& session);
int RunSim(const Options& options);

// An electrode whose impedance the headset estimates.
struct Electrode {
    std::string name;
    VOQ_Source source;
};
// The referential electrodes of the montage except the factory reference,
// in the headset's slot order.  Throws ToolError on a library failure.
std::vector<Electrode> MeasurableElectrodes(VOQ_Headset h);

// A text block that is redrawn in place on a terminal, or printed again
// below the previous one elsewhere.
class LiveBlock {
public:
    LiveBlock(std::FILE* out, bool inPlace) : out_(out), inPlace_(inPlace) {}
    void Show(const std::vector<std::string>& lines);

private:
    std::FILE* out_;
    bool inPlace_;
    size_t shown_ = 0;
};

// One status line on standard error, redrawn in place (shown only when
// asked, normally on a terminal); other text is printed after Clear().
class StatusLine {
public:
    explicit StatusLine(bool shown) : shown_(shown) {}
    void Show(const std::string& line);
    // Clears the line so that other text can be printed.
    void Clear();
    // Leaves the last state on its own line.
    void Finish();

private:
    bool shown_;
    bool drawn_ = false;
};

// Calls `step` until it returns false or Ctrl-C comes.  After the last step,
// and at most every 250 ms before, clears `status`, prints the library's
// queued messages and calls `show` (which redraws the status).  Returns true
// when Ctrl-C ended it.
bool StepUntilDone(Session& session, StatusLine& status, const std::function<bool()>& step,
                   const std::function<void()>& show);

}  // namespace voqtool

#endif
