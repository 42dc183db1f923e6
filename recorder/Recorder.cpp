#include "Recorder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "EdfSegment.h"
#include "LinkEvents.h"
#include "voq/Protocol.h"
#include "voq/Text.h"
#include "voq/Time.h"

namespace voqrec {

namespace {

enum EventKind : int32_t {
    kTrigger,
    kAlarm,
    kEarlierAlarm,
    kOverflow,
    kViolation,
    kClipped,
    kImpedance,
    kNote,
    kPadding,   // value: the samples added
    kLinkLost,
    kLinkRestored,   // value: the samples missing
};

const char* const kPaddingText = "Padding (not recorded)";
const double kBatchSeconds = 0.06;
const double kBatchLatency = 0.05;
const int kStopSeconds = 12;   // the worker's stop command may be resent for ~10 s

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// Takes the library's stored error; throws it, prefixed with `what`.
void CheckLibrary(const std::string& what) {
    const char* error = VOQ_ClearError();
    if (error) throw RecorderError(what + ": " + error);
}

std::string Number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

struct Recorder::Signal {
    VOQ_Channel channel = nullptr;
    SignalParameters parameters;
    double last = 0.0;
    bool clipReported = false;
};

struct Recorder::Event {
    uint64_t sample;   // index in the whole recording
    int32_t kind;
    int64_t value;
    bool noted = false;   // its row is in the events file
};

Recorder::Recorder(VOQ::Headset& headset, const std::string& path, const RecordingOptions& options)
    : Recorder(reinterpret_cast<VOQ_Headset>(&headset), path, options) {}

Recorder::Recorder(VOQ_Headset headset, const std::string& path, const RecordingOptions& options)
    : headset_(headset), path_(path), options_(options), format_(FormatOfPath(path)) {
    if (!headset_) throw RecorderError("cannot record: no headset");
    if (!(options_.segmentSeconds >= 0.0)) throw RecorderError("the segment length must not be negative");
    VOQ_ClearError();
    const int connected = VOQ_Headset_IsConnected(headset_);
    CheckLibrary("cannot record");
    if (!connected) throw RecorderError("cannot record: the headset is not connected");
    VOQ_ClearError();
    const double rate = VOQ_Headset_GetSamplingRate(headset_);
    CheckLibrary("cannot record");
    plan_ = PlanRecords(rate);
    Describe();
    if (!options_.overwrite) CheckExistingFiles();
    batchSize_ = static_cast<unsigned>(std::max(1L, std::lround(plan_.rate * kBatchSeconds)));
    if (options_.segmentSeconds > 0.0) {
        const double records = std::max(1.0, std::round(options_.segmentSeconds * plan_.rate / plan_.samplesPerRecord));
        segmentSamples_ = static_cast<uint64_t>(records) * static_cast<uint64_t>(plan_.samplesPerRecord);
    }
    const size_t n = signals_.size();
    record_.assign(n * static_cast<size_t>(plan_.samplesPerRecord), 0.0);
    batch_.assign(n * batchSize_, 0.0);
    times_.assign(batchSize_, 0.0);
}

Recorder::~Recorder() {
    if (!closed_) {
        try {
            Close();
        } catch (const std::exception&) {
            // Close() reports failures to those who call it; a destructor
            // can only make sure that the files are closed.
        }
    }
}

void Recorder::Describe() {
    const std::string what = "cannot record";
    VOQ_ClearError();
    const unsigned stages = VOQ_Headset_GetNumberOfProcessingStages(headset_);
    unsigned count = VOQ_Headset_GetNumberOfChannels(headset_);
    if (stages > 0) {
        VOQ_ProcessingStage last = VOQ_Headset_GetProcessingStageByIndex(headset_, stages - 1);
        count = VOQ_ProcessingStage_GetNumberOfChannels(last);
    }
    const std::vector<std::string> sourceNames = Split(Text(VOQ_Headset_GetSourceNames(headset_, 0x1FF)));
    const int filterMode = VOQ_Headset_GetFilterMode(headset_);
    const std::string model = Text(VOQ_Headset_GetHardwareModel(headset_));
    const unsigned serial = VOQ_Headset_GetSerialNumber(headset_);
    reference_ = Text(VOQ_Headset_GetReferenceString(headset_));
    CheckLibrary(what);
    if (count == 0) throw RecorderError("cannot record: the headset has no output channels (choose a montage)");

    // The trigger input's own source, to tell the plain trigger channel.
    VOQ_Source triggerSource = nullptr;
    if (std::find(sourceNames.begin(), sourceNames.end(), "TRG") != sourceNames.end()) {
        triggerSource = VOQ_Headset_GetSourceByName(headset_, "TRG");
        CheckLibrary(what);
    }

    // The filter stages first, in the EDF convention ("HP:1Hz LP:40Hz
    // N:50Hz") that readers take the high- and low-pass edges from, then the
    // headset's own filter; at most the field's 80 characters.
    const std::string filtering = Text(VOQ_Headset_GetPrefiltering(headset_));
    CheckLibrary(what);
    const std::string headsetFilter = filterMode == 0 ? std::string("headset filter off")
                                      : filterMode > 0 ? "headset filter mode " + std::to_string(filterMode)
                                                       : std::string();
    std::string prefilter = filterMode == 0 ? std::string("none (headset filter off)") : headsetFilter;
    if (!filtering.empty()) prefilter = filtering + (headsetFilter.empty() ? "" : " (" + headsetFilter + ")");
    prefilter = prefilter.substr(0, 80);
    std::vector<std::string> names, texts;
    for (unsigned i = 0; i < count; ++i) {
        Signal signal;
        signal.channel = VOQ_Headset_GetChannelByIndex(headset_, i);
        CheckLibrary(what);
        const std::string name = Text(VOQ_Channel_GetName(signal.channel));
        const std::string text = Text(VOQ_Channel_GetString(signal.channel));
        CheckLibrary(what);
        const std::vector<Term> terms = ParseChannelTerms(text, sourceNames);

        // The largest magnitude the channel can reach: each source's signal
        // is (reading - offset) x gain with a signed 16-bit reading, the
        // trigger sources carry at most a byte.
        double bound = 0.0;
        bool sensor = false;
        bool plainTrigger = terms.size() == 1 && triggerSource != nullptr && triggerSignal_ < 0;
        for (const Term& term : terms) {
            VOQ_Source source = VOQ_Headset_GetSourceByName(headset_, term.source.c_str());
            CheckLibrary(what);
            const double gain = VOQ_Source_GetGain(source);
            const bool trigger = VOQ_Source_IsTrigger(source) != 0;
            sensor = sensor || VOQ_Source_IsSensor(source) != 0;
            CheckLibrary(what);
            bound += std::fabs(term.weight * gain) * (trigger ? 255.0 : 32768.0);
            if (source != triggerSource || term.weight * gain != 1.0) plainTrigger = false;
        }

        SignalParameters& p = signal.parameters;
        if (plainTrigger) {
            triggerSignal_ = static_cast<int>(signals_.size());
            p.dimension = "";
            p.transducer = "trigger input";
            p.physicalMinimum = 0.0;
            p.physicalMaximum = 255.0;
            p.digitalMinimum = 0;
            p.digitalMaximum = 255;
            names.push_back("Trigger");
        } else {
            const double limit = PhysicalLimit(bound);
            p.dimension = sensor ? "uV" : "";
            p.transducer = sensor ? "dry electrode" : "";
            p.prefilter = sensor ? prefilter : "";
            p.physicalMinimum = -limit;
            p.physicalMaximum = limit;
            p.digitalMinimum = DigitalMinimum(format_);
            p.digitalMaximum = DigitalMaximum(format_);
            names.push_back(name);
        }
        texts.push_back(text);
        signals_.push_back(signal);
    }
    const std::vector<std::string> labels = UniqueLabels(names, texts);
    for (size_t i = 0; i < signals_.size(); ++i) signals_[i].parameters.label = labels[i];

    std::string equipment;
    if (!model.empty() && model != "???") equipment = model;
    if (serial != 0 && serial != 0xFFFFFFFFu) equipment += (equipment.empty() ? "SN" : " SN") + std::to_string(serial);
    equipment_ = equipment.empty() ? "VOQ headset" : equipment;
}

void Recorder::CheckExistingFiles() const {
    const std::vector<std::string> existing = ExistingSegments(path_);
    if (existing.empty()) return;
    std::string list;
    for (size_t i = 0; i < existing.size() && i < 3; ++i) list += (i ? ", " : "") + existing[i];
    if (existing.size() > 3) list += ", ...";
    throw RecorderError("will not overwrite " + list + ": choose another name, remove " +
                        (existing.size() > 1 ? "them" : "it") + ", or allow overwriting");
}

std::vector<std::string> Recorder::Labels() const {
    std::vector<std::string> labels;
    for (const Signal& s : signals_) labels.push_back(s.parameters.label);
    return labels;
}

template <typename Work>
auto Recorder::ClosingOnFailure(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const WriteError&) {
        Fail(true);
        throw;
    } catch (...) {
        Fail(false);
        throw;
    }
}

void Recorder::Start(double seconds) {
    if (closed_) throw RecorderError("the recording is closed");
    if (started_) throw RecorderError("the recording has started already");
    requestedSeconds_ = seconds;
    targetSamples_ = seconds >= 0.0 ? static_cast<int64_t>(std::llround(seconds * plan_.rate)) : -1;
    started_ = true;
    ClosingOnFailure([&] {
        // Until the first sample says when it was measured.
        start_ = VOQ_HostClock() + VOQ::CalendarMinusHostClock();
        OpenSegment();
        if (options_.impedanceFirst) MeasureImpedances();
        StartAcquisitionIfStopped();
        VOQ_ClearError();
        VOQ_Headset_ConfigureBatch(headset_, batchSize_, kBatchLatency);
        // Alarms that were waiting on the headset's list are noted at the
        // start, as earlier ones.
        for (int n = VOQ_Headset_GetNumberOfAlarms(headset_); n > 0; --n) {
            const int code = VOQ_Headset_GetAlarm(headset_, 1);
            if (code == 0) break;
            ++stats_.alarms;
            AddEvent(kEarlierAlarm, code, 0);
        }
        CheckLibrary("cannot start recording");
    });
    if (targetSamples_ == 0) finished_ = true;
}

void Recorder::StartAcquisitionIfStopped() {
    VOQ_ClearError();
    const int mode = VOQ_Headset_GetDataAcquisitionMode(headset_);
    CheckLibrary("cannot start recording");
    if (mode != 0) return;
    // What the buffers still hold came before the stream stopped: not part
    // of this recording.
    VOQ_ClearError();
    for (Signal& s : signals_) VOQ_Channel_FlushOutputBuffer(s.channel);
    CheckLibrary("cannot start recording");
    // The background worker starts the data stream, and stops it again when
    // it is asked to stop.
    VOQ_ClearError();
    const int started = VOQ_Headset_StartBackgroundAcquisition(headset_);
    CheckLibrary("cannot start acquisition");
    if (!started) throw RecorderError("cannot start acquisition: the acquisition thread did not start");
    startedAcquisition_ = true;
}

void Recorder::MeasureImpedances() {
    const std::string what = "cannot measure the impedances";
    VOQ_ClearError();
    impedanceDriverOn_ = true;
    VOQ_Headset_StartImpedanceDriver(headset_);
    CheckLibrary(what);
    StartAcquisitionIfStopped();

    // The estimates average over the impedance window; read them once it
    // has filled.  Meanwhile the output buffers are emptied, so that they
    // neither overflow nor carry the driver's tones into the file.
    VOQ_ClearError();
    VOQ_Headset_WaitForSamples(headset_, 1);
    CheckLibrary(what);
    const auto begin = std::chrono::steady_clock::now();
    auto flush = [this] {
        for (Signal& s : signals_) VOQ_Channel_FlushOutputBuffer(s.channel);
    };
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() <
           options_.impedanceSeconds) {
        VOQ_ClearError();
        VOQ_Headset_WaitForSamples(headset_, batchSize_);
        flush();
        CheckLibrary(what);
    }

    VOQ_ClearError();
    const unsigned n = VOQ_Headset_GetNumberOfSources(headset_);
    for (unsigned i = 0; i < n; ++i) {
        VOQ_Source source = VOQ_Headset_GetSourceByIndex(headset_, i);
        if (!source || !VOQ_Source_IsReferentialEEG(source) || VOQ_Source_IsFactoryReference(source)) continue;
        Impedance z;
        z.electrode = Text(VOQ_Source_GetName(source));
        z.kOhm = VOQ_Source_GetImpedanceEEG(source);
        impedances_.push_back(z);
    }
    CheckLibrary(what);
    VOQ_ClearError();
    VOQ_Headset_StopImpedanceDriver(headset_);
    impedanceDriverOn_ = false;
    CheckLibrary("cannot stop the impedance driver");
    VOQ_ClearError();
    flush();
    CheckLibrary(what);
    for (size_t i = 0; i < impedances_.size(); ++i) AddEvent(kImpedance, static_cast<int64_t>(i), 0);
}

bool Recorder::Step() {
    if (closed_ || finished_) return false;
    if (!started_) throw RecorderError("the recording has not started");
    return ClosingOnFailure([&]() -> bool {
        TakeLinkEvents();
        if (link_ == LinkAway::Reconnecting) {
            // The wait would last until the link is back: look again soon,
            // so that the caller stays responsive.
            VOQ_ClearError();
            const size_t level = VOQ_Headset_GetNumberOfBufferedSamples(headset_);
            CheckLibrary("cannot record");
            if (level < batchSize_) {
                VOQ_Sleep(0.02);
                return true;
            }
        }
        VOQ_ClearError();
        VOQ_Headset_WaitForBatch(headset_);
        if (const char* error = VOQ_ClearError()) {
            // A link that did not come back ends the file with its loss.
            const std::string text = error;
            TakeLinkEvents();
            if (link_ != LinkAway::No && stats_.samplesWritten > segmentFirst_)
                AddEvent(kLinkLost, 0, stats_.samplesWritten - 1);
            throw RecorderError("no samples from the headset: " + text);
        }
        TakeLinkEvents();
        if (firstBatch_) {
            VOQ_ClearError();
            overflowBase_ = VOQ_Headset_GetNumberOfOverflowedSamples(headset_);
            CheckLibrary("cannot record");
        }
        const size_t n = signals_.size();
        VOQ_ClearError();
        for (size_t k = 0; k < n; ++k)
            for (unsigned j = 0; j < batchSize_; ++j) batch_[j * n + k] = VOQ_Channel_ReadBuffered(signals_[k].channel);
        // When each sample was measured, on the host's monotonic clock.
        if (VOQ_Headset_GetSampleTimes(headset_, times_.data(), batchSize_) != batchSize_ && !VOQ_Error())
            throw RecorderError("cannot record: the times of the samples read are no longer kept");
        CheckLibrary("cannot read the samples");
        if (firstBatch_) {
            // The file starts when its first sample was measured.
            start_ = times_[0] + VOQ::CalendarMinusHostClock();
            segment_->SetStart(start_);
            firstBatch_ = false;
        }

        uint64_t take = batchSize_;
        if (targetSamples_ >= 0)
            take = std::min<uint64_t>(take, static_cast<uint64_t>(targetSamples_) - stats_.samplesWritten);
        for (uint64_t j = 0; j < take; ++j) {
            if (!gaps_.empty() && gaps_.front().restored && gaps_.front().sample <= stats_.samplesWritten) {
                ContinueAfterGap(gaps_.front().missing, times_[j]);
                gaps_.pop_front();
            }
            AppendSample(&batch_[j * n], times_[j]);
        }
        PollHeadset();
        NoteEvents();
        if (targetSamples_ >= 0 && stats_.samplesWritten >= static_cast<uint64_t>(targetSamples_)) finished_ = true;
        return !finished_;
    });
}

void Recorder::TakeLinkEvents() {
    // The samples written so far are the samples read so far.
    voqrec::TakeLinkEvents(headset_, stats_.samplesWritten, [this](int kind, uint64_t gap, uint64_t missing) {
        if (kind == VOQ_LINK_LOST) {
            link_ = LinkAway::Reconnecting;
            gaps_.push_back(Gap{gap, 0, false});
        } else if (kind == VOQ_LINK_RESTORED) {
            link_ = LinkAway::No;
            if (!gaps_.empty() && !gaps_.back().restored) {
                gaps_.back().restored = true;
                gaps_.back().missing = missing;
            }
        } else {
            link_ = LinkAway::GaveUp;
        }
    });
    CheckLibrary("cannot record");
}

void Recorder::ContinueAfterGap(uint64_t missing, double hostTime) {
    ++stats_.linkLosses;
    stats_.samplesMissing += missing;
    if (stats_.samplesWritten > segmentFirst_) {
        // The open file ends with the loss; the next one starts after the
        // gap, at the time of its first sample.
        AddEvent(kLinkLost, 0, stats_.samplesWritten - 1);
        CloseSegment(false);
        start_ = hostTime + VOQ::CalendarMinusHostClock();
        OpenSegment();
    } else {
        AddEvent(kLinkLost, 0, stats_.samplesWritten);
    }
    AddEvent(kLinkRestored, static_cast<int64_t>(missing), stats_.samplesWritten);
}

void Recorder::PollHeadset() {
    VOQ_ClearError();
    for (int code = VOQ_Headset_GetAlarm(headset_, 1); code != 0; code = VOQ_Headset_GetAlarm(headset_, 1)) {
        ++stats_.alarms;
        AddEvent(kAlarm, code, stats_.samplesWritten);
    }
    const uint64_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(headset_);
    CheckLibrary("cannot record");
    if (overflowed > overflowBase_) {
        const uint64_t lost = overflowed - overflowBase_;
        overflowBase_ = overflowed;
        stats_.overflowedSamples += lost;
        AddEvent(kOverflow, static_cast<int64_t>(lost), stats_.samplesWritten);
    } else if (overflowed < overflowBase_) {
        overflowBase_ = overflowed;   // the buffers were flushed or reallocated
    }
}

void Recorder::Annotate(const std::string& text) {
    if (closed_) throw RecorderError("the recording is closed");
    // Control characters would end the annotation early in the file and the
    // row in the events file.
    std::string note = text.substr(0, static_cast<size_t>(kMaxAnnotationText));
    for (char& c : note)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    notes_.push_back(note);
    AddEvent(kNote, static_cast<int64_t>(notes_.size() - 1), stats_.samplesWritten);
}

void Recorder::NoteRealTimeViolations(uint64_t count) {
    if (closed_) return;
    for (uint64_t k = 0; k < count; ++k) AddEvent(kViolation, 0, stats_.samplesWritten);
    stats_.realTimeViolations += count;
}

void Recorder::AddEvent(int kind, int64_t value, uint64_t sample) {
    events_.push_back(Event{sample, static_cast<int32_t>(kind), value});
}

void Recorder::AppendSample(const double* values, double hostTime) {
    if (segmentSamples_ != 0 && stats_.samplesWritten - segmentFirst_ == segmentSamples_) {
        CloseSegment(false);
        start_ = hostTime + VOQ::CalendarMinusHostClock();
        OpenSegment();
    }
    const uint64_t index = stats_.samplesWritten;
    const size_t perRecord = static_cast<size_t>(plan_.samplesPerRecord);
    for (size_t i = 0; i < signals_.size(); ++i) {
        Signal& s = signals_[i];
        const double x = values[i];
        if (static_cast<int>(i) == triggerSignal_) {
            const int64_t t = std::isfinite(x) ? static_cast<int64_t>(std::llround(x)) : 0;
            if (t != trigger_) {
                trigger_ = t;
                ++stats_.triggerChanges;
                AddEvent(kTrigger, t, index);
            }
        }
        if (!(x >= s.parameters.physicalMinimum && x <= s.parameters.physicalMaximum)) {
            ++stats_.clippedValues;
            if (!s.clipReported) {
                s.clipReported = true;
                AddEvent(kClipped, static_cast<int64_t>(i), index);
            }
        }
        record_[i * perRecord + static_cast<size_t>(inRecord_)] = x;
        s.last = x;
    }
    ++stats_.samplesWritten;
    if (++inRecord_ == plan_.samplesPerRecord) WriteRecord();
}

void Recorder::WriteRecord() {
    segment_->WriteRecord(record_.data());
    inRecord_ = 0;
}

void Recorder::OpenSegment() {
    SegmentHeader header;
    header.format = format_;
    header.plan = plan_;
    for (const Signal& s : signals_) header.signals.push_back(s.parameters);
    header.equipment = equipment_;
    const char* version = VOQ_GetAPIVersion();
    header.recordingAdditional = std::string("VOQ SDK ") + (version ? version : "") +
                                 (reference_.empty() ? "" : ", reference " + reference_);
    header.start = start_;
    const std::string path = SegmentPath(path_, static_cast<unsigned>(files_.size() + 1));
    segment_.reset(new EdfSegment(path, header));
    files_.push_back(path);
    ++stats_.segments;
}

std::string Recorder::EventText(const Event& event) const {
    switch (event.kind) {
    case kTrigger: return "TRG " + std::to_string(event.value);
    case kAlarm: return std::string("Alarm ") + VOQ::AlarmName(static_cast<long>(event.value));
    case kEarlierAlarm: return std::string("Alarm ") + VOQ::AlarmName(static_cast<long>(event.value)) + " (earlier)";
    case kOverflow: return "Overflow: " + std::to_string(event.value) + " samples lost";
    case kViolation: return "Real-time violation";
    case kClipped: return "Clipped " + signals_[static_cast<size_t>(event.value)].parameters.label;
    case kImpedance: {
        const Impedance& z = impedances_[static_cast<size_t>(event.value)];
        return "Impedance " + z.electrode + (z.kOhm >= 0.0 ? Number(" %.1f kOhm", z.kOhm) : " unknown");
    }
    case kNote: return notes_[static_cast<size_t>(event.value)];
    case kPadding: return kPaddingText;
    case kLinkLost: return "link lost";
    case kLinkRestored: return "link restored, " + std::to_string(event.value) + " samples missing";
    default: return "Event";
    }
}

const char* Recorder::EventType(const Event& event) {
    switch (event.kind) {
    case kTrigger: return kTriggerEvent;
    case kAlarm:
    case kEarlierAlarm: return kAlarmEvent;
    case kOverflow:
    case kViolation:
    case kClipped:
    case kPadding: return kDataLossEvent;
    case kLinkLost:
    case kLinkRestored: return kLinkEvent;
    case kImpedance: return kImpedanceEvent;
    default: return kNoteEvent;
    }
}

Annotation Recorder::Place(const Event& e, uint64_t end) const {
    Annotation a;
    // Events after the segment's last sample are placed on it, except the
    // padding, which follows it.
    const uint64_t last = e.kind == kPadding ? e.sample : (end > segmentFirst_ ? end - 1 : end);
    a.sample = std::min(std::max(e.sample, segmentFirst_), last) - segmentFirst_;
    a.onset = OnsetUnits(a.sample, plan_.rate);
    if (e.kind == kPadding) a.duration = OnsetUnits(static_cast<uint64_t>(e.value), plan_.rate);
    a.text = EventText(e);
    a.type = EventType(e);
    if (e.kind == kTrigger || e.kind == kLinkRestored) a.value = std::to_string(e.value);
    return a;
}

void Recorder::NoteEvents() {
    if (!segment_) return;
    const uint64_t end = stats_.samplesWritten;
    for (size_t k = firstUnnoted_; k < events_.size(); ++k) {
        Event& e = events_[k];
        if (e.noted || e.sample >= end) continue;
        segment_->Note(Place(e, end));
        e.noted = true;
    }
    while (firstUnnoted_ < events_.size() && events_[firstUnnoted_].noted) ++firstUnnoted_;
    segment_->Flush();
}

std::vector<Annotation> Recorder::SegmentAnnotations(uint64_t end, bool lastOne, std::vector<Event>& later) {
    std::vector<Annotation> annotations;
    for (const Event& e : events_) {
        if (e.sample >= end && !lastOne) {
            later.push_back(e);
            continue;
        }
        annotations.push_back(Place(e, end));
        if (!e.noted) segment_->Note(annotations.back());
    }
    std::stable_sort(annotations.begin(), annotations.end(),
                     [](const Annotation& a, const Annotation& b) { return a.onset < b.onset; });
    return annotations;
}

void Recorder::CloseSegment(bool lastOne) {
    if (!segment_) return;
    const uint64_t end = stats_.samplesWritten;   // one past this segment's last sample
    if (end == segmentFirst_ && inRecord_ == 0) {
        // Nothing was recorded into it (stopped before the first batch).
        segment_->Discard();
        segment_.reset();
        files_.pop_back();
        --stats_.segments;
        events_.clear();
        return;
    }

    // This segment's events; later ones wait for the next segment.
    std::vector<Event> later;
    std::vector<Annotation> annotations = SegmentAnnotations(end, lastOne, later);
    try {
        // Complete the last record, then add records while the annotations
        // outnumber the room; the padding repeats the last values, flagged.
        uint64_t padded = 0;
        auto pad = [this, &padded] {
            const size_t perRecord = static_cast<size_t>(plan_.samplesPerRecord);
            while (inRecord_ < plan_.samplesPerRecord) {
                for (size_t i = 0; i < signals_.size(); ++i)
                    record_[i * perRecord + static_cast<size_t>(inRecord_)] = signals_[i].last;
                ++inRecord_;
                ++padded;
            }
            WriteRecord();
        };
        if (inRecord_ > 0) pad();
        while (annotations.size() + (padded > 0 ? 1 : 0) > segment_->Capacity()) pad();
        if (padded > 0) {
            annotations.push_back(Place(Event{end, kPadding, static_cast<int64_t>(padded)}, end));
            segment_->Note(annotations.back());
        }
        stats_.samplesPadded += padded;
        std::unique_ptr<EdfSegment> segment(std::move(segment_));
        segmentFirst_ = end;
        events_.swap(later);
        firstUnnoted_ = 0;
        stats_.annotations += segment->Close(annotations);
    } catch (const WriteError&) {
        // Keep what reached the file, with the annotations that fit in it.
        if (segment_) {
            const uint64_t inSegment = end - segmentFirst_;
            uint64_t kept = 0;
            try {
                kept = static_cast<uint64_t>(segment_->Abandon(annotations)) *
                       static_cast<uint64_t>(plan_.samplesPerRecord);
            } catch (const RecorderError&) {
            }
            stats_.samplesLost += inSegment - std::min(kept, inSegment);
            segment_.reset();
        }
        throw;
    }
}

void Recorder::StopAcquisition() {
    std::string failure;
    if (impedanceDriverOn_) {
        impedanceDriverOn_ = false;
        VOQ_ClearError();
        VOQ_Headset_StopImpedanceDriver(headset_);
        const char* error = VOQ_ClearError();
        if (error) failure = std::string("cannot stop the impedance driver: ") + error;
    }
    if (startedAcquisition_) {
        startedAcquisition_ = false;
        VOQ_ClearError();
        VOQ_Headset_StopBackgroundAcquisition(headset_);
        const char* error = VOQ_ClearError();
        if (error && failure.empty()) failure = std::string("cannot stop acquisition: ") + error;
        // The worker stops the data stream on its way out; wait for that, so
        // that the headset is left as it was found.
        const auto begin = std::chrono::steady_clock::now();
        while (!error && VOQ_Headset_GetDataAcquisitionMode(headset_) > 0) {
            if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(kStopSeconds)) {
                if (failure.empty()) failure = "cannot stop acquisition: the headset is still streaming";
                break;
            }
            VOQ_Sleep(0.005);
        }
        VOQ_ClearError();
    }
    if (!failure.empty()) throw RecorderError(failure);
}

void Recorder::Fail(bool fileBroken) {
    if (closed_) return;
    closed_ = true;
    finished_ = true;
    try {
        StopAcquisition();
    } catch (const RecorderError&) {
        // The failure being reported matters more.
    }
    if (!segment_) return;
    if (!fileBroken) {
        try {
            CloseSegment(true);
        } catch (const RecorderError&) {
            // CloseSegment kept what the file holds; the first failure is
            // the one reported.
        }
        return;
    }
    // A write failed: keep the records that reached the file and the
    // annotations that fit in them.
    std::vector<Event> later;
    const std::vector<Annotation> annotations = SegmentAnnotations(stats_.samplesWritten, true, later);
    const uint64_t inSegment = stats_.samplesWritten - segmentFirst_;
    uint64_t kept = 0;
    try {
        kept = static_cast<uint64_t>(segment_->Abandon(annotations)) * static_cast<uint64_t>(plan_.samplesPerRecord);
    } catch (const RecorderError&) {
    }
    stats_.samplesLost += inSegment - std::min(kept, inSegment);
    segment_.reset();
}

void Recorder::Close() {
    if (closed_) return;
    closed_ = true;
    finished_ = true;
    std::string failure;
    try {
        StopAcquisition();
    } catch (const RecorderError& e) {
        failure = e.what();
    }
    try {
        CloseSegment(true);
    } catch (const WriteError& e) {
        failure = e.what();
    }
    if (!failure.empty()) throw RecorderError(failure);
}

}  // namespace voqrec
