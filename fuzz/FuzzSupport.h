// Shared pieces of the fuzz targets: exact-size copies of the input (so that
// AddressSanitizer sees any read past the bytes given), headsets on the
// fake-data hook with a known device state, calibration images and a message
// sink that formats nothing but remembers whether a marker text went by.
#ifndef VOQ_FUZZ_SUPPORT_H
#define VOQ_FUZZ_SUPPORT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VOQ.h"

namespace voqfuzz {

using Bytes = std::vector<uint8_t>;
using Image = std::array<uint8_t, 128>;

// Runs `call`; true when it returned, false when it threw the library's
// error (an input the library refuses, as it should).  Anything else thrown
// escapes, so that the fuzzer reports it.
template <typename Call>
bool Try(Call&& call) {
    try {
        call();
        return true;
    } catch (const VOQ::Error&) {
        return false;
    }
}

// A heap block of exactly `size` bytes holding a copy of `data` (one byte
// more when `terminate`, set to 0, for C texts).
class ExactCopy {
public:
    ExactCopy(const uint8_t* data, size_t size, bool terminate = false)
        : size_(size), bytes_(new uint8_t[size + (terminate ? 1 : 0)]) {
        if (size) std::memcpy(bytes_.get(), data, size);
        if (terminate) bytes_[size] = 0;
    }
    uint8_t* data() { return bytes_.get(); }
    const char* text() const { return reinterpret_cast<const char*>(bytes_.get()); }
    size_t size() const { return size_; }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

// Splits the input at every `separator` byte into exact-size, 0-terminated
// copies (at most `limit` parts; the last part keeps the rest).
std::vector<std::unique_ptr<ExactCopy>> SplitInput(const uint8_t* data, size_t size, uint8_t separator,
                                                   size_t limit);

// ----- Calibration images -------------------------------------------------

// A 24-slot 10-20 headset, layout 2, common-mode follower at Pz, small gain
// corrections: Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 Pz P4 T6 O1 O2 A1
// A2 X1 X2 X3.
Image StandardImage();
// A 7-sensor headset, layout 1: X1 with the flag bit (the linked-ear
// reference), F3 F4 C3 C4 P3 P4, the rest erased.
Image SevenSensorImage();

// ----- Wire bytes -----------------------------------------------------------

Bytes Packet(int species, const Bytes& body, uint32_t ticks = 0);
Bytes Response(int species, int code, int identifier, const Bytes& payload);
Bytes Block(uint16_t number, const std::vector<Bytes>& packets, uint32_t ticks = 0);
Bytes U16(unsigned value);

// ----- Messages -------------------------------------------------------------

// A message sink that keeps nothing but notes when `SetMarker`'s text passes.
int MarkerSink(const char* message, int level);
void SetMarker(const std::string& marker);
bool MarkerSeen();

// ----- Headsets ---------------------------------------------------------------

struct HeadsetOptions {
    int rate = 300;
    int filterMode = 1;
    bool sevenSensors = false;
    int verbosity = 7;
    bool impedanceDriver = true;
    int accelerometerRate = 10;
};

// A deferred headset on the fake-data hook whose device state came in
// through the wire path: the data-acquisition mode, accelerometer rate,
// impedance driver mode and clock answers, then sources from the image.
std::unique_ptr<VOQ::Headset> MakeHeadset(const HeadsetOptions& options);

// A headset from MakeHeadset that serves a whole run, put back after each
// input into the state it was built in, as far as naming, montage and
// reference choices and fed data packets change it: the sources' names and
// aliases, no montage, stages or chosen reference, and (after samples) the
// packet counter, trigger delay line, impedance buffers and per-sample
// source values as new.  Building a headset costs more than most inputs.
class Fixture {
public:
    explicit Fixture(const HeadsetOptions& options);
    VOQ::Headset& Headset() { return *headset_; }
    // True when source `k` has other names or aliases than it was built with.
    bool Renamed(size_t k) const;
    void Restore(bool samplesFed);

private:
    struct Names {
        std::string name;
        std::vector<std::string> aliases;
    };
    HeadsetOptions options_;
    std::unique_ptr<VOQ::Headset> headset_;
    std::vector<Names> built_;
};

// Feeds `bytes` plus a trailer of marker blocks that no block of the input can
// reach past, and reads blocks until a marker block has been read.
// Never waits for silence.  Library failures of type VOQ::Error (a
// calibration image that cannot be interpreted, say) are what the caller of
// TryToReadBlock sees too; they are counted and reading goes on.
int ReadStream(VOQ::Headset& headset, const uint8_t* bytes, size_t size);

// Makes every framed block in `bytes` (start code, length 22 to 1024 within
// the bytes, terminator) carry the right check sum, so that mutated packets
// reach the packet processors.
void RepairCheckSums(uint8_t* bytes, size_t size);

// Reads every unread value of the headset's output channels (and the montage).
size_t DrainOutputs(VOQ::Headset& headset);

}  // namespace voqfuzz

#endif
