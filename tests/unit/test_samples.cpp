// Data and accelerometer packets and the per-sample update, through the
// fake-data hook.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "acquisition_support.h"

using acqtest::FakeHeadset;
using acqtest::MessageLog;
using voqtest::Bytes;

namespace {

using Readings = std::array<int16_t, 24>;

double Signal(VOQ::Headset& h, const std::string& name) { return h.MatchSource(name, true)->signal; }

// Records chosen source signals once per sample, from the sample callback.
struct Recorder {
    std::vector<std::string> names;
    std::vector<std::vector<double>> values;   // per sample, per name
    int calls = 0;
};

void Record(VOQ_Headset handle, double, void* userData) {
    auto* recorder = static_cast<Recorder*>(userData);
    auto* h = reinterpret_cast<VOQ::Headset*>(handle);
    std::vector<double> row;
    for (const std::string& name : recorder->names) row.push_back(h->MatchSource(name, true)->signal);
    recorder->values.push_back(row);
    ++recorder->calls;
}

}  // namespace

TEST(Samples, SourceValuesFollowGainsAndChannelsSumThem) {
    sigtest::Image image = sigtest::Standard1020();
    sigtest::SetGainCorrection(image, 0, 16384);   // Fp1: gain 0.301 * 1.5
    FakeHeadset fh(300, 1, image);
    fh->ChooseChannels("Fp1 Cz-Fz X1", "FACTORY", false);
    ASSERT_EQ(fh->NumberOfChannels(), 3u);

    Readings r{};
    r[0] = 1000;   // Fp1
    r[4] = -100;   // Fz
    r[9] = 200;    // Cz
    r[14] = 10;    // the common-mode slot
    r[21] = 50;    // X1
    fh.ProcessSamples(1, 0, r);

    EXPECT_DOUBLE_EQ(fh->MatchSource("Fp1", true)->rawSignal, 1000.0);
    EXPECT_NEAR(Signal(*fh, "Fp1"), 451.5, 1e-9);
    EXPECT_NEAR(Signal(*fh, "Cz"), 60.2, 1e-9);
    EXPECT_NEAR(Signal(*fh, "Fz"), -30.1, 1e-9);
    EXPECT_NEAR(Signal(*fh, "X1"), 15.05, 1e-9);
    EXPECT_NEAR(Signal(*fh, "CM"), 740.0, 1e-9);
    EXPECT_EQ(Signal(*fh, "Pz"), 0.0);   // the factory reference is never set

    EXPECT_EQ(fh->Buffered(), 1u);
    EXPECT_NEAR(fh->GetChannelByIndex(0)->buffer.Read(), 451.5, 1e-9);
    EXPECT_NEAR(fh->GetChannelByIndex(1)->buffer.Read(), 90.3, 1e-9);
    EXPECT_NEAR(fh->GetChannelByIndex(2)->buffer.Read(), 15.05, 1e-9);
    EXPECT_EQ(fh->Buffered(), 0u);
}

TEST(Samples, TimingSourcesCarryPacketTimeAndClockAge) {
    FakeHeadset fh;
    fh.ticks = 2700;   // 1.5 s
    fh.ProcessSamples(1);
    EXPECT_DOUBLE_EQ(Signal(*fh, "SND"), 1.5);
    EXPECT_DOUBLE_EQ(Signal(*fh, "RCV"), -1.0);   // onboard clock never set

    // A clock reply whose "set" record is the computer's time now.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Bytes record{uint8_t(local.tm_mon + 1), uint8_t(local.tm_mday), uint8_t(local.tm_year - 100),
                 uint8_t(local.tm_hour),    uint8_t(local.tm_min),  uint8_t(local.tm_sec)};
    fh.Respond(48, voqtest::Concat({record, Bytes{0}, record}));
    fh.ProcessSamples(1);
    EXPECT_GE(Signal(*fh, "RCV"), 0.0);
    EXPECT_LT(Signal(*fh, "RCV"), 3.0);
}

TEST(Samples, TriggerIsDelayedSixteenSamplesWithTheFilterOn) {
    FakeHeadset fh(300, 1);
    Recorder recorder;
    recorder.names = {"TRG", "TRG0"};
    fh->SetSampleCallback(&Record, &recorder);
    fh.ReadBlocks(fh.FeedSamples(5) + fh.FeedSamples(1, 0x01) + fh.FeedSamples(34));
    ASSERT_EQ(recorder.calls, 40);
    for (int k = 0; k < 40; ++k) {
        double expected = k == 21 ? 1.0 : 0.0;
        EXPECT_EQ(recorder.values[size_t(k)][0], expected) << "TRG at sample " << k;
        EXPECT_EQ(recorder.values[size_t(k)][1], expected) << "TRG0 at sample " << k;
    }
}

TEST(Samples, TriggerIsNotDelayedWithTheFilterOff) {
    FakeHeadset fh(300, 0);
    Recorder recorder;
    recorder.names = {"TRG"};
    fh->SetSampleCallback(&Record, &recorder);
    fh.ReadBlocks(fh.FeedSamples(5) + fh.FeedSamples(1, 0x07) + fh.FeedSamples(4));
    ASSERT_EQ(recorder.calls, 10);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(recorder.values[size_t(k)][0], k == 5 ? 7.0 : 0.0) << k;
}

TEST(Samples, TriggerBitsFollowTheTriggerValue) {
    FakeHeadset fh(300, 0);
    fh.ProcessSamples(1, 0xA5);   // 1010 0101
    EXPECT_EQ(Signal(*fh, "TRG"), 165.0);
    const double bits[8] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(Signal(*fh, "TRG" + std::to_string(k)), bits[k]) << k;
}

TEST(Samples, SevenSensorHeadsetUsesTheUpperNibbleOfTheTrigger) {
    using namespace VOQ::SourceID;
    FakeHeadset seven(300, 0, sigtest::MakeImage({F3, F4, C3, C4, P3, P4, Cz}, 1));
    ASSERT_EQ(seven->SensorCount(), 7u);
    seven.ProcessSamples(1, 0xA5);
    EXPECT_EQ(Signal(*seven, "TRG"), 10.0);
    EXPECT_EQ(Signal(*seven, "TRG1"), 1.0);
    EXPECT_EQ(Signal(*seven, "TRG0"), 0.0);
}

TEST(Samples, SequenceNumbersWrapAndGapsAreReported) {
    FakeHeadset fh;
    fh.sequence = 254;
    fh.ProcessSamples(3);   // 254, 255, 0
    EXPECT_EQ(MessageLog::Count("OUT OF SEQUENCE"), 0);
    EXPECT_EQ(MessageLog::Count("data packet 254 arrived timestamped   1.000000", 5), 1);
    EXPECT_EQ(MessageLog::Count("data packet   0 arrived timestamped   1.006667", 5), 1);

    fh.sequence = 8;
    fh.ProcessSamples(1);   // expected 1
    EXPECT_EQ(MessageLog::Count("OUT OF SEQUENCE (expected 1)", 2), 1);
    fh.sequence = 10;
    fh.ProcessSamples(1);   // expected 9
    std::vector<acqtest::Captured> found = MessageLog::Find("OUT OF SEQUENCE (expected 9)");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "data packet  10 arrived timestamped   1.013333 - OUT OF SEQUENCE (expected 9)");
    EXPECT_EQ(found[0].level, 2);
    fh.ProcessSamples(1);   // 11
    EXPECT_EQ(MessageLog::Count("OUT OF SEQUENCE"), 2);
    // Out-of-sequence packets are still used.
    EXPECT_EQ(fh->Buffered(), 0u);   // no montage chosen: no output channels

    // A stop reported by the headset forgets the position: a restarted stream
    // may begin anywhere without being out of sequence.
    fh.Respond(33, voqtest::Concat({voqtest::Bytes{0, 1}, voqtest::U16(300)}));
    fh.sequence = 0;
    fh.ProcessSamples(1);
    EXPECT_EQ(MessageLog::Count("OUT OF SEQUENCE"), 2);
}

TEST(Samples, MalformedDataPacketIsDroppedAndOversizedOneIsUsed) {
    FakeHeadset fh;
    Recorder recorder;
    recorder.names = {"Fp1"};
    fh->SetSampleCallback(&Record, &recorder);
    Readings r{};
    r[0] = 100;

    Bytes shortPacket = fh.NextDataPacket(0, r);
    shortPacket.pop_back();
    shortPacket[0] = 55;
    fh.ProcessPackets({shortPacket});
    EXPECT_EQ(MessageLog::Count("malformed data packet", 2), 1);
    EXPECT_EQ(recorder.calls, 0);
    EXPECT_EQ(Signal(*fh, "Fp1"), 0.0);

    Bytes longPacket = fh.NextDataPacket(0, r);
    longPacket.push_back(0xEE);
    longPacket.push_back(0xEE);
    longPacket[0] = 58;
    fh.ProcessPackets({longPacket});
    EXPECT_EQ(MessageLog::Count("extraneous bytes in data packet", 3), 1);
    ASSERT_EQ(recorder.calls, 1);
    EXPECT_NEAR(recorder.values[0][0], 30.1, 1e-9);
}

TEST(Samples, AccelerometerSamplesAreInterleavedOnePerDataSample) {
    FakeHeadset fh;
    fh.Respond(172, voqtest::U16(10));
    ASSERT_EQ(fh->AccelerometerRate(), 10.0);
    Recorder recorder;
    recorder.names = {"ACCT", "ACCX", "ACCY", "ACCZ"};
    fh->SetSampleCallback(&Record, &recorder);

    std::vector<Bytes> packets;
    packets.push_back(voqtest::AccelerometerPacket({{{{10, 20, 30}}, {{11, 21, 31}}, {{12, 22, 32}}}}, 180, 360, 1800));
    for (int k = 0; k < 70; ++k) packets.push_back(fh.NextDataPacket());
    fh.ProcessPackets(packets);
    ASSERT_EQ(recorder.calls, 70);

    // Sample 0 takes over the initial (zero) sample and queues the first.
    EXPECT_EQ(recorder.values[0], (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(recorder.values[1], (std::vector<double>{1.0, 10, 20, 30}));
    EXPECT_EQ(recorder.values[29], (std::vector<double>{1.0, 10, 20, 30}));
    EXPECT_NEAR(recorder.values[32][0], 1.1, 1e-9);
    EXPECT_EQ(recorder.values[32][1], 11.0);
    EXPECT_EQ(recorder.values[59][1], 11.0);
    EXPECT_NEAR(recorder.values[62][0], 1.2, 1e-9);
    EXPECT_EQ(recorder.values[62][3], 32.0);
    EXPECT_EQ(recorder.values[69][2], 22.0);

    EXPECT_EQ(MessageLog::Count("accelerometer data: t=001.000, x= +10, y= +20, z= +30", 3), 1);
    EXPECT_EQ(MessageLog::Count("accelerometer data: t=001.100, x= +11, y= +21, z= +31", 3), 1);
}

TEST(Samples, AccelerometerMessageFormat) {
    FakeHeadset fh;
    fh->HandleAccelerometerSample(12.345, 12, -5, 1000);
    std::vector<acqtest::Captured> found = MessageLog::Find("accelerometer data");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "accelerometer data: t=012.345, x= +12, y=  -5, z=+1000");
}

TEST(Samples, AccelerometerRateZeroTakesNothingOver) {
    FakeHeadset fh;
    fh.Respond(172, voqtest::U16(0));
    std::vector<Bytes> packets;
    packets.push_back(voqtest::AccelerometerPacket({{{{10, 20, 30}}, {{11, 21, 31}}, {{12, 22, 32}}}}, 1, 2, 1800));
    for (int k = 0; k < 10; ++k) packets.push_back(fh.NextDataPacket());
    fh.ProcessPackets(packets);
    for (const char* name : {"ACCT", "ACCX", "ACCY", "ACCZ"}) EXPECT_EQ(Signal(*fh, name), 0.0) << name;
}

TEST(Samples, OtherExtendedSubtypesAndMalformedAccelerometerPackets) {
    FakeHeadset fh;
    fh.Respond(172, voqtest::U16(10));
    Bytes unknown = voqtest::RawPacket(4, Bytes(24, 0));
    unknown[6] = 21;
    Bytes shortAcc = voqtest::AccelerometerPacket({{{{5, 5, 5}}, {{5, 5, 5}}, {{5, 5, 5}}}}, 1, 2, 1800);
    shortAcc.pop_back();
    shortAcc[0] = 29;
    Bytes tooShortForSubtype = voqtest::RawPacket(4, Bytes{});
    fh.ProcessPackets({unknown, shortAcc, tooShortForSubtype, fh.NextDataPacket(), fh.NextDataPacket()});
    EXPECT_EQ(MessageLog::Count("Ignoring class-4 extended data packet of subtype 0x15 (UnknownExtendedDataSubtype).", 3), 1);
    EXPECT_EQ(MessageLog::Count("malformed accelerometer data packet", 2), 1);
    EXPECT_EQ(MessageLog::Count("malformed extended data packet", 2), 1);
    // Nothing was queued: the second data sample still shows zeros.
    EXPECT_EQ(Signal(*fh, "ACCX"), 0.0);
    // The data packets after the short packets were processed.
    EXPECT_EQ(MessageLog::Count("arrived timestamped", 5), 2);

    Bytes longAcc = voqtest::AccelerometerPacket({{{{7, 8, 9}}, {{7, 8, 9}}, {{7, 8, 9}}}}, 1, 2, 1800);
    longAcc.push_back(0);
    longAcc[0] = 31;
    fh.ProcessPackets({longAcc, fh.NextDataPacket(), fh.NextDataPacket()});
    EXPECT_EQ(MessageLog::Count("extraneous bytes in accelerometer data packet", 3), 1);
    EXPECT_EQ(Signal(*fh, "ACCX"), 7.0);
}

namespace {

// Packets whose Fp1 reading carries the two impedance-driver tones for an
// electrode impedance z and a common-mode impedance zc (kOhm).
std::vector<Bytes> ToneSamples(FakeHeadset& fh, int count, double z, double zc) {
    const double gain = 0.301;
    const double a110 = 2 * z / 0.01950289701;
    const double a130 = 2 * zc / 0.0239163282228;
    std::vector<Bytes> packets;
    for (int k = 0; k < count; ++k) {
        double t = fh.ticks / 1800.0;
        double microvolts = a110 * std::cos(2 * M_PI * 110 * t + 0.3) + a130 * std::cos(2 * M_PI * 130 * t - 1.1);
        Readings r{};
        r[0] = int16_t(std::lround(microvolts / gain));
        packets.push_back(fh.NextDataPacket(0, r));
    }
    return packets;
}

}  // namespace

TEST(Samples, ImpedancesComeFromTheDriverTonesOfMontageElectrodes) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    fh.Respond(218, voqtest::U16(1));
    ASSERT_EQ(fh->ImpedanceDriverMode(), 1);
    fh.ProcessPackets(ToneSamples(fh, 300, 10.0, 2.0));   // one full window
    VOQ::Source* fp1 = fh->MatchSource("Fp1", true);
    EXPECT_NEAR(fp1->impedanceEEG, 10.0, 0.1);
    EXPECT_NEAR(fp1->impedanceCMF, 2.0, 0.02);
    EXPECT_NEAR(fh->MatchSource("Cz", true)->impedanceEEG, 0.0, 1e-9);   // measured, no tone
    EXPECT_EQ(fh->MatchSource("O1", true)->impedanceEEG, -1.0);          // not in the montage

    fh.Respond(218, voqtest::U16(0));
    fh.ProcessPackets(ToneSamples(fh, 1, 10.0, 2.0));
    EXPECT_EQ(fp1->impedanceEEG, -1.0);
    EXPECT_EQ(fp1->impedanceCMF, -1.0);
}

namespace {

struct CallOrder {
    std::vector<std::string> calls;
    double rawSeenByStage = 0.0;
};

void StageCallback(VOQ_Headset, double, void* stagePointer) {
    auto* stage = static_cast<VOQ::ProcessingStage*>(stagePointer);
    auto* order = static_cast<CallOrder*>(stage->paramData);
    order->calls.push_back("stage");
    order->rawSeenByStage = stage->input->channels[0]->buffer.LookBack(0);
}

void SampleCallback(VOQ_Headset, double, void* userData) {
    static_cast<CallOrder*>(userData)->calls.push_back("sample");
}

}  // namespace

TEST(Samples, StagesRunBeforeTheSampleCallbackWhichCanBeRemoved) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    CallOrder order;
    fh->AddProcessingStage("after", &StageCallback, &order, nullptr);
    fh->SetSampleCallback(&SampleCallback, &order);
    Readings r{};
    r[0] = 1000;
    fh.ProcessSamples(2, 0, r);
    EXPECT_EQ(order.calls, (std::vector<std::string>{"stage", "sample", "stage", "sample"}));
    EXPECT_NEAR(order.rawSeenByStage, 301.0, 1e-9);   // montage written first

    fh->SetSampleCallback(nullptr, nullptr);
    fh.ProcessSamples(1, 0, r);
    EXPECT_EQ(order.calls.size(), 5u);
    EXPECT_EQ(order.calls.back(), "stage");
}

namespace {

struct WaitAttempt {
    VOQ::Headset* headset = nullptr;
    std::vector<std::string> errors;
};

void WaitingCallback(VOQ_Headset, double, void* userData) {
    auto* attempt = static_cast<WaitAttempt*>(userData);
    try {
        attempt->headset->WaitForSamples(1);
    } catch (const VOQ::Error& e) {
        attempt->errors.push_back(e.what());
    }
    try {
        attempt->headset->Idle(0);
    } catch (const VOQ::Error& e) {
        attempt->errors.push_back(e.what());
    }
    try {
        attempt->headset->StartImpedanceDriver();
    } catch (const VOQ::Error& e) {
        attempt->errors.push_back(e.what());
    }
}

}  // namespace

TEST(Samples, CallbacksCannotWaitReadOrSendCommands) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    WaitAttempt attempt;
    attempt.headset = fh.headset;
    fh->SetSampleCallback(&WaitingCallback, &attempt);
    fh.ProcessSamples(1);
    ASSERT_EQ(attempt.errors.size(), 3u);
    EXPECT_EQ(attempt.errors[0], "cannot wait for samples or read blocks inside a sample or stage callback");
    EXPECT_EQ(attempt.errors[1], "cannot wait for samples or read blocks inside a sample or stage callback");
    EXPECT_EQ(attempt.errors[2], "cannot send commands inside a sample or stage callback");
}

namespace {

void ReconnectingCallback(VOQ_Headset, double, void* userData) {
    auto* attempt = static_cast<WaitAttempt*>(userData);
    try {
        attempt->headset->Disconnect();
    } catch (const VOQ::Error& e) {
        attempt->errors.push_back(e.what());
    }
    try {
        attempt->headset->Connect("/dev/null", false);
    } catch (const VOQ::Error& e) {
        attempt->errors.push_back(e.what());
    }
}

}  // namespace

// A callback runs in the middle of reading a block: the port must not change
// under it.
TEST(Samples, CallbacksCannotDisconnectOrConnect) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1", "FACTORY", false);
    WaitAttempt attempt;
    attempt.headset = fh.headset;
    fh->SetSampleCallback(&ReconnectingCallback, &attempt);
    fh.ProcessSamples(1);
    ASSERT_EQ(attempt.errors.size(), 2u);
    EXPECT_EQ(attempt.errors[0], "cannot disconnect inside a sample or stage callback");
    EXPECT_EQ(attempt.errors[1], "cannot connect inside a sample or stage callback");
    EXPECT_TRUE(fh->IsConnected());
}

namespace {

// Tries, from a stage callback and through the C interface, every change of
// the montage, references, cascade and buffer lengths, and deleting the
// headset; collects the errors.
struct ChangeAttempt {
    std::vector<std::string> errors;
    int runs = 0;
};

void ChangingStage(VOQ_Headset h, double, void* handle) {
    VOQ_ProcessingStage stage = static_cast<VOQ_ProcessingStage>(handle);
    auto* attempt = static_cast<ChangeAttempt*>(VOQ_ProcessingStage_ParamData(stage));
    if (attempt->runs++ > 0) return;
    const std::function<void()> changes[] = {
        [&] { VOQ_Headset_ChooseChannels(h, "Cz", "", 0); },
        [&] { VOQ_Headset_SetDefaultReference(h, "A1", 0); },
        [&] { VOQ_Headset_SetTraditionalReference(h, 0); },
        [&] { VOQ_Headset_AddChannelToMontage_FromString(h, "Pz", 0); },
        [&] { VOQ_Headset_ForgetMontage(h); },
        [&] { VOQ_Headset_AddProcessingStage(h, "late", nullptr, nullptr, nullptr); },
        [&] { VOQ_Headset_ReallocateStageBuffers(h, stage, 2.0); },
        [&] { VOQ_ProcessingStage_ClearChannels(stage); },
        [&] { VOQ_ProcessingStage_AddChannel(stage, "extra", 10); },
        [&] { VOQ_Headset_ReallocateBuffers(h, 2.0, 1.0); },
        [&] { VOQ_Headset_Delete(h); },
    };
    for (const std::function<void()>& change : changes) {
        change();
        const char* error = VOQ_ClearError();
        attempt->errors.push_back(error ? error : "");
    }
}

}  // namespace

// The per-sample path is walking the montage and the cascade while callbacks
// run: changing them there is refused (and deleting the headset, which waits
// for the reading thread, too), and everything stays as it was.
TEST(Samples, CallbacksCannotChangeTheMontageOrTheCascade) {
    FakeHeadset fh;
    fh->ChooseChannels("Fp1 Cz", "FACTORY", false);
    ChangeAttempt attempt;
    fh->AddProcessingStage("changer", &ChangingStage, &attempt, nullptr);
    const std::string montage = fh->MontageString(true);
    VOQ_ClearError();
    fh.ProcessSamples(2);
    const std::string montageRefusal = "cannot change the montage or reference inside a sample or stage callback";
    const std::string stageRefusal = "cannot change the processing stages inside a sample or stage callback";
    EXPECT_EQ(attempt.errors,
              (std::vector<std::string>{montageRefusal, montageRefusal, montageRefusal, montageRefusal, montageRefusal,
                                        stageRefusal, stageRefusal, stageRefusal, stageRefusal,
                                        "cannot change buffer lengths inside a sample or stage callback",
                                        "cannot delete the headset inside a sample or stage callback"}));
    EXPECT_EQ(attempt.runs, 2);
    EXPECT_EQ(fh->MontageString(true), montage);
    EXPECT_EQ(fh->NumberOfProcessingStages(), 2u);
    EXPECT_EQ(fh->OutputChannels().size(), 2u);
    // Outside callbacks the same edits go through.
    VOQ_ProcessingStage_ClearChannels(reinterpret_cast<VOQ_ProcessingStage>(fh->GetProcessingStageByIndex(1)));
    EXPECT_EQ(VOQ_ClearError(), nullptr);
    EXPECT_EQ(fh->OutputChannels().size(), 0u);
}
