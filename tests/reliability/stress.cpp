// Several headsets driven through the C interface alone while their workers
// stream: the caller's thread changes montages, references, processing
// stages and their channels, buffer lengths, starts and stops the workers and
// sends commands right after; then one simulated headset is killed while its
// worker streams and another while the caller's thread reads, and both
// headsets are deleted.  Every call on a live headset must succeed, samples
// must keep coming, and a killed headset must end its waits at once and be
// deleted without delay.  Built to run under AddressSanitizer (with leak
// checking: a deleted headset must leave nothing behind) and
// ThreadSanitizer; bounded to about a minute (VOQ_STRESS_SECONDS changes the
// streaming part, 30 s by default).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Support.h"
#include "VOQ_API.h"

using namespace reliability;

namespace {

std::string TakeError() {
    const char* error = VOQ_ClearError();
    return error ? error : "";
}

double Now() {
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

// Writes every channel of the stage once per sample, from the input channel
// of the same index (or the input's last one): correct whatever the caller
// does to either stage's channels between samples.
void CopyStage(VOQ_Headset, double, void* handle) {
    VOQ_ProcessingStage stage = static_cast<VOQ_ProcessingStage>(handle);
    VOQ_ProcessingStage input = VOQ_ProcessingStage_GetInput(stage);
    const unsigned inputs = VOQ_ProcessingStage_GetNumberOfChannels(input);
    const unsigned n = VOQ_ProcessingStage_GetNumberOfChannels(stage);
    for (unsigned k = 0; k < n; ++k)
        VOQ_ProcessingStage_Write(stage, k, inputs ? VOQ_ProcessingStage_Read(input, std::min(k, inputs - 1), 0) : 0.0);
}

struct Rig {
    std::unique_ptr<ChildSimulator> sim;
    VOQ_Headset headset = nullptr;
    int stages = 0;
};

// Reads every value the output channels (the last stage's) hold.
void ReadOutputs(VOQ_Headset h) {
    const unsigned stages = VOQ_Headset_GetNumberOfProcessingStages(h);
    const unsigned n = stages ? VOQ_ProcessingStage_GetNumberOfChannels(VOQ_Headset_GetProcessingStageByIndex(h, stages - 1))
                              : VOQ_Headset_GetNumberOfChannels(h);
    for (unsigned k = 0; k < n; ++k) {
        VOQ_Channel channel = VOQ_Headset_GetChannelByIndex(h, k);
        for (size_t m = VOQ_Channel_GetNumberOfBufferedSamples(channel); m > 0; --m) VOQ_Channel_ReadBuffered(channel);
    }
}

// One step of the caller's work on a streaming headset.
void Step(Rig& rig, int round) {
    static const char* const kMontages[] = {"Fz Cz Pz", "F3-A1/2-A2/2 C3 P3 O1*2", "FACTORY", "Cz-Pz TRG ACCX SND"};
    static const char* const kReferences[] = {"A1/2+A2/2", "", "Cz", "FACTORY"};
    VOQ_Headset h = rig.headset;
    const int k = round % 4;
    switch (round % 8) {
        case 0: VOQ_Headset_ChooseChannels(h, kMontages[k], kReferences[k], round & 1); break;
        case 1: {
            const std::string name = "copy" + std::to_string(rig.stages++);
            VOQ_ProcessingStage stage = VOQ_Headset_AddProcessingStage(h, name.c_str(), &CopyStage, nullptr, nullptr);
            VOQ_Headset_ReallocateStageBuffers(h, stage, 0.5);
            break;
        }
        case 2: {
            // The newest stage's channels replaced while its callback runs.
            const unsigned count = VOQ_Headset_GetNumberOfProcessingStages(h);
            if (count < 2) break;
            VOQ_ProcessingStage stage = VOQ_Headset_GetProcessingStageByIndex(h, count - 1);
            VOQ_ProcessingStage_ClearChannels(stage);
            for (int c = 0; c < 1 + round % 3; ++c)
                VOQ_ProcessingStage_AddChannel(stage, ("out" + std::to_string(c)).c_str(), 200);
            break;
        }
        case 3: VOQ_Headset_ReallocateBuffers(h, 0.5 + k * 0.25, 0.5); break;
        case 4:
            // A stop and a start, each followed at once by a command.
            VOQ_Headset_StopBackgroundAcquisition(h);
            VOQ_Headset_ChangeLEDs(h, round & 0xFF);
            VOQ_Headset_StartBackgroundAcquisition(h);
            VOQ_Headset_SendBatteryQuery(h);
            VOQ_Headset_ChangeLEDs(h, (round + 1) & 0xFF);
            break;
        case 5:
            if (round & 8)
                VOQ_Headset_StartImpedanceDriver(h);
            else
                VOQ_Headset_StopImpedanceDriver(h);
            break;
        case 6: VOQ_Headset_SetDefaultReference(h, kReferences[(k + 1) % 4], 1); break;
        default: VOQ_Headset_FlushBuffers(h); break;
    }
}

}  // namespace

TEST(Stress, HeadsetsReconfiguredRestartedKilledAndDeleted) {
    const char* program = VOQ_SIM_PROGRAM;
    const double seconds = std::getenv("VOQ_STRESS_SECONDS") ? std::atof(std::getenv("VOQ_STRESS_SECONDS")) : 30.0;
    const int rates[] = {300, 600, 300};
    std::vector<Rig> rigs(3);
    for (size_t i = 0; i < rigs.size(); ++i) {
        rigs[i].sim.reset(new ChildSimulator(program, rates[i]));
        ASSERT_FALSE(rigs[i].sim->Path().empty()) << "voq-sim did not start";
        rigs[i].headset = VOQ_Headset_New(rigs[i].sim->Path().c_str());
        ASSERT_NE(rigs[i].headset, nullptr) << TakeError();
        VOQ_Headset_SetMessageCallback(rigs[i].headset, &MessageLog::Sink);
        ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(rigs[i].headset), 1);
    }

    // Reconfiguring while streaming: every call succeeds.
    std::vector<std::string> failures;
    int round = 0;
    for (const double end = Now() + seconds; Now() < end; ++round) {
        Rig& rig = rigs[size_t(round) % rigs.size()];
        Step(rig, round / int(rigs.size()));
        ReadOutputs(rig.headset);
        const std::string error = TakeError();
        if (!error.empty() && failures.size() < 10)
            failures.push_back("round " + std::to_string(round) + ": " + error);
    }
    EXPECT_TRUE(failures.empty()) << failures.size() << " failures, the first: " << failures.front();
    std::printf("    %d rounds of changes on %zu headsets in %.0f s\n", round, rigs.size(), seconds);
    for (Rig& rig : rigs) {
        VOQ_Headset_StartBackgroundAcquisition(rig.headset);
        EXPECT_GE(VOQ_Headset_WaitForSamples(rig.headset, 30), 30u) << TakeError();
    }

    // The first headset dies while its worker streams, the second while the
    // caller's thread reads: the waits end at once with an error, and
    // deleting frees everything without waiting for a dead line.
    VOQ_Headset_StopBackgroundAcquisition(rigs[1].headset);
    VOQ_Headset_StartDataAcquisition(rigs[1].headset);
    EXPECT_EQ(TakeError(), "");
    for (int victim = 0; victim < 2; ++victim) {
        VOQ_Headset h = rigs[size_t(victim)].headset;
        EXPECT_GE(VOQ_Headset_WaitForSamples(h, 10), 10u) << TakeError();
        rigs[size_t(victim)].sim->Kill();
        const double killed = Now();
        std::string error;
        while (error.empty() && Now() < killed + 10.0) {
            VOQ_Headset_WaitForSamples(h, 1);
            error = TakeError();
            VOQ_Headset_FlushBuffers(h);
        }
        EXPECT_NE(error, "") << "headset " << victim;
        EXPECT_LT(Now() - killed, 2.0) << "headset " << victim << ": " << error;
        const double deleting = Now();
        VOQ_Headset_Delete(h);
        EXPECT_LT(Now() - deleting, 2.0) << "headset " << victim;
        EXPECT_EQ(TakeError(), "") << "headset " << victim;
        rigs[size_t(victim)].headset = nullptr;
    }

    // The survivor streams on, and is deleted while its worker runs.
    EXPECT_GE(VOQ_Headset_WaitForSamples(rigs[2].headset, 30), 30u) << TakeError();
    VOQ_Headset_Delete(rigs[2].headset);
    EXPECT_EQ(TakeError(), "");
}
