// The LSL outlet's metadata rules, without a headset.
#include <gtest/gtest.h>

#include <cmath>

#include "Description.h"

using voqlsl::ChannelReference;
using voqlsl::ElectrodePosition;
using voqlsl::Position;

TEST(LslDescription, ReferenceIsWhatTheChannelSubtracts) {
    EXPECT_EQ(ChannelReference("F3-A1/2-A2/2", "F3", "Pz"), "A1/2+A2/2");
    EXPECT_EQ(ChannelReference("C3-Cz", "C3", "Pz"), "Cz");
    EXPECT_EQ(ChannelReference("O1", "O1", "Pz"), "Pz");                // the electrode alone: the factory one
    EXPECT_EQ(ChannelReference("Fz+Pz*1e-3-Cz", "Fz", "Pz"), "-Pz*1e-3+Cz");   // an exponent keeps its sign
    EXPECT_EQ(ChannelReference("Cz*2", "Cz", "Pz"), "");                 // a weight: no plain difference
    EXPECT_EQ(ChannelReference("F3-Cz", "Front", "Pz"), "");             // a renamed channel
}

TEST(LslDescription, TenTwentyPositionsOnTheIdealisedHead) {
    auto at = [](const char* name) {
        Position p;
        EXPECT_TRUE(ElectrodePosition(name, p)) << name;
        return p;
    };
    const Position cz = at("Cz"), fz = at("FZ"), t3 = at("T3"), t7 = at("t7"), f3 = at("F3"), f4 = at("F4"),
                   o1 = at("O1"), a2 = at("A2");
    EXPECT_NEAR(cz.z, 90.0, 1e-9);
    EXPECT_NEAR(fz.x, 0.0, 1e-9);                       // on the midline, in front, 45 degrees down
    EXPECT_NEAR(fz.y, fz.z, 1e-9);
    EXPECT_GT(fz.y, 0.0);
    EXPECT_NEAR(t3.x, -90.0, 1e-9);                     // the left ear's side, on the equator
    EXPECT_NEAR(t3.x, t7.x, 1e-12);                     // 10-10 name of the same place
    EXPECT_NEAR(f3.x, -f4.x, 1e-9);                     // mirror images
    EXPECT_NEAR(std::sqrt(f3.x * f3.x + f3.y * f3.y + f3.z * f3.z), 90.0, 1e-9);
    EXPECT_TRUE(f3.x < 0 && f3.y > 0 && f3.z > 0 && f3.z < fz.z + 30.0);
    EXPECT_TRUE(o1.x < 0 && o1.y < 0);                  // left, behind
    EXPECT_TRUE(a2.x > 0 && a2.z < 0);                  // right, below the equator
    Position none;
    EXPECT_FALSE(ElectrodePosition("X1", none));
    EXPECT_FALSE(ElectrodePosition("TRG", none));
}
