#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "Messages.h"
#include "VOQ.h"
#include "test_calibration_images.h"

using namespace VOQ;
using voqtest::ErrorOf;
using sigtest::Image;
using sigtest::MakeImage;

namespace {

// Standard 10-20 headset: factory reference Pz, slot 14 common mode.
class Montage : public ::testing::Test {
protected:
    void SetUp() override { Load(sigtest::Standard1020()); }
    void Load(const Image& image) { h.InterpretCalibrationMemory(image.data()); }
    Source* Named(const std::string& name) { return h.MatchSource(name, true); }
    std::string Built(const std::string& specification, bool autoSwap = false) {
        std::unique_ptr<Channel> channel(h.ConstructChannel(specification, autoSwap));
        return channel->String(true);
    }
    static std::string BadTerm(const std::string& term) {
        return "could not interpret \"" + term + "\" as a valid channel specification";
    }
    Headset h{"deferred"};
};

const char* const kFactoryMontage =
    "Fp1-Pz Fp2-Pz F7-Pz F3-Pz Fz-Pz F4-Pz F8-Pz T3-Pz C3-Pz Cz-Pz C4-Pz T4-Pz T5-Pz P3-Pz P4-Pz T6-Pz O1-Pz "
    "O2-Pz A1-Pz A2-Pz X1 X2 X3 TRG ACCT ACCX ACCY ACCZ";

}  // namespace

TEST_F(Montage, GrammarWithTheFactoryReference) {
    EXPECT_EQ(Built("F3"), "F3-Pz");
    EXPECT_EQ(Built("F3*2"), "F3*2-Pz*2");
    EXPECT_EQ(Built("-F3"), "-F3+Pz");
    EXPECT_EQ(Built("+Cz*3/2"), "Cz*3/2-Pz*3/2");
    EXPECT_EQ(Built("Cz-Fz"), "Cz-Fz");
    EXPECT_EQ(Built("X1"), "X1");        // not referential EEG: no reference
    EXPECT_EQ(Built("trigger"), "TRG");  // aliases and numbers are names too
    EXPECT_EQ(Built("SRC4-src5"), "F3-Fz");
    EXPECT_EQ(Built("  "), "");

    std::unique_ptr<Channel> three(h.ConstructChannel("F3-A1/2-A2/2", false));
    ASSERT_EQ(three->sources.size(), 3u);
    EXPECT_EQ(three->sources[0], Named("F3"));
    EXPECT_EQ(three->sources[1], Named("A1"));
    EXPECT_EQ(three->sources[2], Named("A2"));
    EXPECT_EQ(three->weights, (std::vector<double>{1, -0.5, -0.5}));
    std::unique_ptr<Channel> blanks(h.ConstructChannel(" F3 - A1/2 - A2/2 ", false));
    EXPECT_EQ(blanks->sources, three->sources);
    EXPECT_EQ(blanks->weights, three->weights);
    EXPECT_EQ(blanks->name, "");
    EXPECT_EQ(blanks->buffer.Capacity(), 1u);  // no sampling rate yet

    std::unique_ptr<Channel> empty(h.ConstructChannel("", false));
    EXPECT_TRUE(empty->sources.empty());
}

TEST_F(Montage, GrammarFailures) {
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("2*F3", false); }), BadTerm("2*F3"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3/2*3", false); }), BadTerm("F3/2*3"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3/0", false); }), BadTerm("F3/0"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3*1e-3", false); }), BadTerm("F3*1e"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("Cz + F3/2/2", false); }), BadTerm("+ F3/2/2"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3*2*2", false); }), BadTerm("F3*2*2"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3*x", false); }), BadTerm("F3*x"));
    // Only finite numbers make weights.
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3*inf", false); }), BadTerm("F3*inf"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3/nan", false); }), BadTerm("F3/nan"));
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3 Q9", false); }).substr(0, 38),
              "Failed to match desired source \"F3 Q9\"");
    EXPECT_EQ(ErrorOf([&] { h.ConstructChannel("F3-Q9", false); }).substr(0, 35),
              "Failed to match desired source \"Q9\"");
}

TEST_F(Montage, ChosenReferenceAndAutoSwap) {
    h.SetDefaultReference("A1/2+A2/2", false);
    EXPECT_EQ(h.ReferenceString(), "A1/2+A2/2");
    EXPECT_EQ(Built("F3"), "F3-A1/2-A2/2");
    EXPECT_EQ(Built("F3*2"), "F3*2-A1-A2");
    EXPECT_EQ(Built("X1"), "X1");

    EXPECT_EQ(Built("A1", false), "A1-A1/2-A2/2");
    EXPECT_EQ(Built("A1", true), "Pz-A1/2-A2/2");
    std::unique_ptr<Channel> swapped(h.ConstructChannel("A1", true));
    EXPECT_EQ(swapped->sources[0], h.MatchSource(SourceID::Pz));
    EXPECT_TRUE(swapped->sources[0]->IsFactoryReference());
    // Only a channel that completed with the reference is swapped.
    EXPECT_EQ(Built("A1-A1/2-A2/2", true), "A1-A1/2-A2/2");
}

TEST_F(Montage, AutoSwapWithoutAFactoryReferenceSourceKeepsTheChannel) {
    h.SetDefaultReference("A1/2+A2/2", false);
    // No Source carries the follower's code any more.
    h.Sources()[25]->code = SourceID::Fz;
    std::unique_ptr<Channel> channel(h.ConstructChannel("A1", true));
    ASSERT_EQ(channel->sources.size(), 3u);
    for (const Source* source : channel->sources) EXPECT_NE(source, nullptr);
    EXPECT_EQ(channel->sources[0], Named("A1"));
    EXPECT_EQ(channel->String(true), "A1-A1/2-A2/2");
}

TEST_F(Montage, ChoosingChannels) {
    h.ChooseChannels("Fz,  Cz,  O1", "", false);
    EXPECT_EQ(h.NumberOfChannels(), 3u);
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz O1-Pz");
    EXPECT_EQ(h.MontageString(false), "Fz Cz O1");
    EXPECT_EQ(h.NumberOfProcessingStages(), 1u);
    EXPECT_EQ(h.GetProcessingStageByIndex(0)->name, "raw");
    EXPECT_TRUE(h.GetProcessingStageByIndex(0)->borrowed);
    EXPECT_EQ(h.GetChannelByIndex(1)->Name(), "Cz");
    EXPECT_EQ(h.GetChannelByName(" o1 ", true), h.GetChannelByIndex(2));
    EXPECT_EQ(h.NumberOfMontageSources(), 4u);  // Fz, Pz, Cz, O1

    // The recorded montage (items joined by single blanks) is rebuilt with a
    // new reference.
    h.SetDefaultReference("A1", false);
    EXPECT_EQ(h.MontageString(true), "Fz-A1 Cz-A1 O1-A1");
    h.SetDefaultReference(" factory ", false);
    EXPECT_EQ(h.ReferenceString(), "Pz");
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz O1-Pz");

    // A bad reference changes nothing.
    EXPECT_EQ(ErrorOf([&] { h.ChooseChannels("F3", "Q9", false); }).substr(0, 35),
              "Failed to match desired source \"Q9\"");
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz O1-Pz");
    EXPECT_EQ(h.ReferenceString(), "Pz");
    EXPECT_EQ(h.NumberOfProcessingStages(), 1u);

    // Bad items: the good ones are built, no "raw" stage, every message.
    const std::string error = ErrorOf([&] { h.ChooseChannels("Fz Q9 Cz F3/0", "", false); });
    EXPECT_EQ(error.substr(0, 35), "Failed to match desired source \"Q9\"");
    EXPECT_NE(error.find("\n" + BadTerm("F3/0")), std::string::npos);
    EXPECT_EQ(h.NumberOfChannels(), 2u);
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz");
    EXPECT_EQ(h.NumberOfProcessingStages(), 0u);
    EXPECT_EQ(h.GetChannelByIndex(1)->Name(), "Cz");  // the montage itself now

    // The failed choice recorded nothing: an empty choice gives the factory montage.
    h.ChooseChannels("", "", false);
    EXPECT_EQ(h.MontageString(true), kFactoryMontage);

    // A reference that names no source any more fails each referential
    // channel with its message, however many share it.
    h.RenameSource("Pz", "Q1");
    const std::string lost = ErrorOf([&] { h.ChooseChannels("Fz TRG Cz", "", false); });
    const std::string line = lost.substr(0, lost.find('\n'));
    EXPECT_EQ(line.substr(0, 35), "Failed to match desired source \"Pz\"");
    EXPECT_EQ(lost, line + "\n" + line);
    EXPECT_EQ(h.MontageString(true), "TRG");
}

TEST_F(Montage, FactoryMontageAndTraditionalReference) {
    h.ChooseChannels("FACTORY", "FACTORY", false);
    EXPECT_EQ(h.NumberOfChannels(), 28u);
    EXPECT_EQ(h.MontageString(true), kFactoryMontage);
    EXPECT_EQ(h.SetTraditionalReference(true), "A1/2+A2/2");
    EXPECT_EQ(h.ReferenceString(), "A1/2+A2/2");
    const std::string montage = h.MontageString(true);
    EXPECT_EQ(montage.substr(0, 28), "Fp1-A1/2-A2/2 Fp2-A1/2-A2/2 ");
    EXPECT_NE(montage.find(" Pz-A1/2-A2/2 A2-A1/2-A2/2 X1 "), std::string::npos) << montage;
    EXPECT_EQ(h.GetChannelByIndex(18)->Name(), "Pz");  // the swapped A1 channel

    // "FACTORY" as the montage keeps the chosen reference.
    h.ChooseChannels("factory", "", true);
    EXPECT_EQ(h.ReferenceString(), "A1/2+A2/2");
    EXPECT_EQ(h.NumberOfChannels(), 28u);
}

TEST_F(Montage, TraditionalReferenceCandidates) {
    using namespace SourceID;
    Load(MakeImage({Fz, Cz, A1, A2, M1}, 2, Pz));
    EXPECT_EQ(h.SetTraditionalReference(false), "A1/2+A2/2");

    Load(MakeImage({0x97, F3, F4, C3, C4, P3, P4}, 1));
    EXPECT_EQ(h.SetTraditionalReference(false), "A1A2");
    EXPECT_EQ(h.MontageString(true), "A1A2-A1A2 F3-A1A2 F4-A1A2 C3-A1A2 C4-A1A2 P3-A1A2 P4-A1A2 TRG ACCT ACCX ACCY ACCZ");

    Load(MakeImage({Fz, Cz, M1M2}, 2, Pz));
    EXPECT_EQ(h.SetTraditionalReference(false), "M1M2");

    Load(MakeImage({Fz, Cz, TP9, TP10}, 2, Pz));
    EXPECT_EQ(h.SetTraditionalReference(false), "M1/2+M2/2");

    Load(MakeImage({Fz, Cz}, 2, Pz));
    h.ChooseChannels("Fz", "", false);
    EXPECT_EQ(h.SetTraditionalReference(false), "");
    EXPECT_EQ(h.ReferenceString(), "Pz");
    EXPECT_EQ(h.MontageString(true), "Fz-Pz");

    Headset none("deferred");
    EXPECT_EQ(none.SetTraditionalReference(true), "");
}

TEST_F(Montage, BeforeSourcesTheChoiceIsOnlyRecorded) {
    Headset fresh("deferred");
    fresh.ChooseChannels("Fz Cz", "Q9", false);
    EXPECT_EQ(fresh.NumberOfChannels(), 0u);
    EXPECT_EQ(fresh.NumberOfProcessingStages(), 0u);
    EXPECT_EQ(fresh.MontageString(true), "");
}

TEST_F(Montage, AddingAndForgettingChannels) {
    h.ChooseChannels("Fz Cz", "", false);
    h.AddChannelToMontage("O1-O2", false);
    h.AddChannelToMontage(Named("X1"));
    h.AddChannelToMontage(static_cast<Channel*>(nullptr));
    h.AddChannelToMontage(static_cast<Source*>(nullptr));
    EXPECT_EQ(h.NumberOfChannels(), 4u);
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz O1-O2 X1");
    EXPECT_EQ(h.NumberOfMontageSources(), 6u);
    // The output channels are still the "raw" stage's two.
    EXPECT_EQ(h.OutputChannels().size(), 2u);
    EXPECT_EQ(ErrorOf([&] { h.GetChannelByIndex(2); }), "Channel index 2 is out of range (2 channels available)");
    EXPECT_EQ(h.GetChannelByName("O1", false), nullptr);

    EXPECT_EQ(ErrorOf([&] { h.AddChannelToMontage("F3/0", false); }), BadTerm("F3/0"));
    EXPECT_EQ(h.NumberOfChannels(), 4u);

    h.SetDefaultReference("A2", false);
    h.ForgetMontage();
    EXPECT_EQ(h.NumberOfChannels(), 0u);
    EXPECT_EQ(h.NumberOfMontageSources(), 0u);
    EXPECT_EQ(h.NumberOfProcessingStages(), 0u);
    EXPECT_EQ(h.ReferenceString(), "A2");
    EXPECT_EQ(h.MontageString(true), "");
    EXPECT_EQ(ErrorOf([&] { h.GetChannelByIndex(0); }), "Channel index 0 is out of range (0 channels available)");
}

TEST_F(Montage, EveryMontageTextReadsBack) {
    const std::string montage = "Cz*0.001-Fz/2 F3*25 C3/7 -O1*1.75 P3*0.3 Fz*123456.789-Cz/24 A1*0.00002-A2*3";
    h.ChooseChannels(montage, "", false);
    const std::string text = h.MontageString(true);
    EXPECT_EQ(text, "Cz*0.001-Fz/2 F3*25-Pz*25 C3/7-Pz/7 -O1*7/4+Pz*7/4 P3*3/10-Pz*3/10 Fz*123456.789-Cz/24 "
                    "A1*0.00002-A2*3");
    std::vector<std::vector<double>> weights;
    for (const Channel* c : h.OutputChannels()) weights.push_back(c->weights);

    h.ChooseChannels(text, "", false);
    EXPECT_EQ(h.MontageString(true), text);
    ASSERT_EQ(h.OutputChannels().size(), weights.size());
    for (size_t i = 0; i < weights.size(); ++i) EXPECT_EQ(h.OutputChannels()[i]->weights, weights[i]) << i;
}
