// The LSL outlet seen from elsewhere: an inlet in another process (the C
// program voq-lsl-inlet, linked to the same liblsl copy) finds the streams of
// a simulated headset by source_id and reads them.  Every LSL exchange runs
// on the loopback interface only: main() names the tests' configuration in
// LSLAPICFG before anything uses liblsl, and every child inherits it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Outlet.h"
#include "RunTool.h"
#include "Simulator.h"
#include "VOQ_API.h"

namespace {

const double kRate = 600.0;

int Quiet(const char*, int) { return 0; }

// What the inlet printed.
struct Received {
    std::vector<std::string> stream, desc, markersStream;
    std::vector<std::vector<std::string>> channels;
    std::vector<double> stamps;
    std::vector<std::vector<float>> values;
    std::vector<std::pair<double, std::string>> markers;
};

Received Parse(const std::string& out) {
    Received r;
    for (const std::string& line : Lines(out)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "stream") r.stream = Split(rest, '|');
        if (key == "desc") r.desc = Split(rest, '|');
        if (key == "markers") r.markersStream = Split(rest, '|');
        if (key == "channel") r.channels.push_back(Split(rest, '|'));
        if (key == "sample") {
            std::vector<std::string> fields = Split(rest, ' ');
            r.stamps.push_back(std::strtod(fields[0].c_str(), nullptr));
            std::vector<float> row;
            for (size_t k = 1; k < fields.size(); ++k) row.push_back(std::strtof(fields[k].c_str(), nullptr));
            r.values.push_back(row);
        }
        if (key == "marker") {
            const size_t cut = rest.find(' ');
            r.markers.emplace_back(std::strtod(rest.substr(0, cut).c_str(), nullptr), rest.substr(cut + 1));
        }
    }
    return r;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A simulated headset with its own serial number, connected.
struct Device {
    voqsim::Simulator sim;
    VOQ_Headset headset = nullptr;
    std::string path;
    explicit Device(uint32_t serial) : sim(Configure(serial)) {
        path = sim.Start();
        headset = VOQ_Headset_New(nullptr);
        VOQ_Headset_SetMessageCallback(headset, &Quiet);
        VOQ_Headset_Connect(headset, path.c_str());
    }
    ~Device() { VOQ_Headset_Delete(headset); }
    static voqsim::Config Configure(uint32_t serial) {
        voqsim::Config config;
        config.samplingRate = static_cast<int>(kRate);
        config.serialNumber = serial;
        config.triggerPeriodSeconds = 0.2;
        config.seed = serial;
        return config;
    }
};

// The second consumer: what the library computed for every output channel at
// every sample, and the sample's host time, taken in the sample callback.
struct Capture {
    std::mutex mutex;
    std::vector<VOQ_Channel> channels;
    std::vector<std::vector<double>> rows;
    std::vector<double> times;
    static void Take(VOQ_Headset headset, double, void* data) {
        Capture& c = *static_cast<Capture*>(data);
        std::vector<double> row;
        for (VOQ_Channel channel : c.channels) row.push_back(VOQ_Channel_CalculateRawSignal(channel));
        const double time = VOQ_Headset_GetCallbackSampleTime(headset);
        std::lock_guard<std::mutex> lock(c.mutex);
        c.rows.push_back(row);
        c.times.push_back(time);
    }
};

TEST(LslOutlet, AnInletInAnotherProcessGetsTheMetadataEverySampleAndTheTriggerMarkers) {
    Device device(4100001);
    ASSERT_EQ(VOQ_ClearError(), nullptr);
    VOQ_Headset h = device.headset;
    VOQ_Headset_ChooseChannels(h, "Fz C3-Cz O1 TRG ACCX ACCT X1", "A1/2+A2/2", 1);
    ASSERT_EQ(VOQ_ClearError(), nullptr);

    const long wanted = 3 * static_cast<long>(kRate);
    Capture capture;
    voqlsl::OutletStats stats;
    ToolResult result;
    {
        voqlsl::Outlet outlet(h);
        ToolProcess inlet(VOQ_LSL_INLET_PATH, {"VOQ-4100001", "--samples", std::to_string(wanted), "--values"});
        ASSERT_TRUE(inlet.WaitFor([](const std::string& out, const std::string&) { return Contains(out, "ready\n"); },
                                  20.0))
            << inlet.Err();
        for (int i = 0; i < 1500 && !outlet.HasConsumers(); ++i) VOQ_Sleep(0.01);
        ASSERT_TRUE(outlet.HasConsumers());

        for (unsigned i = 0; i < VOQ_Headset_GetNumberOfChannels(h); ++i)
            capture.channels.push_back(VOQ_Headset_GetChannelByIndex(h, i));
        VOQ_Headset_SetSampleCallback(h, &Capture::Take, &capture);
        outlet.Start(3.0);
        bool alarmSent = false;
        while (outlet.Step()) {
            if (!alarmSent && outlet.Stats().samplesPushed > 600) {
                device.sim.SendAlarm(2, 0x0F, {80, 75, 3000, 2900}, true);   // battery level
                alarmSent = true;
            }
        }
        outlet.Close();
        VOQ_Headset_SetSampleCallback(h, nullptr, nullptr);
        stats = outlet.Stats();
        result = inlet.Finish(30.0);
    }
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Received r = Parse(result.out);

    // Metadata.
    EXPECT_EQ(r.stream, (std::vector<std::string>{"VOQ 4100001", "EEG", "7", "600", "VOQ-4100001"}));
    EXPECT_EQ(r.desc, (std::vector<std::string>{"VOQ", "VOQ24 HS Rev 2", "4100001", "A1/2+A2/2"}));
    EXPECT_EQ(r.markersStream, (std::vector<std::string>{"VOQ 4100001 markers", "Markers", "VOQ-4100001-markers"}));
    ASSERT_EQ(r.channels.size(), 7u);
    const std::vector<std::vector<std::string>> expected{
        {"Fz", "microvolts", "EEG", "A1/2+A2/2"}, {"C3", "microvolts", "EEG", "Cz"},
        {"O1", "microvolts", "EEG", "A1/2+A2/2"}, {"TRG", "none", "TRG", ""},
        {"ACCX", "counts", "ACC", ""},           {"ACCT", "seconds", "ACC", ""},
        {"X1", "microvolts", "AUX", ""}};
    for (size_t k = 0; k < expected.size(); ++k) {
        ASSERT_EQ(r.channels[k].size(), 5u);
        EXPECT_EQ(std::vector<std::string>(r.channels[k].begin(), r.channels[k].begin() + 4), expected[k]);
        EXPECT_EQ(r.channels[k][4].empty(), expected[k][2] != "EEG") << "position of " << expected[k][0];
    }

    // Every sample exactly once, in order, as the library computed it, with
    // the time stamp the library gave it.
    ASSERT_EQ(static_cast<long>(r.stamps.size()), wanted);
    EXPECT_EQ(stats.samplesPushed, static_cast<uint64_t>(wanted));
    std::lock_guard<std::mutex> lock(capture.mutex);
    ASSERT_GE(static_cast<long>(capture.rows.size()), wanted);
    for (long j = 0; j < wanted; ++j) {
        std::vector<float> library;
        for (double x : capture.rows[j]) library.push_back(static_cast<float>(x));
        ASSERT_EQ(r.values[j], library) << "sample " << j;
        ASSERT_EQ(r.stamps[j], capture.times[j]) << "sample " << j;
    }

    // Time stamps strictly increasing at the sampling period.
    for (long j = 1; j < wanted; ++j) {
        const double step = r.stamps[j] - r.stamps[j - 1];
        ASSERT_GT(step, 0.5 / kRate) << "sample " << j;
        ASSERT_LT(step, 1.5 / kRate) << "sample " << j;
    }
    EXPECT_NEAR((r.stamps.back() - r.stamps.front()) / double(wanted - 1), 1.0 / kRate, 0.01 / kRate);

    // A trigger marker at every change of TRG to a value other than 0, with
    // the very sample's time stamp; the alarm as a marker of its own.
    std::vector<std::pair<double, std::string>> triggers, markers;
    double last = 0.0;
    for (long j = 0; j < wanted; ++j) {
        const double value = r.values[j][3];
        if (value != last && value != 0.0) triggers.emplace_back(r.stamps[j], "trigger " + std::to_string(long(value)));
        last = value;
    }
    EXPECT_GE(triggers.size(), 14u);
    bool alarm = false;
    for (const auto& m : r.markers) {
        if (m.second.rfind("trigger ", 0) == 0) markers.push_back(m);
        alarm = alarm || m.second == "alarm BatteryLevel";
    }
    EXPECT_EQ(markers, triggers);
    EXPECT_TRUE(alarm);
}

bool HasLines(const std::string& text, const std::string& lines) { return Contains(text, lines); }

// The voq tool as a user runs it: two headsets at once, each with its own
// pair of streams, and one outlet killed and started again, which the inlet
// that kept running picks up by its source_id.
TEST(VoqLsl, TwoHeadsetsAtOnceAndAnOutletRestartedUnderARunningInlet) {
    // Headset A in this process, so that it outlives the voq killed; headset
    // B simulated inside its voq.
    voqsim::Simulator a(Device::Configure(4100002));
    const std::string pathA = a.Start();
    auto named = [](const std::string& serial) {
        return [serial](const std::string& out, const std::string&) {
            return HasLines(out, "VOQ " + serial + "\nVOQ " + serial + " markers\n");
        };
    };
    const std::vector<std::string> lslA{"--port", pathA, "lsl", "--montage", "Fz Cz O1"};
    auto voqA = std::make_unique<ToolProcess>(lslA);
    ToolProcess voqB({"--simulate", "--sim-serial", "4100003", "--sim-rate", "600", "lsl"});
    ASSERT_TRUE(voqA->WaitFor(named("4100002"), 30.0)) << voqA->Err();
    ASSERT_TRUE(voqB.WaitFor(named("4100003"), 30.0)) << voqB.Err();

    const auto ready = [](const std::string& out, const std::string&) { return Contains(out, "ready\n"); };
    ToolProcess inletA(VOQ_LSL_INLET_PATH, {"VOQ-4100002", "--seconds", "10"});
    ToolProcess inletB(VOQ_LSL_INLET_PATH, {"VOQ-4100003", "--seconds", "3"});
    ASSERT_TRUE(inletA.WaitFor(ready, 20.0)) << inletA.Err();
    ASSERT_TRUE(inletB.WaitFor(ready, 20.0)) << inletB.Err();
    std::this_thread::sleep_for(std::chrono::seconds(2));

    voqA->Signal(SIGKILL);
    voqA->Finish(10.0);
    voqA = std::make_unique<ToolProcess>(lslA);
    ASSERT_TRUE(voqA->WaitFor(named("4100002"), 30.0)) << voqA->Err();

    const ToolResult receivedA = inletA.Finish(30.0), receivedB = inletB.Finish(30.0);
    voqA->Signal(SIGINT);
    voqB.Signal(SIGINT);
    const ToolResult endA = voqA->Finish(20.0), endB = voqB.Finish(20.0);
    EXPECT_EQ(endA.exitCode, 0) << endA.err;
    EXPECT_EQ(endB.exitCode, 0) << endB.err;
    EXPECT_TRUE(Contains(endB.err, "voq: a consumer connected")) << endB.err;
    EXPECT_TRUE(Contains(endB.err, "voq: pushed ")) << endB.err;

    const Received ra = Parse(receivedA.out), rb = Parse(receivedB.out);
    EXPECT_EQ(ra.stream, (std::vector<std::string>{"VOQ 4100002", "EEG", "4", "600", "VOQ-4100002"}));
    EXPECT_EQ(rb.stream, (std::vector<std::string>{"VOQ 4100003", "EEG", "28", "600", "VOQ-4100003"}));
    ASSERT_EQ(ra.channels.size(), 4u);
    EXPECT_EQ(ra.channels[3][0], "TRG");   // the trigger joins a montage without it
    EXPECT_GT(rb.stamps.size(), 600u);

    // Samples before and after the restart's gap, in order, at the period
    // within each run.
    ASSERT_GT(ra.stamps.size(), 600u);
    size_t gaps = 0, after = 0;
    for (size_t j = 1; j < ra.stamps.size(); ++j) {
        const double step = ra.stamps[j] - ra.stamps[j - 1];
        ASSERT_GT(step, 0.0) << "sample " << j;
        if (step > 0.5) {
            ++gaps;
            after = ra.stamps.size() - j;
        } else {
            ASSERT_LT(step, 1.5 / kRate) << "sample " << j;
        }
    }
    EXPECT_EQ(gaps, 1u);
    EXPECT_GT(after, 300u);
}

// A lost link under `voq lsl` (which reconnects by default): the same
// streams go on, the inlet that kept running sees "link lost" stamped with
// the last sample before the gap and "link restored, N samples missing" with
// the first after it, N agreeing with the stamps, and samples after it.
TEST(VoqLsl, ALostLinkKeepsTheStreamsAndIsMarked) {
    const auto ready = [](const std::string& out, const std::string&) { return Contains(out, "ready\n"); };
    ToolProcess inlet(VOQ_LSL_INLET_PATH, {"VOQ-4100004", "--seconds", "11"});
    ToolProcess voq({"--simulate", "--sim-serial", "4100004", "--sim-rate", "600", "--sim-drop", "3:1", "lsl",
                     "--seconds", "6"});
    ASSERT_TRUE(inlet.WaitFor(ready, 30.0)) << inlet.Err();
    const ToolResult end = voq.Finish(60.0);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_TRUE(Contains(end.err, "voq: warning: the link was lost 1 time; ")) << end.err;
    const Received r = Parse(inlet.Finish(30.0).out);

    std::vector<std::pair<double, std::string>> link;
    for (const auto& m : r.markers)
        if (m.second.rfind("link ", 0) == 0) link.push_back(m);
    ASSERT_EQ(link.size(), 2u) << inlet.Err();
    EXPECT_EQ(link[0].second, "link lost");
    ASSERT_EQ(link[1].second.rfind("link restored, ", 0), 0u) << link[1].second;
    const long missing = std::strtol(link[1].second.c_str() + 15, nullptr, 10);
    EXPECT_TRUE(Contains(link[1].second, " samples missing"));

    size_t gap = 0;
    for (size_t j = 1; j < r.stamps.size(); ++j) {
        ASSERT_GT(r.stamps[j], r.stamps[j - 1]) << "sample " << j;
        if (r.stamps[j] - r.stamps[j - 1] > 0.5) {
            EXPECT_EQ(gap, 0u) << "a second gap at sample " << j;
            gap = j;
        }
    }
    ASSERT_GT(gap, 0u);
    EXPECT_EQ(link[0].first, r.stamps[gap - 1]);
    EXPECT_EQ(link[1].first, r.stamps[gap]);
    EXPECT_EQ(double(missing), std::round((r.stamps[gap] - r.stamps[gap - 1]) * kRate - 1.0));
    EXPECT_GT(double(missing), 0.95 * kRate);   // a second away, and the start-up
    EXPECT_GT(r.stamps.size() - gap, 600u);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything uses liblsl: the loopback configuration, for this
    // process and every child.
    setenv("LSLAPICFG", VOQ_LSL_TEST_CONFIG, 1);
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
