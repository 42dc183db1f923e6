// Alarm processing: sizes, templates and parameters, the state they change,
// and the alarm list, through the fake-data hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "FakeDataTest.h"
#include "VOQ_API.h"
#include "voq/Headset.h"

using namespace voqtest;

namespace {

class AlarmsTest : public FakeDataTest {};

}  // namespace

TEST_F(AlarmsTest, MalformedPackets) {
    Deliver({RawPacket(2, Bytes{0x0F})});   // 7 bytes
    EXPECT_EQ(Count("malformed alarm packet", 2), 1);
    // Three 16-bit parameters announced, four bytes present.
    Deliver({RawPacket(2, Bytes{0x0F, 0x83, 1, 0, 2, 0})});
    EXPECT_EQ(Count("malformed parameter chunk in BatteryLevel alarm packet", 2), 1);
    EXPECT_EQ(headset.NumberOfAlarms(), 0);
    EXPECT_EQ(headset.BatteryLevel(), "[ -1, -1 ]");
}

TEST_F(AlarmsTest, ExtraneousBytesAreReportedAndTheAlarmUsed) {
    Deliver({RawPacket(2, Bytes{0x01, 0x00, 0xEE, 0xEE})});
    EXPECT_EQ(Count("extraneous bytes follow parameter chunk in SystemStarted alarm packet", 3), 1);
    EXPECT_EQ(headset.GetAlarm(true), 513);
}

TEST_F(AlarmsTest, SlaveCodesAndNames) {
    Deliver({AlarmPacket(6, 0x0B, {0x1A, 0x2B})});
    EXPECT_EQ(headset.GetAlarm(false), 1547);
    EXPECT_EQ(Count("Received alarm type 11 from slave (Slave_CalibrationTimeout)", 3), 1);
    EXPECT_EQ(Count("VOQ headset issued alarm: DAC automatic calibration timeout error [1st DAC cntr 0x1a],[2nd Dac "
                    "cntr 0x2b]",
                    2),
              1);
}

TEST_F(AlarmsTest, TemplateConversions) {
    EXPECT_EQ(VOQ::Headset::AlarmText(522, {0x21, 0x05, 0x03}),
              "Unable to execute command 0x21 with parameter 0x05, due to error code 0x03");
    EXPECT_EQ(VOQ::Headset::AlarmText(1542, {0x10, 0x02, 12}),
              "Unable to execute [command= 0x10],[parameter 0x2], do to [error code 12]");
    // Parameters used up: 0.
    EXPECT_EQ(VOQ::Headset::AlarmText(517, {7}), "Firmware protection code executed in module 7 line 0.");
    EXPECT_EQ(VOQ::Headset::AlarmText(527, {80, 75, 3000, 2900}),
              "Battery voltage: battery 1 = 80%, battery 2 = 75%; counts: 3000, 2900");
    EXPECT_EQ(VOQ::Headset::AlarmText(516, {0xBEEF}), "Missing Interrupt Function for vector [0xbeef]");
    EXPECT_EQ(VOQ::Headset::AlarmText(999, {}), "UnknownAlarm");
}

TEST_F(AlarmsTest, BatteryLevelAlarm) {
    // The clock was last set at 2026-07-03 14:00:00; the alarm is stamped
    // 5.5 s later.
    Deliver({ResponsePacket(1, 48, 0, Bytes{7, 3, 26, 14, 5, 9, 0, 7, 3, 26, 14, 0, 0})});
    Deliver({AlarmPacket(2, 0x0F, {80, 75, 3000, 2900}, true, 9900)});
    EXPECT_EQ(headset.BatteryLevel(1), 80.0);
    EXPECT_EQ(headset.BatteryLevel(2), 75.0);
    EXPECT_EQ(headset.BatteryLevel(0), 0.0);
    EXPECT_EQ(headset.BatteryLevel(3), 0.0);
    EXPECT_EQ(headset.BatteryLevel(), "[ 80, 75 ]");
    EXPECT_EQ(Count("VOQ headset issued alarm: Battery voltage: battery 1 = 80%, battery 2 = 75%; counts: 3000, 2900",
                    3),
              1);
    std::string info = headset.InfoString();
    EXPECT_NE(info.find("'TimeBatteryMeasured' : '2026-07-03 14:00:05'"), std::string::npos) << info;
    EXPECT_EQ(headset.GetAlarm(true), 527);

    // A report without the levels changes nothing.
    Deliver({AlarmPacket(2, 0x0F, {}, true)});
    EXPECT_EQ(headset.BatteryLevel(), "[ 80, 75 ]");
}

TEST_F(AlarmsTest, ConnectionCreatedInitialisesBluetooth) {
    EXPECT_FALSE(headset.IsBlueToothInitialized());
    Deliver({AlarmPacket(2, 0x33, {})});
    EXPECT_TRUE(headset.IsBlueToothInitialized());
    EXPECT_EQ(Count("VOQ headset issued alarm: ", 3), 1);
}

TEST_F(AlarmsTest, LevelsByCode) {
    Deliver({AlarmPacket(2, 0x01, {}), AlarmPacket(6, 0x01, {}), AlarmPacket(2, 0x2E, {}), AlarmPacket(2, 0x31, {}),
             AlarmPacket(2, 0x0B, {1, 2}), AlarmPacket(2, 0x7E, {})});
    ASSERT_EQ(headset.NumberOfAlarms(), 6);
    const int expected[6][2] = {{513, 3}, {1537, 3}, {558, 3}, {561, 3}, {523, 2}, {638, 2}};
    std::vector<int> levels;
    for (const Captured& m : messages)
        if (m.text.rfind("VOQ headset issued alarm: ", 0) == 0) levels.push_back(m.level);
    ASSERT_EQ(levels.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(headset.GetAlarm(true), expected[k][0]);
        EXPECT_EQ(levels[size_t(k)], expected[k][1]) << k;
    }
    EXPECT_EQ(Count("VOQ headset issued alarm: UnknownAlarm", 2), 1);
}

TEST_F(AlarmsTest, SilentHeadsetStillListsAlarms) {
    headset.SetMessageCallback(nullptr);
    Deliver({AlarmPacket(2, 0x0B, {1, 2})});
    EXPECT_EQ(headset.NumberOfAlarms(), 1);
}

TEST_F(AlarmsTest, AlarmListThroughTheCInterface) {
    std::vector<Bytes> packets;
    for (int k = 0; k < 30; ++k) packets.push_back(AlarmPacket(2, 0x0B, {unsigned(k)}));
    headset.SetMessageCallback(nullptr);
    for (int b = 0; b < 34; ++b) Deliver(packets);   // 1020 alarms
    Deliver({AlarmPacket(2, 0x01, {})});
    VOQ_Headset h = reinterpret_cast<VOQ_Headset>(&headset);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(h), 1000);
    EXPECT_EQ(VOQ_Headset_GetAlarm(h, 0), 523);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(h), 1000);
    EXPECT_EQ(VOQ_Headset_GetAlarm(h, 1), 523);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(h), 999);
    VOQ_Headset_ClearAlarms(h);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(h), 0);
    EXPECT_EQ(VOQ_Headset_GetAlarm(h, 1), 0);
    VOQ_ClearError();
    EXPECT_EQ(VOQ_Headset_GetAlarm(nullptr, 1), 0);
    EXPECT_STREQ(VOQ_ClearError(), "NULL Headset pointer");
}
