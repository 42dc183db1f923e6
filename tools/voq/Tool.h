// The `voq` command-line tool: shared declarations.
//
// Exit codes: 0 success (also a Ctrl-C that ends an open-ended run), 1 a
// failure (headset, port, file), 2 a usage error, 130 a Ctrl-C that cut a
// finite run short.
#ifndef VOQ_TOOL_TOOL_H
#define VOQ_TOOL_TOOL_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace voqtool {

const int kExitOK = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;
const int kExitInterrupted = 130;

// A failure the user should read: one line of text and a hint on what to do.
class ToolError : public std::runtime_error {
public:
    ToolError(const std::string& message, const std::string& hint = "",
              int exitCode = kExitFailure)
        : std::runtime_error(message), hint_(hint), exitCode_(exitCode) {}
    const std::string& Hint() const { return hint_; }
    int ExitCode() const { return exitCode_; }

private:
    std::string hint_;
    int exitCode_;
};

// Settings of the simulated headset (`voq sim`, and `--simulate`).
struct SimOptions {
    int rate = 300;
    std::string layout = "standard24";
    double driftPpm = 0.0;
    double impedanceKOhm = 5.0;
    std::vector<std::string> impedanceOf;   // "NAME=KOHM" items
    double cmfKOhm = 2.0;
    uint64_t seed = 1;
    uint32_t serial = 0;         // serial number reported; 0: by layout
    double jitterMs = 0.0;       // blocks held back by 0 to this many ms
    std::string truthPath;       // trigger truth file, "" for none
    std::string linkPath;        // symbolic link to the current terminal, "" for none
    std::vector<std::string> drops;   // "AT:SECONDS" items: link drops
};

enum class ColourMode { Auto, Always, Never };

struct CommonOptions {
    std::string port;          // empty: the VOQSerialPort variable
    bool simulate = false;
    int verbosity = -1;        // -1: not given (1, or 0 with --quiet)
    bool quiet = false;
    ColourMode colour = ColourMode::Auto;
    double timeoutSeconds = 20.0;   // connection time-out; 0 waits for the library
    SimOptions sim;

    // The library verbosity the user asked for.
    int EffectiveVerbosity() const { return verbosity >= 0 ? verbosity : (quiet ? 0 : 1); }
};

struct MontageOptions {
    std::string montage;       // empty: keep the headset's montage
    std::string reference;     // empty: keep the headset's reference
};

struct ImpedanceOptions {
    MontageOptions montage;
    bool once = false;
    double goodKOhm = 20.0;
    double fairKOhm = 50.0;
    double windowSeconds = 1.0;
    double refreshSeconds = 0.5;
    double seconds = -1.0;     // negative: until Ctrl-C
};

enum class StreamFormat { Auto, Csv, Tsv, Live };

struct StreamOptions {
    MontageOptions montage;
    std::string filter;        // empty: unfiltered
    double seconds = -1.0;     // negative: until Ctrl-C
    StreamFormat format = StreamFormat::Auto;
    std::string output;        // empty: standard output
    bool hostTimes = false;    // time column: the host time of each sample
    double reconnectSeconds = 60.0;   // after a lost link; 0: stop at once
};

struct RecordOptions {
    MontageOptions montage;
    std::string filter;        // empty: unfiltered
    std::string output;        // OUT.bdf (BDF+) or OUT.edf (EDF+)
    double seconds = -1.0;     // negative: until Ctrl-C
    double segmentMinutes = 30.0;   // 0: one file
    bool impedanceFirst = false;
    bool overwrite = false;
    double reconnectSeconds = 60.0;   // after a lost link; 0: stop at once
};

struct RepairOptions {
    std::vector<std::string> files;
};

struct ViewOptions {
    MontageOptions montage;
    std::string filter;        // empty: unfiltered at first (the page may choose)
    std::string http = "127.0.0.1:8765";   // HOST:PORT to serve the page on
    double seconds = -1.0;     // negative: until Ctrl-C
    double goodKOhm = 20.0;    // contact marks, as for `voq impedance`
    double fairKOhm = 50.0;
    double reconnectSeconds = 60.0;   // after a lost link; 0: stop at once
};

struct LslOptions {
    MontageOptions montage;
    std::string filter;        // empty: unfiltered
    double seconds = -1.0;     // negative: until Ctrl-C
    double reconnectSeconds = 60.0;   // after a lost link; 0: stop at once
};

enum class Command { None, Info, Impedance, Stream, Record, Repair, View, Lsl, Sim };

struct Options {
    Command command = Command::None;
    CommonOptions common;
    ImpedanceOptions impedance;
    StreamOptions stream;
    RecordOptions record;
    RepairOptions repair;
    ViewOptions view;
    LslOptions lsl;
    SimOptions sim;            // options of `voq sim`
};

// Result of parsing the command line.
struct ParseResult {
    bool run = false;          // false: exit at once with `exitCode`
    int exitCode = kExitOK;
    std::string out;           // help or version text for standard output
    std::string err;           // error line for standard error
};

ParseResult ParseArguments(int argc, const char* const* argv, Options& options);

// The whole program: parses, runs the command, reports errors.
int Main(int argc, char** argv);

// Splits "NAME=KOHM"; throws ToolError on a malformed item.
std::pair<std::string, double> ParseImpedanceItem(const std::string& item);
// Splits "AT:SECONDS" (a link drop of the simulator); throws ToolError on a
// malformed item.
std::pair<double, double> ParseDropItem(const std::string& item);

}  // namespace voqtool

#endif
