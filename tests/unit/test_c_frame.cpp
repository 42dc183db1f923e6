#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VOQ_API.h"

namespace {

std::vector<std::pair<std::string, int>> gCalls;
int Record(const char* message, int level) {
    gCalls.emplace_back(message, level);
    return 0;
}

class CFrame : public ::testing::Test {
protected:
    void SetUp() override {
        VOQ_ClearError();
        gCalls.clear();
    }
    void TearDown() override {
        VOQ_SetErrorCallback(nullptr);
        VOQ_ClearError();
    }
};

}  // namespace

TEST_F(CFrame, ErrorPollingAndClearing) {
    EXPECT_EQ(VOQ_Error(), nullptr);
    VOQ_Headset_Connect(nullptr, "x");
    const char* error = VOQ_Error();
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "NULL Headset pointer");
    EXPECT_EQ(VOQ_Error(), error);
    EXPECT_EQ(VOQ_ClearError(), error);
    EXPECT_EQ(VOQ_ClearError(), nullptr);
}

TEST_F(CFrame, CallbackAtLevelOneAndRemoval) {
    VOQ_SetErrorCallback(Record);
    VOQ_Channel_ReadBuffered(nullptr);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].first, "NULL Channel pointer");
    EXPECT_EQ(gCalls[0].second, 1);
    VOQ_SetErrorCallback(nullptr);
    VOQ_ProcessingStage_GetName(nullptr);
    EXPECT_EQ(gCalls.size(), 1u);
    EXPECT_STREQ(VOQ_Error(), "NULL ProcessingStage pointer");
}

TEST_F(CFrame, ReturnedStringRing) {
    const char* first = VOQ_GetAPIVersion();
    EXPECT_STREQ(first, "1.18.2");
    std::vector<const char*> seen{first};
    for (int i = 0; i < 31; ++i) {
        const char* p = VOQ_GetAPIVersion();
        for (const char* q : seen) EXPECT_NE(p, q);
        seen.push_back(p);
    }
    EXPECT_EQ(VOQ_GetAPIVersion(), first);
}

TEST_F(CFrame, PendingErrorSurvivesReturnedStrings) {
    VOQ_Source_GetName(nullptr);
    const char* error = VOQ_Error();
    for (int i = 0; i < 100; ++i) VOQ_GetAPIVersion();
    EXPECT_STREQ(error, "NULL Source pointer");
    EXPECT_EQ(VOQ_ClearError(), error);
}

TEST_F(CFrame, ErrorValues) {
    EXPECT_EQ(VOQ_Headset_SecondsSinceConnection(nullptr), -1.0);
    EXPECT_EQ(VOQ_Headset_GetBatteryLevel(nullptr, 1), -1.0);
    EXPECT_EQ(VOQ_Headset_GetAccelerometerRate(nullptr), -1.0);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(nullptr), -1);
    EXPECT_EQ(VOQ_Headset_GetNumberOfChannels(nullptr), 0u);
    EXPECT_EQ(VOQ_Headset_GetInfoString(nullptr), nullptr);
    EXPECT_EQ(VOQ_Channel_GetSignal(nullptr), 0.0);
    EXPECT_EQ(VOQ_PythonString(nullptr, 3, 0), nullptr);
    EXPECT_STREQ(VOQ_PythonString("\"", 1, 0), "\"\\x22\"");
    EXPECT_STREQ(VOQ_PythonString(nullptr, 0, 0), "\"\"");
}

TEST_F(CFrame, ConsoleAndSleep) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(VOQ_Console(nullptr, 5), 5);
    EXPECT_EQ(VOQ_Console("hello", 2), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nhello\n");
    VOQ_Sleep(-1);
    VOQ_SanityCheck();
    EXPECT_EQ(VOQ_Error(), nullptr);
}
