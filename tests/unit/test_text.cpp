#include <gtest/gtest.h>

#include <cmath>

#include "VOQ.h"

using namespace VOQ;

TEST(Text, SplitCornerCases) {
    EXPECT_TRUE(Split("", ",").empty());
    EXPECT_EQ(Split("  a b  ", " "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Split("a,,b", ","), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Split(",a", ","), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Split("a,", ","), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(Split(",,", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(Split("a, b", ","), (std::vector<std::string>{"a", " b"}));
}

TEST(Text, ChompAndTrim) {
    std::string s = "  ab cd";
    EXPECT_EQ(ChompWord(s, " "), "ab");
    EXPECT_EQ(s, " cd");
    std::string t = "SRC12";
    EXPECT_TRUE(Chomp(t, "SRC"));
    EXPECT_EQ(t, "12");
    EXPECT_FALSE(Chomp(t, "CH"));
    EXPECT_TRUE(Chomp(t, ""));
    EXPECT_EQ(t, "12");
    EXPECT_EQ(Trim(" \t x \r\n", VOQ_WHITESPACE), "x");
    EXPECT_EQ(Trim("xyz", ""), "xyz");
    EXPECT_EQ(Trim("   ", " "), "");
    EXPECT_EQ(TrimLeft("//a/", "/"), "a/");
    EXPECT_EQ(TrimRight("//a/", "/"), "//a");
    EXPECT_EQ(RemoveAllWhitespace(" a\tb\vc\fd\n"), "abcd");
    EXPECT_EQ(Upper("fp1\xc3"), "FP1\xc3");
}

TEST(Text, Similar) {
    EXPECT_TRUE(Similar("  fp1\t", "FP1"));
    EXPECT_FALSE(Similar("Fp1", "Fp 1"));
    EXPECT_TRUE(Similar("", " "));
    // The key side is taken as already trimmed and upper-cased.
    EXPECT_TRUE(SimilarToKey("FP1", "  fp1\t"));
    EXPECT_FALSE(SimilarToKey("FP1", "Fp 1"));
    EXPECT_FALSE(SimilarToKey("FP1", "FP12"));
    EXPECT_TRUE(SimilarToKey("", " "));
}

TEST(Text, Join) {
    EXPECT_EQ(Join(", ", {}), "");
    EXPECT_EQ(Join(", ", {"x"}), "x");
    EXPECT_EQ(Join(" ", {"a", "b", "c"}), "a b c");
}

TEST(Text, String2Integer) {
    int v = -5;
    EXPECT_TRUE(String2Integer(" 42\n", v));
    EXPECT_EQ(v, 42);
    for (const char* bad : {"4 2", "-1", "+1", "0x10", "", "\xb2"}) {
        v = -5;
        EXPECT_FALSE(String2Integer(bad, v)) << bad;
        EXPECT_EQ(v, -5);
    }
    EXPECT_TRUE(String2Integer("007", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(String2Integer("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_FALSE(String2Integer("2147483648", v));   // refused, not wrapped
    EXPECT_FALSE(String2Integer("99999999999999999999", v));
    EXPECT_EQ(v, 2147483647);
}

TEST(Text, String2Double) {
    double d = 0;
    EXPECT_TRUE(String2Double(" -2.5e3 ", d));
    EXPECT_EQ(d, -2500.0);
    EXPECT_FALSE(String2Double("1.5x", d));
    EXPECT_FALSE(String2Double("", d));
    EXPECT_TRUE(String2Double("inf", d));
    EXPECT_TRUE(std::isinf(d));
}

TEST(Text, HexString) {
    EXPECT_EQ(HexString(255, 4, true), "00FF");
    EXPECT_EQ(HexString(255, 1, false), "ff");
    EXPECT_EQ(HexString(-1, 2, true), "FFFFFFFF");
    EXPECT_EQ(HexString(7, 2, true), "07");
}

TEST(Text, PythonString) {
    const unsigned char bytes[] = {'a', 0x22, 0x5C, 0x0A, 0x00, 0xC3};
    std::string plain = PythonString(bytes, 6, false);
    EXPECT_EQ(plain, "\"a\\x22\\x5C\\n\\x00\\xC3\"");
    EXPECT_EQ(plain.size(), 21u);
    std::string all = PythonString(bytes, 6, true);
    EXPECT_EQ(all, "\"\\x61\\x22\\x5C\\x0A\\x00\\xC3\"");
    EXPECT_EQ(all.size(), 26u);
    EXPECT_EQ(PythonString(bytes, 0, false), "\"\"");
    EXPECT_EQ(PythonString("\r\t\x7f~", 4, false), "\"\\r\\t\x7f~\"");
}

TEST(Text, StringCounter) {
    StringCounter votes;
    EXPECT_EQ(votes.Count("10-20"), 0);
    votes.Count("10-20") += 5;
    votes.Count("10-10") += 1;
    EXPECT_EQ(votes.Count("10-20"), 5);
    EXPECT_EQ(votes.counts.begin()->first, "10-10");
}
