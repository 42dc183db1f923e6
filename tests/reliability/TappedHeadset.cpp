#include "TappedHeadset.h"

#include <cstdio>

#include "Messages.h"

namespace reliability {

voqsim::Simulator* TappedHeadset::sim = nullptr;
Tap* TappedHeadset::tap = nullptr;
VOQ_Headset TappedHeadset::handle = nullptr;
VOQ::Headset* TappedHeadset::headset = nullptr;
SampleLog* TappedHeadset::samples = nullptr;
uint64_t TappedHeadset::corruptedBefore = 0;

std::string FirstDifference(const std::vector<uint32_t>& got, const std::vector<uint32_t>& expected) {
    const size_t n = std::min(got.size(), expected.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] == expected[i]) continue;
        return "first difference at sample " + std::to_string(i) + " of " + std::to_string(expected.size()) +
               ": got tick " + std::to_string(got[i]) + ", expected " + std::to_string(expected[i]);
    }
    if (got.size() != expected.size())
        return "got " + std::to_string(got.size()) + " samples, expected " + std::to_string(expected.size());
    return std::string();
}

void TappedHeadset::SetUpTestSuite() {
    voqsim::Config config;
    config.samplingRate = 300;
    sim = new voqsim::Simulator(config);
    tap = new Tap(sim->Start());
    samples = new SampleLog();
    VOQ_ClearError();
    handle = VOQ_Headset_New(tap->HostPath().c_str());
    headset = reinterpret_cast<VOQ::Headset*>(handle);
    if (!handle) return;
    VOQ_Headset_SetMessageCallback(handle, &Watched);
    VOQ_Headset_SetVerbosity(handle, 3);
    VOQ_Headset_ChooseChannels(handle, "SND Cz-Pz TRG ACCZ", "", 0);
    VOQ_Headset_ReallocateBuffers(handle, 10.0, 1.0);
}

int TappedHeadset::Watched(const char* message, int level) {
    voqtest::WatchMessage(message, level);
    return MessageLog::Sink(message, level);
}

void TappedHeadset::TearDown() { voqtest::ReportUnexpectedMessages(); }

void TappedHeadset::TearDownTestSuite() {
    if (handle) VOQ_Headset_Delete(handle);
    handle = nullptr;
    headset = nullptr;
    delete tap;
    tap = nullptr;
    delete sim;
    sim = nullptr;
    delete samples;
    samples = nullptr;
}

void TappedHeadset::SetUp() {
    ASSERT_NE(handle, nullptr) << VOQ_Error();
    ASSERT_GE(FindChannel(handle, "SND"), 0) << VOQ_Error();
    sim->ClearFaults();
    ASSERT_FALSE(sim->State().acquiring);
    MessageLog::Clear();
    VOQ_ClearError();
    VOQ_Headset_ClearAlarms(handle);
    tap->Clear();
    corruptedBefore = sim->Stats().blocksCorrupted;
}

TapRecord TappedHeadset::Stream(const StreamOptions& options, StreamResult& result, voqsim::StreamStats& stats) {
    result = RunStream(handle, *samples, options);
    stats = sim->Stats();
    // The tap decodes a claim the line never fills only after a quiet spell.
    VOQ::Sleep(0.8);
    const TapRecord record = tap->Snapshot();
    std::printf("    tap: %zu intact blocks, %zu samples checked, %zu corrupted blocks (%zu samples), %zu broken "
                "stretches, %zu bytes skipped, %zu blocks out of order, %zu alarms; simulator: %llu samples sent, "
                "%llu discarded, %llu skipped; %zu samples read, %llu overflowed\n",
                record.intactBlocks, record.samples.size(), record.corruptedBlocks, record.corruptedSamples.size(),
                record.brokenStretches, record.skippedBytes, record.outOfOrderBlocks, record.alarms,
                (unsigned long long)stats.dataPacketsSent, (unsigned long long)stats.samplesDiscarded,
                (unsigned long long)stats.samplesSkipped, result.readTicks.size(),
                (unsigned long long)result.overflowed);
    return record;
}

void TappedHeadset::ExpectExactDelivery(const TapRecord& record, const StreamResult& result) {
    EXPECT_GT(record.samples.size(), 100u);
    EXPECT_EQ(FirstDifference(result.callbackTicks, record.samples), "") << "sample callback";
    EXPECT_EQ(FirstDifference(result.readTicks, record.samples), "") << "SND channel buffer";
    const std::set<uint32_t> distinct(result.callbackTicks.begin(), result.callbackTicks.end());
    EXPECT_EQ(distinct.size(), result.callbackTicks.size()) << "a sample was delivered twice";
    EXPECT_EQ(result.overflowed, 0u);
    EXPECT_LT(result.longestWait, VOQ_WAIT_SILENCE_LIMIT + 1.0);
    for (const std::string& error : result.errors) ADD_FAILURE() << "wait failed: " << error;
}

}  // namespace reliability

namespace reliability {

void TappedHeadset::ExpectSequenceBreaksReported(const TapRecord& record) {
    ASSERT_EQ(record.sequence.size(), record.samples.size());
    for (size_t i = 1; i < record.sequence.size(); ++i) {
        const int expected = (record.sequence[i - 1] + 1) % 256;
        if (record.sequence[i] == expected) continue;
        char text[128];
        std::snprintf(text, sizeof text, "data packet %3d arrived timestamped %10.6f - OUT OF SEQUENCE (expected %d)",
                      int(record.sequence[i]), record.samples[i] / 1800.0, expected);
        EXPECT_EQ(MessageLog::Count(text, 2), 1) << text;
    }
}

}  // namespace reliability
