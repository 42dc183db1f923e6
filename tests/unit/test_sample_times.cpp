// The sample-time exports on a headset fed through the fake-data hook: what
// they say before any sample and on a headset that never connected, and how
// the times follow the output channels' reads, flushes and callbacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VOQ_API.h"
#include "acquisition_support.h"
#include "voq/SampleTimeRing.h"

using acqtest::FakeHeadset;

namespace {

std::string TakeError() {
    const char* e = VOQ_ClearError();
    return e ? e : "";
}

// Each callback's own sample time, and the times it reads of the samples
// before it.
struct CallbackLog {
    std::vector<double> times;
};
void LogTime(VOQ_Headset h, double, void* log) { static_cast<CallbackLog*>(log)->times.push_back(VOQ_Headset_GetCallbackSampleTime(h)); }

}  // namespace

TEST(SampleTimes, NoTimesBeforeAnySampleOrOutsideCallbacks) {
    VOQ_ClearError();
    VOQ_Headset never = VOQ_Headset_New(nullptr);   // never connected
    double t[4] = {7, 7, 7, 7};
    EXPECT_EQ(VOQ_Headset_GetSampleTime(never), -1.0);
    EXPECT_EQ(TakeError(), "no sample time yet: no sample has arrived from the headset");
    EXPECT_EQ(VOQ_Headset_GetSampleTimes(never, t, 4), 0u);
    EXPECT_EQ(TakeError(), "no sample time yet: no sample has arrived from the headset");
    EXPECT_EQ(t[0], 7.0);
    EXPECT_EQ(VOQ_Headset_GetSampleTimes(never, nullptr, 0), 0u);
    EXPECT_EQ(TakeError(), "");
    EXPECT_EQ(VOQ_Headset_GetSampleTimes(never, nullptr, 1), 0u);
    EXPECT_EQ(TakeError(), "NULL times pointer");
    EXPECT_EQ(VOQ_Headset_GetCallbackSampleTime(never), -1.0);
    EXPECT_EQ(TakeError(), "no callback sample time: only a sample or stage callback can ask for the time of its sample");
    VOQ_Headset_Delete(never);

    FakeHeadset fh;
    fh->ChooseChannels("Fz Cz", "FACTORY", false);
    VOQ_Headset h = reinterpret_cast<VOQ_Headset>(fh.headset);
    fh.ProcessSamples(5);
    EXPECT_EQ(VOQ_Headset_GetSampleTime(h), -1.0);
    EXPECT_EQ(TakeError(), "no sample time yet: every sample that arrived is still unread");
    EXPECT_EQ(VOQ_Headset_GetCallbackSampleTime(h), -1.0);   // not inside a callback
    EXPECT_NE(TakeError(), "");
}

// The times follow the channel with the fewest unread values; a flush
// leaves the newest sample as the one read last; the callbacks see the same
// times as the reader.
TEST(SampleTimes, FollowTheOutputChannelsReadsAndFlushes) {
    FakeHeadset fh;
    fh->ChooseChannels("Fz Cz", "FACTORY", false);
    VOQ_Headset h = reinterpret_cast<VOQ_Headset>(fh.headset);
    CallbackLog log;
    VOQ_Headset_SetSampleCallback(h, &LogTime, &log);
    const double before = VOQ_HostClock();
    fh.ProcessSamples(20);
    const double after = VOQ_HostClock();
    ASSERT_EQ(log.times.size(), 20u);
    for (size_t k = 1; k < log.times.size(); ++k) EXPECT_GT(log.times[k], log.times[k - 1]);
    // Host times of about when the blocks came (fed at once, faster than
    // any headset sends them).
    EXPECT_LT(log.times.back(), after + 1.0);
    EXPECT_GT(log.times.front(), before - 1.0);

    VOQ_Channel fz = VOQ_Headset_GetChannelByIndex(h, 0), cz = VOQ_Headset_GetChannelByIndex(h, 1);
    for (int k = 0; k < 6; ++k) VOQ_Channel_ReadBuffered(fz);
    for (int k = 0; k < 4; ++k) VOQ_Channel_ReadBuffered(cz);
    double t[8] = {};
    // Fz has been read furthest: its sixth value is the sample read last.
    EXPECT_EQ(VOQ_Headset_GetSampleTime(h), log.times[5]);
    ASSERT_EQ(VOQ_Headset_GetSampleTimes(h, t, 8), 6u);   // nothing was kept before the first
    for (int k = 0; k < 6; ++k) EXPECT_EQ(t[k], log.times[size_t(k)]);
    for (int k = 0; k < 4; ++k) VOQ_Channel_ReadBuffered(cz);
    ASSERT_EQ(VOQ_Headset_GetSampleTimes(h, t, 3), 3u);
    EXPECT_EQ(t[0], log.times[5]);
    EXPECT_EQ(t[2], log.times[7]);

    VOQ_Headset_FlushBuffers(h);
    EXPECT_EQ(VOQ_Headset_GetSampleTime(h), log.times[19]);
    fh.ProcessSamples(3);
    VOQ_Channel_ReadBuffered(fz);
    EXPECT_EQ(VOQ_Headset_GetSampleTime(h), log.times[20]);
    EXPECT_EQ(VOQ_Error(), nullptr);
    VOQ_Headset_SetSampleCallback(h, nullptr, nullptr);
}

// A ring that grows keeps the times it had and no others: the slots it
// gains hold no sample's time, however many samples came before.
TEST(SampleTimes, AGrownRingGivesOnlyTheTimesItKept) {
    VOQ::SampleTimeRing ring;
    ring.Reserve(4);
    for (int k = 0; k < 10; ++k) {
        ring.BeginSample(100.0 + k);
        ring.EndSample();
    }
    ring.Reserve(64);
    double out[64];
    const int64_t copied = ring.Copy([](uint64_t samples) { return int64_t(samples) - 1; }, out, 64, false);
    ASSERT_EQ(copied, 4);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(out[k], 106.0 + k);
}
