#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "VOQ.h"

using namespace VOQ;

namespace {

// Clock texts are local time; the tests fix the time zone.
class ClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved = tz ? tz : "";
        hadTZ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTZ) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
        tzset();
    }
    std::string saved;
    bool hadTZ = false;
};

RealTimeClockStruct Record(int month, int day, int year, int hour, int minute, int second) {
    return RealTimeClockStruct{uint8_t(month), uint8_t(day), uint8_t(year), uint8_t(hour), uint8_t(minute),
                               uint8_t(second)};
}

}  // namespace

TEST(Time, PrecisionTimeIsMonotonicSeconds) {
    double a = PrecisionTime();
    EXPECT_GE(a, 0.0);
    Sleep(0.01);
    double b = PrecisionTime();
    EXPECT_GT(b - a, 0.008);
    EXPECT_LT(b - a, 0.5);
}

TEST(Time, SleepRounding) {
    double t0 = PrecisionTime();
    Sleep(-1);
    Sleep(0.0004);
    EXPECT_LT(PrecisionTime() - t0, 0.001 + 0.02);
    t0 = PrecisionTime();
    Sleep(0.0015);
    EXPECT_GE(PrecisionTime() - t0, 0.0019);
    t0 = PrecisionTime();
    SleepSeconds(0.003);
    EXPECT_GE(PrecisionTime() - t0, 0.0029);
}

TEST_F(ClockTest, TextAndArithmetic) {
    Clock clock;
    EXPECT_EQ(clock.String(0, 0), "");
    int64_t whole = 123;
    double fraction = 0.5;
    EXPECT_FALSE(clock.TediousArithmetic(1, whole, fraction));
    EXPECT_EQ(whole, 123);
    RealTimeClockStruct record = Record(4, 5, 23, 6, 7, 8);
    clock.Set(&record);
    EXPECT_TRUE(clock.isSet);
    EXPECT_EQ(clock.String(0, 0), "2023-04-05 06:07:08");
    EXPECT_EQ(clock.String(1.75, 2), "2023-04-05 06:07:09.75");
    EXPECT_EQ(clock.String(0.25, 3), "2023-04-05 06:07:08.250");
    EXPECT_EQ(clock.String(-0.5, 0), "");
    ASSERT_TRUE(clock.TediousArithmetic(-0.25, whole, fraction));
    EXPECT_EQ(whole, clock.seconds - 1);
    EXPECT_DOUBLE_EQ(fraction, 0.75);
    clock.fraction = 0.5;
    ASSERT_TRUE(clock.TediousArithmetic(2.75, whole, fraction));
    EXPECT_EQ(whole, clock.seconds + 3);
    EXPECT_DOUBLE_EQ(fraction, 0.25);
}

TEST_F(ClockTest, DatesPast2038) {
    Clock clock;
    RealTimeClockStruct record = Record(4, 5, 40, 6, 7, 8);
    clock.Set(&record);
    EXPECT_EQ(clock.String(0, 0), "2040-04-05 06:07:08");
    EXPECT_EQ(clock.String(1.5, 1), "2040-04-05 06:07:09.5");
}

TEST_F(ClockTest, AskTheComputerHasMilliseconds) {
    Clock clock;
    int64_t whole = 0;
    double fraction = -1;
    clock.AskTheComputer(whole, fraction);
    EXPECT_GT(whole, 1700000000L);
    EXPECT_GE(fraction, 0.0);
    EXPECT_LT(fraction, 1.0);
    EXPECT_DOUBLE_EQ(fraction * 1000, double(long(fraction * 1000 + 0.5)));
}

namespace {

class TestThread : public Thread {
public:
    enum Behaviour { Normal, ThrowMessage, ThrowInteger, WaitForStop };
    explicit TestThread(Behaviour b) : behaviour(b) {}
    ~TestThread() override { StopAndWait(); }
    void* Run() override {
        ++runs;
        switch (behaviour) {
        case ThrowMessage: throw Error("body failed");
        case ThrowInteger: throw 42;
        case WaitForStop:
            while (!stopRequested) Sleep(0.001);
            return this;
        case Normal: return this;
        }
        return nullptr;
    }
    Behaviour behaviour;
    std::atomic<int> runs{0};
};

void WaitFinished(const Thread& t) {
    for (int i = 0; i < 5000 && !t.finished; ++i) Sleep(0.001);
}

}  // namespace

TEST(Thread, StatesAndRestart) {
    TestThread t(TestThread::WaitForStop);
    EXPECT_FALSE(t.running);
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.running);   // marked before the worker begins
    EXPECT_FALSE(t.Start());  // still running
    t.stopRequested = true;
    WaitFinished(t);
    EXPECT_TRUE(t.finished);
    EXPECT_FALSE(t.failed);
    ASSERT_TRUE(t.Start());   // restart after finishing
    t.StopAndWait();
    EXPECT_EQ(t.runs, 2);
}

TEST(Thread, FailuresAreCaptured) {
    TestThread message(TestThread::ThrowMessage);
    ASSERT_TRUE(message.Start());
    WaitFinished(message);
    EXPECT_TRUE(message.failed);
    EXPECT_EQ(message.ErrorMessage(), "body failed");

    TestThread integer(TestThread::ThrowInteger);
    EXPECT_EQ(integer.RunSynchronously(), nullptr);
    EXPECT_TRUE(integer.failed);
    EXPECT_TRUE(integer.finished);
    EXPECT_EQ(integer.ErrorMessage(), "unknown exception type occurred in thread");
}
