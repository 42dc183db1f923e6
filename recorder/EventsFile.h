// The events file beside every recording file: for "session.bdf" (and each
// numbered segment, "session-002.bdf", ...) a tab-separated
// "session_events.tsv" in the BIDS events convention, with a JSON sidecar
// "session_events.json" that describes its columns.
//
// The recording file gets its annotations only when it is closed; the events
// file gets each one as a row as soon as its sample is written, and is
// flushed to the system at once, so that a recording cut short (a crash, a
// kill, a power cut) keeps its events.  `voq repair` (RepairRecording)
// writes them back into the file's annotations.
//
// Columns, one row per annotation of the recording file and in the same
// order:
//   onset       seconds from the file's first sample, to 0.1 ms: the very
//               onset of the file's annotation as readers give it (the file
//               stores it plus the start's fraction of a second)
//   duration    seconds; 0 for an instant
//   trial_type  the kind: "trigger", "alarm", "data loss", "impedance",
//               "annotation", "link" (see kEventTypes)
//   value       the trigger's new value for a trigger, "n/a" otherwise
//   sample      the onset's sample in the file, counted from 0
//   annotation  the annotation's text in the file
#ifndef VOQ_RECORDER_EVENTSFILE_H
#define VOQ_RECORDER_EVENTSFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "RecordPlan.h"

namespace voqrec {

// One annotation of a recording file, with what its events-file row adds.
struct Annotation {
    int64_t onset = 0;          // 100-microsecond units from the start of the file
    int64_t duration = -1;      // same units; -1 when it has none
    std::string text;           // at most kMaxAnnotationText characters are kept
    uint64_t sample = 0;        // the sample of the onset, from the file's first
    std::string type = "annotation";   // the row's trial_type
    std::string value = "n/a";         // the row's value
};

// The kinds of events (trial_type), each with the description that the
// sidecar gives it.
struct EventType {
    const char* name;
    const char* description;
};
extern const std::vector<EventType> kEventTypes;
extern const char* const kTriggerEvent;      // "trigger"
extern const char* const kAlarmEvent;        // "alarm"
extern const char* const kDataLossEvent;     // "data loss"
extern const char* const kImpedanceEvent;    // "impedance"
extern const char* const kNoteEvent;         // "annotation"
extern const char* const kLinkEvent;         // "link"

// "dir/session.bdf" -> "dir/session_events.tsv" and "dir/session_events.json".
std::string EventsPath(const std::string& recordingPath);
std::string EventsSidecarPath(const std::string& recordingPath);

// Writes the events file of one recording file.
class EventsFile {
public:
    // Creates (or replaces) the events file and its sidecar beside
    // `recordingPath` and writes the column row.  Throws WriteError.
    explicit EventsFile(const std::string& recordingPath);
    ~EventsFile();   // closes quietly
    EventsFile(const EventsFile&) = delete;
    EventsFile& operator=(const EventsFile&) = delete;

    // Adds the row of one annotation (written by the next Flush).
    void Add(const Annotation& annotation);
    // Hands the rows added so far to the system; with `sync`, also waits
    // until they are on the disk.  Throws WriteError.
    void Flush(bool sync = false);
    // Flushes, syncs and closes.  Throws WriteError (closed all the same).
    void Close();
    // Closes and deletes the events file and its sidecar.
    void Remove();

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string sidecar_;
    std::string pending_;
    int fd_ = -1;
};

// Reads an events file: one annotation per row, in the file's order, with
// the line each came from in `lines`.  The columns are found by name
// (onset, sample and annotation are needed); "n/a" as the annotation is an
// empty text; a last line without its line end (cut off by a crash) is
// left out.  Throws RecorderError naming the file and line of a fault.
std::vector<Annotation> ReadEventsFile(const std::string& path, std::vector<int>* lines = nullptr);

// Seconds of a count of 100-microsecond units, as the events file and the
// recording file's annotations write them: "12", "0.0033", "1.25".
std::string UnitsText(int64_t units);

}  // namespace voqrec

#endif
