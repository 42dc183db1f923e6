// Built-in calibration images, image files, and how the device reads its own
// wiring from an image.
#include "Simulator.h"
#include "Wire.h"

#include <voq/Protocol.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace voqsim {

namespace {

// A small spread of gain corrections, the same for every build.
int16_t GainCorrection(int slot) { return int16_t((slot * 7919 + 13) % 301 - 150); }

void PutGain(Image& image, int slot, int16_t g) {
    VOQ::WriteU16LE(&image[size_t(24 + 4 * slot)], uint16_t(g));
    image[size_t(26 + 4 * slot)] = 0;
    image[size_t(27 + 4 * slot)] = 0;
}

Image Standard24() {
    using namespace VOQ::SourceID;
    const int codes[24] = {Fp1, Fp2, F7, F3, Fz, F4, F8, T3, C3, Cz, C4, T4,
                           T5,  P3,  Pz, P4, T6, O1, O2, A1, A2, X1, X2, X3};
    Image image{};
    for (int k = 0; k < 24; ++k) {
        image[size_t(k)] = uint8_t(codes[k]);
        PutGain(image, k, GainCorrection(k));
    }
    image[126] = uint8_t(Pz);   // the common-mode follower
    image[127] = 2;             // layout version
    return image;
}

Image Seven() {
    using namespace VOQ::SourceID;
    Image image;
    image.fill(0xFF);
    const int codes[7] = {X1 | 0x80, F3, F4, C3, C4, P3, P4};
    for (int k = 0; k < 7; ++k) {
        image[size_t(k)] = uint8_t(codes[k]);
        PutGain(image, k, GainCorrection(k + 5));
    }
    image[127] = 1;             // layout version
    return image;
}

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
    throw std::runtime_error("cannot read a calibration image from \"" + path + "\": " + why);
}

}  // namespace

std::vector<std::string> LayoutNames() { return {"standard24", "seven", "erased"}; }

Image LayoutImage(const std::string& name) {
    const std::string key = Lower(name);
    if (key == "standard24") return Standard24();
    if (key == "seven") return Seven();
    if (key == "erased") {
        Image image;
        image.fill(0xFF);
        return image;
    }
    throw std::invalid_argument("unknown headset layout \"" + name +
                                "\" (known: standard24, seven, erased)");
}

Image ReadImageFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) Fail(path, "the file cannot be opened");
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Image image{};
    if (bytes.size() == image.size()) {
        std::copy(bytes.begin(), bytes.end(), image.begin());
        return image;
    }
    const std::string header = Lower(bytes.substr(0, 3));
    const bool separated = bytes.size() > 3 && std::isspace(static_cast<unsigned char>(bytes[3]));
    if (header == "bin" && separated) {
        if (bytes.size() < 4 + image.size()) Fail(path, "fewer than 128 bytes follow the BIN header");
        std::copy(bytes.begin() + 4, bytes.begin() + 4 + long(image.size()), image.begin());
        return image;
    }
    if ((header == "dec" || header == "hex") && separated) {
        std::istringstream in(bytes.substr(4));
        for (size_t i = 0; i < image.size(); ++i) {
            std::string word;
            if (!(in >> word)) Fail(path, "fewer than 128 values follow the " + header + " header");
            char* end = nullptr;
            const long value = std::strtol(word.c_str(), &end, header == "hex" ? 16 : 10);
            if (end == word.c_str() || *end != '\0' || value < 0 || value > 255)
                Fail(path, "\"" + word + "\" is not a byte value");
            image[i] = uint8_t(value);
        }
        return image;
    }
    Fail(path, "expected 128 bytes, or a BIN, DEC or HEX header (the file has " +
                   std::to_string(bytes.size()) + " bytes)");
}

std::vector<Slot> DescribeSlots(const Image& image) {
    using namespace VOQ::SourceID;
    const int version = int(int8_t(image[127]));
    const int follower = version >= 2 ? int(image[126]) : int(Pz);
    int occupied = 0;
    for (int k = 0; k < 24; ++k)
        if (image[size_t(k)] != 0x00 && image[size_t(k)] != 0xFF) ++occupied;

    std::vector<Slot> slots(24);
    for (int k = 0; k < 24; ++k) {
        Slot& slot = slots[size_t(k)];
        slot.index = k;
        const int b = image[size_t(k)];
        const int16_t g = VOQ::ReadS16LE(&image[size_t(24 + 4 * k)]);
        const double correction = 1.0 + g * (1.0 / 32768.0);
        if (b == 0x00 || b == 0xFF) {
            slot.code = b;
            slot.kind = SlotKind::Unused;
            slot.name = VOQ::SourceIDName(b);
            slot.gain = 0.301 * correction;
            continue;
        }
        int code = b >= 0x80 ? (b & 0x7F) : b;
        const bool commonMode = code == CM || (version >= 2 && code == follower);
        if (commonMode) code = CM;
        if (code == X1 && k == 0 && occupied == 7 && version < 2) code = A1A2;
        slot.code = code;
        slot.name = VOQ::SourceIDName(code);
        slot.gain = (commonMode ? 74.0 : 0.301) * correction;
        if (commonMode)
            slot.kind = SlotKind::CommonMode;
        else if (code == X1 || code == X2 || code == X3 || code == ECG || code == EMG || code == EOG)
            slot.kind = SlotKind::Auxiliary;
        else if (code == A1 || code == A2 || code == M1 || code == M2 || code == A1A2 || code == M1M2)
            slot.kind = SlotKind::Reference;
        else
            slot.kind = SlotKind::Electrode;
    }
    return slots;
}

}  // namespace voqsim
