// Diagnostic messages: levels, the console sink, time stamps and the alarm
// path of IssueMessage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "VOQ_API.h"
#include "voq/Headset.h"

namespace {

struct Captured {
    std::string text;
    int level;
};
std::vector<Captured> gMessages;

int Capture(const char* message, int level) {
    gMessages.push_back({message ? message : "", level});
    return level;
}

}  // namespace

TEST(Messages, DefaultSinkShowsLevelTwoOnStandardError) {
    VOQ::Headset headset("deferred");
    EXPECT_EQ(headset.Verbosity(), 2);
    testing::internal::CaptureStderr();
    headset.Message(2, "level two");
    headset.Message(3, "level three");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(":  level two\n"), std::string::npos);
    EXPECT_EQ(err.find("level three"), std::string::npos);
}

TEST(Messages, TextIsTimeStampThenBody) {
    VOQ::Headset headset("deferred");
    gMessages.clear();
    headset.SetMessageCallback(&Capture);
    headset.Message(1, "body");
    ASSERT_EQ(gMessages.size(), 1u);
    const std::string& text = gMessages[0].text;
    EXPECT_EQ(gMessages[0].level, 1);
    size_t colon = text.find(":  body");
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(colon + 7, text.size());   // no trailing newline
    EXPECT_GE(colon, 6u);                 // the stamp is at least six wide
    EXPECT_EQ(text[colon - 4], '.');      // three decimals
}

TEST(Messages, VerbosityZeroAndNullCallbackSilence) {
    VOQ::Headset headset("deferred");
    gMessages.clear();
    headset.SetMessageCallback(&Capture);
    headset.SetVerbosity(0);
    headset.Message(1, "quiet");
    EXPECT_FALSE(headset.WillShow(1));
    EXPECT_TRUE(gMessages.empty());
    headset.SetVerbosity(7);
    EXPECT_TRUE(headset.WillShow(7));
    EXPECT_FALSE(headset.WillShow(8));
    headset.SetMessageCallback(nullptr);
    EXPECT_FALSE(headset.WillShow(1));
    headset.Message(1, "quiet");
    headset.IssueMessage("quiet", 1, -1);
    EXPECT_TRUE(gMessages.empty());
}

TEST(Messages, RelativeTimeStamps) {
    VOQ::Headset headset("deferred");
    EXPECT_EQ(headset.RelativeTimeStamp(2.0), " 2.000");
    EXPECT_EQ(headset.RelativeTimeStamp(0.5), " 0.500");
    EXPECT_EQ(headset.RelativeTimeStamp(12.3456), "12.346");
    EXPECT_EQ(headset.RelativeTimeStamp(1234.5), "1234.500");
    // Never opened: seconds since the process time origin.
    double now = VOQ::PrecisionTime();
    double stamped = std::atof(headset.RelativeTimeStamp(-1).c_str());
    EXPECT_NEAR(stamped, now, 0.05);
}

TEST(Messages, AlarmsAreListedEvenWhenSilent) {
    VOQ::Headset headset("deferred");
    headset.SetMessageCallback(nullptr);
    headset.IssueMessage("something", 2, 527);
    EXPECT_EQ(headset.NumberOfAlarms(), 1);

    gMessages.clear();
    headset.SetMessageCallback(&Capture);
    headset.IssueMessage("shown", 2, 600);
    headset.IssueMessage("hidden by level", 3, 601);
    headset.IssueMessage("plain", 2, -1);
    ASSERT_EQ(gMessages.size(), 2u);
    EXPECT_EQ(gMessages[0].text, "VOQ headset issued alarm: shown");
    EXPECT_EQ(gMessages[1].text, "plain");
    EXPECT_EQ(headset.NumberOfAlarms(), 3);
    EXPECT_EQ(headset.GetAlarm(true), 527);
    EXPECT_EQ(headset.GetAlarm(false), 600);
    EXPECT_EQ(headset.GetAlarm(false), 600);
}

TEST(Messages, AlarmListKeepsTheLastThousand) {
    VOQ::Headset headset("deferred");
    headset.SetMessageCallback(nullptr);
    for (int k = 0; k < 1001; ++k) headset.IssueMessage("", 2, 1000 + k);
    EXPECT_EQ(headset.NumberOfAlarms(), 1000);
    EXPECT_EQ(headset.GetAlarm(true), 1001);   // the second one issued
    headset.ClearAlarms();
    EXPECT_EQ(headset.NumberOfAlarms(), 0);
    EXPECT_EQ(headset.GetAlarm(true), 0);
}

TEST(Messages, ConsoleExport) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(VOQ_Console(nullptr, 5), 5);
    EXPECT_EQ(VOQ_Console("hello", 2), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nhello\n");
}

TEST(Messages, VerbosityAndCallbackThroughTheCInterface) {
    VOQ_Headset h = VOQ_Headset_New(nullptr);
    ASSERT_NE(h, nullptr);
    gMessages.clear();
    VOQ_Headset_SetMessageCallback(h, &Capture);
    VOQ_Headset_SetVerbosity(h, 3);
    reinterpret_cast<VOQ::Headset*>(h)->Message(3, "three");
    EXPECT_EQ(gMessages.size(), 1u);
    VOQ_Headset_Delete(h);
    VOQ_ClearError();
    VOQ_Headset_SetVerbosity(nullptr, 3);
    EXPECT_STREQ(VOQ_ClearError(), "NULL Headset pointer");
}
