// The link lost in the middle of a stream: the headset falls silent (and,
// second, its pseudo-terminal goes away altogether).  The caller's waits must
// give up within their bound with an error instead of hanging, the background
// worker must be stoppable, and once the headset is back the stream must
// resume, every sample after the restart delivered once and in order.
// Slow by nature: each loss waits out the silence bound.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
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

// Reads the SND channel's values as ticks until `seconds` have passed or a
// wait fails; returns the failure text ("" when none) and the time it took.
struct ReadOutcome {
    std::vector<uint32_t> ticks;
    std::string error;
    double failedAfter = -1.0;   // seconds from `since` to the failure
};

ReadOutcome ReadUntil(VOQ_Headset handle, double seconds, double since) {
    ReadOutcome outcome;
    VOQ_Channel snd = VOQ_Headset_GetChannelByIndex(handle, unsigned(FindChannel(handle, "SND")));
    const double end = VOQ::PrecisionTime() + seconds;
    while (VOQ::PrecisionTime() < end) {
        VOQ_Headset_WaitForSamples(handle, 1);
        outcome.error = TakeError();
        if (!outcome.error.empty()) {
            outcome.failedAfter = VOQ::PrecisionTime() - since;
            break;
        }
        for (size_t n = VOQ_Channel_GetNumberOfBufferedSamples(snd); n > 0; --n)
            outcome.ticks.push_back(Ticks(VOQ_Channel_ReadBuffered(snd)));
    }
    return outcome;
}

void StopWorker(VOQ::Headset* headset) {
    VOQ_Headset_StopBackgroundAcquisition(reinterpret_cast<VOQ_Headset>(headset));
    const double deadline = VOQ::PrecisionTime() + 15.0;
    while (headset->BackgroundAcquisitionAlive() && VOQ::PrecisionTime() < deadline) VOQ::Sleep(0.01);
}

// Consecutive samples (one sample period apart), none twice.
void ExpectContiguous(const std::vector<uint32_t>& ticks, uint32_t step) {
    ASSERT_FALSE(ticks.empty());
    for (size_t i = 1; i < ticks.size(); ++i)
        ASSERT_EQ(ticks[i], ticks[i - 1] + step) << "at sample " << i << " of " << ticks.size();
}

}  // namespace

class LinkLoss : public ::testing::Test {
protected:
    void SetUp() override {
        sim.reset(new voqsim::Simulator());
        VOQ_ClearError();
        handle = VOQ_Headset_New(sim->Start().c_str());
        ASSERT_NE(handle, nullptr) << VOQ_Error();
        headset = reinterpret_cast<VOQ::Headset*>(handle);
        VOQ_Headset_SetMessageCallback(handle, &MessageLog::Sink);
        VOQ_Headset_SetVerbosity(handle, 3);
        VOQ_Headset_ChooseChannels(handle, "SND Cz TRG", "", 0);
        VOQ_Headset_ReallocateBuffers(handle, 10.0, 1.0);
        ASSERT_EQ(TakeError(), "");
        MessageLog::Clear();
    }
    void TearDown() override {
        if (handle) VOQ_Headset_Delete(handle);
        handle = nullptr;
        sim.reset();
    }
    std::unique_ptr<voqsim::Simulator> sim;
    VOQ_Headset handle = nullptr;
    VOQ::Headset* headset = nullptr;
};

TEST_F(LinkLoss, SilentLinkEndsTheWaitsAndTheStreamResumes) {
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    ReadOutcome before = ReadUntil(handle, 1.0, 0.0);
    EXPECT_EQ(before.error, "");
    ExpectContiguous(before.ticks, 6);

    const double lost = VOQ::PrecisionTime();
    sim->LoseLink(false);
    ReadOutcome during = ReadUntil(handle, 15.0, lost);
    EXPECT_EQ(during.error, "gave up waiting for samples: no block has arrived from the headset for 5 seconds");
    EXPECT_GE(during.failedAfter, VOQ_WAIT_SILENCE_LIMIT - 0.6);
    EXPECT_LT(during.failedAfter, VOQ_WAIT_SILENCE_LIMIT + 1.5);
    std::printf("    silent link: the wait ended after %.2f s\n", during.failedAfter);
    EXPECT_TRUE(headset->BackgroundAcquisitionAlive());
    // What arrived before the loss continues the earlier samples.
    if (!during.ticks.empty()) {
        EXPECT_EQ(during.ticks.front(), before.ticks.back() + 6);
    }

    // The headset comes back stopped; the caller stops the worker (whose
    // stop command the headset now answers) and starts a new one.
    sim->RestoreLink();
    StopWorker(headset);
    ASSERT_FALSE(headset->BackgroundAcquisitionAlive());
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    const double restarted = VOQ::PrecisionTime();
    ReadOutcome after = ReadUntil(handle, 1.5, restarted);
    EXPECT_EQ(after.error, "");
    ExpectContiguous(after.ticks, 6);
    EXPECT_GT(after.ticks.size(), 300u);
    StopWorker(headset);
    EXPECT_EQ(VOQ_Headset_GetNumberOfOverflowedSamples(handle), 0u);
}

TEST_F(LinkLoss, HungUpLinkEndsTheWaitsAndAReconnectionResumes) {
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    ReadOutcome before = ReadUntil(handle, 1.0, 0.0);
    EXPECT_EQ(before.error, "");

    const double lost = VOQ::PrecisionTime();
    sim->LoseLink(true);
    ReadOutcome during = ReadUntil(handle, 15.0, lost);
    EXPECT_FALSE(during.error.empty());
    EXPECT_LT(during.failedAfter, VOQ_WAIT_SILENCE_LIMIT + 1.5);
    std::printf("    hung up: the wait ended after %.2f s with \"%s\"\n", during.failedAfter, during.error.c_str());

    // The worker can be stopped although nothing answers its stop command.
    StopWorker(headset);
    EXPECT_FALSE(headset->BackgroundAcquisitionAlive());
    VOQ_Headset_Disconnect(handle);
    const std::string disconnectError = TakeError();
    std::printf("    disconnecting from the hung-up line: \"%s\"\n", disconnectError.c_str());
    // The stop command could not be written, which is reported; the port is
    // closed all the same.
    EXPECT_FALSE(disconnectError.empty());
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 0);

    const std::string path = sim->RestoreLink();
    VOQ_Headset_Connect(handle, path.c_str());
    ASSERT_EQ(TakeError(), "");
    ASSERT_EQ(VOQ_Headset_IsConnected(handle), 1);
    VOQ_Headset_ChooseChannels(handle, "SND Cz TRG", "", 0);
    VOQ_Headset_ReallocateBuffers(handle, 10.0, 1.0);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    ReadOutcome after = ReadUntil(handle, 1.5, VOQ::PrecisionTime());
    EXPECT_EQ(after.error, "");
    ExpectContiguous(after.ticks, 6);
    EXPECT_GT(after.ticks.size(), 300u);
    StopWorker(headset);
}

TEST_F(LinkLoss, LongSilenceWithoutWorkerEndsPacedBatches) {
    // The caller reads the port itself (no worker) in paced batches.
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(TakeError(), "");
    for (int k = 0; k < 20; ++k) {
        VOQ_Headset_WaitForBatch(handle);
        ASSERT_EQ(TakeError(), "");
    }
    const double lost = VOQ::PrecisionTime();
    sim->SetSilent(true);
    std::string error;
    double failedAfter = -1;
    for (int k = 0; k < 1000 && error.empty(); ++k) {
        VOQ_Headset_WaitForBatch(handle);
        error = TakeError();
        failedAfter = VOQ::PrecisionTime() - lost;
        VOQ_Headset_FlushBuffers(handle);
    }
    EXPECT_EQ(error, "gave up waiting for samples: no block has arrived from the headset for 5 seconds");
    EXPECT_LT(failedAfter, VOQ_WAIT_SILENCE_LIMIT + 1.5);
    sim->SetSilent(false);
    VOQ_Headset_StopDataAcquisition(handle);
    EXPECT_EQ(TakeError(), "");
}
