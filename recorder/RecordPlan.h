// How a recording is laid out in BDF+ / EDF+ files: the format chosen by the
// file name, the names of the numbered segments, the length of a data record
// and the annotation capacity reserved in each, the channels' labels and
// physical ranges.  Pure functions, no headset and no file.
#ifndef VOQ_RECORDER_RECORDPLAN_H
#define VOQ_RECORDER_RECORDPLAN_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace voqrec {

// Every failure of the recorder: one line a user can act on.
class RecorderError : public std::runtime_error {
public:
    explicit RecorderError(const std::string& message) : std::runtime_error(message) {}
};

// A failure to write a file; the recorder stops at the first one.
class WriteError : public RecorderError {
public:
    explicit WriteError(const std::string& message) : RecorderError(message) {}
};

enum class FileFormat {
    BDF,   // BDF+: 24-bit samples
    EDF,   // EDF+: 16-bit samples
};

// ".bdf" gives BDF+, ".edf" EDF+ (any letter case); anything else throws.
FileFormat FormatOfPath(const std::string& path);
const char* FormatName(FileFormat format);   // "BDF+" or "EDF+"
int DigitalMinimum(FileFormat format);       // -8388608 or -32768
int DigitalMaximum(FileFormat format);       //  8388607 or  32767

// Segment 1 is `path` itself; segment n > 1 is the name with "-" and n in at
// least three digits before the extension: session.bdf, session-002.bdf,
// session-003.bdf, ...
std::string SegmentPath(const std::string& path, unsigned segment);
// The files of those names (segments 1 to 999) that exist already.
std::vector<std::string> ExistingSegments(const std::string& path);

// EDFlib keeps every annotation of a file in memory until the file is
// closed and then writes them one after the other into the annotation
// signals of the data records, as many per record as there are annotation
// signals; what does not fit is dropped without a word.  So a file holds
// at most records x annotationSignals annotations.  A plan reserves one
// annotation per sample of a record (a trigger change at every sample) plus
// kReservedEventsPerRecord for everything else.
const int kMaxAnnotationSignals = 64;        // EDFlib's limit
const int kReservedEventsPerRecord = 4;      // alarms, overflows, violations, notes
const int kMaxAnnotationText = 40;           // EDFlib cuts longer texts

struct RecordPlan {
    double rate = 0.0;            // samples per second
    int samplesPerRecord = 0;     // samples of each signal in one data record
    int durationUnits = 0;        // record duration in EDFlib's units of 10 microseconds
    int annotationSignals = 0;    // annotations one data record can hold
    double RecordSeconds() const { return durationUnits / 100000.0; }
};

// The longest record of at most 0.1 s (at least one sample) whose duration is
// a whole number of 10-microsecond units and whose annotation capacity
// covers a trigger change at every sample.  Throws, before anything is
// recorded, when the rate allows none.
RecordPlan PlanRecords(double rate);

// One term of a channel: a source by name and its weight.
struct Term {
    std::string source;
    double weight = 0.0;
};

// Reads a channel's text form as the library writes it ("F3-A1/2-A2/2",
// "Cz*3/2", "-Fz+Pz*0.25"), matching source names longest first among
// `sourceNames`.  Throws RecorderError when the text does not read.
std::vector<Term> ParseChannelTerms(const std::string& text, const std::vector<std::string>& sourceNames);

// The physical maximum (the minimum is its negative) of a channel whose
// values stay within +-bound: a whole number at least 1% above the bound,
// from 1 to 9999999, so that its 8 header characters hold it exactly and a
// reader converts the samples with the very factor the writer used.
double PhysicalLimit(double bound);

// Labels of at most 16 printable ASCII characters, unique: each wanted label
// (a channel's name) is kept when it is unique and not empty, otherwise the
// fallback (the channel's text form) is tried, and a number is appended
// when even that repeats.
std::vector<std::string> UniqueLabels(const std::vector<std::string>& wanted,
                                      const std::vector<std::string>& fallback);

// Onset of sample `index` in EDFlib's annotation units of 100 microseconds.
int64_t OnsetUnits(uint64_t index, double rate);

}  // namespace voqrec

#endif
