// Recording a headset's output channels to BDF+ (24-bit) or EDF+ (16-bit)
// files, written with EDFlib.
//
//     voqrec::Recorder recorder(headset, "session.bdf");   // a connected headset
//     recorder.Start(60.0);                                // seconds; negative: until Close()
//     while (recorder.Step()) { ... show recorder.Stats() ... }
//     recorder.Close();
//
// What a file holds:
//   - one signal per output channel (the last processing stage's channels, or
//     the montage), labelled with the channel's name, in microvolts ("uV"),
//     its physical range derived from the converter's range (signed 16-bit
//     readings) and the channel's weights and gains, the format's digital
//     range, the filter stages (EDF convention, "HP:1Hz LP:40Hz N:50Hz") and
//     the headset's filter mode as prefiltering text, the sampling
//     rate;
//   - the first channel that is the trigger input alone, as the signal
//     "Trigger" (0 to 255, stored digit for digit, so that readers take it as
//     a stimulus channel);
//   - header: equipment (hardware model and serial number), the start date
//     and time of the first sample's measurement (whole seconds; the
//     fraction, to 0.1 ms, in the first data record's time-keeping
//     annotation, which every annotation's onset in the file includes);
//   - annotations: "TRG <value>" at every sample where the trigger value
//     changes, "Alarm <name>" for the headset's alarms (those pending before
//     the recording at its start, as "Alarm <name> (earlier)"), "Overflow: N samples
//     lost" where samples were lost because they were not read in time,
//     "Real-time violation" where the caller reported one
//     (NoteRealTimeViolations), "Clipped <label>" at the first value of a
//     signal beyond its range, "Impedance <electrode> <kOhm> kOhm" at the
//     start when measured first, "Padding (not recorded)" over samples added
//     to complete the last data record, and the caller's own (Annotate).
//
// Nothing is dropped silently.  Every data record reserves room for a trigger
// change at every one of its samples plus a few other events; a sampling
// rate that does not allow it is refused when the recorder is made (see
// PlanRecords).  If events still outnumber the room when a file is closed,
// the file is padded with flagged records until they fit.
//
// Events files: beside every file, "session_events.tsv" (EventsFile.h) gets
// a row for each of its annotations, with the same onset, as soon as the
// event's sample is written, and is flushed at once (and put on the disk at
// least once a second, with the recording file).
//
// Segments and crashes: a file whose writer dies before closing it has no
// record count and no annotations, and most programs refuse it; RepairRecording
// (Repair.h) makes it whole again from its events file.  With a segment
// length, the recorder closes the file at that interval and continues in a
// new one (session.bdf, session-002.bdf, session-003.bdf, ...), so a crash
// leaves at most the open segment to repair.  Segments join without a gap:
// each starts at the sample after the previous one's last, with its own
// start time.
//
// A lost link: with reconnection on (VOQ_Headset_SetReconnect), the file
// ends at the last sample before the loss with the annotation "link lost",
// and the recording goes on in the next numbered file, which starts with
// "link restored, N samples missing" and whose start time is that of its
// first sample.  While the link is away Step() returns at once (after a
// short pause) instead of waiting for it; a link that does not come back
// ends the open file with "link lost" and fails the step.
//
// Failures: a file that cannot be written (disk full, a size limit, a deleted
// file or directory) stops the recording with a RecorderError; the records
// written before stay readable (the file is closed, its header corrected and
// any partial record cut off).  The recorder is then closed.
//
// Acquisition: if the headset is not acquiring, Start() starts background
// acquisition (which starts the data stream) and Close() stops it again;
// otherwise the recorder only reads.  It sets the batch (60 ms, 50 ms
// reserve) and takes the alarms off the headset's list as it annotates them.
// The montage must not change while recording.  Everything runs on the
// caller's thread, through the library's C interface, so a recorder works
// with the shared library as well as the static one.
#ifndef VOQ_RECORDER_RECORDER_H
#define VOQ_RECORDER_RECORDER_H

#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "RecordPlan.h"
#include "VOQ_API.h"

namespace VOQ {
class Headset;
}

namespace voqrec {

class EdfSegment;
struct Annotation;

struct RecordingOptions {
    // > 0: close the file and continue in a new numbered one every so many
    // seconds (rounded to whole data records); 0: one file.
    double segmentSeconds = 0.0;
    // Replace existing files; otherwise an existing file (or a numbered
    // segment of the same name) makes the recorder refuse to start.
    bool overwrite = false;
    // Measure the electrode impedances before recording (the impedance driver
    // runs for impedanceSeconds, then stops) and annotate them at the start.
    bool impedanceFirst = false;
    double impedanceSeconds = 1.5;
};

struct RecordingStats {
    uint64_t samplesWritten = 0;       // samples of each signal, padding not counted
    uint64_t samplesPadded = 0;
    uint64_t samplesLost = 0;          // written, but lost by a failed write
    uint64_t overflowedSamples = 0;    // lost before they were read
    uint64_t realTimeViolations = 0;
    uint64_t triggerChanges = 0;
    uint64_t alarms = 0;
    uint64_t clippedValues = 0;        // values beyond their signal's range
    uint64_t annotations = 0;          // stored in closed files
    uint64_t linkLosses = 0;           // losses of the link the recording went on after
    uint64_t samplesMissing = 0;       // samples those losses missed
    unsigned segments = 0;             // files begun
};

struct Impedance {
    std::string electrode;
    double kOhm = -1.0;                // -1: no estimate
};

class Recorder {
public:
    // Describes the headset's output channels and plans the files; creates
    // nothing yet.  Throws RecorderError for an unknown extension, a rate
    // that cannot be recorded, no output channels, or existing files.
    Recorder(VOQ_Headset headset, const std::string& path, const RecordingOptions& options = RecordingOptions());
    Recorder(VOQ::Headset& headset, const std::string& path, const RecordingOptions& options = RecordingOptions());
    ~Recorder();   // closes quietly when Close() was not called
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates the first file, measures impedances when asked, starts
    // acquisition when needed.  Records `seconds` (rounded to whole samples);
    // a negative value records until Close().
    void Start(double seconds);
    // Waits for one batch and writes it.  Returns false once the requested
    // time is recorded (and after Close()).  Throws RecorderError when the
    // headset fails or a file cannot be written; the recorder is closed then.
    bool Step();
    // An annotation at the next sample (cut to 40 characters; control
    // characters become blanks).
    void Annotate(const std::string& text);
    // Reports `count` real-time violations seen since the last call (for
    // example the library's "Real-time violation" messages); each is
    // annotated at the next sample.
    void NoteRealTimeViolations(uint64_t count);
    // Completes the last data record, stops what Start() started, closes the
    // file.  Throws RecorderError when the file could not be completed (the
    // recorder is closed all the same).  Closing twice does nothing.
    void Close();

    bool Started() const { return started_; }
    bool Finished() const { return finished_; }
    bool Closed() const { return closed_; }
    double SamplingRate() const { return plan_.rate; }
    const RecordPlan& Plan() const { return plan_; }
    FileFormat Format() const { return format_; }
    // Seconds requested by Start(); negative: open-ended.
    double RequestedSeconds() const { return requestedSeconds_; }
    double SecondsWritten() const { return double(stats_.samplesWritten) / plan_.rate; }
    const RecordingStats& Stats() const { return stats_; }
    // The files begun so far, the open one last.
    const std::vector<std::string>& Files() const { return files_; }
    // The signals' labels, in file order.
    std::vector<std::string> Labels() const;
    bool HasTrigger() const { return triggerSignal_ >= 0; }
    const std::vector<Impedance>& Impedances() const { return impedances_; }

private:
    struct Signal;
    struct Event;

    void Describe();
    void CheckExistingFiles() const;
    void OpenSegment();
    void CloseSegment(bool lastOne);
    void WriteRecord();
    void AppendSample(const double* values, double hostTime);
    void AddEvent(int kind, int64_t value, uint64_t sample);
    void PollHeadset();
    // Takes the headset's link events: where each gap falls among the
    // samples, and how many it misses.
    void TakeLinkEvents();
    // Ends the open file with the loss and starts the next one after the
    // gap, with the sample measured at `hostTime`.
    void ContinueAfterGap(uint64_t missing, double hostTime);
    void MeasureImpedances();
    void StopAcquisition();
    void Fail(bool fileBroken);
    // Runs `work` and gives what it returns; a failure closes the recording
    // (keeping what reached the file) and is thrown on.
    template <typename Work>
    auto ClosingOnFailure(Work&& work) -> decltype(work());
    void StartAcquisitionIfStopped();
    std::string EventText(const Event& event) const;
    static const char* EventType(const Event& event);
    // The one way from an event to what the files get: its annotation in the
    // open segment, which ends before sample `end`, and its events-file row.
    Annotation Place(const Event& event, uint64_t end) const;
    // Gives the open segment's events file the rows of the events before
    // the next sample, and flushes it.
    void NoteEvents();
    // The annotations of the open segment, which ends before sample `end`;
    // events from `end` on go to `later` unless this is the last segment.
    // The events file gets the rows it lacks.
    std::vector<Annotation> SegmentAnnotations(uint64_t end, bool lastOne, std::vector<Event>& later);

    VOQ_Headset headset_;
    std::string path_;
    RecordingOptions options_;
    FileFormat format_;
    RecordPlan plan_;
    std::vector<Signal> signals_;
    int triggerSignal_ = -1;
    std::string equipment_;
    std::string reference_;

    unsigned batchSize_ = 0;
    uint64_t segmentSamples_ = 0;      // 0: one segment
    int64_t targetSamples_ = -1;
    double requestedSeconds_ = -1.0;
    bool started_ = false;
    bool finished_ = false;
    bool closed_ = false;
    bool firstBatch_ = true;
    bool startedAcquisition_ = false;
    bool impedanceDriverOn_ = false;
    uint64_t overflowBase_ = 0;
    double start_ = 0.0;               // calendar time of the open segment's first sample

    std::unique_ptr<EdfSegment> segment_;
    std::vector<std::string> files_;
    std::vector<Event> events_;        // of the open segment, and those at its end
    size_t firstUnnoted_ = 0;          // events_ before it have their rows
    std::vector<std::string> notes_;   // texts of caller annotations
    std::vector<double> record_;       // one data record, signal after signal
    std::vector<double> batch_;        // one batch, sample after sample
    std::vector<double> times_;        // the host time of each of its samples
    int inRecord_ = 0;                 // samples in record_
    uint64_t segmentFirst_ = 0;        // first sample of the open segment
    int64_t trigger_ = 0;              // current trigger value
    std::vector<Impedance> impedances_;
    RecordingStats stats_;
    struct Gap {
        uint64_t sample;               // the first sample after it
        uint64_t missing;
        bool restored;
    };
    enum class LinkAway { No, Reconnecting, GaveUp };
    std::deque<Gap> gaps_;
    LinkAway link_ = LinkAway::No;
};

}  // namespace voqrec

#endif
