// Faults of the headset itself while the background worker streams and the
// caller reads: silent periods (read in paced batches), samples the headset
// leaves out, refused, malformed and unanswered replies to commands sent
// meanwhile, and a flood of alarms.  The samples of every intact block must
// still come out exactly once and in order, and what was lost is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Messages.h"
#include "TappedHeadset.h"

using namespace reliability;

namespace {

std::function<void(double)> At(std::vector<double> times, std::function<void()> inject) {
    auto next = std::make_shared<size_t>(0);
    return [times, inject, next](double elapsed) {
        while (*next < times.size() && elapsed >= times[*next]) {
            inject();
            ++*next;
        }
    };
}

// Runs each step once, in order, when its time has come.
std::function<void(double)> Steps(std::vector<std::pair<double, std::function<void()>>> steps) {
    auto next = std::make_shared<size_t>(0);
    return [steps, next](double elapsed) {
        while (*next < steps.size() && elapsed >= steps[*next].first) steps[(*next)++].second();
    };
}

std::string TakeError() {
    const char* error = VOQ_ClearError();
    return error ? error : "";
}

}  // namespace

class ReplyFaults : public TappedHeadset {};

TEST_F(ReplyFaults, SilentPeriodsReadInBatches) {
    voqtest::ExpectMessages expected({"OUT OF SEQUENCE"});
    StreamOptions options;
    options.seconds = 4.0;
    options.batches = true;
    options.faults = Steps({{0.6, [] { sim->SetSilent(true); }},
                            {1.6, [] { sim->SetSilent(false); }},
                            {2.3, [] { sim->SetSilent(true); }},
                            {2.9, [] { sim->SetSilent(false); }}});
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);

    // What the silence swallowed is missing, nothing else.
    EXPECT_GT(stats.samplesDiscarded, 200u);
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);
    EXPECT_EQ(uint64_t(stats.lastSampleNumber - stats.firstSampleNumber + 1),
              stats.dataPacketsSent + stats.samplesDiscarded);
    EXPECT_EQ(record.brokenStretches, 0u);
    // The gaps are reported by the data packets' sequence numbers, and the
    // batch pace noticed the missing samples.
    ExpectSequenceBreaksReported(record);
    EXPECT_GE(MessageLog::Count("Real-time violation - refilling buffer and resetting controller", 2), 1);
}

TEST_F(ReplyFaults, SamplesLeftOutByTheHeadset) {
    voqtest::ExpectMessages expected({"OUT OF SEQUENCE"});
    StreamOptions options;
    options.seconds = 2.5;
    options.faults = At({0.4, 0.9, 1.4, 1.9}, [] { sim->SkipDataPackets(3); });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_EQ(stats.samplesSkipped, 12u);
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);
    ExpectSequenceBreaksReported(record);
    size_t breaks = 0;
    for (size_t i = 1; i < record.samples.size(); ++i) breaks += record.samples[i] != record.samples[i - 1] + 6;
    EXPECT_EQ(breaks, 4u);
}

TEST_F(ReplyFaults, RefusedMalformedAndUnansweredReplies) {
    voqtest::ExpectMessages expected(
        {"Command failed - resending", "No reply received - resending", "malformed payload in response to"});
    std::vector<std::string> errors(5);
    std::thread healer;
    StreamOptions options;
    options.seconds = 5.0;
    options.during = Steps({
        {0.3,
         [&] {
             // A rate the headset refuses (bad parameter): an error, at once.
             sim->SetRefusal(172, 0xF0);
             VOQ_Headset_SetAccelerometerRate(handle, 25);
             errors[0] = TakeError();
             sim->SetRefusal(172, 0);
         }},
        {0.6,
         [&] {
             // Wrong mode, every time: resent until the attempts run out.
             sim->SetRefusal(30, 0x80);
             VOQ_Headset_ChangeLEDs(handle, 2);
             errors[1] = TakeError();
             sim->SetRefusal(30, 0);
         }},
        {1.0,
         [&] {
             // A reserved refusal code, every time.
             sim->SetRefusal(65, 0xE2);
             VOQ_Headset_LockAnalogReset(handle);
             errors[2] = TakeError();
             sim->SetRefusal(65, 0);
         }},
        {1.4,
         [&] {
             // Answers too short to use until the headset mends its ways:
             // dropped, and the command resent until one is complete.
             sim->SetMalformedAnswer(218, true);
             healer = std::thread([] {
                 VOQ::Sleep(0.8);
                 sim->SetMalformedAnswer(218, false);
             });
             VOQ_Headset_StartImpedanceDriver(handle);
             errors[3] = TakeError();
         }},
        {2.8,
         [&] {
             // Two attempts go unanswered; the third is answered.
             sim->FailFirstAttempts(65, 2);
             VOQ_Headset_ReleaseAnalogReset(handle);
             errors[4] = TakeError();
         }},
    });
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    if (healer.joinable()) healer.join();
    ExpectExactDelivery(record, result);
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);

    EXPECT_EQ(errors[0], "failed to change accelerometer rate to 25");
    EXPECT_EQ(errors[1], "Command failed too many times.");
    EXPECT_EQ(errors[2], "Command failed too many times.");
    EXPECT_EQ(errors[3], "");
    EXPECT_EQ(errors[4], "");
    EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 1);
    EXPECT_EQ(VOQ_Headset_GetAnalogResetMode(handle), 0);
    EXPECT_GE(MessageLog::Count("rejected: parameter[0] is bad", 3), 1);
    EXPECT_GE(MessageLog::Count("rejected: headset is in wrong mode", 3), 2);
    EXPECT_GE(MessageLog::Count("rejected: headset responded with reserved code 0xE2", 3), 2);
    EXPECT_GE(MessageLog::Count("malformed payload in response to ImpedanceDriverMode command", 2), 1)
        << MessageLog::All();
    EXPECT_GE(MessageLog::Count("No reply received - resending", 2), 2);

    VOQ_Headset_StopImpedanceDriver(handle);
    EXPECT_EQ(TakeError(), "");
}

TEST_F(ReplyFaults, AlarmFlood) {
    voqtest::ExpectMessages expected({"VOQ headset issued alarm: "});
    size_t sent = 0;
    sim->SetBatteryLevels(80, 75);   // the monitor's own alarms agree with the flood's
    StreamOptions options;
    options.seconds = 3.0;
    options.faults = [&](double elapsed) {
        // 1500 alarms spread evenly over 1.5 seconds, however the thread is
        // scheduled.
        const size_t due = elapsed < 0.3 ? 0 : std::min<size_t>(1500, size_t((elapsed - 0.3) / 1.5 * 1500));
        for (; sent < due; ++sent) {
            switch (sent % 5) {
                case 0: sim->SendAlarm(2, 0x0F, {80, 75, 3000, 2900}, true); break;  // battery level
                case 1: sim->SendAlarm(6, 0x0B, {0x10, 0x02, 12}, false); break;
                case 2: sim->SendAlarm(2, 0x01, {}, false); break;                    // system started
                case 3: sim->SendAlarm(2, 0x31, {}, false); break;                    // check failed
                default: sim->SendAlarm(6, 0x7E, {unsigned(sent & 0xFFFF)}, true); break;
            }
        }
    };
    StreamResult result;
    voqsim::StreamStats stats;
    const TapRecord record = Stream(options, result, stats);
    ExpectExactDelivery(record, result);
    EXPECT_EQ(record.samples.size(), stats.dataPacketsSent);
    EXPECT_EQ(stats.samplesDiscarded, 0u);

    EXPECT_EQ(sent, 1500u);
    EXPECT_GE(record.alarms, sent);
    // The list keeps the 1000 most recent.
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(handle), 1000);
    EXPECT_EQ(VOQ_Headset_GetBatteryLevel(handle, 1), 80.0);
    int last = 0;
    for (int code; (code = VOQ_Headset_GetAlarm(handle, 1)) != 0;) last = code;
    EXPECT_NE(last, 0);
    EXPECT_EQ(VOQ_Headset_GetNumberOfAlarms(handle), 0);
}
