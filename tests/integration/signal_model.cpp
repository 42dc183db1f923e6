// The signal model against the simulated headset: Sources from the device's
// calibration memory, montage and references through the C interface,
// processing stages, and calibration dumps through the C++ class.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Simulator.h"
#include "SimulatorSuite.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

int Quiet(const char*, int) { return 0; }

class SignalModel : public voqtest::SimulatorSuite {
protected:
    static void SetUpTestSuite() { Start(voqsim::Config(), &Quiet); }
};

// Doubles every input channel into the stage's own channel of that index.
void Double(VOQ_Headset, double, void* stage) {
    VOQ_ProcessingStage s = static_cast<VOQ_ProcessingStage>(stage);
    VOQ_ProcessingStage input = VOQ_ProcessingStage_GetInput(s);
    for (unsigned i = 0; i < VOQ_ProcessingStage_GetNumberOfChannels(s); ++i)
        VOQ_ProcessingStage_Write(s, i, 2 * VOQ_ProcessingStage_Read(input, i, 0));
}

std::atomic<int> samples{0};
void CountSample(VOQ_Headset, double, void*) { ++samples; }

}  // namespace

TEST_F(SignalModel, SourcesFollowTheDeviceCalibrationImage) {
    VOQ::Headset& h = Object();
    const voqsim::Image image = sim->CalibrationImage();
    EXPECT_EQ(std::memcmp(h.CalibrationMemory(), image.data(), 128), 0);
    EXPECT_EQ(h.CalibrationLayoutVersion(), int(int8_t(image[127])));

    const std::vector<voqsim::Slot> slots = sim->Slots();
    ASSERT_EQ(slots.size(), 24u);
    ASSERT_EQ(h.Sources().size(), 41u);
    unsigned occupied = 0;
    for (const voqsim::Slot& slot : slots) {
        const VOQ::Source* source = h.Sources()[size_t(slot.index)];
        EXPECT_EQ(source->code, slot.code) << slot.index;
        EXPECT_EQ(source->name, slot.name) << slot.index;
        EXPECT_DOUBLE_EQ(source->gain, slot.gain) << slot.index;
        if (slot.kind != voqsim::SlotKind::Unused) ++occupied;
    }
    EXPECT_EQ(VOQ_Headset_GetSensorCount(handle), occupied);
    EXPECT_EQ(Text(VOQ_Headset_GetFactoryReferenceString(handle)), "Pz");
    // A 10-20 headset keeps the 10-20 names; the 10-10 ones are aliases.
    EXPECT_EQ(Text(VOQ_Headset_GetSourceNames(handle, 0x13)),
              "Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 P4 T6 O1 O2 A1 A2 X1 X2 X3 TRG ACCT ACCX ACCY ACCZ");
    VOQ_Source t5 = VOQ_Headset_GetSourceByName(handle, "p7");
    ASSERT_NE(t5, nullptr) << VOQ_Error();
    EXPECT_EQ(Text(VOQ_Source_GetName(t5)), "T5");
    EXPECT_EQ(VOQ_Headset_GetSourceByName(handle, "SRC13"), t5);
    EXPECT_EQ(VOQ_Source_IsCommonModeSignal(VOQ_Headset_GetSourceByName(handle, "CMF")), 1);
    EXPECT_EQ(VOQ_Source_IsFactoryReference(VOQ_Headset_GetSourceByName(handle, "Pz")), 1);

    // Start-up chose the factory montage with the traditional reference.
    EXPECT_EQ(Text(VOQ_Headset_GetReferenceString(handle)), "A1/2+A2/2");
    EXPECT_EQ(VOQ_Headset_GetNumberOfChannels(handle), 28u);
}

TEST_F(SignalModel, MontageAndStagesThroughTheCInterface) {
    VOQ_Headset_ChooseChannels(handle, "F3 C3 P3 Cz O1", "A1/2+A2/2", 1);
    ASSERT_EQ(LastError(), "");
    EXPECT_EQ(Text(VOQ_Headset_GetMontageString(handle)),
              "F3-A1/2-A2/2 C3-A1/2-A2/2 P3-A1/2-A2/2 Cz-A1/2-A2/2 O1-A1/2-A2/2");
    EXPECT_EQ(Text(VOQ_Headset_GetReferenceString(handle)), "A1/2+A2/2");
    ASSERT_EQ(VOQ_Headset_GetNumberOfChannels(handle), 5u);
    EXPECT_EQ(Text(VOQ_Channel_GetName(VOQ_Headset_GetChannelByIndex(handle, 3))), "Cz");
    EXPECT_EQ(VOQ_Headset_GetChannelByName(handle, "o1"), VOQ_Headset_GetChannelByIndex(handle, 4));
    EXPECT_EQ(VOQ_Channel_IsReferentialEEG(VOQ_Headset_GetChannelByIndex(handle, 0)), 1);
    EXPECT_EQ(VOQ_Headset_GetChannelByIndex(handle, 5), nullptr);
    EXPECT_EQ(LastError(), "Channel index 5 is out of range (5 channels available)");
    VOQ_ClearError();

    // The montage's sources, in order of first use.
    const char* expected[] = {"F3", "A1", "A2", "C3", "P3", "Cz", "O1"};
    ASSERT_EQ(VOQ_Headset_GetNumberOfSources(handle), 7u);
    for (unsigned i = 0; i < 7; ++i)
        EXPECT_EQ(Text(VOQ_Source_GetName(VOQ_Headset_GetSourceByIndex(handle, i))), expected[i]);

    // A bad item: the others are built, the error names it.
    VOQ_Headset_ChooseChannels(handle, "F3 Q9", "", 1);
    EXPECT_EQ(LastError().substr(0, 35), "Failed to match desired source \"Q9\"");
    VOQ_ClearError();
    VOQ_Headset_ChooseChannels(handle, "F3 C3 P3 Cz O1", "", 1);
    ASSERT_EQ(LastError(), "");

    ASSERT_EQ(VOQ_Headset_GetNumberOfProcessingStages(handle), 1u);
    VOQ_ProcessingStage raw = VOQ_Headset_GetProcessingStageByName(handle, "RAW");
    ASSERT_NE(raw, nullptr);
    VOQ_ProcessingStage doubled = VOQ_Headset_AddProcessingStage(handle, "doubled", &Double, nullptr, nullptr);
    ASSERT_NE(doubled, nullptr) << VOQ_Error();
    EXPECT_EQ(VOQ_ProcessingStage_GetInput(doubled), raw);
    EXPECT_EQ(VOQ_ProcessingStage_GetNumberOfChannels(doubled), 5u);
    EXPECT_EQ(VOQ_Headset_GetChannelByIndex(handle, 0), VOQ_ProcessingStage_GetChannelByIndex(doubled, 0));
    EXPECT_EQ(VOQ_Headset_AddProcessingStage(handle, " Doubled", nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(LastError(),
              "cannot add ProcessingStage \" Doubled\" because this name already exists in the cascade");
    VOQ_ClearError();

    // Samples flow through the stage: every output is twice its input.
    VOQ_Headset_Receive(handle, 0.3, 0);
    VOQ_Channel out = VOQ_ProcessingStage_GetChannelByIndex(doubled, 1);
    VOQ_Channel in = VOQ_ProcessingStage_GetChannelByIndex(raw, 1);
    ASSERT_GT(VOQ_Channel_GetNumberOfBufferedSamples(out), 10u) << VOQ_Error();
    EXPECT_EQ(VOQ_Channel_GetNumberOfBufferedSamples(out), VOQ_Channel_GetNumberOfBufferedSamples(in));
    EXPECT_DOUBLE_EQ(VOQ_Channel_LookBack(out, 0), 2 * VOQ_Channel_LookBack(in, 0));
    EXPECT_NE(VOQ_Channel_LookBack(in, 0), 0.0);
    EXPECT_EQ(LastError(), "");
}

TEST_F(SignalModel, CalibrationDumpAndReloadThroughTheHeadsetClass) {
    VOQ::Headset& h = Object();
    const voqsim::Image image = sim->CalibrationImage();
    const std::string base = ::testing::TempDir() + "voq_sigmodel_" + std::to_string(getpid());
    for (const char* format : {"DEC", "HEX", "BIN"}) {
        const std::string path = base + "." + format;
        h.DumpCalibrationMemoryToFile(path, format);
        EXPECT_EQ(voqsim::ReadImageFile(path), image) << format;
        h.ReadCalibrationMemoryFromFile(path, "");
        EXPECT_EQ(std::memcmp(h.CalibrationMemory(), image.data(), 128), 0) << format;
        EXPECT_EQ(h.Sources().size(), 41u);
        EXPECT_EQ(h.NumberOfChannels(), 0u);  // the montage went with the old Sources
        std::remove(path.c_str());
    }
    h.ChooseChannels("FACTORY", "FACTORY", false);
    EXPECT_EQ(h.SetTraditionalReference(true), "A1/2+A2/2");
    EXPECT_EQ(h.NumberOfChannels(), 28u);
}

TEST_F(SignalModel, WritingCalibrationPages) {
    VOQ::Headset& h = Object();
    const voqsim::Image original = sim->CalibrationImage();

    sim->ClearCommands();
    h.WriteCalibrationMemory(7);
    std::vector<voqsim::CommandRecord> commands = sim->Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].family, 47);
    ASSERT_EQ(commands[0].payload.size(), 18u);
    EXPECT_EQ(commands[0].payload[0], 0xA7);
    EXPECT_EQ(commands[0].payload[1], 0x3C);
    EXPECT_EQ(std::memcmp(commands[0].payload.data() + 2, original.data() + 112, 16), 0);

    // A new follower position: written to the device, the Sources rebuilt.
    h.FlashNewCMFLocation(VOQ::SourceID::Cz, 2);
    voqsim::Image changed = sim->CalibrationImage();
    EXPECT_EQ(changed[126], VOQ::SourceID::Cz);
    EXPECT_EQ(changed[127], 2);
    EXPECT_EQ(h.FactoryReferenceString(), "Cz");
    EXPECT_EQ(h.MatchSource("Cz", true)->gain, 0.0);
    // The erased pair, then the original page back.
    h.FlashNewCMFLocation(VOQ::SourceID::NC, -1);
    EXPECT_EQ(sim->CalibrationImage()[126], 0xFF);
    EXPECT_EQ(sim->CalibrationImage()[127], 0xFF);
    EXPECT_EQ(h.CalibrationLayoutVersion(), -1);
    EXPECT_EQ(h.FactoryReferenceString(), "Pz");

    h.InterpretCalibrationMemory(original.data());
    h.WriteCalibrationMemory(0);
    EXPECT_EQ(sim->CalibrationImage(), original);
    h.ChooseChannels("FACTORY", "FACTORY", false);
    h.SetTraditionalReference(true);
}

// Every change of sources, montage, references and cascade is made while the
// background worker reads the same structures at every sample.
TEST_F(SignalModel, ChangesDuringBackgroundAcquisition) {
    VOQ::Headset& h = Object();
    const std::string dump = ::testing::TempDir() + "voq_sigmodel_bg_" + std::to_string(getpid()) + ".bin";
    h.DumpCalibrationMemoryToFile(dump, "BIN");
    VOQ_Headset_ChooseChannels(handle, "F3 C3 P3 Cz O1", "A1/2+A2/2", 1);
    samples = 0;
    VOQ_Headset_SetSampleCallback(handle, &CountSample, nullptr);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1) << LastError();

    const double end = VOQ::PrecisionTime() + 1.0;
    for (int round = 0; VOQ::PrecisionTime() < end; ++round) {
        VOQ_Headset_ChooseChannels(handle, round % 2 ? "Fz Cz-Pz" : "F3 C3 P3 Cz O1", "", 1);
        VOQ_Headset_SetDefaultReference(handle, round % 3 ? "A1" : "FACTORY", 1);
        VOQ_ProcessingStage stage = VOQ_Headset_AddProcessingStage(handle, "doubled", &Double, nullptr, nullptr);
        VOQ_Headset_ReallocateStageBuffers(handle, stage, 0.5);
        VOQ_Headset_AddFilter(handle, nullptr, "bandpass 1 40; notch 50; car", nullptr);
        VOQ_Headset_AddChannelToMontage_FromString(handle, "O2-O1", 0);
        VOQ_Headset_UseNamingScheme(handle, round % 2 ? "10-10" : "10-20");
        VOQ_Headset_AddSourceAliases(handle, "Cz vertex");
        if (round % 5 == 0) h.ReadCalibrationMemoryFromFile(dump, "");
        if (round % 7 == 0) VOQ_Headset_ForgetMontage(handle);
        VOQ_Headset_SetTraditionalReference(handle, 1);
        ASSERT_EQ(LastError(), "") << round;
        VOQ::Sleep(0.005);
    }
    const int during = samples;
    VOQ_Headset_StopBackgroundAcquisition(handle);
    VOQ::Sleep(0.2);
    VOQ_Headset_SetSampleCallback(handle, nullptr, nullptr);
    std::remove(dump.c_str());
    EXPECT_GT(during, 100);  // about 300 samples arrived while the changes went on

    VOQ_Headset_UseNamingScheme(handle, "10-20");
    VOQ_Headset_ChooseChannels(handle, "FACTORY", "FACTORY", 0);
    EXPECT_EQ(Text(VOQ_Headset_SetTraditionalReference(handle, 1)), "A1/2+A2/2");
    EXPECT_EQ(LastError(), "");
}

// A filter stage added while the background worker runs filters every sample
// from the next one on exactly as the offline filter does (the EEG channels;
// the trigger passes unchanged); a montage choice takes it away with the
// other stages, and a new one fits the new montage.
TEST_F(SignalModel, FilterStageAddedDuringBackgroundAcquisition) {
    VOQ_Headset_ChooseChannels(handle, "Fz Cz O1 TRG", "A1/2+A2/2", 1);
    VOQ_Headset_ReallocateBuffers(handle, 5.0, 1.0);
    ASSERT_EQ(VOQ_Headset_StartBackgroundAcquisition(handle), 1) << LastError();
    VOQ::Sleep(0.2);
    const char* text = "bandpass 1 40 order 4; notch 50; car";
    VOQ_ProcessingStage stage = VOQ_Headset_AddFilter(handle, "live", text, nullptr);
    ASSERT_NE(stage, nullptr) << LastError();
    EXPECT_GE(VOQ_Headset_WaitForSamples(handle, 300), 300u) << LastError();
    VOQ_Headset_StopBackgroundAcquisition(handle);
    while (Object().BackgroundAcquisitionAlive()) VOQ::Sleep(0.01);

    VOQ_ProcessingStage raw = VOQ_Headset_GetProcessingStageByIndex(handle, 0);
    ASSERT_EQ(VOQ_ProcessingStage_GetNumberOfChannels(stage), 4u);
    const size_t count = VOQ_Channel_GetNumberOfBufferedSamples(VOQ_ProcessingStage_GetChannelByIndex(stage, 0));
    ASSERT_GE(count, 300u);
    ASSERT_LT(count, VOQ_Channel_GetNumberOfBufferedSamples(VOQ_ProcessingStage_GetChannelByIndex(raw, 0)));
    std::vector<double> expected, got;
    int eeg[4];
    for (unsigned c = 0; c < 4; ++c) {
        VOQ_Channel in = VOQ_ProcessingStage_GetChannelByIndex(raw, c);
        VOQ_Channel out = VOQ_ProcessingStage_GetChannelByIndex(stage, c);
        eeg[c] = VOQ_Channel_IsReferentialEEG(in);
        for (size_t k = count; k-- > 0;) expected.push_back(VOQ_Channel_LookBack(in, k));
        for (size_t k = 0; k < count; ++k) got.push_back(VOQ_Channel_ReadBuffered(out));
    }
    EXPECT_EQ(std::vector<int>(eeg, eeg + 4), std::vector<int>({1, 1, 1, 0}));
    ASSERT_EQ(VOQ_Filter_Apply(text, VOQ_Headset_GetSamplingRate(handle), expected.data(), 4, count, eeg), 1);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(Text(VOQ_Headset_GetPrefiltering(handle)), "HP:1Hz LP:40Hz N:50Hz CAR");

    VOQ_Headset_ChooseChannels(handle, "C3 C4", "A1/2+A2/2", 1);
    EXPECT_EQ(VOQ_Headset_GetNumberOfProcessingStages(handle), 1u);
    EXPECT_EQ(Text(VOQ_Headset_GetPrefiltering(handle)), "");
    stage = VOQ_Headset_AddFilter(handle, nullptr, "highpass 0.5", nullptr);
    ASSERT_NE(stage, nullptr) << LastError();
    EXPECT_EQ(VOQ_ProcessingStage_GetNumberOfChannels(stage), 2u);
    EXPECT_EQ(Text(VOQ_Channel_GetName(VOQ_Headset_GetChannelByIndex(handle, 1))), "C4");
    VOQ_Headset_ReallocateBuffers(handle, 1.0, 1.0);
    VOQ_Headset_ChooseChannels(handle, "FACTORY", "FACTORY", 0);
    EXPECT_EQ(Text(VOQ_Headset_SetTraditionalReference(handle, 1)), "A1/2+A2/2");
    EXPECT_EQ(LastError(), "");
}
