// Acquisition against the simulated headset through the C interface:
// the information string, receiving, background acquisition, paced batches
// in the background and in the caller's thread, impedances, deleting a
// headset while its worker runs, and a lost link that must not hang a wait.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "InfoString.h"
#include "Simulator.h"
#include "SimulatorSuite.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

std::mutex gLogLock;
std::vector<std::string> gLog;

int Collect(const char* message, int) {
    std::lock_guard<std::mutex> guard(gLogLock);
    gLog.push_back(message ? message : "");
    return 0;
}

int CountLog(const std::string& fragment) {
    std::lock_guard<std::mutex> guard(gLogLock);
    int n = 0;
    for (const std::string& m : gLog)
        if (m.find(fragment) != std::string::npos) ++n;
    return n;
}

void ClearLog() {
    std::lock_guard<std::mutex> guard(gLogLock);
    gLog.clear();
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::map<std::string, double> kImpedances = {{"Fp1", 12.0}, {"Cz", 7.5}, {"O1", 20.0}, {"A1", 3.0}};
const double kOtherImpedance = 5.0;
const double kCMFImpedance = 2.0;

class Acquisition : public voqtest::SimulatorSuite {
protected:
    static void SetUpTestSuite() {
        // The simulator runs in this process, and both sides convert local
        // times.  Without TZ the C library reloads the zone on every
        // conversion (under a lock the thread checker cannot see); naming the
        // default zone explicitly keeps the zone the same and loads it once.
        if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
        tzset();
        voqsim::Config config;
        config.impedanceAllKOhm = kOtherImpedance;
        config.impedanceKOhm = kImpedances;
        config.cmfImpedanceKOhm = kCMFImpedance;
        connectedAt = std::time(nullptr);
        Start(config, &Collect, 3);
    }
    void SetUp() override {
        SimulatorSuite::SetUp();
        ClearLog();
    }

    static void WaitUntilWorkerEnds() {
        auto start = std::chrono::steady_clock::now();
        while (Object().BackgroundAcquisitionAlive() && Since(start) < 15.0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Reads one batch from every output channel; false on any failure.
    static bool ReadBatch(uint64_t size) {
        const unsigned channels = VOQ_Headset_GetNumberOfChannels(handle);
        for (unsigned i = 0; i < channels; ++i) {
            VOQ_Channel channel = VOQ_Headset_GetChannelByIndex(handle, i);
            for (uint64_t k = 0; k < size; ++k) VOQ_Channel_ReadBuffered(channel);
        }
        return VOQ_Error() == nullptr;
    }

    inline static std::time_t connectedAt = 0;
};

}  // namespace

TEST_F(Acquisition, InformationStringDescribesTheSimulatedHeadset) {
    std::string info = Text(VOQ_Headset_GetInfoString(handle));
    // The three times depend on when the test ran: check them, then compare
    // the rest character for character.
    const std::regex timeLine("'(TimeOnboardClockSet|TimeOnboardClockQueried|TimeBatteryMeasured)' : "
                              "'(\\d{4})-(\\d\\d)-(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d)'");
    int times = 0;
    for (std::sregex_iterator it(info.begin(), info.end(), timeLine), end; it != end; ++it) {
        std::tm local{};
        local.tm_year = std::stoi((*it)[2]) - 1900;
        local.tm_mon = std::stoi((*it)[3]) - 1;
        local.tm_mday = std::stoi((*it)[4]);
        local.tm_hour = std::stoi((*it)[5]);
        local.tm_min = std::stoi((*it)[6]);
        local.tm_sec = std::stoi((*it)[7]);
        local.tm_isdst = -1;
        const double offset = std::difftime(std::mktime(&local), connectedAt);
        EXPECT_GE(offset, -2.0) << (*it)[0];
        EXPECT_LE(offset, 30.0) << (*it)[0];
        ++times;
    }
    EXPECT_EQ(times, 3) << info;
    info = std::regex_replace(info, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"), "TIME");

    EXPECT_EQ(info, voqtest::StandardInfoString("TIME", "TIME", "TIME"));
}

TEST_F(Acquisition, ReceiveStartsReadsAndStopsTheStream) {
    VOQ_Headset_FlushBuffers(handle);
    VOQ_Headset_Receive(handle, 0.5, 0.1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
    EXPECT_FALSE(sim->State().acquiring);
    const size_t level = VOQ_Headset_GetNumberOfBufferedSamples(handle);
    EXPECT_GT(level, 120u);
    EXPECT_LT(level, 200u);
    EXPECT_EQ(VOQ_Headset_GetNumberOfOverflowedSamples(handle), 0u);
    VOQ_Headset_FlushBuffers(handle);
    EXPECT_EQ(VOQ_Headset_GetNumberOfBufferedSamples(handle), 0u);
}

TEST_F(Acquisition, BackgroundAcquisitionStartsStopsAndRestarts) {
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 60), 60u);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    EXPECT_TRUE(sim->State().acquiring);

    // Starting again while it runs stops the running worker first (which
    // stops the stream it started) and starts a new one.
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    EXPECT_TRUE(Object().BackgroundAcquisitionAlive());
    VOQ_Headset_FlushBuffers(handle);
    EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 30), 30u);

    // A worker that started the stream stops it on its way out.
    VOQ_Headset_StopBackgroundAcquisition(handle);
    WaitUntilWorkerEnds();
    EXPECT_FALSE(Object().BackgroundAcquisitionAlive());
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
    EXPECT_FALSE(sim->State().acquiring);

    // A worker that found the stream running leaves it running.
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    VOQ_Headset_FlushBuffers(handle);
    EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 30), 30u);
    VOQ_Headset_StopBackgroundAcquisition(handle);
    WaitUntilWorkerEnds();
    EXPECT_TRUE(sim->State().acquiring);
    VOQ_Headset_StopDataAcquisition(handle);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
    EXPECT_EQ(LastError(), "");
    VOQ_Headset_FlushBuffers(handle);
}

TEST_F(Acquisition, ACommandRightAfterStoppingTheWorkerIsAnswered) {
    // The stopping worker must stop the stream it started, with a transaction
    // of its own, while the caller's command holds the transaction lock:
    // the caller reads its reply itself instead of leaving it to the worker.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
        EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 30), 30u);
        ClearLog();
        VOQ_Headset_StopBackgroundAcquisition(handle);
        if (round % 2 == 0)
            VOQ_Headset_ChangeLEDs(handle, round);
        else
            VOQ_Headset_SendBatteryQuery(handle);
        EXPECT_EQ(LastError(), "") << "round " << round;
        EXPECT_EQ(CountLog("No reply received"), 0) << "round " << round;
        WaitUntilWorkerEnds();
        EXPECT_FALSE(Object().BackgroundAcquisitionAlive());
        EXPECT_FALSE(sim->State().acquiring);
        VOQ_ClearError();
    }
    VOQ_Headset_FlushBuffers(handle);
}

namespace {

std::thread::id gSlowSender;

// Collects, and holds up the test's own command transactions for 50 ms right
// after they take the transaction lock: long enough for a starting worker to
// queue up behind them for its start command.
int CollectSlowly(const char* message, int level) {
    if (std::this_thread::get_id() == gSlowSender && std::string(message).find("Sending command") != std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Collect(message, level);
}

}  // namespace

TEST_F(Acquisition, ACommandRightAfterStartingTheWorkerIsAnswered) {
    // The starting worker waits for the caller's transaction to end before it
    // can start the stream: the caller reads its reply itself meanwhile.
    gSlowSender = std::this_thread::get_id();
    VOQ_Headset_SetMessageCallback(handle, &CollectSlowly);
    for (int round = 0; round < 2; ++round) {
        ClearLog();
        ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
        auto start = std::chrono::steady_clock::now();
        if (round == 0)
            VOQ_Headset_ChangeLEDs(handle, 3);
        else
            VOQ_Headset_StartImpedanceDriver(handle);
        EXPECT_LT(Since(start), 1.0) << "round " << round;
        EXPECT_EQ(LastError(), "") << "round " << round;
        EXPECT_EQ(CountLog("No reply received"), 0) << "round " << round;
        EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 30), 30u) << "round " << round;
        VOQ_Headset_StopBackgroundAcquisition(handle);
        WaitUntilWorkerEnds();
        VOQ_ClearError();
    }
    VOQ_Headset_SetMessageCallback(handle, &Collect);
    VOQ_Headset_StopImpedanceDriver(handle);
    EXPECT_EQ(LastError(), "");
    VOQ_Headset_FlushBuffers(handle);
}

TEST_F(Acquisition, BackgroundBatchesHaveTheirFullSize) {
    VOQ_Headset_ConfigureBatch(handle, 18, 0.05);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    std::vector<double> stamps;
    auto start = std::chrono::steady_clock::now();
    while (Since(start) < 2.0) {
        stamps.push_back(VOQ_Headset_WaitForBatch(handle));
        ASSERT_EQ(LastError(), "");
        ASSERT_GE(VOQ_Headset_GetNumberOfBufferedSamples(handle), 18u);
        ASSERT_TRUE(ReadBatch(18)) << LastError();
    }
    VOQ_Headset_StopBackgroundAcquisition(handle);
    WaitUntilWorkerEnds();
    ASSERT_GT(stamps.size(), 20u);
    for (size_t k = 1; k < stamps.size(); ++k) EXPECT_GT(stamps[k], stamps[k - 1]) << k;
    const double period = (stamps.back() - stamps[1]) / double(stamps.size() - 2);
    EXPECT_NEAR(period, 0.06, 0.006);
    EXPECT_EQ(VOQ_Headset_GetNumberOfOverflowedSamples(handle), 0u);
    VOQ_Headset_FlushBuffers(handle);
}

// Paced batches with the caller's thread reading: the pace holds without
// real-time violations, and the controller keeps updating.
TEST_F(Acquisition, CallerThreadBatchesKeepTheirPace) {
    VOQ_Headset_ConfigureBatch(handle, 18, 0.05);
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    std::vector<double> stamps;
    auto start = std::chrono::steady_clock::now();
    while (Since(start) < 4.0) {
        stamps.push_back(VOQ_Headset_WaitForBatch(handle));
        ASSERT_EQ(LastError(), "");
        ASSERT_TRUE(ReadBatch(18)) << LastError();
    }
    VOQ_Headset_StopDataAcquisition(handle);
    EXPECT_EQ(CountLog("Real-time violation"), 0);
    EXPECT_EQ(CountLog("Discharging buffer"), 0);
    EXPECT_GE(CountLog("Estimated sample rate updated to"), 10);
    const double period = (stamps.back() - stamps[1]) / double(stamps.size() - 2);
    EXPECT_NEAR(period, 0.06, 0.006);
    EXPECT_NEAR(Object().EstimatedSampleRate(), 300.0, 6.0);
    VOQ_Headset_FlushBuffers(handle);
}

TEST_F(Acquisition, ImpedancesRecoverTheHeadsetsValues) {
    VOQ_Headset_StartImpedanceDriver(handle);
    ASSERT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 1);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    // Fill the one-second window with samples taken while the driver is on.
    auto start = std::chrono::steady_clock::now();
    while (Since(start) < 1.6) {
        VOQ_Headset_WaitForSamples(handle, 30);
        VOQ_Headset_FlushBuffers(handle);
    }
    std::map<std::string, double> measured;
    const unsigned count = VOQ_Headset_GetNumberOfSources(handle);
    for (unsigned i = 0; i < count; ++i) {
        VOQ_Source source = VOQ_Headset_GetSourceByIndex(handle, i);
        if (!VOQ_Source_IsReferentialEEG(source) || VOQ_Source_IsFactoryReference(source)) continue;
        measured[Text(VOQ_Source_GetName(source))] = VOQ_Source_GetImpedanceEEG(source);
    }
    const double cmf = VOQ_Headset_GetImpedanceCMF(handle);
    VOQ_Headset_StopBackgroundAcquisition(handle);
    WaitUntilWorkerEnds();
    VOQ_Headset_StopImpedanceDriver(handle);
    VOQ_Headset_FlushBuffers(handle);

    EXPECT_EQ(measured.size(), 20u);   // 18 electrodes, A1, A2
    for (const auto& entry : measured) {
        auto configured = kImpedances.find(entry.first);
        const double expected = configured == kImpedances.end() ? kOtherImpedance : configured->second;
        EXPECT_NEAR(entry.second, expected, 0.03 * expected) << entry.first;
    }
    EXPECT_NEAR(cmf, kCMFImpedance, 0.03 * kCMFImpedance);
    EXPECT_EQ(LastError(), "");
}

TEST_F(Acquisition, DeletingAHeadsetWhileItsWorkerRunsStopsEverything) {
    voqsim::Simulator other;
    const std::string path = other.Start();
    VOQ_Headset second = VOQ_Headset_New(path.c_str());
    ASSERT_NE(second, nullptr) << VOQ_Error();
    VOQ_Headset_SetMessageCallback(second, &Collect);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(second), 1);
    EXPECT_GE(VOQ_Headset_WaitForSamples(second, 30), 30u);
    EXPECT_TRUE(other.State().acquiring);
    auto start = std::chrono::steady_clock::now();
    VOQ_Headset_Delete(second);
    EXPECT_LT(Since(start), 3.0);
    EXPECT_FALSE(other.State().acquiring);
    EXPECT_EQ(LastError(), "");
}

// Last: the link goes away while the caller waits for batches.
TEST_F(Acquisition, ALostLinkDoesNotHangTheWaits) {
    VOQ_Headset_ConfigureBatch(handle, 18, 0.05);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1);
    for (int k = 0; k < 5; ++k) {
        VOQ_Headset_WaitForBatch(handle);
        ASSERT_TRUE(ReadBatch(18)) << LastError();
    }
    sim->LoseLink(false);
    auto lost = std::chrono::steady_clock::now();
    double result = 1.0;
    while (Since(lost) < 15.0 && VOQ_Error() == nullptr) {
        result = VOQ_Headset_WaitForBatch(handle);
        if (VOQ_Error() == nullptr) ReadBatch(18);
    }
    const double failedAfter = Since(lost);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(LastError(), "gave up waiting for samples: no block has arrived from the headset for 5 seconds");
    EXPECT_GT(failedAfter, 4.5);
    EXPECT_LT(failedAfter, 7.5);

    sim->RestoreLink();
    VOQ_ClearError();
    VOQ_Headset_StopBackgroundAcquisition(handle);
    WaitUntilWorkerEnds();
    EXPECT_FALSE(Object().BackgroundAcquisitionAlive());
}
