// The voq tool's argument parsing and formatting, without a device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "Format.h"
#include "Session.h"
#include "Simulator.h"
#include "Tool.h"

using namespace voqtool;

namespace {

ParseResult Parse(std::initializer_list<const char*> args, Options& options) {
    std::vector<const char*> argv{"voq"};
    argv.insert(argv.end(), args.begin(), args.end());
    return ParseArguments(static_cast<int>(argv.size()), argv.data(), options);
}

}  // namespace

TEST(ToolArguments, InfoWithCommonOptionsBeforeOrAfterTheCommand) {
    Options a;
    ParseResult r = Parse({"--port", "/dev/rfcomm0", "-v", "3", "info"}, a);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(a.command, Command::Info);
    EXPECT_EQ(a.common.port, "/dev/rfcomm0");
    EXPECT_EQ(a.common.verbosity, 3);
    EXPECT_EQ(a.common.EffectiveVerbosity(), 3);

    Options b;
    r = Parse({"info", "--port", "/dev/rfcomm1", "--quiet"}, b);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(b.command, Command::Info);
    EXPECT_EQ(b.common.port, "/dev/rfcomm1");
    EXPECT_TRUE(b.common.quiet);
    EXPECT_EQ(b.common.EffectiveVerbosity(), 0);
}

TEST(ToolArguments, DefaultsAreTheDocumentedOnes) {
    Options o;
    ParseResult r = Parse({"stream"}, o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(o.command, Command::Stream);
    EXPECT_EQ(o.common.port, "");
    EXPECT_FALSE(o.common.simulate);
    EXPECT_EQ(o.common.EffectiveVerbosity(), 1);
    EXPECT_EQ(o.common.colour, ColourMode::Auto);
    EXPECT_DOUBLE_EQ(o.common.timeoutSeconds, 20.0);
    EXPECT_EQ(o.stream.format, StreamFormat::Auto);
    EXPECT_LT(o.stream.seconds, 0.0);
    EXPECT_EQ(o.stream.output, "");
    EXPECT_DOUBLE_EQ(o.stream.reconnectSeconds, 60.0);
    EXPECT_DOUBLE_EQ(o.record.reconnectSeconds, 60.0);
    EXPECT_DOUBLE_EQ(o.view.reconnectSeconds, 60.0);
}

TEST(ToolArguments, StreamOptions) {
    Options o;
    ParseResult r = Parse({"--simulate", "stream", "--montage", "F3 C3-A1/2-A2/2", "--reference", "FACTORY",
                           "--seconds", "2.5", "--format", "TSV", "-o", "out.tsv", "--reconnect", "0"},
                          o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_TRUE(o.common.simulate);
    EXPECT_EQ(o.stream.montage.montage, "F3 C3-A1/2-A2/2");
    EXPECT_EQ(o.stream.montage.reference, "FACTORY");
    EXPECT_DOUBLE_EQ(o.stream.seconds, 2.5);
    EXPECT_EQ(o.stream.format, StreamFormat::Tsv);
    EXPECT_EQ(o.stream.output, "out.tsv");
    EXPECT_DOUBLE_EQ(o.stream.reconnectSeconds, 0.0);
}

TEST(ToolArguments, ImpedanceOptions) {
    Options o;
    ParseResult r = Parse({"impedance", "--once", "--good", "10", "--fair", "30", "--window", "2"}, o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(o.command, Command::Impedance);
    EXPECT_TRUE(o.impedance.once);
    EXPECT_DOUBLE_EQ(o.impedance.goodKOhm, 10.0);
    EXPECT_DOUBLE_EQ(o.impedance.fairKOhm, 30.0);
    EXPECT_DOUBLE_EQ(o.impedance.windowSeconds, 2.0);
}

TEST(ToolArguments, SimulatorOptionsOfTheSimCommandAndOfSimulate) {
    Options o;
    ParseResult r = Parse({"sim", "--rate", "600", "--layout", "SEVEN", "--drift", "40", "--impedance-all", "12",
                           "--impedance", "C3=30", "--impedance", "F4=7.5", "--cmf-impedance", "3", "--seed", "9"},
                          o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(o.command, Command::Sim);
    EXPECT_EQ(o.sim.rate, 600);
    EXPECT_EQ(o.sim.layout, "seven");
    EXPECT_DOUBLE_EQ(o.sim.driftPpm, 40.0);
    EXPECT_DOUBLE_EQ(o.sim.impedanceKOhm, 12.0);
    EXPECT_EQ(o.sim.impedanceOf, (std::vector<std::string>{"C3=30", "F4=7.5"}));
    EXPECT_DOUBLE_EQ(o.sim.cmfKOhm, 3.0);
    EXPECT_EQ(o.sim.seed, 9u);

    Options p;
    r = Parse({"--simulate", "--sim-rate", "600", "--sim-impedance-all", "12", "--sim-jitter", "30",
               "--sim-truth", "t.txt", "--sim-serial", "2400999", "impedance", "--once"},
              p);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(p.common.sim.rate, 600);
    EXPECT_DOUBLE_EQ(p.common.sim.impedanceKOhm, 12.0);
    const voqsim::Config c = SimulatorConfig(p.common.sim);
    EXPECT_DOUBLE_EQ(c.jitterMilliseconds, 30.0);
    EXPECT_EQ(c.truthPath, "t.txt");
    EXPECT_EQ(c.serialNumber, 2400999u);
}

TEST(ToolArguments, UsageErrorsAreReportedNotThrown) {
    struct Case {
        std::vector<const char*> args;
        const char* fragment;
    };
    std::vector<Case> cases{
        {{}, "a command is required"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"stream", "--format", "xml"}, "xml"},
        {{"stream", "--seconds", "-1"}, "--seconds"},
        {{"--port", "/dev/x", "--simulate", "info"}, "excludes"},
        {{"--sim-rate", "600", "info"}, "--simulate"},
        {{"sim", "--rate", "500"}, "500"},
        {{"sim", "--layout", "nope"}, "nope"},
        {{"sim", "--impedance", "C3"}, "NAME=KOHM"},
        {{"sim", "--impedance", "C3=lots"}, "kOhm"},
        {{"sim", "--impedance-all", "120"}, "120"},
        {{"impedance", "--good", "60", "--fair", "50"}, "--good"},
        {{"-v", "9", "info"}, "verbosity"},
        {{"--simulate", "sim"}, "voq sim"},
        {{"stream", "--format", "live", "--output", "x.csv"}, "--output"},
        {{"view", "--http", "localhost:http"}, "--http"},
    };
    for (const Case& c : cases) {
        Options o;
        std::vector<const char*> argv{"voq"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ParseResult r = ParseArguments(static_cast<int>(argv.size()), argv.data(), o);
        std::string joined;
        for (const char* a : c.args) joined += std::string(a) + " ";
        EXPECT_FALSE(r.run) << joined;
        EXPECT_EQ(r.exitCode, kExitUsage) << joined;
        EXPECT_NE(r.err.find(c.fragment), std::string::npos) << joined << "-> " << r.err;
    }
}

TEST(ToolArguments, HelpAndVersionGoToStandardOutputWithSuccess) {
    Options o;
    ParseResult r = Parse({"--help"}, o);
    EXPECT_FALSE(r.run);
    EXPECT_EQ(r.exitCode, 0);
    for (const char* word : {"info", "impedance", "stream", "sim", "--port", "--simulate", "--verbosity", "--quiet"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;

    Options p;
    r = Parse({"stream", "--help"}, p);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--montage"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--format"), std::string::npos);

    Options q;
    r = Parse({"--version"}, q);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("1.18.2"), std::string::npos) << r.out;
}

TEST(ToolArguments, ImpedanceItems) {
    EXPECT_EQ(ParseImpedanceItem("C3=12.5"), (std::pair<std::string, double>("C3", 12.5)));
    EXPECT_THROW(ParseImpedanceItem("=3"), ToolError);
    EXPECT_THROW(ParseImpedanceItem("C3="), ToolError);
    EXPECT_THROW(ParseImpedanceItem("C3=-1"), ToolError);
    EXPECT_THROW(ParseImpedanceItem("C3=91"), ToolError);
    EXPECT_THROW(ParseImpedanceItem("C3=1x"), ToolError);
}

TEST(ToolSimulatorConfig, CarriesTheOptionsAndChecksElectrodeNames) {
    SimOptions s;
    s.rate = 600;
    s.layout = "standard24";
    s.impedanceKOhm = 12;
    s.impedanceOf = {"c3=30"};
    s.cmfKOhm = 3;
    s.driftPpm = -20;
    s.seed = 7;
    voqsim::Config c = SimulatorConfig(s);
    EXPECT_EQ(c.samplingRate, 600);
    EXPECT_EQ(c.layout, "standard24");
    EXPECT_DOUBLE_EQ(c.impedanceAllKOhm, 12.0);
    EXPECT_DOUBLE_EQ(c.impedanceKOhm.at("c3"), 30.0);
    EXPECT_DOUBLE_EQ(c.cmfImpedanceKOhm, 3.0);
    EXPECT_DOUBLE_EQ(c.driftPpm, -20.0);
    EXPECT_EQ(c.seed, 7u);

    s.impedanceOf = {"Q9=3"};
    try {
        SimulatorConfig(s);
        FAIL() << "an unknown electrode was accepted";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("Q9"), std::string::npos);
        EXPECT_NE(e.Hint().find("C3"), std::string::npos);
    }
}

TEST(ToolFormat, OneLineErrorsWithHint) {
    Style plain(false);
    EXPECT_EQ(ErrorLine("Failed to open COM port \"/dev/x\"", "check it", plain),
              "voq: error: Failed to open COM port \"/dev/x\" (hint: check it)");
    EXPECT_EQ(ErrorLine("first bad\nsecond bad\n", "", plain), "voq: error: first bad; second bad");
    Style colour(true);
    std::string line = ErrorLine("x", "y", colour);
    EXPECT_NE(line.find("\x1b[31m"), std::string::npos);
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(ToolFormat, SampleValuesAndFields) {
    EXPECT_EQ(SampleText(12.34567, false), "12.346");
    EXPECT_EQ(SampleText(-0.0001, false), "0.000");
    EXPECT_EQ(SampleText(-2.5, false), "-2.500");
    EXPECT_EQ(SampleText(5.0, true), "5");
    EXPECT_EQ(Field("Fp1", ','), "Fp1");
    EXPECT_EQ(Field("a,b", ','), "\"a,b\"");
    EXPECT_EQ(Field("say \"x\"", ','), "\"say \"\"x\"\"\"");
    EXPECT_EQ(Field("a\tb", '\t'), "a b");
    EXPECT_EQ(Field("a,b", '\t'), "a,b");
}

TEST(ToolFormat, ContactGrades) {
    EXPECT_EQ(Grade(-1.0, 20, 50), Contact::Unknown);
    EXPECT_EQ(Grade(0.0, 20, 50), Contact::Good);
    EXPECT_EQ(Grade(20.0, 20, 50), Contact::Good);
    EXPECT_EQ(Grade(20.1, 20, 50), Contact::Fair);
    EXPECT_EQ(Grade(50.0, 20, 50), Contact::Fair);
    EXPECT_EQ(Grade(50.1, 20, 50), Contact::Poor);
    EXPECT_STREQ(ContactText(Contact::Poor), "poor");
    EXPECT_EQ(ImpedanceText(-1.0), "--");
    EXPECT_EQ(ImpedanceText(12.345), "12.3");
    EXPECT_EQ(ColouredContact(Contact::Good, Style(false)), "good");
    EXPECT_EQ(ColouredContact(Contact::Good, Style(true)), "\x1b[32mgood\x1b[0m");
}

TEST(ToolFormat, ColumnNamesAreUnique) {
    EXPECT_EQ(ColumnNames({"Fp1", "F3", ""}, {"Fp1-A1/2-A2/2", "F3-Cz", "-Cz"}),
              (std::vector<std::string>{"Fp1", "F3", "-Cz"}));
    EXPECT_EQ(ColumnNames({"F3", "F3", "F3"}, {"F3-A1", "F3-Cz", "F3-Cz"}),
              (std::vector<std::string>{"F3", "F3-Cz", "F3-Cz#2"}));
}

TEST(ToolFormat, RootMeanSquare) {
    EXPECT_DOUBLE_EQ(Rms({}), 0.0);
    EXPECT_DOUBLE_EQ(Rms({3.0, -3.0}), 3.0);
    EXPECT_NEAR(Rms({1.0, 2.0, 3.0, 4.0}), 2.7386127875, 1e-9);
}

TEST(ToolFormat, ColourOnlyOnATerminalAndWithoutNoColor) {
    // A terminal to write to: the slave side of a pseudo-terminal.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    int notTerminal = open("/dev/null", O_WRONLY);
    ASSERT_GE(notTerminal, 0);

    const char* saved = std::getenv("NO_COLOR");
    std::string savedText = saved ? saved : "";
    const char* savedTerm = std::getenv("TERM");
    std::string savedTermText = savedTerm ? savedTerm : "";
    setenv("TERM", "xterm", 1);
    unsetenv("NO_COLOR");
    EXPECT_TRUE(UseColour(ColourMode::Auto, terminal));
    EXPECT_FALSE(UseColour(ColourMode::Auto, notTerminal));
    EXPECT_FALSE(UseColour(ColourMode::Never, terminal));
    EXPECT_TRUE(UseColour(ColourMode::Always, notTerminal));
    setenv("NO_COLOR", "1", 1);
    EXPECT_FALSE(UseColour(ColourMode::Auto, terminal));
    EXPECT_TRUE(UseColour(ColourMode::Always, terminal));
    setenv("NO_COLOR", "", 1);   // empty counts as unset
    EXPECT_TRUE(UseColour(ColourMode::Auto, terminal));

    if (saved) setenv("NO_COLOR", savedText.c_str(), 1); else unsetenv("NO_COLOR");
    if (savedTerm) setenv("TERM", savedTermText.c_str(), 1); else unsetenv("TERM");
    close(notTerminal);
    close(terminal);
    close(master);
}
