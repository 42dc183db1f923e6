// The recorder's C interface: each function runs its body in one frame that
// turns every exception into the stored error text of the calling thread.
#include "VOQRecorder.h"

#include <deque>
#include <string>

#include "CFrame.h"
#include "Recorder.h"
#include "Repair.h"

struct VOQRec_RecordingStruct {
    voqrec::Recorder recorder;
    std::deque<std::string> fileNames;   // only grows: returned texts stay valid
    VOQRec_RecordingStruct(VOQ_Headset headset, const std::string& path, const voqrec::RecordingOptions& options)
        : recorder(headset, path, options) {}
};

namespace {

thread_local voqrec::Failure gFailure;
thread_local std::string gRepairReport;

template <typename R, typename Body>
R Frame(R errorValue, Body&& body) {
    return voqrec::Frame(gFailure, "unknown failure inside the VOQ recorder", errorValue, body);
}

voqrec::Recorder& R(VOQRec_Recording r) {
    if (!r) throw voqrec::RecorderError("NULL recording");
    return r->recorder;
}

std::string PathArgument(const char* path) {
    if (!path) throw voqrec::RecorderError("NULL path");
    return path;
}

}  // namespace

const char* VOQRec_Error(void) { return gFailure.Text(); }

void VOQRec_ClearError(void) { gFailure.Clear(); }

const char* VOQRec_GetVersion(void) { return VOQ_VERSION_STRING; }

VOQRec_Recording VOQRec_Open(VOQ_Headset headset, const char* path, double segmentSeconds, int flags) {
    return Frame<VOQRec_Recording>(nullptr, [&] {
        voqrec::RecordingOptions options;
        options.segmentSeconds = segmentSeconds;
        options.overwrite = (flags & VOQREC_OVERWRITE) != 0;
        options.impedanceFirst = (flags & VOQREC_IMPEDANCE_FIRST) != 0;
        return new VOQRec_RecordingStruct(headset, path ? path : "", options);
    });
}

int VOQRec_Start(VOQRec_Recording r, double seconds) {
    return Frame<int>(0, [&] {
        R(r).Start(seconds);
        return 1;
    });
}

int VOQRec_Step(VOQRec_Recording r) {
    return Frame<int>(-1, [&] { return R(r).Step() ? 1 : 0; });
}

int VOQRec_Annotate(VOQRec_Recording r, const char* text) {
    return Frame<int>(0, [&] {
        R(r).Annotate(text ? text : "");
        return 1;
    });
}

int VOQRec_NoteRealTimeViolations(VOQRec_Recording r, unsigned long long count) {
    return Frame<int>(0, [&] {
        R(r).NoteRealTimeViolations(count);
        return 1;
    });
}

int VOQRec_Close(VOQRec_Recording r) {
    return Frame<int>(0, [&] {
        R(r).Close();
        return 1;
    });
}

void VOQRec_Delete(VOQRec_Recording r) { delete r; }

int VOQRec_NeedsRepair(const char* path) {
    return Frame<int>(-1, [&] { return voqrec::NeedsRepair(PathArgument(path)) ? 1 : 0; });
}

const char* VOQRec_Repair(const char* path) {
    return Frame<const char*>(nullptr, [&] {
        gRepairReport = voqrec::RepairRecording(PathArgument(path)).report;
        return gRepairReport.c_str();
    });
}

double VOQRec_GetSamplingRate(VOQRec_Recording r) {
    return Frame<double>(-1.0, [&] { return R(r).SamplingRate(); });
}

double VOQRec_GetSecondsWritten(VOQRec_Recording r) {
    return Frame<double>(-1.0, [&] { return R(r).SecondsWritten(); });
}

unsigned long long VOQRec_GetSamplesWritten(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().samplesWritten; });
}

unsigned long long VOQRec_GetOverflowedSamples(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().overflowedSamples; });
}

unsigned long long VOQRec_GetRealTimeViolations(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().realTimeViolations; });
}

unsigned long long VOQRec_GetTriggerChanges(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().triggerChanges; });
}

unsigned long long VOQRec_GetAnnotations(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().annotations; });
}

unsigned long long VOQRec_GetClippedValues(VOQRec_Recording r) {
    return Frame<unsigned long long>(0, [&] { return R(r).Stats().clippedValues; });
}

int VOQRec_HasTrigger(VOQRec_Recording r) {
    return Frame<int>(0, [&] { return R(r).HasTrigger() ? 1 : 0; });
}

unsigned int VOQRec_GetNumberOfFiles(VOQRec_Recording r) {
    return Frame<unsigned int>(0, [&] { return static_cast<unsigned int>(R(r).Files().size()); });
}

const char* VOQRec_GetFileName(VOQRec_Recording r, unsigned int index) {
    return Frame<const char*>(nullptr, [&] {
        const std::vector<std::string>& files = R(r).Files();
        if (index >= files.size())
            throw voqrec::RecorderError("file index " + std::to_string(index) + " is out of range (" +
                                        std::to_string(files.size()) + " files)");
        while (r->fileNames.size() <= index) r->fileNames.push_back(files[r->fileNames.size()]);
        return r->fileNames[index].c_str();
    });
}
