// The `voq` program: parsing, dispatch and error reports.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "Session.h"
#include "Tool.h"

namespace voqtool {

void LiveBlock::Show(const std::vector<std::string>& lines) {
    std::string text;
    if (inPlace_ && shown_ > 0) {
        // Back to the first line of the previous block, then clear below.
        text += "\x1b[" + std::to_string(shown_) + "F\x1b[J";
    } else if (!inPlace_ && shown_ > 0) {
        text += "\n";
    }
    for (std::string line : lines) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    shown_ = lines.size();
}

void StatusLine::Show(const std::string& line) {
    if (!shown_) return;
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void StatusLine::Clear() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    drawn_ = false;
}

void StatusLine::Finish() {
    if (!drawn_) return;
    std::fputs("\n", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

bool StepUntilDone(Session& session, StatusLine& status, const std::function<bool()>& step,
                   const std::function<void()>& show) {
    auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    for (;;) {
        if (Interrupted()) return true;
        const bool more = step();
        const auto now = std::chrono::steady_clock::now();
        if (!more || now - lastShown >= std::chrono::milliseconds(250)) {
            lastShown = now;
            status.Clear();
            session.DrainMessages();
            show();
        }
        if (!more) return false;
    }
}

int Main(int argc, char** argv) {
    // Name the system's time zone explicitly when TZ is unset (the same zone
    // the C library would use) and read it once, before any thread starts.
    // With TZ unset the C library renews its copy of the zone name on every
    // mktime(); the headset's clock and the simulated headset's clock call it
    // from two threads, and the sanitizers cannot see the C library's own
    // lock around that.
    if (std::getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
    tzset();

    Options options;
    ParseResult parsed = ParseArguments(argc, argv, options);
    Style errStyle(UseColour(options.common.colour, STDERR_FILENO));
    if (!parsed.run) {
        if (!parsed.out.empty()) {
            std::fputs(parsed.out.c_str(), stdout);
            if (parsed.out.back() != '\n') std::fputs("\n", stdout);
        }
        if (!parsed.err.empty())
            std::fprintf(stderr, "%s\n",
                         ErrorLine(parsed.err, "see 'voq --help' and 'voq COMMAND --help'", errStyle)
                             .c_str());
        return parsed.exitCode;
    }

    InstallInterruptHandler();
    int code = kExitFailure;
    // The session outlives the command, so that its error is reported before
    // the headset is stopped and let go.
    Session session(options.common);
    try {
        switch (options.command) {
        case Command::Info: code = RunInfo(options, session); break;
        case Command::Impedance: code = RunImpedance(options, session); break;
        case Command::Stream: code = RunStream(options, session); break;
        case Command::Record: code = RunRecord(options, session); break;
        case Command::Repair: code = RunRepair(options); break;
        case Command::Lsl: code = RunLsl(options, session); break;
        case Command::View: code = RunView(options, session); break;
        case Command::Sim: code = RunSim(options); break;
        case Command::None: code = kExitUsage; break;
        }
    } catch (const ToolError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", ErrorLine(e.what(), e.Hint(), errStyle).c_str());
        code = e.ExitCode();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", ErrorLine(e.what(), "", errStyle).c_str());
        code = kExitFailure;
    }
    code = session.Close(code);
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}

}  // namespace voqtool
