// Ready-made filters: the text's errors through the C interface, and a
// filter stage on a headset fed through the fake-data hook (EEG channels
// filtered exactly as offline, others passed on, a change of sampling rate
// followed or refused).  Agreement of the designs with an independent
// reference is checked by the Python tests.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "Messages.h"
#include "acquisition_support.h"
#include "VOQ_API.h"

using acqtest::FakeHeadset;
using voqtest::ErrorOf;

namespace {

std::string Error() { return VOQ_Error() ? VOQ_Error() : ""; }

// The newest `count` values of each channel of a stage, oldest first,
// channel after channel (without consuming them).
std::vector<double> History(const VOQ::ProcessingStage& stage, size_t count) {
    std::vector<double> values;
    for (const VOQ::Channel* channel : stage.channels)
        for (size_t k = count; k-- > 0;) values.push_back(channel->buffer.LookBack(k));
    return values;
}

}  // namespace

TEST(Filter, BadTextsNameTheOffendingWordAndLeaveTheSamplesAlone) {
    const struct {
        const char* text;
        double rate;
        const char* error;
    } cases[] = {
        {"", 300, "empty filter text: write for example \"bandpass 1 40; notch 50\""},
        {" ; ", 300, "empty filter text: write for example \"bandpass 1 40; notch 50\""},
        {"bandpas 1 40", 300,
         "bad filter \"bandpas 1 40\": unknown filter \"bandpas\" (known: highpass, lowpass, bandpass, bandstop, "
         "notch, car)"},
        {"notch 50; bandpass 1", 300, "bad filter \"bandpass 1\": bandpass needs two frequencies"},
        {"lowpass 4O", 300, "bad filter \"lowpass 4O\": \"4O\" is not a frequency"},
        {"highpass 0", 300, "bad filter \"highpass 0\": the frequency 0 is not above 0"},
        {"highpass nan", 300, "bad filter \"highpass nan\": \"nan\" is not a frequency"},
        {"bandstop 55 45", 300, "bad filter \"bandstop 55 45\": the low edge 55 is not below the high edge 45"},
        {"bandpass 1 40 ordr 4", 300, "bad filter \"bandpass 1 40 ordr 4\": unknown word \"ordr\""},
        {"lowpass 40 order 9", 300, "bad filter \"lowpass 40 order 9\": order \"9\" is not a whole number from 1 to 8"},
        {"lowpass 40 order", 300, "bad filter \"lowpass 40 order\": \"order\" needs a value"},
        {"lowpass 40 order 2 ORDER 3", 300, "bad filter \"lowpass 40 order 2 ORDER 3\": \"ORDER\" is given twice"},
        {"notch 50 order 2", 300, "bad filter \"notch 50 order 2\": unknown word \"order\""},
        {"notch 50 q -1", 300, "bad filter \"notch 50 q -1\": q \"-1\" is not a number above 0"},
        {"notch 50 harmonics 21", 300,
         "bad filter \"notch 50 harmonics 21\": harmonics \"21\" is not a whole number from 1 to 20"},
        {"car 3", 300, "bad filter \"car 3\": unknown word \"3\""},
        {"lowpass 150", 300,
         "bad filter \"lowpass 150\": 150 is not below half the sampling rate (150 Hz at 300 samples/s)"},
        {"car", 0, "cannot run filter \"car\": the sampling rate 0 is not above 0"},
    };
    for (const auto& c : cases) {
        double samples[4] = {1, 2, 3, 4};
        VOQ_ClearError();
        EXPECT_EQ(VOQ_Filter_Apply(c.text, c.rate, samples, 2, 2, nullptr), 0) << c.text;
        EXPECT_EQ(Error(), c.error) << c.text;
        EXPECT_EQ(samples[0] + samples[1] + samples[2] + samples[3], 10.0) << c.text;
    }
    VOQ_ClearError();
    double samples[4] = {1, 2, 3, 4};
    EXPECT_EQ(VOQ_Filter_Apply(nullptr, 300, samples, 2, 2, nullptr), 0);
    EXPECT_EQ(VOQ_Filter_Apply("car", 300, nullptr, 2, 2, nullptr), 0);
    EXPECT_EQ(Error(), "NULL samples pointer");
    // Words in any case, options in any order, empty elements ignored.
    VOQ_ClearError();
    EXPECT_EQ(VOQ_Filter_Apply("NOTCH 50 Harmonics 3 Q 20;; BandPass 1 40;", 300, samples, 2, 2, nullptr), 1);
    EXPECT_EQ(Error(), "");
}

TEST(Filter, StageFiltersTheEEGChannelsAsOfflineAndFollowsTheSamplingRate) {
    FakeHeadset fh(300);
    VOQ_Headset h = reinterpret_cast<VOQ_Headset>(fh.headset);
    fh->ChooseChannels("Fz Cz-C3 O1 X1 TRG", "A1/2+A2/2", false);
    ASSERT_EQ(fh->NumberOfChannels(), 5u);
    const char* text = "car; highpass 2 order 3; lowpass 100; notch 50 harmonics 3";
    VOQ_ProcessingStage added = VOQ_Headset_AddFilter(h, nullptr, text, nullptr);
    ASSERT_NE(added, nullptr) << Error();
    EXPECT_EQ(std::string(VOQ_ProcessingStage_GetName(added)), "filter");
    EXPECT_EQ(std::string(VOQ_Headset_GetPrefiltering(h)), "HP:2Hz LP:100Hz CAR N:50,100,150Hz");
    const VOQ::ProcessingStage& raw = *fh->GetProcessingStageByIndex(0);
    const VOQ::ProcessingStage& stage = *reinterpret_cast<VOQ::ProcessingStage*>(added);

    // Pseudo-random readings, a trigger now and then.
    unsigned seed = 7;
    const auto feed = [&](int count) {
        for (int n = 0; n < count; ++n) {
            std::array<int16_t, 24> readings{};
            for (int16_t& r : readings) r = int16_t(int((seed = seed * 1103515245u + 12345u) >> 16) % 2000 - 1000);
            fh.ProcessSamples(1, uint8_t(n % 50 == 0 ? n / 50 + 1 : 0), readings);
        }
    };
    const int eeg[5] = {1, 1, 1, 0, 0};   // X1 is an auxiliary input, TRG the trigger
    const auto expectOffline = [&](double rate, size_t count) {
        std::vector<double> expected = History(raw, count);
        ASSERT_EQ(VOQ_Filter_Apply(text, rate, expected.data(), 5, count, eeg), 1) << Error();
        const std::vector<double> got = History(stage, count);
        EXPECT_EQ(got, expected);
        for (size_t i = 3 * count; i < 5 * count; ++i) EXPECT_EQ(got[i], History(raw, count)[i]);
        for (size_t k = 0; k < count; ++k)
            EXPECT_NEAR(got[k] + got[count + k] + got[2 * count + k], 0.0, 1e-6) << "after car and the same filters";
    };
    feed(200);
    expectOffline(300, 200);

    // The filter takes its input's channels by position: neither side's
    // channels may change under it.
    VOQ_ClearError();
    VOQ_ProcessingStage_ClearChannels(added);
    EXPECT_EQ(Error(), "cannot change the channels of ProcessingStage \"filter\": filter stage \"filter\" makes them");
    VOQ_ProcessingStage_AddChannel(reinterpret_cast<VOQ_ProcessingStage>(fh->GetProcessingStageByIndex(0)), "extra", 10);
    EXPECT_EQ(Error(), "cannot change the channels of ProcessingStage \"raw\": filter stage \"filter\" filters them");
    VOQ_ClearError();
    EXPECT_EQ(raw.channels.size(), 5u);

    // A device that reports a new rate: the stage starts again, designed for it.
    fh.Respond(33, voqtest::Concat({voqtest::Bytes{1, 1}, voqtest::U16(600u)}));
    feed(150);
    expectOffline(600, 150);
    EXPECT_EQ(stage.filter->Rate(), 600.0);

    // A rate a filter cannot run at is refused before anything is sent, and
    // a device that goes there all the same stops the sample processing.
    VOQ_ProcessingStage narrow = VOQ_Headset_AddFilter(h, "narrow", "lowpass 200", nullptr);
    ASSERT_NE(narrow, nullptr) << Error();
    VOQ_ClearError();
    VOQ_Headset_ConfigureADC(h, 300, 1);
    EXPECT_EQ(Error(), "cannot change the sampling rate to 300 while filter stage \"narrow\" exists: bad filter "
                       "\"lowpass 200\": 200 is not below half the sampling rate (150 Hz at 300 samples/s)");
    fh.Respond(33, voqtest::Concat({voqtest::Bytes{1, 1}, voqtest::U16(300u)}));
    fh.FeedSamples(1);
    EXPECT_EQ(ErrorOf([&] { fh->TryToReadBlock(); }),
              "filter stage \"narrow\" cannot run at the new sampling rate: bad filter \"lowpass 200\": 200 is not "
              "below half the sampling rate (150 Hz at 300 samples/s)");
    VOQ_ClearError();
}
