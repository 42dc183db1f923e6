// The caller's thread changing the montage, the reference, the processing
// stages and their channels, the buffers and the callbacks, and sending device commands, while
// the background worker reads the stream and runs the per-sample path.
// Nothing may crash, deadlock or (under ThreadSanitizer) race, every call
// must succeed, samples must keep coming, and the times of the samples read
// must stay in order.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "Simulator.h"
#include "Support.h"
#include "VOQ.h"
#include "VOQ_API.h"

using namespace reliability;

namespace {

std::atomic<uint64_t> gSamples{0};
std::atomic<uint64_t> gStageRuns{0};

void CountSample(VOQ_Headset, double, void*) { gSamples.fetch_add(1, std::memory_order_relaxed); }

// A stage that writes the negated newest value of each input channel.
void NegateStage(VOQ_Headset, double, void* handle) {
    VOQ_ProcessingStage stage = static_cast<VOQ_ProcessingStage>(handle);
    VOQ_ProcessingStage input = VOQ_ProcessingStage_GetInput(stage);
    const unsigned n = VOQ_ProcessingStage_GetNumberOfChannels(stage);
    for (unsigned k = 0; k < n; ++k) VOQ_ProcessingStage_Write(stage, k, -VOQ_ProcessingStage_Read(input, k, 0));
    gStageRuns.fetch_add(1, std::memory_order_relaxed);
}

std::string TakeError() {
    const char* error = VOQ_ClearError();
    return error ? error : "";
}

}  // namespace

class Concurrency : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim = new voqsim::Simulator();
        VOQ_ClearError();
        handle = VOQ_Headset_New(sim->Start().c_str());
        headset = reinterpret_cast<VOQ::Headset*>(handle);
        if (handle) {
            VOQ_Headset_SetMessageCallback(handle, &MessageLog::Sink);
            VOQ_Headset_SetVerbosity(handle, 2);
        }
    }
    static void TearDownTestSuite() {
        if (handle) VOQ_Headset_Delete(handle);
        handle = nullptr;
        delete sim;
        sim = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(handle, nullptr) << VOQ_Error();
        VOQ_ClearError();
        MessageLog::Clear();
        VOQ_Headset_SetSampleCallback(handle, &CountSample, nullptr);
        ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    }
    void TearDown() override {
        VOQ_Headset_StopBackgroundAcquisition(handle);
        const double deadline = VOQ::PrecisionTime() + 12.0;
        while (headset->BackgroundAcquisitionAlive() && VOQ::PrecisionTime() < deadline) VOQ::Sleep(0.005);
        EXPECT_FALSE(headset->BackgroundAcquisitionAlive());
        VOQ_Headset_SetSampleCallback(handle, nullptr, nullptr);
        VOQ_Headset_ChooseChannels(handle, "FACTORY", "FACTORY", 0);
        VOQ_ClearError();
    }
    // Reads whatever the output channels hold (fresh handles each time: the
    // channels change with the montage).
    static size_t ReadOutputs() {
        size_t values = 0;
        const unsigned n = unsigned(headset->OutputChannels().size());
        for (unsigned k = 0; k < n; ++k) {
            VOQ_Channel channel = VOQ_Headset_GetChannelByIndex(handle, k);
            for (size_t m = VOQ_Channel_GetNumberOfBufferedSamples(channel); m > 0; --m, ++values)
                VOQ_Channel_ReadBuffered(channel);
            VOQ_Channel_GetSignal(channel);
            VOQ_Channel_GetString(channel);
        }
        // The times of the samples just read, taken from the ring without a
        // lock while the worker adds to it: each later than the one before.
        // (It may fail, with reason, right after a new montage.)
        double times[64];
        const unsigned got = VOQ_Headset_GetSampleTimes(handle, times, 64);
        for (unsigned k = 1; k < got; ++k) EXPECT_LT(times[k - 1], times[k]);
        VOQ_ClearError();
        return values;
    }
    // Waits (bounded) until `more` samples beyond `from` have arrived.
    static bool SamplesArrive(uint64_t from, uint64_t more) {
        const double deadline = VOQ::PrecisionTime() + 3.0;
        while (gSamples.load() < from + more && VOQ::PrecisionTime() < deadline) VOQ::Sleep(0.005);
        return gSamples.load() >= from + more;
    }

    static voqsim::Simulator* sim;
    static VOQ_Headset handle;
    static VOQ::Headset* headset;
};

voqsim::Simulator* Concurrency::sim = nullptr;
VOQ_Headset Concurrency::handle = nullptr;
VOQ::Headset* Concurrency::headset = nullptr;

TEST_F(Concurrency, MontageReferenceAndStagesChangeWhileStreaming) {
    const char* const montages[] = {"Fz Cz Pz", "F3-A1/2-A2/2 C3 P3 O1*2", "FACTORY", "Cz-Pz TRG ACCX SND",
                                    "Fp1 Fp2 F7 F8 T3 T4 T5 T6 O1 O2"};
    const char* const references[] = {"A1/2+A2/2", "", "Cz", "FACTORY", "A1"};
    ASSERT_TRUE(SamplesArrive(gSamples.load(), 30));
    size_t values = 0;
    int stages = 0;
    const double end = VOQ::PrecisionTime() + 3.0;
    for (int round = 0; VOQ::PrecisionTime() < end; ++round) {
        const int k = round % 5;
        switch (round % 10) {
            case 0: VOQ_Headset_ChooseChannels(handle, montages[k], references[k], round & 1); break;
            case 1: VOQ_Headset_SetDefaultReference(handle, references[(k + 1) % 5], 1); break;
            case 2: VOQ_Headset_SetTraditionalReference(handle, 0); break;
            case 3: {
                const std::string name = "negate" + std::to_string(stages++);
                VOQ_ProcessingStage stage = VOQ_Headset_AddProcessingStage(handle, name.c_str(), &NegateStage, nullptr,
                                                                           nullptr);
                EXPECT_NE(stage, nullptr);
                VOQ_Headset_ReallocateStageBuffers(handle, stage, 0.5);
                break;
            }
            case 4: VOQ_Headset_ReallocateBuffers(handle, 0.5 + k * 0.25, 0.5 + k * 0.1); break;
            case 5: VOQ_Headset_AddChannelToMontage_FromString(handle, "C4-Cz", 0); break;
            case 6:
                VOQ_Headset_ForgetMontage(handle);
                VOQ_Headset_ChooseChannels(handle, montages[(k + 2) % 5], "", 0);
                break;
            case 7: VOQ_Headset_FlushBuffers(handle); break;
            case 8: {
                // The newest caller stage's channels replaced while the worker
                // runs its callback (two: no input has fewer).
                const unsigned count = VOQ_Headset_GetNumberOfProcessingStages(handle);
                if (count < 2) break;
                VOQ_ProcessingStage stage = VOQ_Headset_GetProcessingStageByIndex(handle, count - 1);
                VOQ_ProcessingStage_ClearChannels(stage);
                VOQ_ProcessingStage_AddChannel(stage, "first", 150);
                VOQ_ProcessingStage_AddChannel(stage, "second", 150);
                break;
            }
            default:
                VOQ_Headset_GetInfoString(handle);
                VOQ_Headset_GetMontageString(handle);
                VOQ_Headset_GetImpedanceCMF(handle);
                for (unsigned s = 0; s < VOQ_Headset_GetNumberOfSources(handle); ++s)
                    VOQ_Source_GetSignal(VOQ_Headset_GetSourceByIndex(handle, s));
                break;
        }
        EXPECT_EQ(TakeError(), "") << "round " << round;
        VOQ_Headset_GetNumberOfBufferedSamples(handle);
        VOQ_Headset_GetNumberOfOverflowedSamples(handle);
        values += ReadOutputs();
        VOQ::Sleep(0.002);
    }
    EXPECT_GT(values, 0u);
    EXPECT_GT(gStageRuns.load(), 0u);
    EXPECT_TRUE(SamplesArrive(gSamples.load(), 30));
}

TEST_F(Concurrency, DeviceCommandsWhileStreaming) {
    ASSERT_TRUE(SamplesArrive(gSamples.load(), 30));
    const double end = VOQ::PrecisionTime() + 3.0;
    for (int round = 0; VOQ::PrecisionTime() < end; ++round) {
        switch (round % 8) {
            case 0: VOQ_Headset_ChangeLEDs(handle, round & 0xFF); break;
            case 1: VOQ_Headset_StartImpedanceDriver(handle); break;
            case 2: VOQ_Headset_StopImpedanceDriver(handle); break;
            case 3: VOQ_Headset_SetAccelerometerRate(handle, (round & 8) ? 25 : 10); break;
            case 4: VOQ_Headset_SendBatteryQuery(handle); break;
            case 5: EXPECT_EQ(headset->ReadClock(), 1); break;
            case 6: EXPECT_TRUE(headset->Echo("still there")); break;
            default: EXPECT_EQ(headset->QueryImpedanceDriverMode(), 1); break;
        }
        EXPECT_EQ(TakeError(), "") << "round " << round;
        ReadOutputs();
    }
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    EXPECT_TRUE(SamplesArrive(gSamples.load(), 30));
}

TEST_F(Concurrency, CallbacksAndVerbosityChangeWhileStreaming) {
    ASSERT_TRUE(SamplesArrive(gSamples.load(), 30));
    const double end = VOQ::PrecisionTime() + 2.0;
    for (int round = 0; VOQ::PrecisionTime() < end; ++round) {
        VOQ_Headset_SetSampleCallback(handle, (round & 1) ? &CountSample : nullptr, nullptr);
        VOQ_Headset_SetMessageCallback(handle, (round & 2) ? &MessageLog::Sink : nullptr);
        VOQ_Headset_SetVerbosity(handle, (round & 4) ? 5 : 2);
        EXPECT_EQ(TakeError(), "");
        ReadOutputs();
        VOQ::Sleep(0.003);
    }
    VOQ_Headset_SetMessageCallback(handle, &MessageLog::Sink);
    VOQ_Headset_SetVerbosity(handle, 2);
    VOQ_Headset_SetSampleCallback(handle, &CountSample, nullptr);
    EXPECT_TRUE(SamplesArrive(gSamples.load(), 30));
}

TEST_F(Concurrency, WorkerRestartedWhileTheCallerReads) {
    for (int round = 0; round < 6; ++round) {
        const uint64_t before = gSamples.load();
        if (round % 2) {
            VOQ_Headset_StopBackgroundAcquisition(handle);
            VOQ_Headset_StartBackgroundAcquisition(handle);
        } else {
            EXPECT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
        }
        EXPECT_EQ(TakeError(), "");
        EXPECT_TRUE(SamplesArrive(before, 10)) << "round " << round;
        VOQ_Headset_WaitForSamples(handle, 1);
        EXPECT_EQ(TakeError(), "");
        ReadOutputs();
    }
}
