// End to end: a simulated headset whose clock runs 500 ppm fast, a minute of
// paced batches with background acquisition.  The buffering controller must
// find the headset's true sample rate: the mean of the rates it reports in
// the last 30 s lies within 0.02% of it (a controller that never moved would
// be 0.05% off), every batch has its full size and nothing overflows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

struct RateReport {
    double time;   // PrecisionTime when it was issued
    double rate;
};

std::mutex gLock;
std::vector<RateReport> gRates;
int gViolations = 0;
int gDischarges = 0;

int Collect(const char* message, int level) {
    if (!message) return 0;
    const std::string text(message);
    std::lock_guard<std::mutex> guard(gLock);
    const std::string marker = "Estimated sample rate updated to ";
    size_t at = text.find(marker);
    if (at != std::string::npos && level == 3)
        gRates.push_back({VOQ::PrecisionTime(), std::strtod(text.c_str() + at + marker.size(), nullptr)});
    if (text.find("Real-time violation") != std::string::npos) ++gViolations;
    if (text.find("Discharging buffer") != std::string::npos) ++gDischarges;
    return 0;
}

}  // namespace

TEST(AcquisitionPacing, ControllerFindsTheRateOfADriftingHeadset) {
    // The simulator runs in this process, and both sides convert local
    // times.  Without TZ the C library reloads the zone on every conversion
    // (under a lock the thread checker cannot see); naming the default zone
    // explicitly keeps the zone the same and loads it once.
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();
    const double driftPpm = 500.0;
    const double runSeconds = 60.0;
    voqsim::Config config;
    config.driftPpm = driftPpm;
    voqsim::Simulator sim(config);
    const std::string path = sim.Start();

    VOQ_Headset h = VOQ_Headset_New(path.c_str());
    ASSERT_NE(h, nullptr) << VOQ_Error();
    VOQ_Headset_SetMessageCallback(h, &Collect);
    VOQ_Headset_SetVerbosity(h, 3);
    const double nominal = VOQ_Headset_GetSamplingRate(h);
    ASSERT_EQ(nominal, 300.0);
    const double trueRate = nominal * (1.0 + driftPpm * 1e-6);

    VOQ::Headset& object = *reinterpret_cast<VOQ::Headset*>(h);
    const uint64_t batch = object.BatchSize();
    ASSERT_EQ(batch, 18u);
    const unsigned channels = VOQ_Headset_GetNumberOfChannels(h);
    ASSERT_GT(channels, 0u);

    VOQ_ClearError();
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(h), 1);
    const double start = VOQ::PrecisionTime();
    uint64_t batches = 0;
    uint64_t shortBatches = 0;
    double previousStamp = -1.0;
    uint64_t unorderedStamps = 0;
    while (VOQ::PrecisionTime() - start < runSeconds) {
        const double stamp = VOQ_Headset_WaitForBatch(h);
        ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
        if (VOQ_Headset_GetNumberOfBufferedSamples(h) < batch) ++shortBatches;
        for (unsigned i = 0; i < channels; ++i) {
            VOQ_Channel channel = VOQ_Headset_GetChannelByIndex(h, i);
            for (uint64_t k = 0; k < batch; ++k) VOQ_Channel_ReadBuffered(channel);
        }
        ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
        if (stamp <= previousStamp) ++unorderedStamps;
        previousStamp = stamp;
        ++batches;
    }
    const double end = VOQ::PrecisionTime();
    const size_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(h);
    VOQ_Headset_StopBackgroundAcquisition(h);

    std::vector<RateReport> rates;
    int violations, discharges;
    {
        std::lock_guard<std::mutex> guard(gLock);
        rates = gRates;
        violations = gViolations;
        discharges = gDischarges;
    }
    double sum = 0.0;
    int count = 0;
    for (const RateReport& report : rates) {
        if (report.time < end - 30.0) continue;
        sum += report.rate;
        ++count;
    }
    ASSERT_GT(count, 0) << "no rate estimates in the last 30 s";
    const double mean = sum / count;
    const double relative = (mean - trueRate) / trueRate;
    std::printf("pacing: %llu batches in %.1f s, %zu rate estimates (%d in the last 30 s), mean %.6f /s against "
                "true %.6f /s: %+.5f%% (nominal would be %+.5f%%); %d real-time violations, %d discharges\n",
                (unsigned long long)batches, end - start, rates.size(), count, mean, trueRate, relative * 100,
                (nominal - trueRate) / trueRate * 100, violations, discharges);
    RecordProperty("mean_estimated_rate", std::to_string(mean));
    RecordProperty("relative_error_percent", std::to_string(relative * 100));

    EXPECT_LT(std::abs(relative), 2e-4);
    EXPECT_EQ(shortBatches, 0u);
    EXPECT_EQ(overflowed, 0u);
    EXPECT_EQ(unorderedStamps, 0u);
    // About one batch per batch period at the true rate.
    EXPECT_NEAR(double(batches), runSeconds * trueRate / double(batch), 0.02 * runSeconds * trueRate / double(batch));

    VOQ_Headset_Delete(h);
}
