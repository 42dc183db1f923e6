// Command transactions and device commands against a scripted device on a
// pseudo-terminal, and the headset's lifecycle through the C interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <ctime>
#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "Messages.h"
#include "VOQ_API.h"
#include "test_pty_device.h"
#include "voq/Headset.h"

using namespace voqtest;

namespace {

// Well-formed answers for every family a headset knows.
Bytes StandardPayload(const SentCommand& c) {
    const int word = c.payload.size() >= 2 ? VOQ::ReadU16LE(c.payload.data()) : -1;
    switch (c.family) {
        case 18: return Bytes{'1', '.', '0', 0};
        case 19: return Bytes{1, 2, 0, 0};
        case 29: return Text("Test Model Rev 3");
        case 30: return Bytes{c.payload.empty() ? uint8_t(0) : c.payload[0]};
        case 33: return Bytes{uint8_t(word == 2 ? 1 : 0), 1, 0x2C, 0x01};
        case 40: return Bytes{0x39, 0x30, 0, 0, 24, 0};
        case 47: {
            Bytes page{uint8_t(word), 0};
            page.insert(page.end(), 16, 0xFF);
            return page;
        }
        case 48: return Bytes{7, 3, 26, 14, 5, 9, 0, 7, 3, 26, 14, 0, 0};
        case 65: return Bytes{uint8_t(word == 1 ? 0 : word == 2 ? 1 : word == 3 ? 2 : 0), 0};
        case 165: return Bytes{0x2C, 0x01, 1, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0};
        case 172: return c.payload.size() >= 2 ? Bytes{c.payload[0], c.payload[1]} : Bytes{10, 0};
        case 218: return Bytes{uint8_t(word == 2 ? 1 : 0), 0};
        case 236: return c.payload;
        default: return Bytes{0, 0};
    }
}

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        CaptureMessagesInto(&messages);
        headset.SetMessageCallback(&CaptureMessage);
        headset.SetVerbosity(7);
        device.SetResponder([](const SentCommand& c) { return Answer(c, StandardPayload(c)); });
        headset.Connect(device.Path(), false);
    }
    void TearDown() override {
        // Disconnecting asks a device whose mode is unknown to stop: let it
        // answer, so that closing does not wait through every attempt.
        device.SetResponder([](const SentCommand& c) { return Answer(c, StandardPayload(c)); });
        CaptureMessagesInto(nullptr);
    }
    int Count(const std::string& fragment, int level = 0) const { return CountMessages(messages, fragment, level); }
    std::vector<SentCommand> Sent(size_t count) {
        EXPECT_TRUE(device.WaitForCommands(count, 2.0));
        return device.Commands();
    }

    PtyDevice device;
    std::vector<Captured> messages;
    VOQ::Headset headset{"deferred"};
};

}  // namespace

TEST_F(CommandsTest, ConnectReportsThePort) {
    EXPECT_TRUE(headset.IsConnected());
    EXPECT_EQ(headset.Port(), device.Path());
    EXPECT_EQ(Count("Connected to " + device.Path(), 2), 1);
    EXPECT_GE(headset.SecondsSinceConnection(), 0.0);
    EXPECT_LT(headset.SecondsSinceConnection(), 5.0);
}

TEST_F(CommandsTest, SendWithoutTimeOutWritesOnceAndReturns) {
    device.SetResponder(nullptr);
    VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::DeviceIdentification);
    double start = VOQ::PrecisionTime();
    EXPECT_TRUE(headset.Send(command, 0, 20));
    EXPECT_LT(VOQ::PrecisionTime() - start, 0.2);
    auto sent = Sent(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].family, 29);
    EXPECT_TRUE(sent[0].crcValid);
    EXPECT_EQ(sent[0].length, 5);
    EXPECT_EQ(Count("Sending command 0: Master.DeviceIdentification()", 3), 1);
    EXPECT_EQ(Count("Raw command is \"\\x05\\x01", 7), 1);
}

TEST_F(CommandsTest, ReplyIsAwaitedAndRecorded) {
    EXPECT_EQ(headset.QueryDeviceID(), 1);
    EXPECT_EQ(headset.HardwareModel(), "Test Model Rev");
    EXPECT_EQ(headset.HardwareRevision(), "3");
    EXPECT_EQ(device.Commands().size(), 1u);
}

TEST_F(CommandsTest, SilentDeviceExhaustsTheAttempts) {
    device.SetResponder(nullptr);
    VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::DeviceIdentification);
    EXPECT_EQ(ErrorOf([&] { headset.Send(command, 0.05, 3); }), "Command failed too many times.");
    auto sent = Sent(3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].identifier, 0);
    EXPECT_EQ(sent[1].identifier, 1);
    EXPECT_EQ(sent[2].identifier, 2);
    EXPECT_EQ(Count("No reply received - resending (attempt #1) as command 1: Master.DeviceIdentification()", 2), 1);
    EXPECT_EQ(Count("No reply received - resending (attempt #2) as command 2: Master.DeviceIdentification()", 2), 1);
    EXPECT_EQ(Count("No reply received"), 2);
}

TEST_F(CommandsTest, FewerThanOneAttemptWritesNothing) {
    VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::DeviceIdentification);
    EXPECT_EQ(ErrorOf([&] { headset.Send(command, 0.513, 0); }), "Command failed too many times.");
    VOQ::Sleep(0.1);
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(CommandsTest, RefusedCommandIsResentUnderANewIdentifier) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    device.SetResponder([calls](const SentCommand& c) {
        return ++*calls == 1 ? Answer(c, Bytes{}, 0x80) : Answer(c, StandardPayload(c));
    });
    EXPECT_EQ(headset.QueryAnalogResetMode(), 1);
    auto sent = Sent(2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].identifier, sent[1].identifier);
    EXPECT_EQ(Count("Command failed - resending (attempt #1) as command 1: Master.AnalogResetMode( 00 00 )", 2), 1);
    EXPECT_EQ(headset.AnalogResetMode(), 0);
}

TEST_F(CommandsTest, BadParameterSucceedsButIsRejected) {
    device.SetResponder([](const SentCommand& c) { return Answer(c, Bytes{}, 0xF3); });
    VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::LED, "\x01\x00", 2);
    EXPECT_TRUE(headset.Send(command, 0.513, 20));
    EXPECT_TRUE(command.succeeded);
    EXPECT_TRUE(command.rejected);
    EXPECT_EQ(Count("rejected: parameter[3] is bad", 3), 1);
    EXPECT_EQ(device.Commands().size(), 1u);
}

TEST_F(CommandsTest, AnswerToAnotherIdentifierSettlesNothing) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    device.SetResponder([calls](const SentCommand& c) {
        SentCommand other = c;
        if (++*calls == 1) other.identifier = (c.identifier + 7) % 256;
        return Answer(other, StandardPayload(c));
    });
    EXPECT_EQ(headset.QuerySerialNumberAndSensorCount(), 1);
    EXPECT_EQ(device.Commands().size(), 2u);
    EXPECT_EQ(Count("No reply received - resending (attempt #1)", 2), 1);
    EXPECT_EQ(headset.SerialNumber(), 12345u);   // the stray answer still counted
}

TEST_F(CommandsTest, DroppedCommandAlarmResendsAtOnce) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    device.SetResponder([calls](const SentCommand& c) {
        if (++*calls == 1) return Block(0, {AlarmPacket(2, 0x31, {})});   // CheckFailed
        return Answer(c, StandardPayload(c));
    });
    VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::DeviceIdentification);
    double start = VOQ::PrecisionTime();
    EXPECT_TRUE(headset.Send(command, 5.0, 20));
    EXPECT_LT(VOQ::PrecisionTime() - start, 2.0);
    EXPECT_EQ(Count("Command failed - resending (attempt #1)", 2), 1);
    EXPECT_EQ(headset.GetAlarm(true), 561);
}

TEST_F(CommandsTest, IdentifierNinetyFiveIsSkipped) {
    device.SetResponder(nullptr);
    for (int k = 0; k < 100; ++k) {
        VOQ::Command command(VOQ::CommandDestination::Master, VOQ::CommandFamily::Echo, "x", 1);
        headset.Send(command, 0, 1);
    }
    auto sent = Sent(100);
    ASSERT_EQ(sent.size(), 100u);
    EXPECT_EQ(sent[94].identifier, 94);
    EXPECT_EQ(sent[95].identifier, 96);
    EXPECT_EQ(sent[99].identifier, 100);
    for (const SentCommand& c : sent) EXPECT_NE(c.identifier, 95);
    EXPECT_EQ(Count("Skipping command ID 95", 3), 1);
}

TEST_F(CommandsTest, CommandPrefix) {
    headset.UseOptionalCommandPrefix(true);
    EXPECT_EQ(headset.QueryDeviceID(), 1);
    headset.UseOptionalCommandPrefix(false);
    EXPECT_EQ(headset.QueryDeviceID(), 1);
    auto sent = Sent(2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].prefixed);
    EXPECT_EQ(sent[0].bytes[0], 0x7E);
    EXPECT_EQ(sent[0].bytes[1], 5);
    EXPECT_TRUE(sent[0].crcValid);
    EXPECT_FALSE(sent[1].prefixed);
    EXPECT_EQ(sent[1].bytes[0], 5);
    EXPECT_EQ(Count("Raw command is \"\\x7E\\x05", 7), 1);
}

TEST_F(CommandsTest, EchoSendsAtMostTwentyFourBytes) {
    EXPECT_TRUE(headset.Echo("abcdefghijklmnopqrstuvwxyz0123"));
    auto sent = Sent(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].family, 236);
    EXPECT_EQ(sent[0].length, 29);
    EXPECT_EQ(std::string(sent[0].payload.begin(), sent[0].payload.end()), "abcdefghijklmnopqrstuvwx");
}

TEST_F(CommandsTest, EveryDeviceCommandSendsItsPacket) {
    struct Case {
        std::function<int()> call;
        int destination;
        int family;
        Bytes payload;
    };
    VOQ::Headset& h = headset;
    std::vector<Case> cases = {
        {[&] { return h.QueryDeviceID(); }, 1, 29, {}},
        {[&] { return h.QuerySerialNumberAndSensorCount(); }, 1, 40, {}},
        {[&] { return h.ReadClock(); }, 1, 48, {}},
        {[&] { return h.QueryImpedanceDriverMode(); }, 2, 218, {0, 0}},
        {[&] { return h.StartImpedanceDriver(); }, 2, 218, {2, 0}},
        {[&] { return h.StopImpedanceDriver(); }, 2, 218, {1, 0}},
        {[&] { return h.QueryAnalogResetMode(); }, 1, 65, {0, 0}},
        {[&] { return h.StartAnalogReset(true); }, 1, 65, {2, 0}},
        {[&] { return h.LockAnalogReset(); }, 1, 65, {3, 0}},
        {[&] { return h.ReleaseAnalogReset(); }, 1, 65, {1, 0}},
        {[&] { return h.QueryDataAcquisitionMode(); }, 1, 33, {0, 0}},
        {[&] { return h.StartDataAcquisition(); }, 1, 33, {2, 0}},
        {[&] { return h.StopDataAcquisition(); }, 1, 33, {1, 0}},
        {[&] { return h.QueryAcquisitionSettings(); }, 1, 165, {0, 0}},
        {[&] { return h.QueryAccelerometerRate(); }, 2, 172, {}},
        {[&] { return h.SetAccelerometerRate(25); }, 2, 172, {25, 0}},
        {[&] { return h.ChangeLEDs(0x0102); }, 1, 30, {2, 1}},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(cases[k].call(), 1) << k;
        auto sent = Sent(k + 1);
        ASSERT_EQ(sent.size(), k + 1) << k;
        EXPECT_EQ(sent[k].destination, cases[k].destination) << k;
        EXPECT_EQ(sent[k].family, cases[k].family) << k;
        EXPECT_EQ(sent[k].payload, cases[k].payload) << k;
        EXPECT_TRUE(sent[k].crcValid) << k;
    }
    EXPECT_EQ(h.ImpedanceDriverMode(), 0);
    EXPECT_EQ(h.AnalogResetMode(), 0);
    EXPECT_EQ(h.DataAcquisitionMode(), 0);
    EXPECT_EQ(h.AccelerometerRate(), 25.0);
}

TEST_F(CommandsTest, CommandsWithoutReplyReturnAtOnce) {
    device.SetResponder(nullptr);
    double start = VOQ::PrecisionTime();
    EXPECT_EQ(headset.StartBatteryMonitor(), 1);
    EXPECT_EQ(headset.Shutdown(), 1);
    EXPECT_EQ(headset.SelfTest(), 1);
    EXPECT_EQ(headset.StartAnalogReset(false), 1);
    EXPECT_LT(VOQ::PrecisionTime() - start, 0.3);
    auto sent = Sent(4);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].family, 186);
    EXPECT_EQ(sent[0].payload, (Bytes{1, 0}));
    EXPECT_EQ(sent[1].family, 189);
    EXPECT_EQ(sent[1].payload, (Bytes{1, 0}));
    EXPECT_EQ(sent[2].family, 145);
    EXPECT_EQ(sent[2].payload, (Bytes{0, 0}));
    EXPECT_EQ(sent[3].family, 65);
    EXPECT_EQ(sent[3].payload, (Bytes{2, 0}));
}

TEST_F(CommandsTest, FirmwareRevisionsAskBothProcessors) {
    EXPECT_EQ(headset.QueryFirmwareRevisions(), 1);
    auto sent = Sent(4);
    ASSERT_EQ(sent.size(), 4u);
    const int expected[4][2] = {{1, 18}, {2, 18}, {1, 19}, {2, 19}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(sent[size_t(k)].destination, expected[k][0]);
        EXPECT_EQ(sent[size_t(k)].family, expected[k][1]);
        EXPECT_TRUE(sent[size_t(k)].payload.empty());
    }
    EXPECT_EQ(headset.FirmwareRevision(), "1.0 (1:2) + 1.0 (1:2)");
}

TEST_F(CommandsTest, SensorInfoReadsEightPages) {
    EXPECT_EQ(headset.QuerySensorInfo(), 1);
    auto sent = Sent(8);
    ASSERT_EQ(sent.size(), 8u);
    for (int page = 0; page < 8; ++page) {
        EXPECT_EQ(sent[size_t(page)].family, 47);
        EXPECT_EQ(sent[size_t(page)].payload, (Bytes{uint8_t(page), 0}));
    }
    EXPECT_EQ(headset.SensorCount(), 0u);   // an erased memory: no sensors
    EXPECT_FALSE(headset.Sources().empty());
}

TEST_F(CommandsTest, SetClockSendsLocalTime) {
    std::time_t before = std::time(nullptr);
    EXPECT_EQ(headset.SetClock(), 1);
    std::time_t after = std::time(nullptr);
    auto sent = Sent(1);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].payload.size(), 6u);
    const Bytes& p = sent[0].payload;
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local = {};
        localtime_r(&t, &local);
        Bytes expected{uint8_t(local.tm_mon + 1), uint8_t(local.tm_mday), uint8_t(local.tm_year - 100),
                       uint8_t(local.tm_hour), uint8_t(local.tm_min), uint8_t(local.tm_sec)};
        matched = matched || expected == p;
    }
    EXPECT_TRUE(matched);
}

TEST_F(CommandsTest, AccelerometerRateRefusedOrNotTakenOver) {
    device.SetResponder([](const SentCommand& c) {
        if (!c.payload.empty() && c.payload[0] == 7) return Answer(c, Bytes{}, 0xF0);
        return Answer(c, Bytes{10, 0});
    });
    EXPECT_EQ(ErrorOf([&] { headset.SetAccelerometerRate(7); }), "failed to change accelerometer rate to 7");
    EXPECT_EQ(headset.SetAccelerometerRate(25), 1);
    EXPECT_EQ(Count("failed to change accelerometer rate to 25: it is now 10", 1), 1);
    EXPECT_EQ(headset.AccelerometerRate(), 10.0);
}

TEST_F(CommandsTest, ConfigureAcquisitionSettingsQueriesTheModeAfterwards) {
    EXPECT_EQ(headset.ConfigureAcquisitionSettings(300, 1), 1);
    auto sent = Sent(2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].family, 165);
    EXPECT_EQ(sent[0].payload, (Bytes{0x2C, 0x01, 1, 0}));
    EXPECT_EQ(sent[1].family, 33);
    EXPECT_EQ(sent[1].payload, (Bytes{0, 0}));
    EXPECT_EQ(headset.SamplingRate(), 300.0);
}

TEST_F(CommandsTest, KillDataStreamStopsAndFlushes) {
    device.Write(Bytes(50, 0x11));
    VOQ::Sleep(0.05);
    int flushed = headset.KillDataStream(true);
    EXPECT_GE(flushed, 0);
    auto sent = Sent(1);
    ASSERT_GE(sent.size(), 1u);
    EXPECT_EQ(sent[0].family, 33);
    EXPECT_EQ(sent[0].payload, (Bytes{1, 0}));
    EXPECT_EQ(headset.DataAcquisitionMode(), 0);
}

TEST_F(CommandsTest, DisconnectStopsAcquisitionUnlessKnownStopped) {
    // The mode is unknown (-1): a stop command goes out before closing.
    headset.Disconnect();
    EXPECT_FALSE(headset.IsConnected());
    auto sent = Sent(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].family, 33);
    EXPECT_EQ(sent[0].payload, (Bytes{1, 0}));
    headset.Disconnect();   // nothing more
    // Known to be stopped: closing sends nothing.
    headset.Connect(device.Path(), false);
    headset.Disconnect();
    VOQ::Sleep(0.1);
    EXPECT_EQ(device.Commands().size(), 1u);
    EXPECT_EQ(ErrorOf([&] { headset.QueryDeviceID(); }),
              "Cannot send commands to headset: serial-port connection not yet established.");
}

TEST_F(CommandsTest, ReconnectClosesTheOldDescriptor) {
    PtyDevice second;
    second.SetResponder([](const SentCommand& c) { return Answer(c, Text("Second Unit 9")); });
    headset.Connect(second.Path(), false);
    EXPECT_EQ(headset.Port(), second.Path());
    EXPECT_EQ(headset.QueryDeviceID(), 1);
    EXPECT_EQ(headset.HardwareRevision(), "9");
    VOQ::Sleep(0.05);
    EXPECT_TRUE(device.Commands().empty());   // no stop sent to the old device
}

// ---------------------------------------------------------------------------
// Lifecycle through the C interface

TEST(Lifecycle, DeferredHeadsetIsUnconnected) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "deferred"}) {
        VOQ_ClearError();
        VOQ_Headset h = VOQ_Headset_New(name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(VOQ_Headset_IsConnected(h), 0);
        EXPECT_EQ(VOQ_Headset_GetSensorCount(h), 4294967295u);
        EXPECT_EQ(VOQ_Headset_GetSerialNumber(h), 4294967295u);
        EXPECT_EQ(VOQ_Headset_GetSamplingRate(h), -1.0);
        EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(h), -1.0);
        EXPECT_EQ(VOQ_Headset_GetFilterMode(h), -1);
        EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(h), -1);
        EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(h), -1);
        EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(h), -1);
        EXPECT_STREQ(VOQ_Headset_GetHardwareModel(h), "???");
        EXPECT_STREQ(VOQ_Headset_GetHardwareRevision(h), "???");
        EXPECT_STREQ(VOQ_Headset_GetFirmwareRevision(h), "??? () + ??? ()");
        EXPECT_STREQ(VOQ_Headset_GetBatteryLevelString(h), "[ -1, -1 ]");
        EXPECT_EQ(VOQ_Headset_GetBatteryLevel(h, 1), -1.0);
        EXPECT_EQ(VOQ_Headset_GetBatteryLevel(h, 0), 0.0);
        EXPECT_EQ(VOQ_Headset_GetBatteryLevel(h, 3), 0.0);
        EXPECT_EQ(VOQ_Headset_IsBlueToothInitialized(h), 0);
        EXPECT_STREQ(VOQ_Headset_GetPort(h), "");
        VOQ_Headset_Disconnect(h);   // does nothing
        EXPECT_EQ(VOQ_Error(), nullptr);
        VOQ_Headset_Delete(h);
        EXPECT_EQ(VOQ_Error(), nullptr);
    }
}

TEST(Lifecycle, DefaultPortMustBeSet) {
    const char* saved = std::getenv("VOQSerialPort");
    std::string keep = saved ? saved : "";
    unsetenv("VOQSerialPort");
    VOQ_Headset h = VOQ_Headset_New(nullptr);
    VOQ_ClearError();
    VOQ_Headset_Connect(h, "default");
    EXPECT_STREQ(VOQ_ClearError(),
                 "the serial port name must be given explicitly, because the VOQSerialPort environment variable is "
                 "empty");
    VOQ_Headset_Connect(h, "DeFaUlT");
    EXPECT_NE(VOQ_ClearError(), nullptr);
    VOQ_Headset_Delete(h);
    if (saved) setenv("VOQSerialPort", keep.c_str(), 1);
}

TEST(Lifecycle, DefaultPortFromTheEnvironment) {
    PtyDevice device;
    device.SetResponder([](const SentCommand& c) { return Answer(c, StandardPayload(c)); });
    const char* saved = std::getenv("VOQSerialPort");
    std::string keep = saved ? saved : "";
    setenv("VOQSerialPort", device.Path().c_str(), 1);
    VOQ::Headset headset("deferred");
    headset.SetMessageCallback(nullptr);
    headset.Connect("Default", false);
    EXPECT_EQ(headset.Port(), device.Path());
    EXPECT_TRUE(headset.IsConnected());
    if (saved) setenv("VOQSerialPort", keep.c_str(), 1);
    else unsetenv("VOQSerialPort");
}

TEST(Lifecycle, UnopenablePortGivesNoHeadset) {
    VOQ_ClearError();
    EXPECT_EQ(VOQ_Headset_New("/nonexistent/voq"), nullptr);
    EXPECT_STREQ(VOQ_ClearError(), "Failed to open COM port \"/nonexistent/voq\"");
    VOQ_Headset_Delete(nullptr);
    EXPECT_STREQ(VOQ_ClearError(), "NULL Headset pointer");
    EXPECT_EQ(VOQ_Headset_GetSamplingRate(nullptr), -1.0);
    EXPECT_EQ(VOQ_Headset_SecondsSinceConnection(nullptr), -1.0);
    EXPECT_EQ(VOQ_Headset_GetFilterMode(nullptr), -1);
    EXPECT_EQ(VOQ_Headset_GetBatteryLevel(nullptr, 1), -1.0);
    VOQ_ClearError();
}

TEST(Lifecycle, SendOnUnconnectedHeadset) {
    VOQ_Headset h = VOQ_Headset_New(nullptr);
    VOQ_ClearError();
    VOQ_Headset_ChangeLEDs(h, 1);
    EXPECT_STREQ(VOQ_ClearError(), "Cannot send commands to headset: serial-port connection not yet established.");
    // With fake data attached nothing is written and nothing awaited.
    reinterpret_cast<VOQ::Headset*>(h)->AttachFakeData();
    VOQ_Headset_ChangeLEDs(h, 1);
    EXPECT_EQ(VOQ_Error(), nullptr);
    EXPECT_EQ(VOQ_Headset_IsConnected(h), 1);
    VOQ_Headset_Delete(h);
}
