// Making a recording file whole again after the program that wrote it died
// (a crash, a kill, a power cut) or after it was cut short.
//
// Such a file still says in its header that its length is unknown (or its
// size disagrees with the header), and its annotations, which are written
// when a file is closed, are missing.  The repair keeps its complete data
// records, sets the record count, and writes the rows of its events file
// (EventsFile.h) into the annotation signals of those records, so that every
// reader opens an ordinary BDF+/EDF+ file with all its events.  Rows after
// the last complete record are left out (they stay in the events file).
//
// The repaired file is written beside the original ("NAME.bdf.repairing"),
// put on the disk, and only then renamed over it: nothing is changed until
// the repaired file is complete, and nothing at all on a failure.
#ifndef VOQ_RECORDER_REPAIR_H
#define VOQ_RECORDER_REPAIR_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace voqrec {

// True when the file at `path` needs repairing: its header says that its
// length is unknown, or its size disagrees with the header.  False when it
// was closed properly.  Throws RecorderError when it cannot be read or is
// not an EDF or BDF file.
bool NeedsRepair(const std::string& path);

struct RepairResult {
    bool repaired = false;      // false: closed properly, nothing changed
    int64_t records = 0;        // data records in the file
    double seconds = 0.0;       // their length
    bool eventsFile = false;    // an events file was found beside it
    size_t events = 0;          // annotations written from it
    size_t leftOut = 0;         // its rows after the last complete record
    int64_t bytesCut = 0;       // bytes after the last complete record
    std::string report;         // one line for the user
};

// Repairs the file at `path` as described above, or says that it was closed
// properly.  Throws RecorderError, with nothing changed, when the file is not
// an EDF or BDF file, its header is incomplete, it holds no complete data
// record, its events file does not belong to it (an onset that is not its
// sample at the file's rate, a malformed row), its records lack the time
// stamp of an EDF+/BDF+ file, or the repaired file cannot be written.  One
// repair of a file at a time.
RepairResult RepairRecording(const std::string& path);

}  // namespace voqrec

#endif
