// Block reading, framing faults, resynchronisation and packet dispatch,
// through the fake-data hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "voq/Headset.h"

using namespace voqtest;

namespace {

struct Captured {
    std::string text;
    int level;
};
std::vector<Captured>* gCaptured = nullptr;

int Capture(const char* message, int level) {
    if (gCaptured) gCaptured->push_back({message ? message : "", level});
    return level;
}

class BlocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        gCaptured = &messages;
        headset.SetMessageCallback(&Capture);
        headset.SetVerbosity(7);
        headset.AttachFakeData();
    }
    void TearDown() override { gCaptured = nullptr; }

    // Messages whose text contains `fragment`, at this level (0: any).
    int Count(const std::string& fragment, int level = 0) const {
        int n = 0;
        for (const Captured& m : messages)
            if (m.text.find(fragment) != std::string::npos && (level == 0 || m.level == level)) ++n;
        return n;
    }
    void Feed(const Bytes& bytes) { voqtest::Feed(headset, bytes); }

    std::vector<Captured> messages;
    VOQ::Headset headset{"deferred"};
};

Bytes IdentityResponse(int identifier, const std::string& text) {
    return ResponsePacket(1, 29, identifier, Text(text));
}

}  // namespace

TEST_F(BlocksTest, SilenceReturnsFalseQuietly) {
    double start = VOQ::PrecisionTime();
    EXPECT_FALSE(headset.TryToReadBlock());
    double elapsed = VOQ::PrecisionTime() - start;
    EXPECT_GE(elapsed, 0.45);
    EXPECT_LT(elapsed, 1.5);
    EXPECT_EQ(Count("resynchronizing"), 0);
}

TEST_F(BlocksTest, EmptyBlockIsDecodedAndSetsTheClock) {
    Feed(Block(12));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(Count("Decoded 0 packet(s) from block 12", 4), 1);
    EXPECT_GT(headset.LastBlockTime(), 0.0);
}

TEST_F(BlocksTest, ResponsePacketIsDispatched) {
    Feed(Block(1, {IdentityResponse(3, "ABC-100 Rev 2")}));
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "ABC-100 Rev");
    EXPECT_EQ(headset.HardwareRevision(), "2");
    EXPECT_EQ(Count("Decoded 1 packet(s) from block 1", 4), 1);
}

TEST_F(BlocksTest, TooLongBlockIsReportedAndSkipped) {
    Bytes bad = BlockBuilder(3).LengthField(1025).Build();
    Feed(Concat({bad, Block(4, {IdentityResponse(1, "Good One")})}));
    EXPECT_TRUE(headset.TryToReadBlock());   // fault, resynchronised
    EXPECT_EQ(Count("Headset wants to send too much data. - resynchronizing...", 2), 1);
    EXPECT_TRUE(headset.TryToReadBlock());
    EXPECT_EQ(headset.HardwareModel(), "Good");
}
