// One BDF+ or EDF+ file written with EDFlib: the header, whole data records,
// and the annotations handed over when it is closed; beside it, its events
// file (EventsFile.h), which gets each annotation's row as soon as it is
// known, so that a file that is never closed keeps its events.
//
// EDFlib reports no failed write: its buffered writes may fail (disk full, a
// file size limit, a lost device) while every call returns success, and on
// closing it still writes a record count the file does not have.  So the
// segment watches the file on a descriptor of its own: after every record it
// compares the file's size with what should have reached it (allowing for
// one stdio buffer not yet flushed) and notices a deleted file; a closed
// file is checked against its own header.  After a failure the file is
// repaired: its header gets the number of records that are complete on disk
// and the partial tail is cut off, so that every reader opens what was
// written before the failure.
#ifndef VOQ_RECORDER_EDFSEGMENT_H
#define VOQ_RECORDER_EDFSEGMENT_H

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "EdfHeader.h"
#include "EventsFile.h"
#include "RecordPlan.h"

namespace voqrec {

struct SignalParameters {
    std::string label;          // at most 16 printable ASCII characters
    std::string dimension;      // "uV", or "" for the trigger and other counts
    std::string prefilter;
    std::string transducer;
    double physicalMinimum = -1.0;
    double physicalMaximum = 1.0;
    int digitalMinimum = -32768;
    int digitalMaximum = 32767;
};

struct SegmentHeader {
    FileFormat format = FileFormat::BDF;
    RecordPlan plan;
    std::vector<SignalParameters> signals;
    std::string equipment;
    std::string recordingAdditional;
    double start = 0.0;         // calendar time of the first sample, seconds since the epoch
};

// Makes a file readable after a failed or interrupted write: sets the record
// count to the number of records complete on disk (at most `maxRecords`
// when that is not negative) and cuts off anything after them.  Returns that
// number; throws WriteError when the header itself is incomplete.
int64_t RepairFile(const std::string& path, int64_t maxRecords = -1);

class EdfSegment {
public:
    // Creates the file and writes nothing yet (EDFlib writes the header with
    // the first record); creates the events file and its sidecar.  Throws
    // RecorderError when they cannot be created.
    EdfSegment(const std::string& path, const SegmentHeader& header);
    ~EdfSegment();   // closes an open file quietly (repairing it if needed)
    EdfSegment(const EdfSegment&) = delete;
    EdfSegment& operator=(const EdfSegment&) = delete;

    // Allowed until the first record is written.
    void SetStart(double start);
    // One data record: samplesPerRecord values of signal 0, then of signal 1,
    // and so on.  Throws WriteError when the file stops growing or is gone.
    void WriteRecord(const double* values);
    // The row of one annotation for the events file (written by Flush).
    void Note(const Annotation& annotation);
    // Writes the rows noted so far to the events file, and at most once a
    // second waits until both files are on the disk.  Throws WriteError.
    void Flush();
    // Hands over the annotations (at most Capacity() are stored) and closes
    // the file and its events file (whose rows must have been noted).
    // Returns how many were stored.  After a failure the file is repaired
    // before WriteError is thrown.
    size_t Close(const std::vector<Annotation>& annotations);
    // Closes after a failure: keeps the records complete on disk and the
    // annotations that fit in them.  Returns the records kept.
    int64_t Abandon(const std::vector<Annotation>& annotations);
    // Closes and deletes a file that received no data record, and its
    // events file.
    void Discard();

    const std::string& Path() const { return path_; }
    uint64_t Records() const { return records_; }
    uint64_t Capacity() const { return records_ * static_cast<uint64_t>(header_.plan.annotationSignals); }
    bool IsOpen() const { return handle_ >= 0; }

private:
    void Check();
    std::string FailureReason(int64_t size);
    void CloseHandle(const std::vector<Annotation>& annotations, size_t count);

    std::string path_;
    SegmentHeader header_;
    int handle_ = -1;      // EDFlib's handle
    int watch_ = -1;       // our own read-only descriptor of the same file
    uint64_t records_ = 0;
    FileLayout layout_;    // exact once the header has reached the file
    bool layoutKnown_ = false;
    int64_t slack_ = 0;    // bytes EDFlib may hold back in its stdio buffer
    std::unique_ptr<EventsFile> events_;
    std::chrono::steady_clock::time_point lastSync_;
};

}  // namespace voqrec

#endif
