// Reading the header of an EDF(+) or BDF(+) file, byte for byte: the fixed
// 256 bytes, then 256 bytes per signal, each field a run of ASCII
// characters.  Used to watch and mend the files the recorder writes.
#ifndef VOQ_RECORDER_EDFHEADER_H
#define VOQ_RECORDER_EDFHEADER_H

#include <cstdint>
#include <string>
#include <vector>

namespace voqrec {

struct EdfSignalInfo {
    std::string label;          // trailing blanks removed
    int64_t samples = 0;        // samples in one data record
    int64_t offset = 0;         // bytes from the start of a data record
    int64_t bytes = 0;          // bytes in one data record
    bool annotations = false;   // an "EDF Annotations" / "BDF Annotations" signal
};

struct EdfHeader {
    bool bdf = false;           // 24-bit samples (else 16-bit)
    bool plus = false;          // EDF+ / BDF+ (the reserved field says so)
    int64_t headerBytes = 0;
    int64_t records = -1;       // -1 when the header says "unknown"
    double recordSeconds = 0.0;
    int64_t recordBytes = 0;
    std::vector<EdfSignalInfo> signals;

    // The first signal that is not an annotation signal, or NULL.
    const EdfSignalInfo* FirstDataSignal() const;
    // Its samples per second (0 when there is none).
    double SamplingRate() const;
};

// Reads the header of the file open on `fd`.  Returns "" on success, or
// why it is not a readable EDF/BDF header ("not an EDF or BDF file", "its
// header is incomplete", or the field that does not read).
std::string ReadEdfHeader(int fd, EdfHeader& header);

// The byte offset of the record count in the fixed header, and its width.
const int64_t kRecordCountOffset = 236;
const int64_t kRecordCountWidth = 8;

// The layout a file's header declares.
struct FileLayout {
    int64_t headerBytes = 0;
    int64_t recordBytes = 0;
    int64_t records = -1;       // -1 when the header says "unknown"
};

// Reads the layout from the header of the file open on `fd`; false when the
// header is incomplete or unreadable.
bool ReadFileLayout(int fd, FileLayout& layout);

}  // namespace voqrec

#endif
