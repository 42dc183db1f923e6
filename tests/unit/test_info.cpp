// The information string, before anything is known and after a device has
// described itself (through the fake-data hook).
#include <gtest/gtest.h>

#include <string>

#include "InfoString.h"
#include "VOQ_API.h"
#include "acquisition_support.h"

using acqtest::FakeHeadset;
using voqtest::Bytes;

TEST(InfoString, BeforeAnythingIsKnown) {
    VOQ::Headset h("deferred");
    const std::string expected =
        "{\n"
        "           'HardwareModel' : '?\?\?',\n"
        "        'HardwareRevision' : '?\?\?',\n"
        "            'SerialNumber' : 4294967295,\n"
        "             'SensorCount' : 4294967295,\n"
        "        'FirmwareRevision' : '?\?\? () + ?\?\? ()',\n"
        "'CalibrationLayoutVersion' : 0,\n"
        "          'AllSourceNames' : '',\n"
        "    'ConnectedSourceNames' : '',\n"
        "        'FactoryReference' : '',\n"
        "  'ChosenDefaultReference' : '',\n"
        "                 'Montage' : '',\n"
        "            'SamplingRate' : -1,\n"
        "       'AccelerometerRate' : -1,\n"
        "            'BatteryLevel' : [ -1, -1 ],\n"
        "     'TimeOnboardClockSet' : '',\n"
        " 'TimeOnboardClockQueried' : '',\n"
        "     'TimeBatteryMeasured' : '',\n"
        "              'FilterMode' : -1,\n"
        "     'DataAcquisitionMode' : -1,\n"
        "     'ImpedanceDriverMode' : -1,\n"
        "         'AnalogResetMode' : -1,\n"
        "}";
    EXPECT_EQ(h.InfoString(), expected);
    // The same text through the C interface.
    const char* text = VOQ_Headset_GetInfoString(reinterpret_cast<VOQ_Headset>(&h));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), expected);
    EXPECT_EQ(VOQ_Headset_GetInfoString(nullptr), nullptr);
}

namespace {

Bytes Response(int species, int code, const Bytes& payload) { return voqtest::ResponsePacket(species, code, 200, payload); }

Bytes U32(uint32_t value) {
    Bytes out(4);
    VOQ::WriteU32LE(out.data(), value);
    return out;
}

}  // namespace

TEST(InfoString, DescribesTheDeviceCharacterForCharacter) {
    FakeHeadset fh;   // 300/s, filter 1, a 24-slot 10-20 image
    Bytes queried{7, 3, 26, 14, 6, 10};
    Bytes set{7, 3, 26, 14, 5, 9};
    fh.Feed(voqtest::Block(fh.blockNumber++,
                           {Response(1, 29, voqtest::Text("VOQ24 HS Rev 2")),
                            Response(1, 40, voqtest::Concat({U32(2400117), voqtest::U16(24)})),
                            Response(1, 18, voqtest::Concat({voqtest::Text("1.18.0"), Bytes{0}})),
                            Response(5, 18, voqtest::Concat({voqtest::Text("1.9.4"), Bytes{0}})),
                            Response(1, 19, Bytes{1, 2, 0, 0}), Response(1, 19, Bytes{2, 7, 0, 0}),
                            Response(5, 19, Bytes{1, 3, 0, 0}),
                            Response(1, 33, voqtest::Concat({Bytes{0, 1}, voqtest::U16(300)})),
                            Response(5, 172, voqtest::U16(10)), Response(5, 218, voqtest::U16(0)),
                            Response(1, 65, voqtest::U16(0)),
                            Response(1, 48, voqtest::Concat({queried, Bytes{0}, set}))}));
    fh->TryToReadBlock();
    // A battery report 2.5 s after the clock was set.
    fh.Feed(voqtest::Block(fh.blockNumber++, {voqtest::AlarmPacket(2, 0x0F, {87, 84, 3912, 3890}, true, 4500)}));
    fh->TryToReadBlock();
    fh->ChooseChannels("FACTORY", "FACTORY", false);
    ASSERT_EQ(fh->SetTraditionalReference(true), "A1/2+A2/2");

    EXPECT_EQ(fh->InfoString(),
              voqtest::StandardInfoString("2026-07-03 14:05:09", "2026-07-03 14:06:10", "2026-07-03 14:05:11"));
}

TEST(InfoString, ShowsAnUnoccupiedSlotOnlyAmongAllSourceNames) {
    using namespace VOQ::SourceID;
    sigtest::Image image = sigtest::MakeImage({Fp1, Fp2, NC, Cz, A1, A2}, 2, Pz);
    FakeHeadset fh(300, 1, image);
    std::string info = fh->InfoString();
    EXPECT_NE(info.find("          'AllSourceNames' : 'Fp1 Fp2 NC Cz A1 A2 NC NC"), std::string::npos) << info;
    EXPECT_NE(info.find("    'ConnectedSourceNames' : 'Fp1 Fp2 Cz A1 A2 TRG ACCT ACCX ACCY ACCZ',\n"), std::string::npos)
        << info;
}
