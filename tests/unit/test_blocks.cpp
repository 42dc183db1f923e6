// Block reading, framing faults, resynchronisation and packet dispatch,
// through the fake-data hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "FakeDataTest.h"
#include "VOQ_API.h"
#include "voq/Headset.h"

using namespace voqtest;

namespace {

class BlocksTest : public FakeDataTest {
protected:
    void Feed(const Bytes& bytes) { voqtest::Feed(headset, bytes); }
    // Reads blocks until one call finds nothing (bounded).
    int Drain() {
        int n = 0;
        for (int k = 0; k < 20 && headset.TryToReadBlock(); ++k) ++n;
        return n;
    }
};

Bytes Identity(int identifier, const std::string& text) { return ResponsePacket(1, 29, identifier, Text(text)); }
Bytes Serial(uint32_t serial) {
    Bytes payload(6);
    VOQ::WriteU32LE(payload.data(), serial);
    return ResponsePacket(1, 40, 0, payload);
}

}  // namespace

TEST_F(BlocksTest, SilenceReturnsFalseQuietly) {
    double start = VOQ::PrecisionTime();
    EXPECT_FALSE(headset.TryToReadBlock());
    double elapsed = VOQ::PrecisionTime() - start;
    EXPECT_GE(elapsed, 0.45);
    EXPECT_LT(elapsed, 1.5);
    EXPECT_TRUE(messages.empty());
}

TEST_F(BlocksTest, EmptyBlockIsDecodedAndSetsTheClock) {
    EXPECT_LT(headset.LastBlockTime(), 0.0);
    Feed(Block(12));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("Decoded 0 packet(s) from block 12", 4), 1);
    EXPECT_GT(headset.LastBlockTime(), 0.0);
    // Level 6 shows the block's bytes but its terminator.
    EXPECT_EQ(Count(":  \"\\x23\\x32\\x18\\x00", 6), 1);
}

TEST_F(BlocksTest, ResponsePacketIsDispatched) {
    Feed(Block(1, {Identity(3, "ABC-100 Rev 2")}));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "ABC-100 Rev");
    EXPECT_EQ(headset.HardwareRevision(), "2");
    EXPECT_EQ(Count("Decoded 1 packet(s) from block 1", 4), 1);
}

TEST_F(BlocksTest, SeveralPacketsOfEverySpecies) {
    Feed(Block(2, {Identity(1, "One"), AlarmPacket(2, 0x01, {}), ResponsePacket(5, 18, 2, Text("9.9")),
                   AlarmPacket(6, 0x0B, {1, 2}), RawPacket(7, Bytes{1, 2, 3}), RawPacket(0, Bytes{0})}));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "One");
    EXPECT_EQ(headset.FirmwareRevision(), "??? () + 9.9 ()");
    EXPECT_EQ(headset.NumberOfAlarms(), 2);
    EXPECT_EQ(headset.GetAlarm(true), 513);
    EXPECT_EQ(headset.GetAlarm(true), 1547);
    EXPECT_EQ(Count("Ignoring packet of species 0x07 (Reserved7).", 3), 1);
    EXPECT_EQ(Count("Ignoring packet of species 0x00 (Nop).", 3), 1);
    EXPECT_EQ(Count("Decoded 6 packet(s) from block 2", 4), 1);
}

TEST_F(BlocksTest, TooLongBlockIsReportedAndSkipped) {
    Bytes bad = BlockBuilder(3).LengthField(1025).Build();
    Feed(Concat({bad, Block(4, {Identity(1, "Good One")})}));
    EXPECT_TRUE(headset.TryToReadBlock());   // fault, then resynchronised
    EXPECT_EQ(Count("Headset wants to send too much data. - resynchronizing...", 2), 1);
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "Good");
}

TEST_F(BlocksTest, EveryFramingFaultHasItsMessage) {
    struct Case {
        Bytes bytes;
        const char* message;
    };
    Bytes wrongStart = BlockBuilder(1).StartCode('#', '3').Build();
    Bytes tooLittle = BlockBuilder(1).LengthField(21).Build();
    Bytes tiny = BlockBuilder(1).LengthField(10).Build();
    Bytes wrongEnd = BlockBuilder(1).Terminator('\r', '\r').Build();
    Bytes badCRC = BlockBuilder(1).Add(Identity(1, "X")).CorruptCRC().Build();
    Bytes shortBody = Block(1, {Identity(1, "X")});
    shortBody.resize(shortBody.size() - 3);
    std::vector<Case> cases = {
        {Bytes{'#', '2', 30, 0, 1}, "Block header ended prematurely."},
        {wrongStart, "Block did not start with the expected code."},
        {tooLittle, "Headset wants to send too little data."},
        {tiny, "Headset wants to send too little data."},
        {wrongEnd, "Block did not terminate with the expected code."},
        {badCRC, "Block failed consistency check."},
        {shortBody, "Block body ended prematurely"},
    };
    for (const Case& c : cases) {
        messages.clear();
        Feed(c.bytes);
        headset.TryToReadBlock();
        EXPECT_EQ(Count(std::string(c.message) + " - resynchronizing...", 2), 1) << c.message;
        EXPECT_EQ(headset.HardwareModel(), "???") << c.message;
        // Drain whatever the fault left behind, then make sure a good block
        // still reads.
        headset.FlushData(0);
        Feed(Block(2, {Serial(unsigned(c.bytes.size()))}));
        EXPECT_TRUE(headset.TryToReadBlock()) << c.message;
        EXPECT_EQ(headset.SerialNumber(), unsigned(c.bytes.size())) << c.message;
    }
}

// Line noise in front of a block (here with a carriage return and line feed
// in it, and a false start code) must not cost the block.
TEST_F(BlocksTest, NoiseBeforeAGoodBlockCostsNothing) {
    Bytes noise{0x01, '#', '2', 0xFF, 0x7F, '\r', '\n', 0x23, 0x00, '#', '2', 40, 0, 9, 9, 9};
    Feed(Concat({noise, Block(8, {Identity(1, "Survivor")})}));
    EXPECT_EQ(Drain(), 2);   // the fault and its resynchronisation, then the block
    EXPECT_EQ(headset.HardwareModel(), "Survivor");
    EXPECT_EQ(Count("resynchronizing", 2), 1);
}

// A corrupted block followed at once by an intact one: the intact one is
// processed (discarding through the next CR LF would have eaten it when the
// corrupted block's terminator is damaged).
TEST_F(BlocksTest, BlockAfterDamagedTerminatorSurvives) {
    Bytes damaged = BlockBuilder(1).Add(Identity(1, "Damaged")).Terminator('\r', 'X').Build();
    Feed(Concat({damaged, Block(2, {Identity(2, "Intact")}), Block(3, {Serial(77)})}));
    Drain();
    EXPECT_EQ(headset.HardwareModel(), "Intact");
    EXPECT_EQ(headset.SerialNumber(), 77u);
}

// A truncated block runs into the next one: the bytes of the next block that
// the failed read already took are given back and the block is found.
TEST_F(BlocksTest, TruncatedBlockDoesNotSwallowTheNext) {
    Bytes cut = Block(1, {Identity(1, "Cut Short")});
    cut.resize(cut.size() / 2);
    Feed(Concat({cut, Block(2, {Identity(2, "Whole")}), Block(3, {Serial(5)})}));
    Drain();
    EXPECT_EQ(headset.HardwareModel(), "Whole");
    EXPECT_EQ(headset.SerialNumber(), 5u);
    EXPECT_EQ(Count("Block failed consistency check. - resynchronizing...", 2) +
                  Count("Block did not terminate with the expected code. - resynchronizing...", 2),
              1);
}

TEST_F(BlocksTest, SilenceDuringResynchronisationIsRemembered) {
    Feed(Bytes{'x', 'y', 'z', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    EXPECT_FALSE(headset.TryToReadBlock());   // fault, then silence
    EXPECT_EQ(Count("Block did not start with the expected code. - resynchronizing...", 2), 1);
    // The next read resynchronises first and then reads the block.
    Feed(Concat({Bytes{'\r', 'q'}, Block(6, {Identity(1, "Later")})}));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "Later");
}

TEST_F(BlocksTest, OutOfOrderBlocksAreReportedAndProcessed) {
    Feed(Concat({Block(5), Block(7, {Serial(7)}), Block(8)}));
    Drain();
    EXPECT_EQ(Count("Block 7 arrived out of order (expected 6).", 3), 1);
    EXPECT_EQ(Count("arrived out of order"), 1);
    EXPECT_EQ(headset.SerialNumber(), 7u);
    Feed(Concat({Block(65535), Block(0)}));
    Drain();
    EXPECT_EQ(Count("arrived out of order"), 2);   // 8 -> 65535 only
    EXPECT_EQ(Count("Block 65535 arrived out of order (expected 9).", 3), 1);
}

TEST_F(BlocksTest, KillDataStreamForgetsTheBlockNumber) {
    Feed(Block(5));
    EXPECT_TRUE(headset.TryToReadBlock());
    Feed(Bytes(10, 0xAA));
    EXPECT_EQ(headset.KillDataStream(true), 10);
    Feed(Block(40));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("arrived out of order"), 0);
    EXPECT_EQ(headset.KillDataStream(false), 1);
}

// A packet that claims more than what is left is not handed to its processor.
TEST_F(BlocksTest, OvershootingPacketIsNotProcessed) {
    Bytes packet = Identity(1, "Overshoot");
    packet[0] = uint8_t(packet[0] + 3);
    Feed(BlockBuilder(9).Add(Serial(11)).Add(packet).Build());
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("Packet decoder overshot by 3 bytes.", 1), 1);
    EXPECT_EQ(headset.SerialNumber(), 11u);
    EXPECT_EQ(headset.HardwareModel(), "???");
}

TEST_F(BlocksTest, LeftOverBytesAndZeroLengthPackets) {
    Feed(BlockBuilder(4).Add(Serial(3)).AddRaw(Bytes{1, 2, 3, 4, 5}).Build());
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("5 bytes left over in block 4 after decoding 1 packets: \"\\x01\\x02\\x03\\x04\\x05\"", 3), 1);

    // A length byte of 0 ends decoding; the rest is left over.
    Feed(BlockBuilder(5).AddRaw(Bytes{0, 1, 0, 0, 0, 0, 0, 0}).Add(Serial(99)).Build());
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.SerialNumber(), 3u);
    EXPECT_EQ(Count("Decoded 0 packet(s) from block 5", 4), 1);
    EXPECT_EQ(Count("22 bytes left over in block 5 after decoding 0 packets", 3), 1);
}

TEST_F(BlocksTest, ShortPacketsAreCheckedByTheirProcessors) {
    // Length bytes below each processor's minimum: nothing is read beyond
    // the packet, nothing is recorded.
    Feed(BlockBuilder(1)
             .AddRaw(Bytes{7, 1, 0, 0, 0, 0, 29})
             .AddRaw(Bytes{7, 2, 0, 0, 0, 0, 0x0F})
             .AddRaw(Bytes{7, 3, 0, 0, 0, 0, 0})
             .AddRaw(Bytes{7, 4, 0, 0, 0, 0, 20})
             .Build());
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("malformed response packet", 2), 1);
    EXPECT_EQ(Count("malformed alarm packet", 2), 1);
    EXPECT_EQ(headset.NumberOfAlarms(), 0);
}

TEST_F(BlocksTest, FlushDataCountsAndEmptiesTheInput) {
    Feed(Bytes(5000, 0x55));
    EXPECT_EQ(headset.FlushData(2.0), 5000u);
    EXPECT_EQ(headset.FlushData(2.0), 0u);
    // Each headset discards into its own buffer.
    VOQ::Headset other("deferred");
    other.AttachFakeData();
    voqtest::Feed(other, Bytes(100, 1));
    Feed(Bytes(200, 2));
    EXPECT_EQ(other.FlushData(1.0), 100u);
    EXPECT_EQ(headset.FlushData(1.0), 200u);
}

TEST_F(BlocksTest, FeedFakeDataIgnoresEmptyInput) {
    headset.FeedFakeData(nullptr, 10);
    headset.FeedFakeData("abc", 0);
    EXPECT_EQ(headset.FlushData(0), 0u);
    VOQ::Headset unattached("deferred");
    unattached.FeedFakeData("abc", 3);   // no queue: nothing happens
    EXPECT_FALSE(unattached.IsConnected());
}

TEST(Blocks, UnconnectedHeadsetCannotRead) {
    VOQ::Headset headset("deferred");
    EXPECT_THROW(
        {
            try {
                headset.ReadBlock();
            } catch (const VOQ::Error& e) {
                EXPECT_STREQ(e.what(), "Cannot read from headset: serial-port connection not yet established.");
                throw;
            }
        },
        VOQ::Error);
    EXPECT_THROW(
        {
            try {
                headset.Resynchronize();
            } catch (const VOQ::Error& e) {
                EXPECT_STREQ(e.what(), "Cannot resynchronize: serial connection is not open.");
                throw;
            }
        },
        VOQ::Error);
    VOQ_Headset h = reinterpret_cast<VOQ_Headset>(&headset);
    VOQ_ClearError();
    VOQ_Headset_KillDataStream(h, 1);
    EXPECT_STREQ(VOQ_ClearError(), "Cannot send commands to headset: serial-port connection not yet established.");
}
