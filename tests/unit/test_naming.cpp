#include <gtest/gtest.h>

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

const char* const k1020Names0x13 =
    "Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 P4 T6 O1 O2 A1 A2 X1 X2 X3 TRG ACCT ACCX ACCY ACCZ";

class Naming : public ::testing::Test {
protected:
    void Load(const Image& image) { h.InterpretCalibrationMemory(image.data()); }
    Source* At(size_t i) { return h.Sources()[i]; }
    Headset h{"deferred"};
};

}  // namespace

TEST_F(Naming, MatchingByNameAndNumber) {
    Load(sigtest::Standard1020());
    for (const char* name : {"fp1", " FP1 ", "Fp1", "SRC01", "src1", "CH1", "ch 1", "1", " 1\t"})
        EXPECT_EQ(h.MatchSource(name, true), At(0)) << name;
    EXPECT_EQ(h.MatchSource("CH03", true), At(2));
    EXPECT_EQ(h.MatchSource("Src12", true), At(11));
    EXPECT_EQ(h.MatchSource("41", true), At(40));
    EXPECT_EQ(h.MatchSource(SourceID::TRG), At(24));
    EXPECT_EQ(h.MatchSource(SourceID::Pz), At(25));  // by code only: slot 14 is the common-mode slot
    EXPECT_EQ(h.MatchSource(SourceID::M1), nullptr);

    for (const char* bad : {"0", "42", "SRC0", "ch42"})
        EXPECT_EQ(ErrorOf([&] { h.MatchSource(bad, false); }),
                  std::string("Invalid source number ") + (bad[0] == '4' || bad[0] == 'c' ? "42" : "0") +
                      " (use names, or numbers from 1 to 41).")
            << bad;

    // Numbers too long for any source are refused, never wrapped round.
    EXPECT_EQ(ErrorOf([&] { h.MatchSource("SRC4294967297", true); }),
              "Invalid source number 4294967297 (use names, or numbers from 1 to 41).");
    EXPECT_EQ(h.MatchSource("0000000000003", true), At(2));

    // Not numbers: matched as names.
    EXPECT_EQ(h.MatchSource("-1", false), nullptr);
    EXPECT_EQ(h.MatchSource("CHAN", false), nullptr);
    EXPECT_EQ(h.MatchSource("CH-1", false), nullptr);
    EXPECT_EQ(ErrorOf([&] { h.MatchSource(" -1 ", true); }),
              std::string("Failed to match desired source \"-1\" - known names are: \"") +
                  "Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 P4 T6 O1 O2 A1 A2 X1 X2 X3 TRG Pz SND RCV "
                  "TRG0 TRG1 TRG2 TRG3 TRG4 TRG5 TRG6 TRG7 ACCT ACCX ACCY ACCZ\"");
}

TEST_F(Naming, UnoccupiedSlotsAreReachedByNumberOnly) {
    using namespace SourceID;
    Load(MakeImage({0xFF, F3, 0x00, Cz}, 2, Pz));
    EXPECT_EQ(At(0)->name, "NC");
    EXPECT_EQ(h.MatchSource("SRC01", true), At(0));
    EXPECT_EQ(h.MatchSource("3", true), At(2));
    EXPECT_EQ(h.MatchSource("NC", false), nullptr);
    EXPECT_EQ(h.MatchSource("nr", false), nullptr);
}

TEST_F(Naming, NoSourcesKnown) {
    EXPECT_EQ(h.MatchSource("Cz", false), nullptr);
    EXPECT_EQ(ErrorOf([&] { h.MatchSource(" Cz ", true); }),
              "Failed to match desired source \"Cz\". Unfortunately, the flash memory of this headset contains no "
              "information about source IDs - but you can still use numbers or strings like \"SRC01\" instead of "
              "names.");
    EXPECT_EQ(ErrorOf([&] { h.MatchSource("1", true); }),
              "Invalid source number 1 (use names, or numbers from 1 to 0).");
}

TEST_F(Naming, NameBeatsAliasAndAmbiguityFails) {
    using namespace SourceID;
    Load(MakeImage({A1A2, Fz, Cz, Cz}, 2, Pz));
    EXPECT_EQ(h.MatchSource("le", true), At(0));
    At(1)->name = "LE";  // a name wins over another Source's alias
    EXPECT_EQ(h.MatchSource("le", true), At(1));
    EXPECT_EQ(ErrorOf([&] { h.MatchSource(" cz ", true); }), "The name \"cz\" matches more than one source.");

    At(1)->aliases.push_back("Vertex");
    At(2)->aliases.push_back("VERTEX");
    EXPECT_EQ(ErrorOf([&] { h.MatchSource("vertex", false); }), "The name \"vertex\" matches more than one source.");
}

TEST_F(Naming, AddingAliases) {
    using namespace SourceID;
    Load(MakeImage({A1A2, Fp1, Fp2, Cz}, 2, Pz));
    Source* ears = At(0);
    ASSERT_EQ(ears->aliases, (std::vector<std::string>{"A1A2", "LE"}));
    ears->aliases = {"LE"};
    EXPECT_TRUE(h.AddSourceAliases("LE, A1A2"));
    EXPECT_EQ(ears->aliases, (std::vector<std::string>{"LE", "A1A2"}));
    EXPECT_TRUE(h.AddSourceAliases("LE, A1A2"));  // nothing new
    EXPECT_EQ(ears->aliases.size(), 2u);
    EXPECT_FALSE(h.AddSourceAliases("XYZ"));
    EXPECT_FALSE(h.AddSourceAliases(""));

    // Items that match nothing become aliases of the Source the others match.
    EXPECT_TRUE(h.AddSourceAliases(" vertex,\tCz  top "));
    EXPECT_EQ(At(3)->aliases, (std::vector<std::string>{"vertex", "Cz", "top"}));
    EXPECT_EQ(h.MatchSource("TOP", true), At(3));

    EXPECT_EQ(ErrorOf([&] { h.AddSourceAliases(" Fp1 Fp2 front"); }),
              "\" Fp1 Fp2 front\" matches more than one Source, and hence cannot be set as a list of aliases ");
    EXPECT_TRUE(At(1)->aliases.empty());
    EXPECT_TRUE(At(2)->aliases.empty());
    EXPECT_EQ(h.MatchSource("front", false), nullptr);
}

TEST_F(Naming, Renaming) {
    Load(sigtest::Standard1020());
    EXPECT_FALSE(h.RenameSource("Q9", "Q10"));
    EXPECT_EQ(ErrorOf([&] { h.RenameSource("Fp1", "Cz"); }),
              "cannot rename Source Fp1 to Cz because there is another Source already called Cz");
    EXPECT_EQ(At(0)->name, "Fp1");
    EXPECT_TRUE(h.RenameSource("Fp1", "fp1"));
    EXPECT_EQ(At(0)->name, "fp1");
    EXPECT_TRUE(h.RenameSource("SRC2", " Left frontal pole "));
    EXPECT_EQ(At(1)->name, " Left frontal pole ");
    EXPECT_EQ(h.MatchSource("left frontal pole", true), At(1));
    // The new name may be one of the Source's own aliases.
    EXPECT_TRUE(h.RenameSource("T3", "T7"));
    EXPECT_EQ(At(7)->name, "T7");
    EXPECT_TRUE(h.RenameSource("T7", "T3"));
}

TEST_F(Naming, NamingSchemes) {
    Load(sigtest::Standard1010());
    EXPECT_EQ(At(7)->name, "T7");
    EXPECT_EQ(At(7)->code, SourceID::T3);
    EXPECT_EQ(h.MatchSource("T3", true), At(7));
    EXPECT_EQ(h.SourceNames(0x13),
              "Fp1 Fp2 F7 F3 Fz F4 F8 T7 C3 Cz C4 T8 P7 P3 P4 P8 O1 O2 A1 A2 X1 X2 X3 TRG ACCT ACCX ACCY ACCZ");
    h.UseNamingScheme("10-20");
    EXPECT_EQ(h.SourceNames(0x13), k1020Names0x13);
    EXPECT_EQ(h.MatchSource("P8", true), At(16));
    h.UseNamingScheme("1010");
    EXPECT_EQ(At(12)->name, "P7");
    h.UseNamingScheme("1020");
    EXPECT_EQ(At(12)->name, "T5");
    for (const char* bad : {"10 20", "1020 ", "10-10\n", "ten-twenty"})
        EXPECT_EQ(ErrorOf([&] { h.UseNamingScheme(bad); }),
                  std::string("Unrecognized electrode naming scheme \"") + bad + "\"");

    // A headset without temporal electrodes accepts either scheme.
    Load(MakeImage({SourceID::Cz}, 2, SourceID::Pz));
    h.UseNamingScheme("10-20");
    h.UseNamingScheme("10-10");
    EXPECT_EQ(At(0)->name, "Cz");
}

TEST_F(Naming, SourceLists) {
    using namespace SourceID;
    Load(MakeImage({Fz, Cz, Pz, 0xFF, 0x00, A1}, 2, Cz));
    // Slot 1 is the common-mode slot; the factory reference is Cz.
    std::string nc18;
    for (int i = 0; i < 18; ++i) nc18 += " NC";
    EXPECT_EQ(h.SourceNames(0x03), "Fz Pz A1 ACCT ACCX ACCY ACCZ");
    EXPECT_EQ(h.SourceNames(0x13), "Fz Pz A1 TRG ACCT ACCX ACCY ACCZ");
    EXPECT_EQ(h.SourceNames(0x17), "Fz Pz NC NR A1" + nc18 + " TRG ACCT ACCX ACCY ACCZ");
    EXPECT_EQ(h.SourceNames(0x13B),
              "Fz Pz A1 TRG Cz SND RCV TRG0 TRG1 TRG2 TRG3 TRG4 TRG5 TRG6 TRG7 ACCT ACCX ACCY ACCZ");
    EXPECT_EQ(h.SourceNames(0x40 | 0x80), "Fz CM Pz A1 NUL ACCT ACCX ACCY ACCZ");
    EXPECT_EQ(h.SourceNames(0xFE00), h.SourceNames(0));
    EXPECT_EQ(h.SourceNames(0x1FF), "Fz CM Pz NC NR A1" + nc18 +
                                        " TRG Cz SND RCV NUL TRG0 TRG1 TRG2 TRG3 TRG4 TRG5 TRG6 TRG7 ACCT ACCX ACCY ACCZ");

    Headset empty("deferred");
    EXPECT_EQ(empty.SourceNames(0x1FF), "");
}

TEST_F(Naming, SourcesByIndexAndImpedance) {
    Load(sigtest::Standard1020());
    EXPECT_EQ(h.GetSourceByIndex(40, true), At(40));
    EXPECT_EQ(ErrorOf([&] { h.GetSourceByIndex(41, true); }), "Source index 41 is out of range (41 sources available)");
    EXPECT_EQ(ErrorOf([&] { h.GetSourceByIndex(0, false); }), "Source index 0 is out of range (0 sources available)");
    EXPECT_EQ(h.ImpedanceCMF(), 0.0);

    h.ChooseChannels("F3 C3 X1", "FACTORY", false);
    // F3, the factory reference Pz, C3, X1.
    ASSERT_EQ(h.NumberOfMontageSources(), 4u);
    EXPECT_EQ(h.GetSourceByIndex(0, false), At(3));
    EXPECT_EQ(h.GetSourceByIndex(1, false), At(25));
    EXPECT_EQ(h.GetSourceByIndex(2, false), At(8));
    EXPECT_EQ(h.GetSourceByIndex(3, false), At(21));
    EXPECT_EQ(ErrorOf([&] { h.GetSourceByIndex(4, false); }), "Source index 4 is out of range (4 sources available)");
    // The mean over referential electrodes with a gain: not the factory
    // reference, not the auxiliary input; unmeasured values count.
    At(3)->impedanceCMF = 2.0;
    At(8)->impedanceCMF = -1.0;
    At(25)->impedanceCMF = 100.0;
    At(21)->impedanceCMF = 100.0;
    EXPECT_DOUBLE_EQ(h.ImpedanceCMF(), 0.5);
}
