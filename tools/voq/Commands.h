// The subcommands of the `voq` tool.  Each returns the exit code or throws
// ToolError.
#ifndef VOQ_TOOL_COMMANDS_H
#define VOQ_TOOL_COMMANDS_H

#include <cstdio>
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
int RunSim(const Options& options);

// An electrode whose impedance the headset estimates.
struct Electrode {
    std::string name;
    VOQ_Source source;
};
// The referential electrodes of the montage except the factory reference,
// in the headset's slot order.  Throws ToolError on a library failure.
std::vector<Electrode> MeasurableElectrodes(VOQ_Headset h);

// Splits at blanks, dropping empty items.
std::vector<std::string> Words(const std::string& text);

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

}  // namespace voqtool

#endif
