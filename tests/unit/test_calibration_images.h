// Calibration-memory images built in tests: slot codes, gain corrections,
// common-mode follower position and layout version.
#ifndef VOQ_TEST_CALIBRATION_IMAGES_H
#define VOQ_TEST_CALIBRATION_IMAGES_H

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "VOQ.h"

namespace sigtest {

using Image = std::array<uint8_t, 128>;

inline Image Erased() {
    Image image;
    image.fill(0xFF);
    return image;
}

// Slots get `codes` in order (the rest 0xFF, unoccupied), every gain
// correction is 0, byte 126 = `cmf`, byte 127 = `layoutVersion`.
inline Image MakeImage(std::initializer_list<int> codes, int layoutVersion, int cmf = 0xFF) {
    Image image;
    image.fill(0xFF);
    int k = 0;
    for (int code : codes) image[size_t(k++)] = uint8_t(code);
    for (int slot = 0; slot < 24; ++slot) {
        VOQ::WriteU16LE(&image[size_t(24 + 4 * slot)], 0);
        VOQ::WriteU16LE(&image[size_t(26 + 4 * slot)], uint16_t(0x1234 + slot));
    }
    image[126] = uint8_t(cmf);
    image[127] = uint8_t(layoutVersion);
    return image;
}

inline void SetGainCorrection(Image& image, int slot, int16_t correction) {
    VOQ::WriteU16LE(&image[size_t(24 + 4 * slot)], uint16_t(correction));
}

// A 24-slot 10-20 headset, layout 2, follower at Pz (slot 14):
// Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 Pz P4 T6 O1 O2 A1 A2 X1 X2 X3.
inline Image Standard1020() {
    using namespace VOQ::SourceID;
    return MakeImage({Fp1, Fp2, F7, F3, Fz, F4, F8, T3, C3, Cz, C4, T4, T5, P3, Pz, P4, T6, O1, O2, A1, A2, X1, X2, X3},
                     2, Pz);
}

// The same headset described with the 10-10 temporal names.
inline Image Standard1010() {
    using namespace VOQ::SourceID;
    return MakeImage({Fp1, Fp2, F7, F3, Fz, F4, F8, T7, C3, Cz, C4, T8, P7, P3, Pz, P4, P8, O1, O2, A1, A2, X1, X2, X3},
                     2, Pz);
}

}  // namespace sigtest

#endif
