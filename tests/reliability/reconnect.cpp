// Reconnection after a lost link, through the C interface against the
// simulated headset: drops on the headset's schedule while the background
// worker reads and while the caller's thread reads, a loss during a command
// and during the reconnection's own start-up, another headset on the port,
// a silent headset, and giving up.  What must hold: no wait hangs, the caller's settings,
// stages, callbacks and handles survive, every sample comes once and in
// order, and the missing counts match the true gaps.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Simulator.h"
#include "Support.h"
#include "VOQ.h"
#include "VOQ_API.h"

using namespace reliability;

namespace {

std::string TakeError() {
    const char* error = VOQ_ClearError();
    return error ? error : "";
}

struct Event {
    int kind;
    size_t index;     // samples read before the event's gap
    size_t missing;
};

// The SND values (each sample's own time stamp, in ticks) read from the
// output channel `snd`, and the link events placed among them.
struct Reading {
    std::vector<uint32_t> ticks;
    std::vector<double> times;   // each sample's host time
    std::vector<Event> events;
    std::string error;
};

void TakeEvents(VOQ_Headset h, Reading& r) {
    for (;;) {
        size_t missing = 0, before = 0;
        const int kind = VOQ_Headset_GetLinkEvent(h, nullptr, &missing, &before);
        if (kind == 0) return;
        r.events.push_back({kind, r.ticks.size() + before, missing});
    }
}

// Reads for `seconds` with paced batches of `batch` samples, or with
// WaitForSamples(1) (reading all there is) when `batch` is 0.
void ReadFor(VOQ_Headset h, VOQ_Channel snd, double seconds, size_t batch, Reading& r) {
    const double end = VOQ::PrecisionTime() + seconds;
    while (VOQ::PrecisionTime() < end && r.error.empty()) {
        if (batch > 0)
            VOQ_Headset_WaitForBatch(h);
        else
            VOQ_Headset_WaitForSamples(h, 1);
        r.error = TakeError();
        TakeEvents(h, r);
        size_t n = VOQ_Channel_GetNumberOfBufferedSamples(snd);
        if (batch > 0 && r.error.empty()) n = std::min(n, batch);
        for (; n > 0; --n) {
            r.ticks.push_back(Ticks(VOQ_Channel_ReadBuffered(snd)));
            r.times.push_back(VOQ_Headset_GetSampleTime(h));
        }
    }
}

// Host times (simulator clock) at which the headset's clock was set: its
// time stamps count from there.
std::vector<double> ClockSettings(const voqsim::Simulator& sim) {
    std::vector<double> times;
    for (const voqsim::CommandRecord& c : sim.Commands())
        if (c.family == 48 && c.payload.size() == 6 && !c.ignored) times.push_back(c.hostTime);
    return times;
}

// Checks the samples run by run (one step apart, none twice), that the
// events come in lost/restored pairs placed exactly where the time stamps
// start again, and that each missing count is within 2 % (or 3 samples) of
// the true gap, measured between the host times of the samples either side
// (which never go back).
// `settings`: the clock settings the runs count from, one per run.
void ExpectGapsAccounted(const Reading& r, const std::vector<double>& settings, double rate) {
    const uint32_t step = uint32_t(1800 / rate);
    const size_t gaps = settings.size() - 1;
    ASSERT_EQ(r.events.size(), 2 * gaps);
    ASSERT_EQ(r.times.size(), r.ticks.size());
    for (size_t i = 1; i < r.times.size(); ++i) ASSERT_GT(r.times[i], r.times[i - 1]) << "at " << i;
    size_t start = 0;
    for (size_t g = 0; g <= gaps; ++g) {
        const size_t end = g < gaps ? r.events[2 * g].index : r.ticks.size();
        ASSERT_LT(start + 1, end) << "run " << g;
        for (size_t i = start + 1; i < end; ++i) ASSERT_EQ(r.ticks[i], r.ticks[i - 1] + step) << "run " << g << " at " << i;
        if (g == gaps) break;
        const Event& lost = r.events[2 * g];
        const Event& back = r.events[2 * g + 1];
        EXPECT_EQ(lost.kind, VOQ_LINK_LOST);
        EXPECT_EQ(back.kind, VOQ_LINK_RESTORED);
        EXPECT_EQ(back.index, lost.index);
        const double last = settings[g] + r.ticks[end - 1] / 1800.0;
        const double first = settings[g + 1] + r.ticks[end] / 1800.0;
        const double truth = (first - last) * rate - 1.0;
        std::printf("    gap %zu: %zu samples missing, true %.1f\n", g + 1, back.missing, truth);
        EXPECT_NEAR(double(back.missing), truth, std::max(3.0, 0.02 * truth));
        EXPECT_EQ(double(back.missing), std::round((r.times[end] - r.times[end - 1]) * rate - 1.0));
        start = end;
    }
}

void CopyStage(VOQ_Headset, double, void* handle) {
    VOQ_ProcessingStage stage = static_cast<VOQ_ProcessingStage>(handle);
    VOQ_ProcessingStage input = VOQ_ProcessingStage_GetInput(stage);
    const unsigned n = VOQ_ProcessingStage_GetNumberOfChannels(stage);
    for (unsigned k = 0; k < n; ++k) VOQ_ProcessingStage_Write(stage, k, VOQ_ProcessingStage_Read(input, k, 0));
}

std::atomic<long> gSampleCalls{0};
void CountSample(VOQ_Headset, double, void*) { ++gSampleCalls; }

class Reconnect : public ::testing::Test {
protected:
    void Start(voqsim::Config config) {
        linkPath = ::testing::TempDir() + "voq-reconnect-" + std::to_string(getpid());
        config.linkPath = linkPath;
        sim.reset(new voqsim::Simulator(config));
        sim->Start();
        VOQ_ClearError();
        handle = VOQ_Headset_New(linkPath.c_str());
        ASSERT_NE(handle, nullptr) << VOQ_Error();
        VOQ_Headset_SetMessageCallback(handle, &MessageLog::Sink);
        VOQ_Headset_ChooseChannels(handle, "SND Cz TRG", "", 0);
        VOQ_Headset_ReallocateBuffers(handle, 10.0, 1.0);
        VOQ_Headset_SetReconnect(handle, 10.0);
        ASSERT_EQ(TakeError(), "");
        MessageLog::Clear();
    }
    VOQ_Channel Snd() { return VOQ_Headset_GetChannelByIndex(handle, unsigned(FindChannel(handle, "SND"))); }
    void TearDown() override {
        if (handle) VOQ_Headset_Delete(handle);
        handle = nullptr;
        sim.reset();
    }
    std::string linkPath;
    std::unique_ptr<voqsim::Simulator> sim;
    VOQ_Headset handle = nullptr;
};

}  // namespace

TEST_F(Reconnect, WorkerRidesThroughTwoDropsWithSettingsStagesAndCallbacksKept) {
    voqsim::Config config;
    config.drops = {{1.0, 0.6}, {2.6, 0.6}};
    Start(config);
    // What the caller sets: all of it must come back after each drop.
    VOQ_Headset_ConfigureADC(handle, 600, 0);
    VOQ_Headset_SetAccelerometerRate(handle, 25);
    VOQ_Headset_StartImpedanceDriver(handle);
    VOQ_ProcessingStage stage = VOQ_Headset_AddProcessingStage(handle, "copy", &CopyStage, nullptr, nullptr);
    VOQ_Headset_SetSampleCallback(handle, &CountSample, nullptr);
    VOQ_Headset_ConfigureBatch(handle, 24, 0.05);
    ASSERT_EQ(TakeError(), "");
    VOQ_Channel snd = VOQ_ProcessingStage_GetChannelByName(stage, "SND");
    ASSERT_NE(snd, nullptr);

    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    Reading r;
    ReadFor(handle, snd, 5.0, 24, r);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(VOQ_Headset_IsLinkUp(handle), 1);
    ExpectGapsAccounted(r, ClockSettings(*sim), 600);

    const voqsim::DeviceState state = sim->State();
    EXPECT_EQ(state.samplingRate, 600);
    EXPECT_EQ(state.filterMode, 0);
    EXPECT_EQ(state.accelerometerRate, 25);
    EXPECT_EQ(state.impedanceDriverMode, 1);
    EXPECT_TRUE(state.acquiring);
    EXPECT_EQ(VOQ_Headset_GetNumberOfProcessingStages(handle), 2u);
    EXPECT_GT(gSampleCalls.load(), long(r.ticks.size()) - 100);
    EXPECT_EQ(MessageLog::Count("link to the headset lost", 1), 2);
    EXPECT_EQ(MessageLog::Count("link to the headset restored after", 1), 2);
    EXPECT_EQ(MessageLog::Count("Real-time violation"), 0);
    VOQ_Headset_StopBackgroundAcquisition(handle);
}

TEST_F(Reconnect, CallerThreadReadsThroughALossThatRecursDuringTheReconnection) {
    Start(voqsim::Config());
    VOQ_Channel snd = Snd();
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(TakeError(), "");

    // The link drops, comes back, and drops again as soon as the
    // reconnection has begun its start-up: that attempt fails, the next one
    // succeeds, and it is all one gap.
    std::thread faults([this] {
        VOQ::Sleep(1.0);
        sim->LoseLink(true);
        VOQ::Sleep(0.3);
        const size_t sent = sim->CommandCount();
        sim->RestoreLink();
        sim->WaitForCommands(sent + 2, 5.0);
        sim->LoseLink(true);
        VOQ::Sleep(0.3);
        sim->RestoreLink();
    });
    Reading r;
    ReadFor(handle, snd, 4.0, 18, r);
    faults.join();
    EXPECT_EQ(r.error, "");
    const std::vector<double> settings = ClockSettings(*sim);
    ASSERT_GE(settings.size(), 2u);
    ExpectGapsAccounted(r, {settings.front(), settings.back()}, 300);
    EXPECT_EQ(MessageLog::Count("link to the headset lost", 1), 1);
    EXPECT_GE(MessageLog::Count("reconnection attempt failed", 2), 1);
    EXPECT_EQ(MessageLog::Count("Real-time violation"), 0);
}

TEST_F(Reconnect, CommandsFailAtOnceWhileTheLinkIsLost) {
    Start(voqsim::Config());
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    // A command waiting for its answer when the link goes: it fails at once.
    sim->SetSilentTo(30, true);
    std::thread loss([this] {
        VOQ::Sleep(0.3);
        sim->LoseLink(true);
    });
    double t0 = VOQ::PrecisionTime();
    VOQ_Headset_ChangeLEDs(handle, 1);
    const std::string interrupted = TakeError();
    const double took = VOQ::PrecisionTime() - t0;
    loss.join();
    EXPECT_EQ(interrupted, "Cannot send commands to headset: the link is lost (reconnecting)");
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(VOQ_Headset_IsLinkUp(handle), 0);

    t0 = VOQ::PrecisionTime();
    VOQ_Headset_ChangeLEDs(handle, 2);
    EXPECT_EQ(TakeError(), "Cannot send commands to headset: the link is lost (reconnecting)");
    EXPECT_LT(VOQ::PrecisionTime() - t0, 0.1);

    sim->SetSilentTo(30, false);
    sim->RestoreLink();
    for (int k = 0; k < 500 && !VOQ_Headset_IsLinkUp(handle); ++k) VOQ::Sleep(0.01);
    EXPECT_EQ(VOQ_Headset_IsLinkUp(handle), 1);
    VOQ_Headset_ChangeLEDs(handle, 3);
    EXPECT_EQ(TakeError(), "");
    EXPECT_EQ(sim->State().led, 3);
    Reading r;
    TakeEvents(handle, r);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].kind, VOQ_LINK_LOST);
    EXPECT_EQ(r.events[1].kind, VOQ_LINK_RESTORED);
}

TEST_F(Reconnect, AnotherHeadsetOnThePortEndsTheSession) {
    Start(voqsim::Config());
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    VOQ_Headset_WaitForSamples(handle, 30);
    ASSERT_EQ(TakeError(), "");
    sim->LoseLink(true);
    // The headset's link has gone before the other one appears there.
    for (int k = 0; k < 500 && access(linkPath.c_str(), F_OK) == 0; ++k) VOQ::Sleep(0.01);
    voqsim::Config other;
    other.serialNumber = 12345;
    other.linkPath = linkPath;
    voqsim::Simulator stranger(other);
    stranger.Start();

    VOQ_Headset_FlushBuffers(handle);
    VOQ_Headset_WaitForSamples(handle, 30);
    const std::string error = TakeError();
    EXPECT_NE(error.find("a different headset (serial number 12345) answered on " + linkPath), std::string::npos)
        << error;
    EXPECT_EQ(VOQ_Headset_IsLinkUp(handle), 0);
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 0);
    Reading r;
    TakeEvents(handle, r);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[1].kind, VOQ_LINK_GAVE_UP);
    EXPECT_GE(MessageLog::Count("a different headset", 1), 1);
}

TEST_F(Reconnect, ASilentHeadsetIsLostTooAndGivenUpAfterTheTimeSet) {
    Start(voqsim::Config());
    VOQ_Headset_SetReconnect(handle, 1.0);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    VOQ_Headset_WaitForSamples(handle, 30);
    VOQ_Headset_FlushBuffers(handle);
    ASSERT_EQ(TakeError(), "");
    // Silent, not hung up: lost once the silence limit has passed.
    const double t0 = VOQ::PrecisionTime();
    sim->LoseLink(false);
    VOQ_Headset_WaitForBatch(handle);
    const std::string error = TakeError();
    const double took = VOQ::PrecisionTime() - t0;
    EXPECT_EQ(error.rfind("gave up waiting for samples: gave up reconnecting to the headset on " + linkPath +
                              " after 1 s (",
                          0),
              0u)
        << error;
    EXPECT_EQ(MessageLog::Count("link to the headset lost (no block has arrived from the headset for 5 seconds)", 1),
              1);
    EXPECT_GT(took, VOQ_WAIT_SILENCE_LIMIT + 0.9);
    EXPECT_LT(took, VOQ_WAIT_SILENCE_LIMIT + 2.0);
    VOQ_Headset_ChangeLEDs(handle, 1);
    EXPECT_EQ(TakeError().rfind("Cannot send commands to headset: gave up reconnecting", 0), 0u);

    // A connection is reconnected only once it has started up: a loss
    // during the first start-up fails the connection, promptly.
    VOQ_Headset_StopBackgroundAcquisition(handle);
    sim->LoseLink(true);
    sim->RestoreLink();
    // Counted from here, not from whenever the thread gets to run.
    const auto commands = sim->CommandCount();
    std::thread loss([this, commands] {
        sim->WaitForCommands(commands + 4, 10.0);
        sim->LoseLink(true);
    });
    const double c0 = VOQ::PrecisionTime();
    VOQ_Headset_Connect(handle, linkPath.c_str());
    const std::string failed = TakeError();
    loss.join();
    EXPECT_FALSE(failed.empty());
    EXPECT_LT(VOQ::PrecisionTime() - c0, 5.0);
    EXPECT_EQ(VOQ_Headset_IsLinkUp(handle), 0);
}
