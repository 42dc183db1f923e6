#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "Messages.h"
#include "VOQ.h"
#include "test_calibration_images.h"

using namespace VOQ;
using voqtest::ErrorOf;
using sigtest::Image;

namespace {

// A standard image with every other byte varied, so that a shifted or
// mangled read shows.
Image VariedImage() {
    Image image = sigtest::Standard1020();
    for (int k = 0; k < 24; ++k) {
        sigtest::SetGainCorrection(image, k, int16_t(k * 37 - 400));
        image[size_t(26 + 4 * k)] = uint8_t(k * 11);
        image[size_t(27 + 4 * k)] = uint8_t(255 - k);
    }
    for (int i = 120; i < 126; ++i) image[size_t(i)] = uint8_t(i * 3);
    return image;
}

class CalibrationFiles : public ::testing::Test {
protected:
    void SetUp() override {
        image = VariedImage();
        h.InterpretCalibrationMemory(image.data());
    }
    void TearDown() override {
        for (const std::string& f : files) std::remove(f.c_str());
    }
    std::string Path(const std::string& name) {
        const std::string path = ::testing::TempDir() + "voq_cal_" + std::to_string(getpid()) + "_" + name;
        files.push_back(path);
        return path;
    }
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary);
        out << content;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    bool ImageIs(const Image& expected) const {
        return std::memcmp(h.CalibrationMemory(), expected.data(), 128) == 0;
    }
    // Reads a file into a fresh headset and returns its image.
    static Image Loaded(const std::string& path, const std::string& format) {
        Headset other("deferred");
        other.ReadCalibrationMemoryFromFile(path, format);
        Image out;
        std::memcpy(out.data(), other.CalibrationMemory(), 128);
        return out;
    }
    std::string DecBody(const Image& values) {
        std::string body;
        char field[8];
        for (size_t i = 0; i < 128; ++i) {
            std::snprintf(field, sizeof field, "%3u", unsigned(values[i]));
            body += field;
            body += ((i + 1) % 8 == 0) ? "\n" : " ";
        }
        return body;
    }

    Headset h{"deferred"};
    Image image;
    std::vector<std::string> files;
};

}  // namespace

TEST_F(CalibrationFiles, DumpFormats) {
    const std::string dec = Path("dump.dec"), hex = Path("dump.hex"), bin = Path("dump.bin");
    h.DumpCalibrationMemoryToFile(dec, " dec ");
    h.DumpCalibrationMemoryToFile(hex, "Hex");
    h.DumpCalibrationMemoryToFile(bin, "BIN");

    const std::string decText = Read(dec), hexText = Read(hex), binText = Read(bin);
    EXPECT_EQ(decText.size(), 516u);
    EXPECT_EQ(hexText.size(), 388u);
    EXPECT_EQ(binText.size(), 132u);
    EXPECT_EQ(decText, "DEC\n" + DecBody(image));
    // Fp1 Fp2 F7 F3 Fz F4 F8 T3 / C3 Cz C4 T4 T5 P3 Pz P4 / ...
    EXPECT_EQ(hexText.substr(0, 52), "HEX\n01 03 04 05 06 07 08 0A\n0B 0C 0D 0E 10 11 21 13\n");
    EXPECT_EQ(hexText.substr(hexText.size() - 24), "68 6B 6E 71 74 77 21 02\n");
    EXPECT_EQ(binText.substr(0, 4), "BIN\n");
    EXPECT_EQ(std::memcmp(binText.data() + 4, image.data(), 128), 0);

    EXPECT_EQ(ErrorOf([&] { h.DumpCalibrationMemoryToFile(Path("x"), "  "); }),
              "unrecognized dump file format \"\"");
    EXPECT_EQ(ErrorOf([&] { h.DumpCalibrationMemoryToFile(Path("y"), " txt"); }),
              "unrecognized dump file format \"TXT\"");
    EXPECT_NE(access(Path("x").c_str(), F_OK), 0);  // no file made
    EXPECT_EQ(ErrorOf([&] { h.DumpCalibrationMemoryToFile("/nonexistent-dir/cal.dec", "DEC"); }),
              "failed to open \"/nonexistent-dir/cal.dec\" to dump calibration memory");
}

TEST_F(CalibrationFiles, RoundTrips) {
    for (const char* format : {"DEC", "HEX", "BIN"}) {
        const std::string path = Path(std::string("round.") + format);
        h.DumpCalibrationMemoryToFile(path, format);
        EXPECT_TRUE(Loaded(path, "") == image) << format << " detected";
        EXPECT_TRUE(Loaded(path, " \t") == image) << format << " detected";
        if (std::string(format) != "BIN") {
            EXPECT_TRUE(Loaded(path, format) == image) << format << " given";
        }
    }
    // Reading rebuilds the Sources and forgets the montage.
    h.ChooseChannels("Fz Cz", "A1", false);
    const std::string path = Path("rebuild.dec");
    h.DumpCalibrationMemoryToFile(path, "DEC");
    h.ReadCalibrationMemoryFromFile(path, "");
    EXPECT_TRUE(ImageIs(image));
    EXPECT_EQ(h.NumberOfChannels(), 0u);
    EXPECT_EQ(h.ReferenceString(), "Pz");
    EXPECT_EQ(h.Sources().size(), 41u);
    EXPECT_EQ(h.Sources()[4]->name, "Fz");
}

TEST_F(CalibrationFiles, TextDumpsWithoutTheFinalLineFeed) {
    const std::string dec = Path("noeol.dec"), hex = Path("noeol.hex");
    h.DumpCalibrationMemoryToFile(dec, "DEC");
    h.DumpCalibrationMemoryToFile(hex, "HEX");
    std::string decText = Read(dec), hexText = Read(hex);
    decText.pop_back();
    hexText.pop_back();
    Write("noeol.dec", decText);
    Write("noeol.hex", hexText);
    EXPECT_TRUE(Loaded(dec, "") == image);
    EXPECT_TRUE(Loaded(dec, "DEC") == image);
    EXPECT_TRUE(Loaded(hex, "") == image);
    EXPECT_TRUE(Loaded(hex, "hex") == image);
}

TEST_F(CalibrationFiles, LenientTextBodies) {
    Image expected = image;
    // Headerless, any whitespace, lower-case hex digits.
    std::string hexBody;
    char field[8];
    for (size_t i = 0; i < 128; ++i) {
        std::snprintf(field, sizeof field, "%x", unsigned(image[i]));
        hexBody += field;
        hexBody += (i % 3 == 0) ? "\t" : (i % 5 == 0 ? "\r\n" : "  ");
    }
    EXPECT_TRUE(Loaded(Write("lower.hex", hexBody), "HEX") == expected);
    EXPECT_TRUE(Loaded(Write("lower2.hex", "hex\n" + hexBody), "") == expected);
    EXPECT_TRUE(Loaded(Write("bare.dec", DecBody(image)), "dec") == expected);

    // Decimal values keep their low eight bits: 256 reads as 0, -1 as 255.
    std::string body = DecBody(image);
    body.replace(body.size() - 4, 3, "256");  // byte 127
    body.replace(0, 3, " -1");                // byte 0
    Image wrapped = image;
    wrapped[127] = 0;
    wrapped[0] = 0xFF;
    EXPECT_TRUE(Loaded(Write("wrap.dec", "DEC\n" + body), "") == wrapped);
}

TEST_F(CalibrationFiles, MismatchedFormats) {
    image = sigtest::Standard1020();
    h.InterpretCalibrationMemory(image.data());
    const std::string dec = Path("mismatch.dec"), bin = Path("mismatch.bin");
    h.DumpCalibrationMemoryToFile(dec, "DEC");
    h.DumpCalibrationMemoryToFile(bin, "BIN");

    // A DEC dump read as HEX: "DEC" itself is the first value (0xDEC keeps
    // 0xEC) and the decimal values are taken as hexadecimal.
    Image asHex;
    asHex[0] = 0xEC;
    for (size_t i = 1; i < 128; ++i) {
        unsigned value = 0;
        std::sscanf(std::to_string(image[i - 1]).c_str(), "%x", &value);
        asHex[i] = uint8_t(value & 0xFF);
    }
    EXPECT_TRUE(Loaded(dec, "hex") == asHex);

    // A BIN dump read with "BIN" given: the header bytes are memory bytes.
    Image shifted;
    std::memcpy(shifted.data(), "BIN\n", 4);
    std::memcpy(shifted.data() + 4, image.data(), 124);
    // Here the shifted slot codes give two T3 slots, which the interpretation
    // refuses after taking the image.
    Headset other("deferred");
    EXPECT_EQ(ErrorOf([&] { other.ReadCalibrationMemoryFromFile(bin, "BIN"); }),
              "The name \"T3\" matches more than one source.");
    EXPECT_EQ(std::memcmp(other.CalibrationMemory(), shifted.data(), 128), 0);
    // A bare image is read that way.
    EXPECT_TRUE(Loaded(Write("bare.bin", std::string(reinterpret_cast<const char*>(image.data()), 128)), "bin") ==
                image);
}

TEST_F(CalibrationFiles, ReadingFailuresChangeNothing) {
    h.ChooseChannels("Fz Cz", "A1", false);
    const Source* firstSource = h.Sources()[0];
    auto unchanged = [&] {
        EXPECT_TRUE(ImageIs(image));
        EXPECT_EQ(h.Sources()[0], firstSource);
        EXPECT_EQ(h.NumberOfChannels(), 2u);
        EXPECT_EQ(h.ReferenceString(), "A1");
    };

    std::string shortDec = "DEC\n" + DecBody(image);
    shortDec.resize(shortDec.size() - 5);  // 127 values
    const std::string decPath = Write("short.dec", shortDec);
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(decPath, ""); }),
              "failed to read 128 8-bit decimal-formatted values from " + decPath);
    unchanged();

    const std::string hexPath = Write("bad.hex", "HEX\n01 02 zz 04");
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(hexPath, "HEX"); }),
              "failed to read 128 8-bit hex-formatted values from " + hexPath);
    unchanged();

    const std::string binPath = Write("short.bin", "BIN\n" + std::string(127, '\x01'));
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(binPath, ""); }),
              "failed to read 128 raw bytes (after 'BIN\\n' header) from " + binPath);
    const std::string barePath = Write("short-bare.bin", std::string(127, '\x01'));
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(barePath, "BIN"); }),
              "failed to read 128 raw bytes (after 'BIN\\n' header) from " + barePath);
    unchanged();

    const std::string odd = Write("odd.txt", "TXT\n1 2 3\n");
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(odd, ""); }),
              "file \"" + odd + "\" has unexpected format - expected it to begin with 'DEC\\n', 'HEX\\n' or 'BIN\\n'");
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(Write("empty", ""), ""); }).substr(0, 6), "file \"");
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile(odd, " txt "); }), "unrecognized format \"TXT\"");
    EXPECT_EQ(ErrorOf([&] { h.ReadCalibrationMemoryFromFile("/nonexistent-dir/cal.dec", ""); }),
              "failed to open \"/nonexistent-dir/cal.dec\" to read calibration memory");
    unchanged();
}

TEST_F(CalibrationFiles, PageNumbersAreCheckedBeforeSending) {
    const uint8_t page[16] = {};
    EXPECT_EQ(ErrorOf([&] { h.WriteCalibrationMemoryPage(8, page); }),
              "cannot write to page number 8: must be in range 0 to 8");
    EXPECT_EQ(ErrorOf([&] { h.WriteCalibrationMemoryPage(4000000000u, page); }),
              "cannot write to page number 4000000000: must be in range 0 to 8");
    h.WriteCalibrationMemory(8);  // nothing to write
    h.WriteCalibrationMemory(100);
}
