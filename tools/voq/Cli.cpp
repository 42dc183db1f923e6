// Command-line parsing of the `voq` tool.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "Simulator.h"
#include "Tool.h"
#include "VOQ_API.h"
#include "ViewSafety.h"
#include "voq/Text.h"

namespace voqtool {

namespace {

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

// A CLI11 check from one of the item parsers: "" when the item parses, else
// the parser's message.
template <typename Parser>
std::function<std::string(const std::string&)> ItemCheck(Parser parse) {
    return [parse](const std::string& item) -> std::string {
        try {
            parse(item);
            return "";
        } catch (const ToolError& e) {
            return e.what();
        }
    };
}

// Adds the simulator's settings to `app`, each option named `prefix` + name.
// Returns the options so that the caller can tie them to another option.
std::vector<CLI::Option*> AddSimOptions(CLI::App* app, SimOptions& sim, const std::string& prefix,
                                        const std::string& group) {
    std::vector<CLI::Option*> added;
    added.push_back(app->add_option("--" + prefix + "rate", sim.rate,
                                    "Sampling rate of the simulated headset, samples per second")
                        ->check(CLI::IsMember({300, 600}))
                        ->capture_default_str());
    std::vector<std::string> layouts = voqsim::LayoutNames();
    added.push_back(app->add_option("--" + prefix + "layout", sim.layout,
                                    "Electrode layout: " + JoinNames(layouts))
                        ->transform(CLI::IsMember(layouts, CLI::ignore_case))
                        ->capture_default_str());
    added.push_back(app->add_option("--" + prefix + "drift", sim.driftPpm,
                                    "Clock drift of the headset against this computer, ppm")
                        ->check(CLI::Range(-1000.0, 1000.0))
                        ->capture_default_str());
    added.push_back(app->add_option("--" + prefix + "impedance-all", sim.impedanceKOhm,
                                    "Impedance of every electrode not named with --" + prefix + "impedance, kOhm")
                        ->check(CLI::Range(0.0, 90.0))
                        ->capture_default_str());
    added.push_back(app->add_option("--" + prefix + "impedance", sim.impedanceOf,
                                    "Impedance of one electrode, NAME=KOHM (repeatable)")
                        ->type_name("NAME=KOHM")
                        ->check(ItemCheck(ParseImpedanceItem)));
    added.push_back(app->add_option("--" + prefix + "cmf-impedance", sim.cmfKOhm,
                                    "Common-mode impedance, kOhm")
                        ->check(CLI::Range(0.0, 50.0))
                        ->capture_default_str());
    added.push_back(app->add_option("--" + prefix + "seed", sim.seed,
                                    "Seed of the simulated signals")
                        ->capture_default_str());
    added.push_back(app->add_option("--" + prefix + "serial", sim.serial,
                                    "Serial number the simulated headset reports (default by layout)")
                        ->check(CLI::Range(uint32_t(1), uint32_t(4294967295u))));
    added.push_back(app->add_option("--" + prefix + "jitter", sim.jitterMs,
                                    "Hold each block back by a random 0 to MS milliseconds, in order")
                        ->type_name("MS")
                        ->check(CLI::Range(0.0, 10000.0)));
    added.push_back(app->add_option("--" + prefix + "truth", sim.truthPath,
                                    "Append \"VALUE SECONDS\" to FILE for every trigger onset: the "
                                    "monotonic-clock time its sample was measured")
                        ->type_name("FILE"));
    added.push_back(app->add_option("--" + prefix + "link", sim.linkPath,
                                    "Keep a symbolic link at PATH to the simulated headset's current "
                                    "pseudo-terminal (with --simulate: the port used)")
                        ->type_name("PATH"));
    added.push_back(app->add_option("--" + prefix + "drop", sim.drops,
                                    "Lose the link AT seconds after acquisition first starts and come back "
                                    "SECONDS later on a new pseudo-terminal (repeatable)")
                        ->type_name("AT:SECONDS")
                        ->check(ItemCheck(ParseDropItem)));
    for (CLI::Option* o : added) o->group(group);
    return added;
}

void AddMontageOptions(CLI::App* app, MontageOptions& m) {
    app->add_option("--montage", m.montage,
                    "Channels, e.g. \"F3 C3 Cz-Pz\" (\"FACTORY\": every electrode)");
    app->add_option("--reference", m.reference,
                    "Reference subtracted from single-electrode channels, e.g. \"A1/2+A2/2\" "
                    "(\"FACTORY\": the headset's own)");
}

void AddReconnectOption(CLI::App* app, double& seconds) {
    app->add_option("--reconnect", seconds,
                    "After a lost link, keep trying to reconnect for this many seconds and go on "
                    "(0: stop with an error)")
        ->type_name("S")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
}

void AddFilterOption(CLI::App* app, std::string& filter) {
    app->add_option("--filter", filter,
                    "Filter the EEG channels, e.g. \"bandpass 1 40; notch 50\": a ;-separated chain of "
                    "highpass F, lowpass F, bandpass LO HI, bandstop LO HI (each with an optional order N, "
                    "default 4), notch F (optional q Q, harmonics K) and car (common average reference)")
        ->type_name("TEXT");
}

std::string VersionText() {
    const char* v = VOQ_GetAPIVersion();
    return std::string("voq, VOQ SDK ") + (v ? v : "?");
}

}  // namespace

std::pair<std::string, double> ParseImpedanceItem(const std::string& item) {
    size_t eq = item.find('=');
    std::string name = eq == std::string::npos ? "" : item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (name.empty() || value.empty())
        throw ToolError("\"" + item + "\" is not NAME=KOHM, e.g. C3=12");
    errno = 0;
    char* end = nullptr;
    double kOhm = std::strtod(value.c_str(), &end);
    if (errno != 0 || end == value.c_str() || *end != '\0' || !(kOhm >= 0.0) || kOhm > 90.0)
        throw ToolError("\"" + item + "\": the impedance must be a number of kOhm from 0 to 90");
    return {name, kOhm};
}

std::pair<double, double> ParseDropItem(const std::string& item) {
    const size_t colon = item.find(':');
    const std::string at = colon == std::string::npos ? "" : item.substr(0, colon);
    const std::string seconds = colon == std::string::npos ? "" : item.substr(colon + 1);
    char* end = nullptr;
    errno = 0;
    const double a = std::strtod(at.c_str(), &end);
    const bool atOk = !at.empty() && errno == 0 && *end == '\0' && a >= 0.0;
    const double s = std::strtod(seconds.c_str(), &end);
    const bool secondsOk = !seconds.empty() && errno == 0 && *end == '\0' && s > 0.0;
    if (!atOk || !secondsOk)
        throw ToolError("\"" + item + "\" is not AT:SECONDS (AT >= 0, SECONDS > 0), e.g. 6:3");
    return {a, s};
}

ParseResult ParseArguments(int argc, const char* const* argv, Options& o) {
    CLI::App app("voq: talk to a VOQ EEG headset (or a simulated one) from the terminal.", "voq");
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionText());
    app.footer(
        "The headset's serial port comes from --port or the VOQSerialPort variable.\n"
        "Try it without a headset: voq --simulate info");

    std::string colour = "auto";
    app.add_option("--port", o.common.port,
                   "Serial device of the headset (default: the VOQSerialPort variable)")
        ->type_name("PATH");
    CLI::Option* simulate = app.add_flag(
        "--simulate", o.common.simulate,
        "Use a simulated headset started inside this program instead of a real one");
    app.get_option("--port")->excludes(simulate);
    app.add_option("-v,--verbosity", o.common.verbosity,
                   "Show library messages up to this level (1 most important .. 7) on standard "
                   "error (default 1, 0 with --quiet)")
        ->check(CLI::Range(0, 7))
        ->type_name("N");
    app.add_flag("-q,--quiet", o.common.quiet, "Print only the results, no progress or messages");
    app.add_option("--color", colour, "Colour: auto (on a terminal, unless NO_COLOR is set), "
                                      "always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    app.add_option("--timeout", o.common.timeoutSeconds,
                   "Give up connecting after this many seconds (0: only the library's own limits)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    for (CLI::Option* opt : AddSimOptions(&app, o.common.sim, "sim-", "Simulated headset (with --simulate)"))
        opt->needs(simulate);

    CLI::App* info = app.add_subcommand(
        "info", "Connect and show the headset: identity, sources and their roles, montage, "
                "reference");
    info->callback([&o] { o.command = Command::Info; });

    CLI::App* imp = app.add_subcommand(
        "impedance", "Run the impedance check: a live table of the electrodes' contact");
    imp->callback([&o] { o.command = Command::Impedance; });
    imp->add_flag("--once", o.impedance.once, "Print one settled snapshot and exit");
    imp->add_option("--good", o.impedance.goodKOhm, "Impedances up to this are good, kOhm")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    imp->add_option("--fair", o.impedance.fairKOhm,
                    "Impedances up to this are fair (above: poor), kOhm")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    imp->add_option("--window", o.impedance.windowSeconds,
                    "Averaging window of the estimates, seconds")
        ->check(CLI::Range(0.1, 10.0))
        ->capture_default_str();
    imp->add_option("--refresh", o.impedance.refreshSeconds, "Refresh period of the table, seconds")
        ->check(CLI::Range(0.05, 10.0))
        ->capture_default_str();
    imp->add_option("--seconds", o.impedance.seconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    AddMontageOptions(imp, o.impedance.montage);

    CLI::App* stream = app.add_subcommand(
        "stream", "Stream the montage channels: CSV or TSV rows, or a live view");
    stream->callback([&o] { o.command = Command::Stream; });
    AddMontageOptions(stream, o.stream.montage);
    AddFilterOption(stream, o.stream.filter);
    AddReconnectOption(stream, o.stream.reconnectSeconds);
    stream->add_option("--seconds", o.stream.seconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    std::string format;
    stream->add_option("--format", format,
                       "csv, tsv or live (default: live on a terminal, else csv)")
        ->check(CLI::IsMember({"csv", "tsv", "live"}, CLI::ignore_case));
    stream->add_option("-o,--output", o.stream.output, "Write the rows to this file")
        ->type_name("FILE");
    std::string timestamps = "relative";
    stream->add_option("--timestamps", timestamps,
                       "The time column: relative (seconds from the first sample at the sampling rate) or "
                       "host (when each sample was measured, in seconds of the host's monotonic clock)")
        ->check(CLI::IsMember({"relative", "host"}, CLI::ignore_case))
        ->capture_default_str();

    CLI::App* record = app.add_subcommand(
        "record", "Record the montage channels and the trigger to a BDF+ (OUT.bdf, 24-bit) or EDF+ "
                  "(OUT.edf, 16-bit) file, with trigger, alarm and data-loss annotations");
    record->callback([&o] { o.command = Command::Record; });
    record->add_option("output", o.record.output, "The file: OUT.bdf or OUT.edf")
        ->required()
        ->type_name("OUT");
    AddMontageOptions(record, o.record.montage);
    AddFilterOption(record, o.record.filter);
    AddReconnectOption(record, o.record.reconnectSeconds);
    record->add_option("--seconds", o.record.seconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    record->add_option("--segment-minutes", o.record.segmentMinutes,
                       "Continue in a new numbered file (OUT-002.bdf, OUT-003.bdf, ...) every so many "
                       "minutes, so that a crash leaves at most the open one to repair; 0: one file")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    record->add_flag("--impedance-first", o.record.impedanceFirst,
                     "Measure the electrode impedances first and note them at the start of the file");
    record->add_flag("--overwrite", o.record.overwrite, "Replace existing files of that name");

    CLI::App* repair = app.add_subcommand(
        "repair", "Make recordings cut short by a crash whole again: keep their complete data records and "
                  "write the events of their events files (OUT_events.tsv) into them");
    repair->callback([&o] { o.command = Command::Repair; });
    repair->add_option("files", o.repair.files, "The recording files: OUT.bdf or OUT.edf")
        ->required()
        ->type_name("FILE");

    CLI::App* view = app.add_subcommand(
        "view", "Serve a live view of the headset to a web browser: traces, triggers, state, and the "
                "electrodes' contact on /impedance");
    view->callback([&o] { o.command = Command::View; });
    view->add_option("--http", o.view.http,
                     "Address to serve on, HOST:PORT; another than the loopback address lets anyone on "
                     "that network watch")
        ->type_name("HOST:PORT")
        ->capture_default_str();
    AddMontageOptions(view, o.view.montage);
    AddFilterOption(view, o.view.filter);
    AddReconnectOption(view, o.view.reconnectSeconds);
    view->add_option("--seconds", o.view.seconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    view->add_option("--good", o.view.goodKOhm, "Contact view: impedances up to this are good, kOhm")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    view->add_option("--fair", o.view.fairKOhm, "Contact view: impedances up to this are fair (above: poor), kOhm")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();

    CLI::App* lsl = app.add_subcommand(
        "lsl", "Stream the montage channels and the trigger on the Lab Streaming Layer until Ctrl-C: "
               "\"VOQ <serial number>\" (EEG) and \"VOQ <serial number> markers\" (trigger, alarm "
               "and link markers)");
    lsl->callback([&o] { o.command = Command::Lsl; });
    AddMontageOptions(lsl, o.lsl.montage);
    AddFilterOption(lsl, o.lsl.filter);
    AddReconnectOption(lsl, o.lsl.reconnectSeconds);
    lsl->add_option("--seconds", o.lsl.seconds, "Stop after this many seconds (default: Ctrl-C)")
        ->check(CLI::NonNegativeNumber);

    CLI::App* sim = app.add_subcommand(
        "sim", "Run a simulated headset on a pseudo-terminal until Ctrl-C; prints its path");
    sim->callback([&o] { o.command = Command::Sim; });
    AddSimOptions(sim, o.sim, "", "Simulated headset");

    for (CLI::App* sub : {info, imp, stream, record, repair, view, lsl, sim}) sub->fallthrough();

    ParseResult result;
    std::ostringstream out, err;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        result.exitCode = app.exit(e, out, err);
        result.out = out.str();
        return result;
    } catch (const CLI::CallForAllHelp& e) {
        result.exitCode = app.exit(e, out, err);
        result.out = out.str();
        return result;
    } catch (const CLI::CallForVersion& e) {
        result.exitCode = app.exit(e, out, err);
        result.out = out.str();
        return result;
    } catch (const CLI::ParseError& e) {
        result.exitCode = kExitUsage;
        result.err = e.what();
        if (app.get_subcommands().empty()) {
            std::vector<std::string> rest = app.remaining();
            result.err = rest.empty() ? std::string("a command is required")
                                      : "unknown command \"" + rest.front() + "\"";
            result.err += ": info, impedance, stream, record, repair, view, lsl or sim";
        }
        return result;
    }

    o.common.colour = colour == "always" ? ColourMode::Always
                    : colour == "never"  ? ColourMode::Never
                                         : ColourMode::Auto;
    format = Lower(format);
    o.stream.format = format == "csv" ? StreamFormat::Csv
                    : format == "tsv" ? StreamFormat::Tsv
                    : format == "live" ? StreamFormat::Live
                                       : StreamFormat::Auto;
    timestamps = Lower(timestamps);
    o.stream.hostTimes = timestamps == "host";
    if (o.stream.format == StreamFormat::Live && !o.stream.output.empty()) {
        result.exitCode = kExitUsage;
        result.err = "--output takes csv or tsv rows, not the live view";
        return result;
    }
    if (o.impedance.goodKOhm > o.impedance.fairKOhm || o.view.goodKOhm > o.view.fairKOhm) {
        result.exitCode = kExitUsage;
        result.err = "--good must not be above --fair";
        return result;
    }
    if (o.command == Command::View) {
        try {
            ParseListenAddress(o.view.http);
        } catch (const ToolError& e) {
            result.exitCode = kExitUsage;
            result.err = e.what();
            return result;
        }
    }
    if (o.command == Command::Sim && (o.common.simulate || !o.common.port.empty())) {
        result.exitCode = kExitUsage;
        result.err = "voq sim runs a simulated headset itself: it takes neither --port nor --simulate";
        return result;
    }
    result.run = true;
    return result;
}

}  // namespace voqtool
