#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "Messages.h"
#include "VOQ.h"

using namespace VOQ;
using voqtest::ErrorOf;

namespace {

struct Sources {
    Source f3{SourceID::F3, "F3", 0, 1, 0};
    Source a1{SourceID::A1, "A1", 0, 1, 0};
    Source a2{SourceID::A2, "A2", 0, 1, 0};
    Source cz{SourceID::Cz, "Cz", 0, 1, 0};
    Source pz{SourceID::Pz, "Pz", 0, 1, 0};
    Source p3{SourceID::P3, "P3", 0, 1, 0};
    Source c3{SourceID::C3, "C3", 0, 1, 0};
    Source c4{SourceID::C4, "C4", 0, 1, 0};
    Source fz{SourceID::Fz, "Fz", 0, 1, 0};
    Source x1{SourceID::X1, "X1", 0, 1, 0};
    Source trg{SourceID::TRG, "TRG", 0, 1, 0};
};

}  // namespace

TEST(Channel, Construction) {
    Sources s;
    Channel fromSource(s.cz, 0);
    ASSERT_EQ(fromSource.sources.size(), 1u);
    EXPECT_EQ(fromSource.sources[0], &s.cz);
    EXPECT_EQ(fromSource.weights[0], 1.0);
    EXPECT_EQ(fromSource.name, "");
    EXPECT_EQ(fromSource.buffer.Capacity(), 1u);

    Channel named("alpha", 12);
    EXPECT_TRUE(named.sources.empty());
    EXPECT_EQ(named.Name(), "alpha");
    EXPECT_EQ(named.buffer.Capacity(), 12u);
    EXPECT_EQ(named.CalculateRawSignal(), 0.0);
}

TEST(Channel, NameFollowsTheLargestPositiveTerm) {
    Sources s;
    Channel c("", 1);
    c.Add(&s.p3, -1);
    c.Add(&s.c3, 0.5);
    c.Add(&s.c4, 0.5);
    EXPECT_EQ(c.MaxPositiveSource(), &s.c3);
    EXPECT_EQ(c.Name(), "C3");
    c.name = "mine";
    EXPECT_EQ(c.Name(), "mine");

    Channel negative("", 1);
    negative.Add(&s.p3, -1);
    negative.Add(&s.c3, -0.5);
    EXPECT_EQ(negative.MaxPositiveSource(), nullptr);
    EXPECT_EQ(negative.Name(), "");
}

TEST(Channel, TextForms) {
    Sources s;
    Channel ref("", 1);
    ref.Add(&s.f3, 1);
    ref.Add(&s.a1, -0.5);
    ref.Add(&s.a2, -0.5);
    EXPECT_EQ(ref.String(true), "F3-A1/2-A2/2");
    EXPECT_EQ(ref.String(false), "F3");

    struct Case {
        double weight;
        const char* text;
    } cases[] = {
        {1.5, "Cz*3/2"},   {2, "Cz*2"},       {-1, "-Cz"},         {0.3, "Cz*3/10"},  {-24, "-Cz*24"},
        {1.0 / 24, "Cz/24"}, {25, "Cz*25"},   {0.001, "Cz*0.001"}, {1e-7, "Cz*0.0000001"},
        {1e20, "Cz*100000000000000000000"}, {-123.456, "-Cz*123.456"},
    };
    for (const Case& c : cases) {
        Channel ch("", 1);
        ch.Add(&s.cz, c.weight);
        EXPECT_EQ(ch.String(true), c.text) << c.weight;
    }

    // A zero first term is left out; the next positive term keeps its "+".
    Channel zeroFirst("", 1);
    zeroFirst.Add(&s.f3, 0);
    zeroFirst.Add(&s.cz, 1);
    zeroFirst.Add(&s.pz, -1);
    EXPECT_EQ(zeroFirst.String(true), "+Cz-Pz");

    // Short form: ends after the first term written as a fraction.
    Channel shortForm("", 1);
    shortForm.Add(&s.cz, 0.001);
    shortForm.Add(&s.pz, -0.5);
    shortForm.Add(&s.fz, 1);
    EXPECT_EQ(shortForm.String(false), "Cz*0.001-Pz/2");
    EXPECT_EQ(shortForm.String(true), "Cz*0.001-Pz/2+Fz");
}

TEST(Channel, PlainDecimalWeightsReadBackExactly) {
    Sources s;
    for (double w : {1.0 / 3.1, 0.1234567890123, 1e-12, 98765.4321, 3.0e-5, 1.0 / 49.0}) {
        Channel ch("", 1);
        ch.Add(&s.cz, w);
        const std::string text = ch.String(true);
        ASSERT_EQ(text.compare(0, 3, "Cz*"), 0) << text;
        const std::string number = text.substr(3);
        EXPECT_EQ(number.find_first_of("eE-+"), std::string::npos) << text;
        EXPECT_EQ(std::strtod(number.c_str(), nullptr), w) << text;
    }
}

TEST(Channel, NullTermSourcesAreIgnored) {
    Sources s;
    Channel c("", 1);
    c.Add(nullptr, 1);
    c.Add(&s.a1, -0.5);
    c.Add(&s.a2, -0.5);
    EXPECT_EQ(c.String(true), "-A1/2-A2/2");
    EXPECT_TRUE(c.IsReferentialEEG());
    EXPECT_FALSE(c.IsTrigger());
    EXPECT_EQ(c.Name(), "");
    s.a1.SetRawSignal(4);
    s.a2.SetRawSignal(2);
    EXPECT_DOUBLE_EQ(c.CalculateRawSignal(), -3.0);

    Channel onlyNull("", 1);
    onlyNull.Add(nullptr, 1);
    EXPECT_FALSE(onlyNull.IsReferentialEEG());
    EXPECT_FALSE(onlyNull.IsTrigger());
    EXPECT_EQ(onlyNull.String(true), "");
}

TEST(Channel, Classification) {
    Sources s;
    Channel trigger("", 1);
    trigger.Add(&s.trg, 1);
    trigger.Add(&s.fz, -1);
    EXPECT_TRUE(trigger.IsTrigger());
    EXPECT_FALSE(trigger.IsReferentialEEG());

    Channel bipolar("", 1);
    bipolar.Add(&s.fz, 1);
    bipolar.Add(&s.pz, -1);
    EXPECT_FALSE(bipolar.IsTrigger());
    EXPECT_TRUE(bipolar.IsReferentialEEG());

    Channel aux("", 1);
    aux.Add(&s.x1, 1);
    aux.Add(&s.pz, -1);
    EXPECT_FALSE(aux.IsReferentialEEG());

    Channel empty("", 1);
    EXPECT_FALSE(empty.IsTrigger());
    EXPECT_FALSE(empty.IsReferentialEEG());
}

TEST(Channel, SignalIsTheWeightedSum) {
    Sources s;
    Channel c("", 1);
    c.Add(&s.f3, 1);
    c.Add(&s.a1, -0.5);
    c.Add(&s.a2, -0.5);
    c.Add(&s.f3, 2);  // terms are never merged
    s.f3.SetRawSignal(10);
    s.a1.SetRawSignal(4);
    s.a2.SetRawSignal(8);
    EXPECT_DOUBLE_EQ(c.CalculateRawSignal(), 30 - 6);
}

TEST(Channel, LookBackStrictAndLenient) {
    Channel c("x", 3);
    for (double v : {1.0, 2.0, 3.0}) c.buffer.Write(v);
    EXPECT_EQ(c.LookBack(0, true), 3.0);
    EXPECT_EQ(c.LookBack(2, true), 1.0);
    for (bool strict : {false, true})
        EXPECT_EQ(ErrorOf([&] { c.LookBack(3, strict); }), "cannot look back 3 steps: buffer size is 3");
    c.buffer.Read();
    EXPECT_EQ(c.LookBack(2, false), 0.0);
    EXPECT_EQ(ErrorOf([&] { c.LookBack(2, true); }), "cannot look back 2 steps: 2 samples available");
    EXPECT_EQ(c.LookBack(1, true), 2.0);

    c.buffer.Read();
    c.buffer.Read();
    EXPECT_EQ(c.LookBack(0, false), 0.0);  // everything has been read
}

TEST(Channel, CopyTakesTermsAndNameWithAFreshBuffer) {
    Sources s;
    Channel original("orig", 5);
    original.Add(&s.cz, 1);
    original.Add(&s.pz, -1);
    original.buffer.Write(42);

    Channel copy("", 1);
    copy.Copy(original);
    EXPECT_EQ(copy.name, "orig");
    EXPECT_EQ(copy.sources, original.sources);
    EXPECT_EQ(copy.weights, original.weights);
    EXPECT_EQ(copy.buffer.Capacity(), 5u);
    EXPECT_EQ(copy.buffer.Buffered(), 0u);
    EXPECT_EQ(copy.buffer.LookBack(0), 0.0);

    original.Copy(original);
    EXPECT_EQ(original.sources.size(), 2u);
    EXPECT_EQ(original.buffer.Buffered(), 0u);
    EXPECT_EQ(original.buffer.Capacity(), 5u);

    Channel unallocated("u", 4);
    unallocated.buffer.Clear();
    Channel third("", 2);
    third.Copy(unallocated);
    EXPECT_FALSE(third.buffer.IsAllocated());
    EXPECT_EQ(third.buffer.Capacity(), 0u);
}

TEST(Channel, AutoSwap) {
    Sources s;
    Channel own("", 1);
    own.Add(&s.a1, 1);
    own.Add(&s.a1, -0.5);
    own.Add(&s.a2, -0.5);
    EXPECT_FALSE(own.AutoSwap(nullptr));  // nothing to put in place
    EXPECT_EQ(own.sources[0], &s.a1);
    EXPECT_TRUE(own.AutoSwap(&s.pz));
    EXPECT_EQ(own.sources[0], &s.pz);
    EXPECT_EQ(own.weights[0], 1.0);

    Channel other("", 1);
    other.Add(&s.f3, 1);
    other.Add(&s.a1, -0.5);
    other.Add(&s.a2, -0.5);
    EXPECT_FALSE(other.AutoSwap(&s.pz));

    Channel twoPositive("", 1);
    twoPositive.Add(&s.a1, 1);
    twoPositive.Add(&s.f3, 1);
    twoPositive.Add(&s.a1, -1);
    EXPECT_FALSE(twoPositive.AutoSwap(&s.pz));

    Channel noNegative("", 1);
    noNegative.Add(&s.a1, 1);
    EXPECT_FALSE(noNegative.AutoSwap(&s.pz));
}

TEST(Channel, FindByName) {
    Sources s;
    s.a1.aliases = {"LeftEar"};
    std::unique_ptr<Channel> cz(new Channel(s.cz, 1));
    cz->Add(&s.pz, -1);
    std::unique_ptr<Channel> named(new Channel(s.fz, 1));
    named->name = "CZ";
    std::unique_ptr<Channel> ear(new Channel(s.a1, 1));
    std::unique_ptr<Channel> negative(new Channel("", 1));
    negative->Add(&s.f3, -1);
    negative->Add(&s.a1, -1);
    std::vector<Channel*> list = {cz.get(), nullptr, named.get(), ear.get(), negative.get()};

    EXPECT_EQ(GetChannelByName(list, "  cz ", true), cz.get());
    EXPECT_EQ(GetChannelByName(list, "lefTEar", true), ear.get());        // alias pass
    EXPECT_EQ(GetChannelByName(list, " -f3-a1 ", true), negative.get());  // text pass
    EXPECT_EQ(GetChannelByName(list, "cz-pz", true), cz.get());  // text pass
    EXPECT_EQ(GetChannelByName(list, "O1", false), nullptr);

    // Within a pass the last match wins.
    std::unique_ptr<Channel> cz2(new Channel(s.cz, 1));
    list.push_back(cz2.get());
    EXPECT_EQ(GetChannelByName(list, "Cz", false), cz2.get());

    EXPECT_EQ(ErrorOf([&] { GetChannelByName(list, " O1 ", true); }),
              "Could not match Channel \"O1\" (known names are: Cz, CZ, A1, , Cz)");
    std::vector<Channel*> none;
    EXPECT_EQ(ErrorOf([&] { GetChannelByName(none, "x", true); }), "Could not match Channel \"x\" (known names are: )");
}
