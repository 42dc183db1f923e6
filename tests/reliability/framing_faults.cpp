// Faults on the wire while the background worker streams and the caller
// reads: corrupted check sums (1% of all blocks and single ones), truncated
// blocks, bytes left out of blocks, blocks out of order, and buffers left to
// overflow meanwhile.  For each, the wire tap says which blocks reached the
// library intact; every sample of those, and no other, must come out once,
// in arrival order, through the sample callback and the channel buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "Messages.h"
#include "TappedHeadset.h"

using namespace reliability;

namespace {

// Calls `inject` once at each of the given times (seconds into the stream).
std::function<void(double)> At(std::vector<double> times, std::function<void()> inject) {
    auto next = std::make_shared<size_t>(0);
    return [times, inject, next](double elapsed) {
        while (*next < times.size() && elapsed >= times[*next]) {
            inject();
            ++*next;
        }
    };
}

const char kResync[] = " - resynchronizing...";

}  // namespace

class FramingFaults : public TappedHeadset {};

TEST_F(FramingFaults, CleanStreamIsDeliveredWhole) {
    StreamOptions options;
    options.seconds = 2.0;
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);
    EXPECT_EQ(record.brokenStretches, 0u);
    EXPECT_EQ(MessageLog::Count(kResync), 0);
}

TEST_F(FramingFaults, CorruptedCheckSums) {
    // Blocks spoiled at random may carry a command's reply.
    voqtest::ExpectMessages expected({kResync, "No reply received - resending"});
    sim->SetCorruptBlockFraction(0.01);
    StreamOptions options;
    options.seconds = 4.0;
    options.faults = At({0.4, 1.1, 1.8, 2.5, 3.2}, [] { sim->CorruptNextBlocks(1); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);

    // The tap saw every block the simulator spoiled, and nothing else broken.
    EXPECT_EQ(record.corruptedBlocks, stats.blocksCorrupted - corruptedBefore);
    EXPECT_GE(record.corruptedBlocks, 5u);
    // Exactly the samples of the spoiled blocks are missing ...
    EXPECT_EQ(record.samples.size() + record.corruptedSamples.size(), stats.dataPacketsSent);
    EXPECT_GT(record.corruptedSamples.size(), 0u);
    for (uint32_t lost : record.corruptedSamples)
        EXPECT_EQ(std::count(result.callbackTicks.begin(), result.callbackTicks.end(), lost), 0);
    // ... and each run of spoiled blocks was reported once.
    EXPECT_GE(record.brokenStretches, 1u);
    EXPECT_EQ(MessageLog::Count(std::string("Block failed consistency check.") + kResync, 2),
              int(record.brokenStretches))
        << MessageLog::All();
}

TEST_F(FramingFaults, TruncatedBlocks) {
    voqtest::ExpectMessages expected({kResync});
    StreamOptions options;
    options.seconds = 3.5;
    options.faults = At({0.4, 0.9, 1.4, 1.9, 2.4, 2.9}, [] { sim->TruncateNextBlock(); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_GE(record.brokenStretches, 5u);
    EXPECT_GT(stats.dataPacketsSent, record.samples.size());
    EXPECT_EQ(MessageLog::Count(kResync, 2), int(record.brokenStretches)) << MessageLog::All();
}

TEST_F(FramingFaults, HeaderCutShort) {
    voqtest::ExpectMessages expected({kResync});
    StreamOptions options;
    options.seconds = 2.5;
    options.faults = At({0.4, 1.0, 1.6}, [] { sim->TruncateNextBlock(9); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_GE(record.brokenStretches, 3u);
    EXPECT_EQ(MessageLog::Count(kResync, 2), int(record.brokenStretches)) << MessageLog::All();
}

TEST_F(FramingFaults, BytesLeftOut) {
    voqtest::ExpectMessages expected({kResync});
    StreamOptions options;
    options.seconds = 3.0;
    options.faults = At({0.4, 0.9, 1.4, 1.9, 2.4}, [] { sim->DropBytesInNextBlock(5); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_GE(record.brokenStretches, 4u);
    EXPECT_GT(stats.dataPacketsSent, record.samples.size());
    EXPECT_EQ(MessageLog::Count(kResync, 2), int(record.brokenStretches)) << MessageLog::All();
}

TEST_F(FramingFaults, BlocksOutOfOrder) {
    voqtest::ExpectMessages expected({"OUT OF SEQUENCE"});
    StreamOptions options;
    options.seconds = 3.0;
    options.faults = At({0.4, 0.9, 1.4, 1.9, 2.4}, [] { sim->SwapNextBlocks(); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    // Nothing is lost: swapped blocks are both intact, and are used in the
    // order they came.
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);
    EXPECT_EQ(record.brokenStretches, 0u);
    EXPECT_GE(record.outOfOrderBlocks, 5u);
    EXPECT_FALSE(std::is_sorted(result.callbackTicks.begin(), result.callbackTicks.end()));
    ExpectSequenceBreaksReported(record);
    EXPECT_EQ(MessageLog::Count("arrived out of order (expected ", 3), int(record.outOfOrderBlocks))
        << MessageLog::All();
}

TEST_F(FramingFaults, OverflowCountsOnlyOverwrittenSamples) {
    // Blocks spoiled at random may carry a command's reply.
    voqtest::ExpectMessages expected({kResync, "No reply received - resending"});
    // Half-second buffers, left unread for two seconds while blocks are
    // also being spoiled: the overflow count is exactly the number of values
    // written over before they were read; spoiled blocks do not add to it.
    VOQ_Headset_ReallocateBuffers(handle, 0.5, 1.0);
    sim->SetCorruptBlockFraction(0.05);
    StreamOptions options;
    options.seconds = 3.5;
    options.pauseFrom = 0.5;
    options.pauseUntil = 2.5;
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    VOQ_Headset_ReallocateBuffers(handle, 10.0, 1.0);

    EXPECT_EQ(FirstDifference(result.callbackTicks, record.samples), "");
    EXPECT_GT(record.corruptedBlocks, 0u);
    ASSERT_LT(result.readTicks.size(), result.callbackTicks.size());
    EXPECT_EQ(result.overflowed, result.callbackTicks.size() - result.readTicks.size());
    // What was read is what was delivered, in order, minus what was
    // overwritten.
    size_t at = 0;
    for (uint32_t tick : result.readTicks) {
        while (at < result.callbackTicks.size() && result.callbackTicks[at] != tick) ++at;
        ASSERT_LT(at, result.callbackTicks.size()) << "read a sample that was not delivered: " << tick;
        ++at;
    }
}
