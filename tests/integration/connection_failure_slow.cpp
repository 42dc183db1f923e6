// A headset that stops answering during start-up: the command is tried 20
// times (about a second each on a silent line), the failure reaches the C
// caller as the stored error, and no headset is returned.
#include <gtest/gtest.h>

#include <string>

#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

TEST(ConnectionFailure, TwentyAttemptsThenNoHeadset) {
    voqsim::Simulator sim;
    const std::string path = sim.Start();
    sim.SetSilentTo(29, true);   // device identification is never answered

    VOQ_ClearError();
    const double start = VOQ::PrecisionTime();
    VOQ_Headset h = VOQ_Headset_New(path.c_str());
    const double elapsed = VOQ::PrecisionTime() - start;
    EXPECT_EQ(h, nullptr);
    ASSERT_NE(VOQ_Error(), nullptr);
    EXPECT_STREQ(VOQ_Error(), "Command failed too many times.");
    EXPECT_GT(elapsed, 12.0);
    EXPECT_LT(elapsed, 40.0);

    int identification = 0;
    for (const auto& c : sim.Commands())
        if (c.family == 29) ++identification;
    EXPECT_EQ(identification, 20);
    // The half-built headset let go of the port (the device notices a close
    // within a moment).
    const double deadline = VOQ::PrecisionTime() + 2.0;
    while (sim.State().hostOpenCount != 0 && VOQ::PrecisionTime() < deadline) VOQ::Sleep(0.01);
    EXPECT_EQ(sim.State().hostOpenCount, 0);
}
