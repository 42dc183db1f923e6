// Connecting to and commanding the simulated headset over a pseudo-terminal:
// start-up, identity, firmware, clock, modes, readiness, battery, resends on
// silence and refusal, the command prefix, LED and accelerometer commands,
// alarms, the data stream, disconnecting and reconnecting by "default".
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

std::mutex gLock;
std::vector<std::pair<std::string, int>> gMessages;

int Collect(const char* message, int level) {
    std::lock_guard<std::mutex> guard(gLock);
    gMessages.emplace_back(message ? message : "", level);
    return level;
}

void ClearMessages() {
    std::lock_guard<std::mutex> guard(gLock);
    gMessages.clear();
}

int CountMessages(const std::string& fragment, int level = 0) {
    std::lock_guard<std::mutex> guard(gLock);
    int n = 0;
    for (const auto& m : gMessages)
        if (m.first.find(fragment) != std::string::npos && (level == 0 || m.second == level)) ++n;
    return n;
}

}  // namespace

class Connection : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim = new voqsim::Simulator();
        path = sim->Start();
        double start = VOQ::PrecisionTime();
        handle = VOQ_Headset_New(path.c_str());
        startupSeconds = VOQ::PrecisionTime() - start;
        headset = reinterpret_cast<VOQ::Headset*>(handle);
    }
    static void TearDownTestSuite() {
        if (handle) VOQ_Headset_Delete(handle);
        handle = nullptr;
        headset = nullptr;
        delete sim;
        sim = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(handle, nullptr) << VOQ_Error();
        sim->ClearFaults();
        ClearMessages();
        VOQ_Headset_SetMessageCallback(handle, &Collect);
        VOQ_Headset_SetVerbosity(handle, 7);
        VOQ_ClearError();
    }
    void TearDown() override {
        if (handle) VOQ_Headset_SetVerbosity(handle, 2);
    }
    // Reads blocks for a while, so that what the device sent on its own is
    // processed.
    static void Pump(double seconds) {
        double end = VOQ::PrecisionTime() + seconds;
        while (VOQ::PrecisionTime() < end) headset->TryToReadBlock();
    }
    static std::vector<voqsim::CommandRecord> CommandsSince(size_t first) {
        auto all = sim->Commands();
        return std::vector<voqsim::CommandRecord>(all.begin() + long(std::min(first, all.size())), all.end());
    }

    static voqsim::Simulator* sim;
    static std::string path;
    static VOQ_Headset handle;
    static VOQ::Headset* headset;
    static double startupSeconds;
};

voqsim::Simulator* Connection::sim = nullptr;
std::string Connection::path;
VOQ_Headset Connection::handle = nullptr;
VOQ::Headset* Connection::headset = nullptr;
double Connection::startupSeconds = 0;

TEST_F(Connection, StartUpBringsTheHeadsetIntoAKnownState) {
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 1);
    EXPECT_STREQ(VOQ_Headset_GetPort(handle), path.c_str());
    // Two seconds for the battery monitor, little else.
    EXPECT_GE(startupSeconds, 2.0);
    EXPECT_LT(startupSeconds, 4.5);
    EXPECT_TRUE(headset->Ready());
    EXPECT_GT(VOQ_Headset_SecondsSinceConnection(handle), 0.0);

    // The start-up sequence, in order (repeats of a family collapsed).
    auto all = sim->Commands();
    std::vector<int> families;
    for (const auto& c : all)
        if (families.empty() || families.back() != c.family) families.push_back(c.family);
    EXPECT_EQ(families, (std::vector<int>{236, 33, 29, 40, 18, 19, 48, 186, 218, 65, 47, 218, 65, 48, 172}));
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].payload, std::vector<uint8_t>({'V', 'O', 'Q', ' ', 'R', 'e', 'a', 'd', 'y'}));
    EXPECT_EQ(all[1].payload, std::vector<uint8_t>({1, 0}));
    // Eight calibration pages 0 to 7.
    int page = 0;
    for (const auto& c : all)
        if (c.family == 47) {
            ASSERT_EQ(c.payload.size(), 2u);
            EXPECT_EQ(c.payload[0], page++);
        }
    EXPECT_EQ(page, 8);
}

TEST_F(Connection, Identity) {
    EXPECT_STREQ(VOQ_Headset_GetHardwareModel(handle), "VOQ24 HS Rev");
    EXPECT_STREQ(VOQ_Headset_GetHardwareRevision(handle), "2");
    EXPECT_EQ(VOQ_Headset_GetSerialNumber(handle), 2400117u);
    EXPECT_EQ(VOQ_Headset_GetSensorCount(handle), 24u);
    EXPECT_EQ(VOQ_Headset_IsBlueToothInitialized(handle), 1);
}

TEST_F(Connection, Firmware) {
    EXPECT_STREQ(VOQ_Headset_GetFirmwareRevision(handle), "1.18.0 (1:2,2:7) + 1.9.4 (1:3)");
}

TEST_F(Connection, ClockIsSetToLocalTime) {
    headset->ReadClock();
    std::string info = VOQ_Headset_GetInfoString(handle);
    const std::string key = "'TimeOnboardClockSet' : '";
    size_t at = info.find(key);
    ASSERT_NE(at, std::string::npos) << info;
    std::string stamp = info.substr(at + key.size(), 19);
    std::tm t = {};
    ASSERT_NE(strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &t), nullptr) << stamp;
    t.tm_isdst = -1;
    double age = std::difftime(std::time(nullptr), std::mktime(&t));
    EXPECT_GE(age, -2.0);
    EXPECT_LT(age, 600.0);
    EXPECT_NE(info.find("'TimeOnboardClockQueried' : '20"), std::string::npos) << info;
}

TEST_F(Connection, ModesAndRates) {
    EXPECT_EQ(VOQ_Headset_GetSamplingRate(handle), 300.0);
    EXPECT_EQ(VOQ_Headset_GetFilterMode(handle), 1);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
    EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 0);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(handle), 0);
    EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(handle), 10.0);
    EXPECT_EQ(headset->BatchSize(), 18u);
}

TEST_F(Connection, BatteryLevels) {
    Pump(0.3);
    EXPECT_EQ(VOQ_Headset_GetBatteryLevel(handle, 1), 87.0);
    EXPECT_EQ(VOQ_Headset_GetBatteryLevel(handle, 2), 84.0);
    EXPECT_STREQ(VOQ_Headset_GetBatteryLevelString(handle), "[ 87, 84 ]");
    EXPECT_TRUE(sim->State().batteryMonitor);
}

TEST_F(Connection, ReadinessEcho) {
    EXPECT_TRUE(headset->Echo("VOQ Ready again"));
    EXPECT_TRUE(headset->Ready());
    EXPECT_EQ(CountMessages(":  \"VOQ Ready again\"", 2), 1);
}

TEST_F(Connection, ResendOnSilence) {
    sim->FailFirstAttempts(29, 2);
    size_t before = sim->CommandCount();
    EXPECT_EQ(headset->QueryDeviceID(), 1);
    auto sent = CommandsSince(before);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_TRUE(sent[0].ignored);
    EXPECT_TRUE(sent[1].ignored);
    EXPECT_FALSE(sent[2].ignored);
    EXPECT_NE(sent[0].identifier, sent[1].identifier);
    EXPECT_EQ(CountMessages("No reply received - resending (attempt #1) as command ", 2), 1);
    EXPECT_EQ(CountMessages("No reply received - resending (attempt #2) as command ", 2), 1);
    EXPECT_STREQ(VOQ_Headset_GetHardwareModel(handle), "VOQ24 HS Rev");
}

TEST_F(Connection, ResendOnRefusal) {
    sim->SetRefusal(30, 0x80);
    size_t before = sim->CommandCount();
    VOQ_Headset_ChangeLEDs(handle, 3);
    EXPECT_STREQ(VOQ_ClearError(), "Command failed too many times.");
    EXPECT_EQ(CommandsSince(before).size(), 20u);
    EXPECT_EQ(CountMessages("Command failed - resending (attempt #", 2), 19);
    EXPECT_EQ(CountMessages("Command failed - resending (attempt #19) as ", 2), 1);
    EXPECT_EQ(CountMessages("rejected: headset is in wrong mode", 3), 20);

    // A bad parameter is accepted as an answer: no resend.
    sim->SetRefusal(30, 0xF0);
    before = sim->CommandCount();
    VOQ_Headset_ChangeLEDs(handle, 3);
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(CommandsSince(before).size(), 1u);
    sim->SetRefusal(30, 0);
}

TEST_F(Connection, CommandPrefix) {
    VOQ_Headset_UseOptionalCommandPrefix(handle, 1);
    size_t before = sim->CommandCount();
    VOQ_Headset_ChangeLEDs(handle, 2);
    VOQ_Headset_UseOptionalCommandPrefix(handle, 0);
    VOQ_Headset_ChangeLEDs(handle, 1);
    EXPECT_EQ(VOQ_Error(), nullptr);
    auto sent = CommandsSince(before);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].prefixed);
    EXPECT_TRUE(sent[0].crcValid);
    EXPECT_FALSE(sent[1].prefixed);
    EXPECT_EQ(CountMessages("Raw command is \"\\x7E\\x07\\x01", 7), 1);
    EXPECT_EQ(CountMessages("Raw command is \"\\x07\\x01", 7), 1);
}

TEST_F(Connection, LEDs) {
    VOQ_Headset_ChangeLEDs(handle, 0x0105);
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(sim->State().led, 0x0105);
    EXPECT_EQ(CountMessages("Reponse to LED command: \"\\x05\"", 3), 1);
}

TEST_F(Connection, AccelerometerRate) {
    VOQ_Headset_SetAccelerometerRate(handle, 25);
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(handle), 25.0);
    EXPECT_EQ(sim->State().accelerometerRate, 25);
    // An unsupported rate is refused by the headset.
    VOQ_Headset_SetAccelerometerRate(handle, 33);
    EXPECT_STREQ(VOQ_ClearError(), "failed to change accelerometer rate to 33");
    EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(handle), 25.0);
    VOQ_Headset_SetAccelerometerRate(handle, 10);
    EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(handle), 10.0);
}

TEST_F(Connection, ImpedanceDriverAndAnalogReset) {
    VOQ_Headset_StartImpedanceDriver(handle);
    EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 1);
    EXPECT_EQ(sim->State().impedanceDriverMode, 1);
    VOQ_Headset_StopImpedanceDriver(handle);
    EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 0);

    VOQ_Headset_LockAnalogReset(handle);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(handle), 2);
    VOQ_Headset_ReleaseAnalogReset(handle);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(handle), 0);
    // Not awaited: the device carries it out, the answer comes later.
    size_t before = sim->CommandCount();
    VOQ_Headset_StartAnalogReset(handle);
    ASSERT_TRUE(sim->WaitForCommands(before + 1, 2.0));
    Pump(0.1);
    EXPECT_EQ(sim->State().analogResetMode, 1);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(handle), 1);
    VOQ_Headset_ReleaseAnalogReset(handle);
    EXPECT_EQ(VOQ_Error(), nullptr);
}

TEST_F(Connection, AcquisitionSettings) {
    VOQ_Headset_ConfigureADC(handle, 600, 1);
    EXPECT_EQ(VOQ_Headset_GetSamplingRate(handle), 600.0);
    EXPECT_EQ(sim->State().samplingRate, 600);
    VOQ_Headset_ConfigureADC(handle, 300, 1);
    EXPECT_EQ(VOQ_Headset_GetSamplingRate(handle), 300.0);
    EXPECT_EQ(VOQ_Error(), nullptr);
    ClearMessages();
    EXPECT_EQ(headset->QueryAcquisitionSettings(), 1);
    EXPECT_EQ(CountMessages("AcquisitionSettings returned:\n    samplesPerSecond = 300", 3), 1);
}

TEST_F(Connection, Alarms) {
    VOQ_Headset_ClearAlarms(handle);
    sim->SendAlarm(2, 0x0B, {7, 300}, true);    // LowBattery
    sim->SendAlarm(6, 0x0B, {0x1A, 0x2B}, false);
    Pump(0.3);
    ASSERT_EQ(VOQ_Headset_GetNumberOfAlarms(handle), 2);
    EXPECT_EQ(VOQ_Headset_GetAlarm(handle, 0), 523);
    EXPECT_EQ(VOQ_Headset_GetAlarm(handle, 1), 523);
    EXPECT_EQ(VOQ_Headset_GetAlarm(handle, 1), 1547);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(handle), 0);
    EXPECT_EQ(CountMessages("VOQ headset issued alarm: Battery voltage has dropped past warning level (level: 7) "
                            "(ADC counts:300)",
                            2),
              1);
}

TEST_F(Connection, DataStreamAndKill) {
    VOQ_Headset_StartDataAcquisition(handle);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    Pump(0.2);
    EXPECT_GT(sim->Stats().dataPacketsSent, 0u);
    EXPECT_GT(headset->LastBlockTime(), 0.0);
    VOQ_Headset_KillDataStream(handle, 1);
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
    EXPECT_FALSE(sim->State().acquiring);
    // Nothing left in the line.
    EXPECT_EQ(headset->FlushData(0.2), 0u);

    // Without waiting: written, not awaited.
    VOQ_Headset_StartDataAcquisition(handle);
    size_t before = sim->CommandCount();
    VOQ_Headset_KillDataStream(handle, 0);
    ASSERT_TRUE(sim->WaitForCommands(before + 1, 2.0));
    Pump(0.2);
    EXPECT_FALSE(sim->State().acquiring);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
}

TEST_F(Connection, CommandsWithoutReply) {
    size_t before = sim->CommandCount();
    VOQ_Headset_SendBatteryQuery(handle);
    EXPECT_EQ(headset->SelfTest(), 1);
    ASSERT_TRUE(sim->WaitForCommands(before + 2, 2.0));
    Pump(0.1);
    auto sent = CommandsSince(before);
    EXPECT_EQ(sent[0].family, 186);
    EXPECT_EQ(sent[1].family, 145);
    EXPECT_EQ(CountMessages("response ignored due to unsupported command code 0xBA", 2), 1);
}

TEST_F(Connection, CorruptedBlocksAreSkipped) {
    sim->CorruptNextBlocks(1);
    VOQ_Headset_ChangeLEDs(handle, 4);   // its answer is spoiled, the resend is not
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(CountMessages("Block failed consistency check. - resynchronizing...", 2), 1);
    EXPECT_EQ(sim->State().led, 4);
}

TEST_F(Connection, ShutdownDisconnectAndReconnectByDefault) {
    VOQ_Headset_Shutdown(handle);
    EXPECT_EQ(VOQ_Error(), nullptr);
    Pump(0.2);
    EXPECT_FALSE(sim->State().poweredOn);

    VOQ_Headset_Disconnect(handle);   // acquisition known stopped: nothing sent
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 0);
    VOQ_Headset_ChangeLEDs(handle, 1);
    EXPECT_STREQ(VOQ_ClearError(), "Cannot send commands to headset: serial-port connection not yet established.");

    const char* saved = std::getenv("VOQSerialPort");
    std::string keep = saved ? saved : "";
    setenv("VOQSerialPort", path.c_str(), 1);
    size_t before = sim->CommandCount();
    VOQ_Headset_Connect(handle, "default");
    if (saved) setenv("VOQSerialPort", keep.c_str(), 1);
    else unsetenv("VOQSerialPort");
    ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 1);
    EXPECT_STREQ(VOQ_Headset_GetPort(handle), path.c_str());
    EXPECT_EQ(CountMessages("Connected to " + path, 2), 1);
    EXPECT_TRUE(sim->State().poweredOn);
    EXPECT_GT(CommandsSince(before).size(), 20u);
    EXPECT_EQ(VOQ_Headset_GetSensorCount(handle), 24u);
    EXPECT_NE(headset->GetChannelByIndex(0), nullptr);
}

// Last: it ends with the link gone.  A device that refuses to stop keeps its
// port open, so that the caller can try again (and deleting still frees the
// headset's model); a device that has gone away has its port closed.
TEST_F(Connection, AFailedStopKeepsALiveLinkOpenAndADeadOneClosed) {
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    sim->SetRefusal(33, 0x80);
    VOQ_Headset_Disconnect(handle);
    EXPECT_STREQ(VOQ_ClearError(), "Command failed too many times.");
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 1);
    // Cleaning up fails the same way, and forgets the model all the same.
    EXPECT_THROW(headset->CleanUp(), VOQ::Error);
    EXPECT_TRUE(headset->Sources().empty());
    EXPECT_EQ(VOQ_Headset_GetNumberOfChannels(handle), 0u);
    sim->SetRefusal(33, 0);
    VOQ_Headset_Disconnect(handle);
    EXPECT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 0);
    EXPECT_FALSE(sim->State().acquiring);

    VOQ_Headset_Connect(handle, path.c_str());
    ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    VOQ_Headset_StartDataAcquisition(handle);
    ASSERT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 1);
    sim->LoseLink(true);
    VOQ_Headset_Disconnect(handle);
    // The stop command's write, or the wait for its reply, finds the line
    // hung up.
    const char* text = VOQ_ClearError();
    const std::string error = text ? text : "";
    EXPECT_TRUE(error == "Write to serial port failed with errno 5" ||
                error == "Read from serial port failed: the line hung up")
        << error;
    EXPECT_EQ(VOQ_Headset_IsConnected(handle), 0);
}
