// End to end: a simulated headset whose clock runs 500 ppm fast, behind a
// link that holds every block back by up to 30 ms (in bursts, never out of
// order), with a trigger every second and the simulator's truth file.  The
// times of the trigger onsets, as VOQ_Headset_GetSampleTimes gives them with
// the batches read, must match the true measurement times after the first
// 10 s (the same property as the benchmark's minute, on a shorter run with
// wider bounds); every stamp later than the one before, every interval within
// 1 % of the true sample period.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "Simulator.h"
#include "TriggerOnsets.h"
#include "VOQ_API.h"

TEST(SampleTimes, TriggerOnsetsMatchTheTruthThroughAJitteryLink) {
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();
    const std::string truthPath = "/tmp/voq-sample-times-" + std::to_string(getpid()) + ".txt";
    std::remove(truthPath.c_str());
    voqsim::Config config;
    config.driftPpm = 500.0;
    config.jitterMilliseconds = 30.0;
    config.triggerPeriodSeconds = 1.0;
    config.truthPath = truthPath;
    voqsim::Simulator sim(config);
    const std::string path = sim.Start();

    VOQ_Headset h = VOQ_Headset_New(path.c_str());
    ASSERT_NE(h, nullptr) << VOQ_Error();
    VOQ_Headset_SetMessageCallback(h, nullptr);
    VOQ_Headset_ChooseChannels(h, "Fz TRG", "", 1);
    const unsigned batch = 18;
    VOQ_Headset_ConfigureBatch(h, batch, 0.05);
    VOQ_Channel fz = VOQ_Headset_GetChannelByIndex(h, 0), trg = VOQ_Headset_GetChannelByIndex(h, 1);
    ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(h), 1);

    const double period = 1.0 / (300.0 * (1.0 + config.driftPpm * 1e-6));
    voqtest::OnsetFinder finder;
    std::vector<double> times(batch);
    double previous = -1.0, first = -1.0;
    int backwards = 0, irregular = 0;
    const double end = VOQ_HostClock() + 25.0;
    while (VOQ_HostClock() < end && !VOQ_Error()) {
        VOQ_Headset_WaitForBatch(h);
        std::vector<double> trigger(batch);
        for (unsigned k = 0; k < batch; ++k) {
            VOQ_Channel_ReadBuffered(fz);
            trigger[k] = VOQ_Channel_ReadBuffered(trg);
        }
        ASSERT_EQ(VOQ_Headset_GetSampleTimes(h, times.data(), batch), batch) << VOQ_Error();
        for (unsigned k = 0; k < batch; ++k) {
            if (first < 0) first = times[k];
            finder.Add(trigger[k], times[k]);
            if (previous >= 0 && !(times[k] > previous)) ++backwards;
            if (previous >= 0 && times[k] - first > 10.0 && std::fabs(times[k] - previous - period) > 0.01 * period)
                ++irregular;
            previous = times[k];
        }
    }
    EXPECT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    VOQ_Headset_StopBackgroundAcquisition(h);
    VOQ_Headset_Delete(h);
    sim.Stop();

    const std::vector<voqtest::Matched> matched = voqtest::Match(finder.onsets, voqtest::ReadTruth(truthPath));
    std::remove(truthPath.c_str());
    EXPECT_GE(finder.onsets.size(), 20u);
    EXPECT_EQ(matched.size(), finder.onsets.size());
    double sum = 0.0, worst = 0.0;
    int counted = 0;
    for (const voqtest::Matched& m : matched) {
        if (m.truth - first < 10.0) continue;
        sum += m.error;
        worst = std::max(worst, std::fabs(m.error));
        ++counted;
    }
    ASSERT_GE(counted, 10);
    EXPECT_LT(worst, 0.004) << "mean " << sum / counted;
    EXPECT_LT(std::fabs(sum / counted), 0.002);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(irregular, 0);
}
