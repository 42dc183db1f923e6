// Buffers, the buffering controller, paced batches, the bounded waits,
// receiving and idling, and background acquisition, through the fake-data
// hook.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition_support.h"

using acqtest::FakeHeadset;
using acqtest::MessageLog;
using voqtest::Bytes;

namespace {

// Reads `count` values from every output channel (throws on underflow).
void ReadBatch(VOQ::Headset& h, uint64_t count) {
    for (VOQ::Channel* channel : h.OutputChannels())
        for (uint64_t k = 0; k < count; ++k) channel->buffer.Read();
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Thrown(const std::function<void()>& body) {
    try {
        body();
    } catch (const VOQ::Error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

std::string RateText(double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", rate);
    return text;
}

// A fake headset with a three-channel montage and the start-up batch
// (18 samples at 300/s, latency 0.05 s).
struct BatchHeadset : FakeHeadset {
    BatchHeadset() : FakeHeadset(300, 1, sigtest::Standard1020(), 4) {
        headset->ChooseChannels("Fp1 Cz X1", "FACTORY", false);
        headset->ConfigureBufferingController(0.25, 0.998, 0.005, 0.0, 0.0);
        headset->ConfigureBatch(18, 0.05);
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Buffers

TEST(Buffering, ReallocateBuffersSizesMontageAndImpedanceBuffers) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    EXPECT_EQ(fh->GetChannelByIndex(0)->buffer.Capacity(), 300u);
    fh->ReallocateBuffers(2.0, 0.5);
    EXPECT_EQ(fh->GetChannelByIndex(0)->buffer.Capacity(), 600u);
    EXPECT_EQ(fh->GetChannelByIndex(1)->buffer.Capacity(), 600u);
    EXPECT_EQ(fh->MatchSource("Fp1", true)->eegInPhase.Capacity(), 150u);
    EXPECT_EQ(fh->MatchSource("O1", true)->signalHistory.Capacity(), 150u);

    // Channels built later take the new length.
    fh->ChooseChannels("O1 Fz", "FACTORY", false);
    EXPECT_EQ(fh->GetChannelByIndex(0)->buffer.Capacity(), 600u);

    // Rounded to whole samples; 0 becomes 1 for channels, stays 0 for
    // impedance windows; a negative length counts as 0.
    fh->ReallocateBuffers(0.001, 0.0);
    EXPECT_EQ(fh->GetChannelByIndex(0)->buffer.Capacity(), 1u);
    EXPECT_EQ(fh->MatchSource("Fp1", true)->eegInPhase.Capacity(), 0u);
    fh->ReallocateBuffers(-3.0, 0.0051);
    EXPECT_EQ(fh->GetChannelByIndex(0)->buffer.Capacity(), 1u);
    EXPECT_EQ(fh->MatchSource("Fp1", true)->eegInPhase.Capacity(), 2u);
    EXPECT_NE(Thrown([&] { fh->ReallocateBuffers(1e12, 1.0); }).find("too long"), std::string::npos);
}

TEST(Buffering, FlushBuffersDiscardsEveryUnreadValue) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    fh.ProcessSamples(10);
    EXPECT_EQ(fh->Buffered(), 10u);
    fh->FlushBuffers();
    EXPECT_EQ(fh->Buffered(), 0u);

    // A montage without a "raw" stage is flushed too.
    fh->ForgetMontage();
    fh->AddChannelToMontage(fh->MatchSource("O1", true));
    fh.ProcessSamples(5);
    EXPECT_EQ(fh->Buffered(), 5u);
    fh->FlushBuffers();
    EXPECT_EQ(fh->Buffered(), 0u);
}

TEST(Buffering, LevelIsTheSmallestCountAndOverflowTheLargest) {
    FakeHeadset fh;
    EXPECT_EQ(fh->Buffered(), 0u);
    EXPECT_EQ(fh->BufferOverflow(), 0u);
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    fh.ProcessSamples(6);
    fh->GetChannelByIndex(1)->buffer.Read();
    fh->GetChannelByIndex(1)->buffer.Read();
    EXPECT_EQ(fh->Buffered(), 4u);

    fh->ReallocateBuffers(0.01, 1.0);   // 3 samples
    fh.ProcessSamples(5);
    EXPECT_EQ(fh->BufferOverflow(), 2u);
    EXPECT_EQ(fh->Buffered(), 3u);
    fh->GetChannelByIndex(0)->buffer.Flush();
    EXPECT_EQ(fh->BufferOverflow(), 2u);
    EXPECT_EQ(fh->Buffered(), 0u);
}

TEST(Buffering, WasteSamplesLeavesAtMostNInOutputAndMontageChannels) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    fh.ProcessSamples(30);
    fh->WasteSamples(10);
    EXPECT_EQ(fh->Buffered(), 10u);
    fh->WasteSamples(20);
    EXPECT_EQ(fh->Buffered(), 10u);

    // With a stage of its own channels, both the stage's and the montage's
    // buffers are trimmed.
    VOQ::ProcessingStage* stage = fh->AddProcessingStage(
        "copy",
        [](VOQ_Headset, double, void* s) {
            auto* st = static_cast<VOQ::ProcessingStage*>(s);
            for (size_t i = 0; i < st->channels.size(); ++i)
                st->channels[i]->buffer.Write(st->input->channels[i]->buffer.LookBack(0));
        },
        nullptr, nullptr);
    fh.ProcessSamples(20);
    VOQ::Channel* montageChannel = fh->GetProcessingStageByIndex(0)->channels[0];
    EXPECT_EQ(stage->channels[0]->buffer.Buffered(), 20u);
    EXPECT_EQ(montageChannel->buffer.Buffered(), 30u);
    EXPECT_EQ(fh->Buffered(), 20u);
    fh->WasteSamples(5);
    EXPECT_EQ(stage->channels[0]->buffer.Buffered(), 5u);
    EXPECT_EQ(stage->channels[1]->buffer.Buffered(), 5u);
    EXPECT_EQ(montageChannel->buffer.Buffered(), 5u);
}

// ---------------------------------------------------------------------------
// Configuration and paced batches

TEST(Buffering, ConfigurationResetsThePace) {
    FakeHeadset fh;
    fh->ConfigureBufferingController(0.5, 0.9, 1.0, 2.0, 3.0);
    EXPECT_DOUBLE_EQ(fh->EstimatedSampleRate(), 300.0);
    EXPECT_DOUBLE_EQ(fh->UpdateInterval(), 0.5);
    fh->ConfigureBatch(30, 0.1);
    EXPECT_EQ(fh->BatchSize(), 30u);
    EXPECT_TRUE(fh->RebaseBufferingController(301.5, true));
    EXPECT_DOUBLE_EQ(fh->EstimatedSampleRate(), 301.5);
    EXPECT_TRUE(fh->RebaseBufferingController(0.0, false));   // 0 keeps the rate
    EXPECT_DOUBLE_EQ(fh->EstimatedSampleRate(), 301.5);
}

TEST(Buffering, FirstBatchIsTrimmedToLatencyPlusBatchPlusFour) {
    BatchHeadset fh;
    fh.FeedSamples(51);   // read by the wait itself
    double before = fh->SecondsSinceConnection();
    double stamp = fh->WaitForBatch();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, fh->SecondsSinceConnection());
    EXPECT_EQ(fh->Buffered(), 37u);   // W 15 + B 18 + 4
    ReadBatch(*fh, 18);
    EXPECT_EQ(fh->Buffered(), 19u);
    EXPECT_DOUBLE_EQ(fh->UpdateInterval(), 0.24);   // 0.25 s in whole 0.06-s periods
}

TEST(Buffering, ControllerUpdatesEveryFourthBatchWithTheExpectedRate) {
    BatchHeadset fh;
    fh.FeedSamples(51);
    std::vector<double> stamps;
    for (int n = 0; n < 9; ++n) {
        if (n > 0) fh.FeedSamples(18);   // exactly one batch per period
        stamps.push_back(fh->WaitForBatch());
        ReadBatch(*fh, 18);
    }
    EXPECT_EQ(MessageLog::Count("Real-time violation"), 0);
    EXPECT_EQ(MessageLog::Count("Discharging"), 0);
    // Updates after batches 4 and 8 only.
    std::vector<acqtest::Captured> updates = MessageLog::Find("Estimated sample rate updated to ");
    ASSERT_EQ(updates.size(), 2u);
    // Reserve 19 samples against a latency of 15: a proportional correction.
    const double e = 19.0 / 300 - 0.05;
    const double rate = 1.0 / (1.0 / 300 - 0.005 * e);
    EXPECT_EQ(updates[0].text, "Estimated sample rate updated to " + RateText(rate));
    EXPECT_EQ(updates[0].level, 3);
    EXPECT_EQ(MessageLog::Count("Buffering error = ", 4), 2);
    EXPECT_DOUBLE_EQ(fh->EstimatedSampleRate(), rate);
    // Batches are paced one period apart.
    for (size_t k = 2; k < stamps.size(); ++k) {
        EXPECT_GT(stamps[k] - stamps[k - 1], 0.045) << k;
        EXPECT_LT(stamps[k] - stamps[k - 1], 0.090) << k;
    }
}

TEST(Buffering, CorrectionIsLimitedToHalfASamplePeriod) {
    BatchHeadset fh;
    fh->ConfigureBufferingController(0.25, 0.998, 100.0, 0.0, 0.0);
    fh.FeedSamples(51);
    for (int n = 0; n < 5; ++n) {
        if (n > 0) fh.FeedSamples(18);
        fh->WaitForBatch();
        ReadBatch(*fh, 18);
    }
    EXPECT_EQ(MessageLog::Count("Estimated sample rate updated to 600", 3), 1);
    EXPECT_DOUBLE_EQ(fh->EstimatedSampleRate(), 600.0);
}

TEST(Buffering, ZeroUpdateIntervalNeverDividesByZero) {
    BatchHeadset fh;
    fh->ConfigureBufferingController(0.0, 0.998, 0.005, 2.5e-6, 0.1);
    fh.FeedSamples(51);
    for (int n = 0; n < 4; ++n) {
        if (n > 0) fh.FeedSamples(18);
        fh->WaitForBatch();
        ReadBatch(*fh, 18);
        fh->RebaseBufferingController(300, false);   // as a change of settings does
    }
    EXPECT_TRUE(std::isfinite(fh->EstimatedSampleRate()));
    EXPECT_GT(fh->EstimatedSampleRate(), 200.0);
}

TEST(Buffering, ExcessLevelDischargesAndResetsAtOnce) {
    BatchHeadset fh;
    fh.FeedSamples(51);
    fh->WaitForBatch();
    ReadBatch(*fh, 18);   // 19 left
    fh.ProcessSamples(51);   // 70 > 3 * 18 + 15
    auto start = std::chrono::steady_clock::now();
    fh->WaitForBatch();
    EXPECT_LT(Since(start), 0.04);
    EXPECT_EQ(MessageLog::Count("Discharging buffer and resetting controller (triggered by 70 samples in buffer)", 2),
              1);
    EXPECT_EQ(MessageLog::Count("Estimated sample rate updated to"), 0);
}

TEST(Buffering, LateSamplesAreARealTimeViolationWithoutControllerUpdate) {
    BatchHeadset fh;
    fh->ConfigureBufferingController(0.06, 0.998, 0.005, 0.0, 0.0);   // update at every batch
    fh.FeedSamples(51);
    fh->WaitForBatch();
    ReadBatch(*fh, 37);   // nothing left
    std::thread feeder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        fh.FeedSamples(20);
    });
    double stamp = fh->WaitForBatch();
    feeder.join();
    EXPECT_EQ(MessageLog::Count("Real-time violation - refilling buffer and resetting controller", 2), 1);
    EXPECT_GE(fh->Buffered(), 18u);
    EXPECT_GT(stamp, 0.0);
    EXPECT_EQ(MessageLog::Count("Estimated sample rate updated to"), 0);
}

TEST(Buffering, ConfigureBatchStartsAgainWithAFirstBatch) {
    BatchHeadset fh;
    fh.FeedSamples(51);
    fh->WaitForBatch();
    ReadBatch(*fh, 18);
    fh->ConfigureBatch(9, 0.1);   // W 30: the first batch keeps 43
    fh.FeedSamples(34);
    fh->WaitForBatch();
    EXPECT_EQ(fh->Buffered(), 43u);
}

// ---------------------------------------------------------------------------
// The waits never wait forever

TEST(Buffering, WaitsFailWithoutOutputChannels) {
    FakeHeadset fh;
    fh->ConfigureBatch(18, 0.05);
    auto start = std::chrono::steady_clock::now();
    const std::string expected = "cannot wait for samples: the headset has no output channels (choose a montage first)";
    EXPECT_EQ(Thrown([&] { fh->WaitForSamples(1); }), expected);
    EXPECT_EQ(Thrown([&] { fh->WaitForBatch(); }), expected);
    EXPECT_LT(Since(start), 0.1);
}

TEST(Buffering, WaitsFailForMoreThanTheBuffersHold) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    EXPECT_EQ(Thrown([&] { fh->WaitForSamples(301); }),
              "cannot wait for 301 samples: the output buffers hold only 300 (make them longer with ReallocateBuffers)");
    fh->ConfigureBatch(290, 0.05);
    EXPECT_EQ(Thrown([&] { fh->WaitForBatch(); }),
              "cannot wait for 309 samples: the output buffers hold only 300 (make them longer with ReallocateBuffers)");
}

TEST(Buffering, WaitForBatchNeedsARateAndABatchSize) {
    VOQ::Headset h("deferred");
    h.AttachFakeData();
    EXPECT_EQ(Thrown([&] { h.WaitForBatch(); }), "cannot wait for a batch: the sampling rate is not known");
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    EXPECT_EQ(Thrown([&] { fh->WaitForBatch(); }),
              "cannot wait for a batch: the batch size is 0 (configure a batch first)");
}

// Whatever else is missing (a montage, a rate, a batch size), a headset
// without a connection says so first, in every reading call.
TEST(Buffering, ReadingCallsOnAnUnconnectedHeadsetNameTheMissingConnection) {
    VOQ::Headset h("deferred");
    const std::string expected = "Cannot read from headset: serial-port connection not yet established.";
    EXPECT_EQ(Thrown([&] { h.WaitForSamples(1); }), expected);
    EXPECT_EQ(Thrown([&] { h.WaitForBatch(); }), expected);
    EXPECT_EQ(Thrown([&] { h.Receive(0.1, 0.0); }), expected);
    EXPECT_EQ(Thrown([&] { h.Idle(0.0); }), expected);
}

TEST(Buffering, WaitForSamplesGivesUpFiveSecondsAfterTheLastBlock) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    auto start = std::chrono::steady_clock::now();
    std::thread feeder([&] {
        for (int k = 0; k < 2; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            fh.Feed(voqtest::Block(fh.blockNumber++));   // blocks, but no samples
        }
    });
    std::string error = Thrown([&] { fh->WaitForSamples(10); });
    double elapsed = Since(start);
    feeder.join();
    EXPECT_EQ(error, "gave up waiting for samples: no block has arrived from the headset for 5 seconds");
    EXPECT_GT(elapsed, 5.7);   // counted from the last block, not the call
    EXPECT_LT(elapsed, 7.5);
}

TEST(Buffering, WaitForBatchGivesUpOnASilentHeadset) {
    BatchHeadset fh;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Thrown([&] { fh->WaitForBatch(); }),
              "gave up waiting for samples: no block has arrived from the headset for 5 seconds");
    EXPECT_GT(Since(start), 4.9);
    EXPECT_LT(Since(start), 6.2);
}

// ---------------------------------------------------------------------------
// Receiving and idling

TEST(Buffering, IdleAttemptsAtLeastOneRead) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    fh.FeedSamples(3);
    fh->Idle(0);
    EXPECT_EQ(fh->Buffered(), 3u);
    auto start = std::chrono::steady_clock::now();
    fh->Idle(0.1);   // nothing to read: one read time-out
    EXPECT_GE(Since(start), 0.1);
    EXPECT_LT(Since(start), 1.5);
}

TEST(Buffering, ReceiveReadsUntilAcquisitionStops) {
    FakeHeadset fh;   // data acquisition mode 1 from the reply
    fh->ChooseChannels("Fp1", "FACTORY", false);
    fh.FeedSamples(40);
    fh.Feed(voqtest::Block(fh.blockNumber++,
                           {voqtest::ResponsePacket(1, 33, 9, voqtest::Concat({Bytes{0, 1}, voqtest::U16(300)}))}));
    fh->Receive(-1, 0);
    EXPECT_EQ(fh->DataAcquisitionMode(), 0);
    EXPECT_EQ(fh->Buffered(), 40u);
}

// ---------------------------------------------------------------------------
// Background acquisition

TEST(Buffering, BackgroundAcquisitionStartsStopsAndRestarts) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    EXPECT_FALSE(fh->BackgroundAcquisitionAlive());
    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    EXPECT_TRUE(fh->BackgroundAcquisitionAlive());
    fh.FeedSamples(40);
    EXPECT_GE(fh->WaitForSamples(40), 40u);

    // Starting while running stops the running worker first.
    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    EXPECT_TRUE(fh->BackgroundAcquisitionAlive());
    fh.FeedSamples(20);
    EXPECT_GE(fh->WaitForSamples(60), 60u);

    fh->StopBackgroundAcquisition();
    auto start = std::chrono::steady_clock::now();
    while (fh->BackgroundAcquisitionAlive() && Since(start) < 2.0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(fh->BackgroundAcquisitionAlive());
    EXPECT_LT(Since(start), 1.0);

    // Without a worker the wait reads blocks itself.
    fh.FeedSamples(10);
    EXPECT_GE(fh->WaitForSamples(70), 70u);

    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    fh.FeedSamples(10);
    EXPECT_GE(fh->WaitForSamples(80), 80u);
    EXPECT_EQ(fh->BufferOverflow(), 0u);
}

TEST(Buffering, BackgroundAcquisitionEndsWhenTheStreamStops) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    fh.Feed(voqtest::Block(fh.blockNumber++,
                           {voqtest::ResponsePacket(1, 33, 9, voqtest::Concat({Bytes{0, 1}, voqtest::U16(300)}))}));
    auto start = std::chrono::steady_clock::now();
    while (fh->BackgroundAcquisitionAlive() && Since(start) < 2.0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(fh->BackgroundAcquisitionAlive());
}

namespace {

void Throwing(VOQ_Headset, double, void*) { throw VOQ::Error("boom"); }

}  // namespace

TEST(Buffering, WorkerErrorIsIssuedAndReportedByTheWaits) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    fh->SetSampleCallback(&Throwing, nullptr);
    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    fh.FeedSamples(1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Thrown([&] { fh->WaitForSamples(100); }), "Background acquisition ended by an error: boom");
    EXPECT_LT(Since(start), 2.0);
    EXPECT_EQ(MessageLog::Count("Background acquisition ended by an error: boom", 1), 1);
    EXPECT_FALSE(fh->BackgroundAcquisitionAlive());

    // Reported once; afterwards the waits read the port themselves.
    fh->SetSampleCallback(nullptr, nullptr);
    fh.FeedSamples(20);
    EXPECT_GE(fh->WaitForSamples(10), 10u);
}

namespace {

std::atomic<int> gSamplesSeen{0};
void CountSample(VOQ_Headset, double, void*) { ++gSamplesSeen; }

}  // namespace

TEST(Buffering, DeletingAHeadsetWhileItsWorkerRunsIsSafe) {
    for (int round = 0; round < 5; ++round) {
        auto* fh = new FakeHeadset();
        (*fh)->ChooseChannels("Fp1 Cz", "FACTORY", false);
        (*fh)->SetSampleCallback(&CountSample, nullptr);
        ASSERT_TRUE((*fh)->StartBackgroundAcquisition());
        fh->FeedSamples(40);
        (*fh)->WaitForSamples(10);
        fh->FeedSamples(40);   // still being read while the headset goes
        auto start = std::chrono::steady_clock::now();
        delete fh;
        EXPECT_LT(Since(start), 1.5);
        int seen = gSamplesSeen;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(gSamplesSeen.load(), seen);   // nothing runs after deletion
    }
}

// The caller's thread and the worker at full tilt: reads, waits, level and
// information queries, buffer changes and montage changes (clean under
// ThreadSanitizer).
TEST(Buffering, CallerAndWorkerShareNothingUnsynchronised) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz X1", "FACTORY", false);
    fh->SetSampleCallback(&CountSample, nullptr);
    fh.Respond(172, voqtest::U16(10));
    fh.Respond(218, voqtest::U16(1));
    // A backlog keeps the worker busy (a worker that finds no input holds the
    // read lock while it waits for some, which would only slow this down).
    auto feedBlocks = [&](int blocks) {
        Bytes bytes;
        for (int b = 0; b < blocks; ++b) {
            std::vector<Bytes> packets;
            packets.push_back(
                voqtest::AccelerometerPacket({{{{1, 2, 3}}, {{4, 5, 6}}, {{7, 8, 9}}}}, 60, 120, fh.ticks));
            for (int k = 0; k < 15; ++k) packets.push_back(fh.NextDataPacket(uint8_t(k)));
            Bytes block = voqtest::Block(fh.blockNumber++, packets);
            bytes.insert(bytes.end(), block.begin(), block.end());
        }
        fh.Feed(bytes);
    };
    feedBlocks(400);
    ASSERT_TRUE(fh->StartBackgroundAcquisition());
    auto start = std::chrono::steady_clock::now();
    int round = 0;
    while (round < 8 || Since(start) < 0.6) {
        feedBlocks(2);
        fh->WaitForSamples(5);
        uint64_t level = fh->Buffered();
        for (VOQ::Channel* channel : fh->OutputChannels())
            for (uint64_t k = 0; k < level; ++k) channel->buffer.Read();
        (void)fh->BufferOverflow();
        (void)fh->InfoString();
        (void)fh->MatchSource("Fp1", true)->impedanceEEG.load();
        switch (round++ % 4) {
            case 0: fh->ReallocateBuffers(1.0, 1.0); break;
            case 1: fh->ChooseChannels(round % 8 == 1 ? "Fp1 Cz X1" : "O1 O2 X1", "FACTORY", false); break;
            case 2: fh->FlushBuffers(); break;
            default: fh->SetSampleCallback(round % 8 == 3 ? nullptr : &CountSample, nullptr); break;
        }
    }
    fh->StopBackgroundAcquisition();
    EXPECT_GT(gSamplesSeen.load(), 0);
}
