#include "EdfHeader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FileIo.h"

namespace voqrec {

namespace {

const int64_t kFixedBytes = 256;
const int64_t kMaxSignals = 4096;
// Far above any real file's, and small enough that a record count of eight
// digits times it stays a 64-bit number.
const int64_t kMaxRecordBytes = int64_t(1) << 31;

std::string Trimmed(const char* text, size_t width) {
    std::string field(text, width);
    const size_t end = field.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

// A header field of `width` characters as a whole number; false when it is
// not one.
bool Integer(const char* text, size_t width, int64_t& value) {
    const std::string field = Trimmed(text, width);
    if (field.empty()) return false;
    char* stop = nullptr;
    errno = 0;
    const long long v = std::strtoll(field.c_str(), &stop, 10);
    if (errno != 0 || *stop != '\0') return false;
    value = v;
    return true;
}

bool Decimal(const char* text, size_t width, double& value) {
    const std::string field = Trimmed(text, width);
    if (field.empty()) return false;
    char* stop = nullptr;
    errno = 0;
    const double v = std::strtod(field.c_str(), &stop);
    if (errno != 0 || *stop != '\0') return false;
    value = v;
    return true;
}

}  // namespace

const EdfSignalInfo* EdfHeader::FirstDataSignal() const {
    for (const EdfSignalInfo& s : signals)
        if (!s.annotations) return &s;
    return nullptr;
}

double EdfHeader::SamplingRate() const {
    const EdfSignalInfo* s = FirstDataSignal();
    return s && recordSeconds > 0.0 ? static_cast<double>(s->samples) / recordSeconds : 0.0;
}

std::string ReadEdfHeader(int fd, EdfHeader& header) {
    char fixed[kFixedBytes];
    const size_t got = ReadUpTo(fd, fixed, sizeof fixed, 0);
    // What there is of the version field tells the format, even of a stub.
    const size_t v = std::min<size_t>(got, 8);
    const bool edf = std::memcmp(fixed, "0       ", v) == 0;
    const bool bdf =
        v > 0 && static_cast<unsigned char>(fixed[0]) == 0xFF && std::memcmp(fixed + 1, "BIOSEMI", v - 1) == 0;
    if (v > 0 && !edf && !bdf) return "not an EDF or BDF file";
    if (got < sizeof fixed) return "its header is incomplete";
    EdfHeader h;
    h.bdf = bdf;
    const std::string reserved = Trimmed(fixed + 192, 44);
    h.plus = reserved.compare(0, 4, bdf ? "BDF+" : "EDF+") == 0;
    int64_t signals = 0;
    if (!Integer(fixed + 184, 8, h.headerBytes)) return "its header size does not read";
    if (!Integer(fixed + kRecordCountOffset, kRecordCountWidth, h.records) || h.records < -1)
        return "its record count does not read";
    if (!Decimal(fixed + 244, 8, h.recordSeconds) || !(h.recordSeconds >= 0.0))
        return "its data record duration does not read";
    if (!Integer(fixed + 252, 4, signals) || signals < 1 || signals > kMaxSignals)
        return "its number of signals does not read";
    if (h.headerBytes != kFixedBytes * (signals + 1)) return "its header size does not match its signals";

    const size_t n = static_cast<size_t>(signals);
    std::vector<char> perSignal(256 * n);
    if (ReadUpTo(fd, perSignal.data(), perSignal.size(), kFixedBytes) < perSignal.size())
        return "its header is incomplete";
    const int64_t bytesPerSample = bdf ? 3 : 2;
    for (size_t i = 0; i < n; ++i) {
        EdfSignalInfo s;
        s.label = Trimmed(perSignal.data() + 16 * i, 16);
        s.annotations = s.label == (bdf ? "BDF Annotations" : "EDF Annotations");
        if (!Integer(perSignal.data() + 216 * n + 8 * i, 8, s.samples) || s.samples < 1 || s.samples > 100000000)
            return "the samples per record of signal " + std::to_string(i + 1) + " do not read";
        s.offset = h.recordBytes;
        s.bytes = s.samples * bytesPerSample;
        h.recordBytes += s.bytes;
        h.signals.push_back(s);
        if (h.recordBytes > kMaxRecordBytes) return "its data records are implausibly large";
    }
    header = h;
    return "";
}

bool ReadFileLayout(int fd, FileLayout& layout) {
    EdfHeader header;
    if (!ReadEdfHeader(fd, header).empty()) return false;
    layout.headerBytes = header.headerBytes;
    layout.recordBytes = header.recordBytes;
    layout.records = header.records;
    return true;
}

}  // namespace voqrec
