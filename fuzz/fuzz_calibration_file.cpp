// Calibration-memory dump files: the input is written to a file and read
// with format detection and with each format given ("DEC", " hex ", "bin\n").
// Every image that is read is interpreted (sources, aliases, naming scheme),
// given the factory montage and the traditional reference, dumped in one of
// the formats and read back: the round trip must reproduce the image exactly.
// The first 128 bytes are also interpreted directly from a heap block of
// exactly 128 bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "FuzzSupport.h"

namespace {

// Scratch files in memory where the system has a memory file system (the
// input and the dumps are written and read several times per input).
std::string ScratchName(const char* what) {
    const char* directory = std::getenv("TMPDIR");
    std::string place = directory && *directory ? directory : "/tmp";
    if (access("/dev/shm", W_OK) == 0) place = "/dev/shm";
    return place + "/voq-fuzz-" + what + "-" + std::to_string(long(getpid()));
}

void WriteFile(const std::string& name, const uint8_t* data, size_t size) {
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

using voqfuzz::Try;

// What a freshly read image leads to at start-up, then the round trips.
void UseImage(VOQ::Headset& headset, const std::string& scratch) {
    Try([&] { headset.ChooseChannels("FACTORY", "FACTORY", false); });
    Try([&] { headset.SetTraditionalReference(true); });
    headset.MontageString(true);
    headset.SourceNames(0x1FF);
    headset.InfoString();

    // The round trip goes through one format, chosen by the image's bytes:
    // dumping and reading back do the same for every image but for the
    // values, so each format is checked on a third of the images (most
    // inputs bring a new one), at a third of the cost of all three.
    voqfuzz::Image image;
    std::memcpy(image.data(), headset.CalibrationMemory(), image.size());
    unsigned sum = 0;
    for (uint8_t byte : image) sum += byte;
    const char* const formats[3] = {"DEC", "HEX", "BIN"};
    const char* format = formats[sum % 3];
    headset.DumpCalibrationMemoryToFile(scratch, format);
    if (!Try([&] { headset.ReadCalibrationMemoryFromFile(scratch, ""); }) ||
        std::memcmp(image.data(), headset.CalibrationMemory(), image.size()) != 0) {
        std::fprintf(stderr, "calibration memory dumped as %s did not read back the same\n", format);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = ScratchName("input");
    static const std::string scratch = ScratchName("dump");
    WriteFile(input, data, size);

    // An empty file reads as nothing in every format, before any state is
    // touched: a bare headset does.  (libFuzzer's first call, whose coverage
    // it does not count, is such a call; the shared headset below is built
    // in a counted one.)
    if (size == 0) {
        VOQ::Headset bare("deferred");
        for (const char* format : {"", "DEC", "HEX", "BIN", " hex ", "bin\n"})
            if (Try([&] { bare.ReadCalibrationMemoryFromFile(input, format); })) std::abort();
        return 0;
    }

    // One headset for the whole run: everything below that reads its state
    // starts by interpreting an image, which replaces the sources, the
    // montage and the references (a read that fails changes nothing).
    static const std::unique_ptr<VOQ::Headset> shared = [] {
        voqfuzz::HeadsetOptions setup;
        setup.verbosity = 3;
        return voqfuzz::MakeHeadset(setup);
    }();
    VOQ::Headset& headset = *shared;
    // Each distinct image that comes out is used (and round-tripped) once.
    std::set<voqfuzz::Image> used;
    auto use = [&] {
        voqfuzz::Image image;
        std::memcpy(image.data(), headset.CalibrationMemory(), image.size());
        if (used.insert(image).second) UseImage(headset, scratch);
    };
    // HEX and BIN given in untidy spellings (a format is trimmed and
    // upper-cased before anything else; the dumps below use tidy ones).
    for (const char* format : {"", "DEC", " hex ", "bin\n"}) {
        if (Try([&] { headset.ReadCalibrationMemoryFromFile(input, format); })) use();
    }
    // Unless a read above gave the same image (a file without a header, read
    // as BIN): interpreting is the costliest part of an input.
    voqfuzz::Image first;
    if (size >= first.size()) std::memcpy(first.data(), data, first.size());
    if (size >= first.size() && used.count(first) == 0) {
        voqfuzz::ExactCopy image(data, first.size());
        if (Try([&] { headset.InterpretCalibrationMemory(image.data()); })) use();
    }
    // The montage goes with the input that built it (the sources go with the
    // next image): an input that keeps allocations would make libFuzzer look
    // for leaks each time.
    headset.ForgetMontage();
    return 0;
}
