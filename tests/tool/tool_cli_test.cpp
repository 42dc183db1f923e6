// The voq program, run as a user would, against the simulated headset: exit
// codes, the shape of its output, its error reports and Ctrl-C.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "RunTool.h"
#include "Simulator.h"

namespace {

const std::vector<EnvChange> kNoDefaultPort{{"VOQSerialPort", "", true}};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Describe(const ToolResult& r) {
    return "exit " + std::to_string(r.exitCode) + " signal " + std::to_string(r.signal) +
           (r.timedOut ? " (timed out)" : "") + "\n--- stdout:\n" + r.out.substr(0, 3000) +
           "\n--- stderr:\n" + r.err.substr(0, 3000);
}

// The error report is one line on standard error.
void ExpectOneErrorLine(const ToolResult& r) {
    std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 1u) << Describe(r);
    EXPECT_EQ(lines[0].rfind("voq: error: ", 0), 0u) << lines[0];
    EXPECT_TRUE(Contains(lines[0], "(hint: ")) << lines[0];
}

double Number(const std::string& text) {
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    EXPECT_TRUE(end != text.c_str() && *end == '\0') << "not a number: '" << text << "'";
    return v;
}

// Counts the commands of a family with a given 16-bit sub-command, and
// gives the position of the last one in the record (-1 when none).
struct Found {
    int count = 0;
    long last = -1;
};
Found FindCommands(const std::vector<voqsim::CommandRecord>& commands, int family, int subCommand) {
    Found f;
    for (size_t i = 0; i < commands.size(); ++i) {
        const voqsim::CommandRecord& c = commands[i];
        if (c.family == family && c.crcValid && c.payload.size() >= 2 && c.payload[0] == subCommand &&
            c.payload[1] == 0) {
            ++f.count;
            f.last = static_cast<long>(i);
        }
    }
    return f;
}

// ---------------------------------------------------------------------------
// Errors a user meets before any headset answers: fast, one line, a hint.

TEST(ToolErrors, NoPortAndNoVariable) {
    ToolResult r = RunTool({"info"}, 20, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "the serial port name must be given explicitly, because the VOQSerialPort "
                                "environment variable is empty"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "--port")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(ToolErrors, PortThatDoesNotExist) {
    ToolResult r = RunTool({"--port", "/dev/voq-no-such-port", "stream", "--seconds", "1"}, 20, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "Failed to open COM port \"/dev/voq-no-such-port\"")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;

    // The same through the variable.
    r = RunTool({"impedance", "--once"}, 20, {{"VOQSerialPort", "/dev/voq-no-such-port"}});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "Failed to open COM port \"/dev/voq-no-such-port\"")) << r.err;
}

TEST(ToolErrors, NotASerialDevice) {
    ToolResult r = RunTool({"--port", "/dev/null", "info"}, 20, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "COM port \"/dev/null\"")) << r.err;
}

TEST(ToolErrors, DeviceThatDoesNotAnswer) {
    // A pseudo-terminal on which nobody answers.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string path = ptsname(master);

    ToolResult r = RunTool({"--port", path, "--timeout", "3", "info"}, 30, kNoDefaultPort);
    close(master);
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "no answer from the headset on " + path + " within 3 s")) << r.err;
    EXPECT_LT(r.seconds, 10.0) << "gave up only after " << r.seconds << " s";
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(ToolErrors, UsageErrorsExitWithTwo) {
    ToolResult r = RunTool({"stream", "--format", "xml"}, 10, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 2) << Describe(r);
    ExpectOneErrorLine(r);
    r = RunTool({}, 10, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 2) << Describe(r);
    ExpectOneErrorLine(r);
    r = RunTool({"--help"}, 10, kNoDefaultPort);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(Contains(r.out, "impedance")) << r.out;
}

TEST(ToolErrors, BadMontageTextGivesTheLibrarysMessages) {
    ToolResult r = RunTool({"--simulate", "stream", "--montage", "F3 Q7 F3*x", "--seconds", "1"}, 60);
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "Failed to match desired source \"Q7\"")) << r.err;
    EXPECT_TRUE(Contains(r.err, "could not interpret \"F3*x\" as a valid channel specification")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

// ---------------------------------------------------------------------------
// The subcommands against the built-in simulator.

TEST(ToolInfo, ShowsIdentitySourcesMontageAndReference) {
    ToolResult r = RunTool({"--simulate", "-v", "2", "info"}, 60, kNoDefaultPort);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(Contains(r.out, "Headset on /dev/")) << r.out;
    EXPECT_TRUE(Contains(r.out, "(simulated)")) << r.out;
    EXPECT_TRUE(Contains(r.out, "'SerialNumber' : 2400117,")) << r.out;
    EXPECT_TRUE(Contains(r.out, "'SamplingRate' : 300,")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Sources")) << r.out;
    EXPECT_TRUE(Contains(r.out, "EEG electrode")) << r.out;
    EXPECT_TRUE(Contains(r.out, "factory reference")) << r.out;
    EXPECT_TRUE(Contains(r.out, "accelerometer")) << r.out;
    EXPECT_TRUE(Contains(r.out, "auxiliary sensor")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Montage (")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Fp1-A1/2-A2/2")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Reference A1/2+A2/2")) << r.out;
    // -v 2 shows the library's level-2 messages.
    EXPECT_TRUE(Contains(r.err, "Connected to /dev/")) << r.err;
    // Every electrode of the layout is listed with its role.
    for (const char* name : {"Fp1", "O2", "A1", "A2", "X1"})
        EXPECT_TRUE(Contains(r.out, std::string("  ") + name + " ")) << name << "\n" << r.out;
}

TEST(ToolStream, CsvHasAHeaderAndOneRowPerSample) {
    ToolResult r = RunTool({"--simulate", "--quiet", "stream", "--format", "csv", "--seconds", "2"}, 60,
                           kNoDefaultPort);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(r.err.empty()) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    std::vector<std::string> header = Split(lines[0], ',');
    ASSERT_GE(header.size(), 2u);
    EXPECT_EQ(header[0], "time");
    EXPECT_EQ(header[1], "Fp1");
    for (const char* name : {"Cz", "O2", "TRG"})
        EXPECT_NE(std::find(header.begin(), header.end(), name), header.end()) << name << ": " << lines[0];
    ASSERT_EQ(lines.size() - 1, 600u) << "2 s at 300 samples/s";
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields = Split(lines[i], ',');
        ASSERT_EQ(fields.size(), header.size()) << "row " << i << ": " << lines[i];
        EXPECT_NEAR(Number(fields[0]), static_cast<double>(i - 1) / 300.0, 1e-6) << lines[i];
        for (size_t k = 1; k < fields.size(); ++k) {
            double v = Number(fields[k]);
            if (header[k] == "TRG") {
                EXPECT_GE(v, 0.0);
                EXPECT_LE(v, 255.0);
            } else {
                EXPECT_LT(std::fabs(v), 2000.0) << header[k] << " row " << i;
            }
        }
    }
}

TEST(ToolStream, TsvToAFileWithAChosenMontageAtSixHundred) {
    char path[] = "/tmp/voq-tool-test-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ToolResult r = RunTool({"--simulate", "--sim-rate", "600", "stream", "--montage", "Cz, C3-C4 O1",
                            "--reference", "A1/2+A2/2", "--format", "tsv", "--seconds", "1", "-o", path},
                           60, kNoDefaultPort);
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    unlink(path);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(r.out.empty()) << r.out;
    std::vector<std::string> lines = Lines(content.str());
    ASSERT_EQ(lines.size(), 601u) << content.str().substr(0, 500);
    EXPECT_EQ(lines[0], "time\tCz\tC3\tO1");
    double sum = 0.0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields = Split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 4u) << lines[i];
        EXPECT_NEAR(Number(fields[0]), static_cast<double>(i - 1) / 600.0, 1e-6);
        for (size_t k = 1; k < 4; ++k) {
            EXPECT_LT(std::fabs(Number(fields[k])), 2000.0);
            sum += std::fabs(Number(fields[k]));
        }
    }
    EXPECT_GT(sum, 0.0) << "the signals are all zero";
}

TEST(ToolStream, LiveViewShowsValuesAndCounters) {
    ToolResult r = RunTool({"--simulate", "stream", "--format", "live", "--montage", "Cz O1",
                            "--filter", "bandpass 1 40; notch 50", "--seconds", "1.5"},
                           60, kNoDefaultPort);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(Contains(r.out, "reference A1/2+A2/2  filter HP:1Hz LP:40Hz N:50Hz")) << r.out;
    EXPECT_TRUE(Contains(r.out, "RMS 1 s (uV)")) << r.out;
    EXPECT_TRUE(Contains(r.out, "overflowed 0")) << r.out;
    EXPECT_TRUE(Contains(r.out, "real-time violations")) << r.out;
    EXPECT_TRUE(Contains(r.out, "samples 450")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  Cz ")) << r.out;
    EXPECT_FALSE(Contains(r.out, "\x1b[")) << "colour or cursor codes on a pipe";
}

TEST(ToolImpedance, SnapshotRecoversTheSimulatedImpedances) {
    ToolResult r = RunTool({"--simulate", "--sim-impedance-all", "12", "--sim-impedance", "C3=30",
                            "--sim-impedance", "O2=60", "--sim-cmf-impedance", "3", "impedance", "--once"},
                           60, kNoDefaultPort);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    std::map<std::string, std::pair<double, std::string>> table;
    for (const std::string& line : Lines(r.out)) {
        std::istringstream words(line);
        std::string name, value, mark;
        if (line.rfind("  ", 0) != 0 || !(words >> name >> value >> mark)) continue;
        table[name] = {Number(value), mark};
    }
    ASSERT_TRUE(table.count("common-mode")) << r.out;
    EXPECT_NEAR(table["common-mode"].first, 3.0, 0.5) << r.out;
    ASSERT_TRUE(table.count("C3")) << r.out;
    EXPECT_NEAR(table["C3"].first, 30.0, 3.0) << r.out;
    EXPECT_EQ(table["C3"].second, "fair");
    ASSERT_TRUE(table.count("O2")) << r.out;
    EXPECT_NEAR(table["O2"].first, 60.0, 6.0) << r.out;
    EXPECT_EQ(table["O2"].second, "poor");
    int others = 0;
    for (const auto& entry : table) {
        if (entry.first == "common-mode" || entry.first == "C3" || entry.first == "O2") continue;
        EXPECT_NEAR(entry.second.first, 12.0, 1.2) << entry.first << "\n" << r.out;
        EXPECT_EQ(entry.second.second, "good") << entry.first;
        ++others;
    }
    // Every electrode of the factory montage, the ear references included.
    EXPECT_GE(others, 18) << r.out;
    EXPECT_TRUE(table.count("A1") && table.count("A2")) << r.out;
}

// ---------------------------------------------------------------------------
// Ctrl-C: the tool runs against a simulator in this process, whose record of
// commands shows what the tool told the device before it went.

class ToolInterrupt : public ::testing::Test {
protected:
    void SetUp() override { path_ = simulator_.Start(); }
    voqsim::Simulator simulator_;
    std::string path_;
};

TEST_F(ToolInterrupt, DuringStreamingStopsAcquisitionAndDisconnects) {
    ToolProcess tool({"--port", path_, "--quiet", "stream", "--format", "csv", "--seconds", "60"},
                     kNoDefaultPort);
    ASSERT_TRUE(tool.WaitFor([](const std::string& out, const std::string&) { return Lines(out).size() > 100; },
                             30))
        << tool.Out() << tool.Err();
    EXPECT_EQ(simulator_.State().acquisitionMode, 1);
    tool.Signal(SIGINT);
    ToolResult r = tool.Finish(20);
    EXPECT_EQ(r.exitCode, 130) << Describe(r);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.out.back(), '\n') << "the last row is cut";

    std::vector<voqsim::CommandRecord> commands = simulator_.Commands();
    Found start = FindCommands(commands, 33, 2);
    Found stop = FindCommands(commands, 33, 1);
    ASSERT_GE(start.count, 1);
    EXPECT_GT(stop.last, start.last) << "no stop command after the start";
    voqsim::DeviceState state = simulator_.State();
    EXPECT_EQ(state.acquisitionMode, 0);
    EXPECT_EQ(state.hostOpenCount, 0);
}

TEST_F(ToolInterrupt, AReaderThatGoesAwayEndsTheStreamCleanly) {
    ToolProcess tool({"--port", path_, "stream", "--format", "csv"}, kNoDefaultPort);
    ASSERT_TRUE(tool.WaitFor([](const std::string& out, const std::string&) { return Lines(out).size() > 20; },
                             30))
        << tool.Out() << tool.Err();
    tool.CloseOut();
    ToolResult r = tool.Finish(20);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(r.err.empty()) << r.err;
    std::vector<voqsim::CommandRecord> commands = simulator_.Commands();
    EXPECT_GT(FindCommands(commands, 33, 1).last, FindCommands(commands, 33, 2).last)
        << "acquisition was left running";
}

TEST_F(ToolInterrupt, DuringTheImpedanceCheckStopsTheDriver) {
    ToolProcess tool({"--port", path_, "impedance", "--refresh", "0.2"}, kNoDefaultPort);
    ASSERT_TRUE(tool.WaitFor([](const std::string& out, const std::string&) { return Contains(out, "common-mode"); },
                             30))
        << tool.Out() << tool.Err();
    EXPECT_EQ(simulator_.State().impedanceDriverMode, 1);
    tool.Signal(SIGINT);
    ToolResult r = tool.Finish(20);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);

    std::vector<voqsim::CommandRecord> commands = simulator_.Commands();
    Found driverOn = FindCommands(commands, 218, 2);
    Found driverOff = FindCommands(commands, 218, 1);
    ASSERT_GE(driverOn.count, 1);
    EXPECT_GT(driverOff.last, driverOn.last) << "the impedance driver was left on";
    EXPECT_GT(FindCommands(commands, 33, 1).last, FindCommands(commands, 33, 2).last)
        << "acquisition was left running";
    EXPECT_EQ(simulator_.State().impedanceDriverMode, 0);
}

// A headset that goes silent in the middle of a stream: one error line, and
// the program ends within seconds although the headset no longer answers the
// stop command.
using ToolLostHeadset = ToolInterrupt;

TEST_F(ToolLostHeadset, SilenceEndsTheStreamWithOneErrorLineWithoutReconnection) {
    ToolProcess tool({"--port", path_, "stream", "--format", "csv", "--reconnect", "0"}, kNoDefaultPort);
    ASSERT_TRUE(tool.WaitFor([](const std::string& out, const std::string&) { return Lines(out).size() > 20; },
                             30))
        << tool.Out() << tool.Err();
    simulator_.LoseLink(false);
    auto lost = std::chrono::steady_clock::now();
    ToolResult r = tool.Finish(40);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - lost).count();
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    ExpectOneErrorLine(r);
    EXPECT_TRUE(Contains(r.err, "no block has arrived")) << r.err;
    EXPECT_LT(seconds, 15.0);
    EXPECT_EQ(r.out.back(), '\n') << "the last row is cut";
}

// With reconnection (the default) a stream goes on through a lost link, its
// time column jumping by the samples missing; Ctrl-C while the link is away
// ends it at once.
TEST(ToolStream, GoesOnThroughADropWithTheTimeJumpingByTheGap) {
    ToolResult r = RunTool({"--simulate", "--sim-drop", "1:1", "stream", "--format", "csv", "--seconds", "3"}, 60,
                           kNoDefaultPort);
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size() - 1, 900u) << "3 s of samples at 300 samples/s";
    std::vector<double> jumps;
    for (size_t i = 2; i < lines.size(); ++i) {
        const double step = Number(Split(lines[i], ',')[0]) - Number(Split(lines[i - 1], ',')[0]);
        if (std::fabs(step - 1.0 / 300) > 1e-6) jumps.push_back(step * 300 - 1);
    }
    ASSERT_EQ(jumps.size(), 1u) << r.err;
    const size_t at = r.err.find(" samples missing");
    ASSERT_NE(at, std::string::npos) << r.err;
    const size_t from = r.err.rfind(' ', at - 1) + 1;
    EXPECT_NEAR(jumps[0], Number(r.err.substr(from, at - from)), 0.01) << r.err;
    EXPECT_GT(jumps[0], 300.0) << "the headset was away for a second";
    EXPECT_TRUE(Contains(r.err, "link to the headset lost")) << r.err;
}

TEST_F(ToolLostHeadset, CtrlCWhileReconnectingEndsPromptly) {
    ToolProcess tool({"--port", path_, "stream", "--format", "csv"}, kNoDefaultPort);
    ASSERT_TRUE(tool.WaitFor([](const std::string& out, const std::string&) { return Lines(out).size() > 20; },
                             30))
        << tool.Out() << tool.Err();
    simulator_.LoseLink(true);
    ASSERT_TRUE(tool.WaitFor([](const std::string&, const std::string& err) { return Contains(err, "reconnecting"); },
                             10))
        << tool.Err();
    auto interrupted = std::chrono::steady_clock::now();
    tool.Signal(SIGINT);
    ToolResult r = tool.Finish(20);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);   // an open-ended stream ends by Ctrl-C
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count(), 2.0);
}

// ---------------------------------------------------------------------------
// `voq sim` serves other programs until Ctrl-C.

TEST(ToolSim, ServesItsPathUntilCtrlC) {
    ToolProcess sim({"sim", "--rate", "600", "--seed", "3"}, kNoDefaultPort);
    ASSERT_TRUE(sim.WaitFor([](const std::string& out, const std::string&) { return Contains(out, "\n"); }, 20))
        << sim.Err();
    std::string path = Lines(sim.Out())[0];
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    EXPECT_EQ(access(path.c_str(), R_OK | W_OK), 0) << path;

    // Another voq finds it through the variable.
    ToolResult info = RunTool({"info"}, 60, {{"VOQSerialPort", path}});
    EXPECT_EQ(info.exitCode, 0) << Describe(info);
    EXPECT_TRUE(Contains(info.out, "'SamplingRate' : 600,")) << info.out;
    EXPECT_TRUE(Contains(info.out, "Headset on " + path)) << info.out;

    sim.Signal(SIGINT);
    ToolResult r = sim.Finish(10);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_TRUE(Contains(r.err, "stopped")) << r.err;
}

}  // namespace
