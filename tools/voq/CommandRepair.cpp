// `voq repair FILE...`: recordings cut short by a crash made whole again,
// with the events of their events files.  No headset.
#include <unistd.h>

#include <cstdio>

#include "Commands.h"
#include "Format.h"
#include "RecordPlan.h"
#include "Repair.h"

namespace voqtool {

int RunRepair(const Options& options) {
    const Style errStyle(UseColour(options.common.colour, STDERR_FILENO));
    int code = kExitOK;
    for (const std::string& file : options.repair.files) {
        try {
            const voqrec::RepairResult result = voqrec::RepairRecording(file);
            std::printf("%s\n", result.report.c_str());
        } catch (const voqrec::RecorderError& e) {
            // Each file on its own: one that cannot be repaired stops none
            // of the others.
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", ErrorLine(e.what(), "nothing was changed", errStyle).c_str());
            code = kExitFailure;
        }
    }
    std::fflush(stdout);
    return code;
}

}  // namespace voqtool
