#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Messages.h"
#include "VOQ.h"
#include "test_calibration_images.h"

using namespace VOQ;
using voqtest::ErrorOf;
using sigtest::Image;
using sigtest::MakeImage;

namespace {

const double kUnit = 1.0 / 32768.0;

// The fixed Sources that follow the 24 slots.
void ExpectFixedSources(const Headset& h, SourceID::Code cmf, const std::string& cmfName) {
    const std::vector<Source*>& s = h.Sources();
    ASSERT_EQ(s.size(), 41u);
    const int codes[] = {256, cmf, 257, 258, 259, 260, 261, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271};
    const char* names[] = {"TRG",  "",     "SND",  "RCV",  "NUL",  "TRG0", "TRG1", "TRG2", "TRG3",
                           "TRG4", "TRG5", "TRG6", "TRG7", "ACCT", "ACCX", "ACCY", "ACCZ"};
    for (int i = 0; i < 17; ++i) {
        const Source* source = s[size_t(24 + i)];
        EXPECT_EQ(source->code, codes[i]) << i;
        EXPECT_EQ(source->name, i == 1 ? cmfName : std::string(names[i])) << i;
        const bool zero = (i == 1 || codes[i] == SourceID::NUL);
        EXPECT_EQ(source->gain, zero ? 0.0 : 1.0) << i;
        EXPECT_EQ(source->rawOffset, 0.0);
    }
}

}  // namespace

TEST(Calibration, ErasedImage) {
    Headset h("deferred");
    const Image erased = sigtest::Erased();
    h.InterpretCalibrationMemory(erased.data());
    EXPECT_EQ(h.CalibrationLayoutVersion(), -1);
    EXPECT_EQ(h.FactoryReferenceString(), "Pz");
    EXPECT_EQ(h.SensorCount(), 0u);
    ASSERT_EQ(h.Sources().size(), 41u);
    for (int k = 0; k < 24; ++k) {
        const Source* s = h.Sources()[size_t(k)];
        EXPECT_EQ(s->name, "NC");
        EXPECT_EQ(s->code, SourceID::NC);
        EXPECT_DOUBLE_EQ(s->gain, 0.301 * (1 - kUnit));
        // No sampling rate yet: the impedance window is empty.
        EXPECT_EQ(s->signalHistory.Capacity(), 0u);
    }
    ExpectFixedSources(h, SourceID::Pz, "Pz");
    EXPECT_EQ(std::memcmp(h.CalibrationMemory(), erased.data(), 128), 0);
    // Standard aliases still reach the fixed Sources.
    EXPECT_EQ(h.MatchSource("Trigger", true)->code, SourceID::TRG);
    EXPECT_EQ(h.MatchSource("zero", true)->code, SourceID::NUL);
}

TEST(Calibration, SevenSensorLinkedEarsDependOnLayoutVersion) {
    using namespace SourceID;
    Headset h("deferred");
    Image v1 = MakeImage({0x97, F3, F4, C3, C4, P3, P4}, 1);
    h.InterpretCalibrationMemory(v1.data());
    EXPECT_EQ(h.SensorCount(), 7u);
    EXPECT_EQ(h.Sources()[0]->code, A1A2);
    EXPECT_EQ(h.Sources()[0]->name, "A1A2");
    EXPECT_EQ(h.MatchSource("LE", true), h.Sources()[0]);
    EXPECT_EQ(h.FactoryReferenceString(), "Pz");

    Image v2 = MakeImage({0x97, F3, F4, C3, C4, P3, P4}, 2, Pz);
    h.InterpretCalibrationMemory(v2.data());
    EXPECT_EQ(h.Sources()[0]->code, X1);
    EXPECT_EQ(h.Sources()[0]->name, "X1");

    // Only with exactly seven occupied slots.
    Image six = MakeImage({0x97, F3, F4, C3, C4, P3}, 1);
    h.InterpretCalibrationMemory(six.data());
    EXPECT_EQ(h.Sources()[0]->code, X1);
    // Only in slot 0.
    Image second = MakeImage({F3, 0x97, F4, C3, C4, P3, P4}, 1);
    h.InterpretCalibrationMemory(second.data());
    EXPECT_EQ(h.Sources()[1]->code, X1);
}

TEST(Calibration, CommonModeSlotAndFactoryReference) {
    using namespace SourceID;
    Headset h("deferred");
    Image image = MakeImage({Fp1, Fp2, F3, F4, C3, Pz, C4, A1, A2}, 2, Pz);
    sigtest::SetGainCorrection(image, 5, 1000);
    sigtest::SetGainCorrection(image, 2, -2000);
    h.InterpretCalibrationMemory(image.data());
    EXPECT_EQ(h.CalibrationLayoutVersion(), 2);
    const Source* cm = h.Sources()[5];
    EXPECT_EQ(cm->code, CM);
    EXPECT_EQ(cm->name, "CM");
    EXPECT_DOUBLE_EQ(cm->gain, 74.0 * (1 + 1000 * kUnit));
    EXPECT_DOUBLE_EQ(h.Sources()[2]->gain, 0.301 * (1 - 2000 * kUnit));
    EXPECT_EQ(h.MatchSource("CMF", true), cm);
    ExpectFixedSources(h, Pz, "Pz");
    EXPECT_EQ(h.MatchSource("Pz", true), h.Sources()[25]);
    EXPECT_TRUE(h.Sources()[25]->IsFactoryReference());

    // Another follower position from layout 2 on.
    Image cz = MakeImage({Fp1, Cz, 0x80 | F3}, 3, Cz);
    h.InterpretCalibrationMemory(cz.data());
    EXPECT_EQ(h.Sources()[1]->code, CM);
    EXPECT_EQ(h.Sources()[2]->code, F3);  // the flag bit is dropped
    EXPECT_EQ(h.FactoryReferenceString(), "Cz");
    ExpectFixedSources(h, Cz, "Cz");

    // Before layout 2 byte 126 is not read, and only code 18 is common mode.
    Image old = MakeImage({Fp1, Cz, CM}, 1, Cz);
    h.InterpretCalibrationMemory(old.data());
    EXPECT_EQ(h.Sources()[1]->code, Cz);
    EXPECT_EQ(h.Sources()[2]->code, CM);
    EXPECT_DOUBLE_EQ(h.Sources()[2]->gain, 74.0);
    EXPECT_EQ(h.FactoryReferenceString(), "Pz");
}

TEST(Calibration, GainCorrectionExtremes) {
    using namespace SourceID;
    Headset h("deferred");
    Image image = MakeImage({F3, F4}, 2, Pz);
    sigtest::SetGainCorrection(image, 0, int16_t(-32768));
    sigtest::SetGainCorrection(image, 1, 32767);
    h.InterpretCalibrationMemory(image.data());
    EXPECT_EQ(h.Sources()[0]->gain, 0.0);
    EXPECT_DOUBLE_EQ(h.Sources()[1]->gain, 0.301 * (2 - kUnit));
}

TEST(Calibration, TemporalNamesVoteForTheScheme) {
    using namespace SourceID;
    Headset h("deferred");
    // One T7 slot: the 10-10 names win.
    Image image = MakeImage({Fp1, T7, Cz}, 2, Pz);
    h.InterpretCalibrationMemory(image.data());
    Source* t = h.Sources()[1];
    EXPECT_EQ(t->code, T3);
    EXPECT_EQ(t->name, "T7");
    EXPECT_EQ(h.MatchSource("T3", true), t);
    EXPECT_EQ(h.MatchSource("t7", true), t);
    ASSERT_EQ(t->aliases.size(), 2u);
    EXPECT_EQ(t->aliases[0], "T3");
    EXPECT_EQ(t->aliases[1], "T7");

    // T3 outvotes T7: the 10-20 names.
    Image mixed = MakeImage({T3, T4, P7, Cz}, 2, Pz);
    h.InterpretCalibrationMemory(mixed.data());
    EXPECT_EQ(h.Sources()[0]->name, "T3");
    EXPECT_EQ(h.Sources()[2]->code, T5);
    EXPECT_EQ(h.Sources()[2]->name, "T5");
    EXPECT_EQ(h.MatchSource("P7", true), h.Sources()[2]);
    // A tie goes to 10-20.
    Image tie = MakeImage({T4, T7}, 2, Pz);
    h.InterpretCalibrationMemory(tie.data());
    EXPECT_EQ(h.Sources()[0]->name, "T4");
    EXPECT_EQ(h.Sources()[1]->name, "T3");
    // A 10-10-only position weighs five.
    Image heavy = MakeImage({T3, T4, T5, T6, AF3}, 2, Pz);
    h.InterpretCalibrationMemory(heavy.data());
    EXPECT_EQ(h.Sources()[0]->name, "T7");
    EXPECT_EQ(h.Sources()[3]->name, "P8");
    // Mastoids under their 10-10 names.
    Image mastoids = MakeImage({TP9, TP10}, 2, Pz);
    h.InterpretCalibrationMemory(mastoids.data());
    EXPECT_EQ(h.Sources()[0]->code, M1);
    EXPECT_EQ(h.Sources()[0]->name, "M1");
    EXPECT_EQ(h.MatchSource("TP10", true), h.Sources()[1]);
}

TEST(Calibration, DuplicateNamesFailTheAliasStep) {
    using namespace SourceID;
    Headset h("deferred");
    Image image = MakeImage({T7, M1, TP9, Cz}, 2, Pz);
    EXPECT_EQ(ErrorOf([&] { h.InterpretCalibrationMemory(image.data()); }),
              "The name \"M1\" matches more than one source.");
    // The Sources are there; the groups before the failing one were added,
    // and no naming scheme was applied.
    ASSERT_EQ(h.Sources().size(), 41u);
    EXPECT_EQ(h.Sources()[0]->name, "T3");
    EXPECT_EQ(h.MatchSource("T7", true), h.Sources()[0]);
    EXPECT_EQ(h.Sources()[1]->code, M1);
    EXPECT_EQ(h.Sources()[2]->code, M1);
    EXPECT_EQ(std::memcmp(h.CalibrationMemory(), image.data(), 128), 0);
}

TEST(Calibration, InterpretationReplacesSourcesAndMontage) {
    Headset h("deferred");
    Image image = sigtest::Standard1020();
    h.InterpretCalibrationMemory(image.data());
    h.ChooseChannels("Fz Cz", "A1", false);
    EXPECT_EQ(h.NumberOfChannels(), 2u);
    EXPECT_EQ(h.NumberOfProcessingStages(), 1u);
    EXPECT_EQ(h.ReferenceString(), "A1");
    // NULL reinterprets the image in place.
    h.InterpretCalibrationMemory(nullptr);
    EXPECT_EQ(h.NumberOfChannels(), 0u);
    EXPECT_EQ(h.NumberOfMontageSources(), 0u);
    EXPECT_EQ(h.NumberOfProcessingStages(), 0u);
    EXPECT_EQ(h.ReferenceString(), "Pz");
    EXPECT_EQ(h.Sources().size(), 41u);
    EXPECT_EQ(h.Sources()[4]->name, "Fz");
    // Its own image as the argument is the same.
    h.InterpretCalibrationMemory(h.CalibrationMemory());
    EXPECT_EQ(h.Sources()[4]->name, "Fz");

    h.ForgetSources();
    EXPECT_TRUE(h.Sources().empty());
}

TEST(Calibration, NewFollowerPositionIsCheckedBeforeWriting) {
    Headset h("deferred");
    EXPECT_EQ(ErrorOf([&] { h.FlashNewCMFLocation(SourceID::Cz, 2); }),
              "must read calibration memory completely before attempting to write it");
    Image image = sigtest::Standard1020();
    h.InterpretCalibrationMemory(image.data());
    EXPECT_EQ(ErrorOf([&] { h.FlashNewCMFLocation(SourceID::TRG, 2); }),
              "cannot set code 256 (\"TRG\") as the common mode position");
    EXPECT_EQ(ErrorOf([&] { h.FlashNewCMFLocation(SourceID::X1, 2); }),
              "cannot set code 23 (\"X1\") as the common mode position");
    EXPECT_EQ(ErrorOf([&] { h.FlashNewCMFLocation(SourceID::NC, 2); }),
              "cannot set code 255 (\"NC\") as the common mode position");
    // A code that does not fit the byte that stores it is refused too.
    EXPECT_EQ(ErrorOf([&] { h.FlashNewCMFLocation(SourceID::Code(300), 2); }),
              "cannot set code 300 (\"UnknownSourceID\") as the common mode position");
    EXPECT_EQ(std::memcmp(h.CalibrationMemory(), image.data(), 128), 0);
}
