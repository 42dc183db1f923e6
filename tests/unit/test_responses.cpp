// Response processing: every family, refusal codes, malformed and oversized
// payloads, calibration pages, through the fake-data hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "FakeDataTest.h"
#include "voq/Headset.h"

using namespace voqtest;

namespace {

class ResponsesTest : public FakeDataTest {
protected:
    void Respond(int code, const Bytes& payload, int species = 1, int identifier = 4) {
        Deliver({ResponsePacket(species, code, identifier, payload)});
    }
};

Bytes Page(int page, uint8_t fill) {
    Bytes payload{uint8_t(page), 0};
    payload.insert(payload.end(), 16, fill);
    return payload;
}

}  // namespace

TEST_F(ResponsesTest, HeaderIsReported) {
    Respond(40, Bytes{1, 0, 0, 0, 24, 0}, 1, 17);
    EXPECT_EQ(Count("Received ResponseFromMaster 0x28 (SerialNumberAndSensorCount) in answer to command 17", 3), 1);
    EXPECT_EQ(headset.SerialNumber(), 1u);
    // The headset's own sensor count is not what callers see.
    EXPECT_EQ(headset.SensorCount(), 4294967295u);
}

TEST_F(ResponsesTest, FirmwareRevisionsAndSubRevisions) {
    Respond(18, Text("1.2.3"), 1);
    Respond(18, Bytes{'0', '.', '9'}, 5);
    Respond(19, Bytes{2, 0, 0, 0}, 1);
    Respond(19, Bytes{1, 4, 9, 9}, 1);
    EXPECT_EQ(headset.FirmwareRevision(), "1.2.3 (1:4,2:0) + 0.9 ()");
    Respond(19, Bytes{1, 5, 0, 0}, 1);   // overwrites
    Respond(19, Bytes{7, 1, 0, 0}, 5);
    EXPECT_EQ(headset.FirmwareRevision(), "1.2.3 (1:5,2:0) + 0.9 (7:1)");
}

TEST_F(ResponsesTest, NullTerminatedFirmwareText) {
    Respond(18, Bytes{'2', '.', '1', 0, 0}, 1);
    EXPECT_EQ(headset.FirmwareRevision(), "2.1 () + ??? ()");
    EXPECT_EQ(Count("VOQ message overflow - extraneous bytes received in \"\\x32\\x2E\\x31\\x00\\x00\"", 3), 1);
    EXPECT_EQ(headset.NullTerminatedString("abc", 3), "abc");
    EXPECT_EQ(headset.NullTerminatedString("ab\0", 3), "ab");
}

TEST_F(ResponsesTest, DeviceIdentification) {
    Respond(29, Text("ABC-100 Rev 2"));
    EXPECT_EQ(headset.HardwareModel(), "ABC-100 Rev");
    EXPECT_EQ(headset.HardwareRevision(), "2");
    Respond(29, Text("Solo"));
    EXPECT_EQ(headset.HardwareModel(), "Solo");
    EXPECT_EQ(headset.HardwareRevision(), "");
    Respond(29, Text("A,B\tC\r\nD"));
    EXPECT_EQ(headset.HardwareModel(), "A B C");
    EXPECT_EQ(headset.HardwareRevision(), "D");
}

TEST_F(ResponsesTest, LEDAnswerIsReported) {
    Respond(30, Bytes{0x05});
    EXPECT_EQ(Count("Reponse to LED command: \"\\x05\"", 3), 1);
}

TEST_F(ResponsesTest, DataAcquisitionModeAndTriggerDelay) {
    Respond(33, Bytes{1, 1, 0x58, 0x02});   // running, filter on, 600/s
    EXPECT_EQ(headset.DataAcquisitionMode(), 1);
    EXPECT_EQ(headset.FilterMode(), 1);
    EXPECT_EQ(headset.SamplingRate(), 600.0);
    EXPECT_EQ(Count("unrecognized"), 0);
    Respond(33, Bytes{0, 1, 0xF4, 0x01});   // 500/s
    EXPECT_EQ(Count("WARNING: unrecognized sampling rate 500Hz: trigger channel will NOT be delayed to compensate "
                    "for signal filtering",
                    1),
              1);
    Respond(33, Bytes{0, 0, 0x2C, 0x01});   // filter off
    EXPECT_EQ(Count("headset filter mode is off: trigger channel will NOT be delayed to compensate for signal "
                    "filtering",
                    1),
              1);
    EXPECT_EQ(headset.SamplingRate(), 300.0);
    EXPECT_EQ(headset.DataAcquisitionMode(), 0);
}

TEST_F(ResponsesTest, ModesAndAccelerometerRate) {
    Respond(65, Bytes{2, 0});
    Respond(218, Bytes{1, 0}, 5);
    Respond(172, Bytes{25, 0}, 5);
    EXPECT_EQ(headset.AnalogResetMode(), 2);
    EXPECT_EQ(headset.ImpedanceDriverMode(), 1);
    EXPECT_EQ(headset.AccelerometerRate(), 25.0);
    Respond(172, Bytes{0, 0}, 5);
    EXPECT_EQ(headset.AccelerometerRate(), 0.0);
}

TEST_F(ResponsesTest, AcquisitionSettingsAreReportedOnly) {
    Respond(165, Bytes{0x2C, 0x01, 1, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0x00});
    EXPECT_EQ(Count("AcquisitionSettings returned:\n    samplesPerSecond = 300\n          filterMode = 1\n"
                    "          recordType = 1\n    channelSelection = 0x00FFFFFF",
                    3),
              1);
    EXPECT_EQ(headset.SamplingRate(), -1.0);
}

TEST_F(ResponsesTest, ClockRecords) {
    // queried 2026-07-03 14:05:09, set 2026-07-03 14:00:00
    Respond(48, Bytes{7, 3, 26, 14, 5, 9, 0, 7, 3, 26, 14, 0, 0});
    std::string info = headset.InfoString();
    EXPECT_NE(info.find("'TimeOnboardClockSet' : '2026-07-03 14:00:00'"), std::string::npos) << info;
    EXPECT_NE(info.find("'TimeOnboardClockQueried' : '2026-07-03 14:05:09'"), std::string::npos) << info;
}

TEST_F(ResponsesTest, EchoSetsTheReadyFlag) {
    EXPECT_FALSE(headset.Ready());
    Respond(236, Text("HELLO"));
    EXPECT_FALSE(headset.Ready());
    EXPECT_EQ(Count(":  \"HELLO\"", 2), 1);
    Respond(236, Text("VOQ Ready"));
    EXPECT_TRUE(headset.Ready());
    Respond(236, Bytes{});   // an empty echo is fine
}

TEST_F(ResponsesTest, MalformedAndOversizedPayloads) {
    Respond(33, Bytes{1, 1, 0x2C}, 1, 9);   // one byte short
    EXPECT_EQ(Count("malformed payload in response to DataAcquisitionMode command 9", 2), 1);
    EXPECT_EQ(headset.DataAcquisitionMode(), -1);
    Respond(65, Bytes{1, 0, 0xEE}, 1, 10);   // one byte too many
    EXPECT_EQ(Count("extraneous bytes follow payload in response to AnalogResetMode command 10", 3), 1);
    EXPECT_EQ(headset.AnalogResetMode(), 1);
    Respond(47, Bytes{0, 0, 1, 2}, 1, 11);
    EXPECT_EQ(Count("malformed payload in response to CalibrationMemory command 11", 2), 1);
    Respond(48, Bytes(12, 1), 1, 12);
    EXPECT_EQ(Count("malformed payload in response to RealTimeClock command 12", 2), 1);
    // Shorter than its own header.
    Deliver({RawPacket(1, Bytes{29})});
    EXPECT_EQ(Count("malformed response packet", 2), 1);
}

TEST_F(ResponsesTest, RefusalCodes) {
    Respond(0x80, Bytes{}, 1, 21);
    EXPECT_EQ(Count("command 21 rejected: headset is in wrong mode", 3), 1);
    Respond(0xE3, Bytes{}, 1, 22);
    EXPECT_EQ(Count("command 22 rejected: headset responded with reserved code 0xE3", 3), 1);
    Respond(0xF3, Bytes{}, 1, 23);
    EXPECT_EQ(Count("command 23 rejected: parameter[3] is bad", 3), 1);
}

TEST_F(ResponsesTest, UnsupportedCodes) {
    Respond(145, Bytes{0, 0x41}, 1, 30);
    EXPECT_EQ(Count("Command 30 response ignored due to unsupported command code 0x91", 2), 1);
    EXPECT_EQ(Count("Response type 0x91 delivered 2 bytes: \"\\x00\\x41\" = \"\\x00A\"", 3), 1);
}

TEST_F(ResponsesTest, CalibrationPagesBuildTheSourcesOnTheEighth) {
    for (int page = 0; page < 7; ++page) Respond(47, Page(page, 0xFF));
    Respond(47, Page(3, 0xFF));   // a repeat counts once
    EXPECT_TRUE(headset.Sources().empty());
    EXPECT_EQ(headset.SensorCount(), 4294967295u);
    Respond(47, Page(7, 0xFF));
    EXPECT_EQ(headset.SensorCount(), 0u);
    EXPECT_EQ(headset.Sources().size(), 41u);
    EXPECT_EQ(headset.CalibrationMemory()[127], 0xFF);

    // All eight pages are needed again for the next interpretation.
    Bytes page0 = Page(0, 0xFF);
    page0[2] = 1;   // slot 0: Fp1
    Respond(47, page0);
    EXPECT_EQ(headset.SensorCount(), 0u);
    EXPECT_EQ(headset.CalibrationMemory()[0], 1);
    for (int page = 1; page < 8; ++page) Respond(47, Page(page, 0xFF));
    EXPECT_EQ(headset.SensorCount(), 1u);
}

TEST_F(ResponsesTest, UnexpectedCalibrationPage) {
    Respond(47, Page(8, 0x11));
    EXPECT_EQ(Count("Headset returned an unexpected calibration memory page number 8", 1), 1);
    for (int k = 0; k < 128; ++k) ASSERT_EQ(headset.CalibrationMemory()[k], 0) << k;
}
