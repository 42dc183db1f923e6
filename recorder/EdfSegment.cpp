#include "EdfSegment.h"

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace voqrec {

namespace {

// EDFlib reserves this many bytes per record for each annotation signal
// (used only to estimate the file size until the header is on disk).
const int64_t kAnnotationSignalBytes = 114;
const int64_t kMinimumSlack = 64 * 1024;

std::string EdfOpenFailure(int code, int savedErrno) {
    switch (code) {
    case EDFLIB_MALLOC_ERROR: return "out of memory";
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY:
        return savedErrno != 0 ? std::string(std::strerror(savedErrno)) : "no such file or directory";
    case EDFLIB_MAXFILES_REACHED: return "too many files open";
    case EDFLIB_FILE_ALREADY_OPENED: return "the file is open already";
    case EDFLIB_NUMBER_OF_SIGNALS_INVALID: return "too many signals";
    default: return "EDFlib error " + std::to_string(code);
    }
}

}  // namespace

int64_t RepairFile(const std::string& path, int64_t maxRecords) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) throw WriteError("cannot repair " + path + ": " + std::strerror(errno));
    FileLayout layout;
    struct stat info;
    if (fstat(fd, &info) != 0 || !ReadFileLayout(fd, layout)) {
        close(fd);
        throw WriteError("cannot repair " + path + ": its header is incomplete");
    }
    int64_t complete = (static_cast<int64_t>(info.st_size) - layout.headerBytes) / layout.recordBytes;
    if (complete < 0) complete = 0;
    if (maxRecords >= 0) complete = std::min(complete, maxRecords);
    // The header's record count has eight characters.
    complete = std::min<int64_t>(complete, 99999999);
    char count[24];
    std::snprintf(count, sizeof count, "%-8lld", static_cast<long long>(complete));
    const bool written = pwrite(fd, count, kRecordCountWidth, kRecordCountOffset) == kRecordCountWidth;
    const int writeErrno = errno;
    const bool truncated = ftruncate(fd, static_cast<off_t>(layout.headerBytes + complete * layout.recordBytes)) == 0;
    const int truncateErrno = errno;
    fsync(fd);
    close(fd);
    if (!written) throw WriteError("cannot repair " + path + ": " + std::strerror(writeErrno));
    if (!truncated) throw WriteError("cannot repair " + path + ": " + std::strerror(truncateErrno));
    return complete;
}

EdfSegment::EdfSegment(const std::string& path, const SegmentHeader& header) : path_(path), header_(header) {
    const int signals = static_cast<int>(header.signals.size());
    const int type = header.format == FileFormat::BDF ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS;
    errno = 0;
    handle_ = edfopen_file_writeonly(path.c_str(), type, signals);
    if (handle_ < 0) {
        const int code = handle_;
        handle_ = -1;
        throw RecorderError("cannot create " + path + ": " + EdfOpenFailure(code, errno));
    }
    try {
        auto require = [this](int result, const std::string& what) {
            if (result != 0) throw RecorderError("cannot prepare " + path_ + ": EDFlib refused " + what);
        };
        const RecordPlan& plan = header.plan;
        for (int i = 0; i < signals; ++i) {
            const SignalParameters& s = header.signals[static_cast<size_t>(i)];
            const std::string of = " of signal " + s.label;
            require(edf_set_samplefrequency(handle_, i, plan.samplesPerRecord), "the samples per record" + of);
            require(edf_set_physical_maximum(handle_, i, s.physicalMaximum), "the physical maximum" + of);
            require(edf_set_physical_minimum(handle_, i, s.physicalMinimum), "the physical minimum" + of);
            require(edf_set_digital_maximum(handle_, i, s.digitalMaximum), "the digital maximum" + of);
            require(edf_set_digital_minimum(handle_, i, s.digitalMinimum), "the digital minimum" + of);
            require(edf_set_label(handle_, i, s.label.c_str()), "the label" + of);
            require(edf_set_physical_dimension(handle_, i, s.dimension.c_str()), "the physical dimension" + of);
            require(edf_set_prefilter(handle_, i, s.prefilter.c_str()), "the prefiltering" + of);
            require(edf_set_transducer(handle_, i, s.transducer.c_str()), "the transducer" + of);
        }
        require(edf_set_datarecord_duration(handle_, plan.durationUnits), "the data record duration");
        require(edf_set_number_of_annotation_signals(handle_, plan.annotationSignals),
                "the number of annotation signals");
        require(edf_set_equipment(handle_, header.equipment.c_str()), "the equipment");
        require(edf_set_recording_additional(handle_, header.recordingAdditional.c_str()),
                "the recording's description");
        SetStart(header.start);

        watch_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (watch_ < 0) throw RecorderError("cannot watch " + path + ": " + std::strerror(errno));
        struct stat info;
        const int64_t block = fstat(watch_, &info) == 0 ? static_cast<int64_t>(info.st_blksize) : 0;
        layout_.headerBytes = 256 * (signals + plan.annotationSignals + 1);
        layout_.recordBytes = (header.format == FileFormat::BDF ? 3 : 2) *
                                  static_cast<int64_t>(signals) * plan.samplesPerRecord +
                              kAnnotationSignalBytes * plan.annotationSignals;
        slack_ = std::max(kMinimumSlack, 2 * block) + 2 * layout_.recordBytes;
        events_.reset(new EventsFile(path));
        lastSync_ = std::chrono::steady_clock::now();
    } catch (...) {
        CloseHandle({}, 0);
        if (watch_ >= 0) close(watch_);
        watch_ = -1;
        unlink(path.c_str());
        throw;
    }
}

EdfSegment::~EdfSegment() {
    if (handle_ >= 0) {
        try {
            Abandon({});
        } catch (...) {
            // The owner has already reported the failure that brought it here.
        }
    }
    if (watch_ >= 0) close(watch_);
}

void EdfSegment::SetStart(double start) {
    if (handle_ < 0) return;
    if (!(start > 0.0 && start < 1e11))
        throw RecorderError("cannot prepare " + path_ + ": the start time is not a calendar time");
    // The header's date and time hold whole seconds; the rest goes into the
    // first time-keeping annotation, and EDFlib adds it to every annotation's
    // onset.  It adds it in whole annotation units (100 microseconds, the
    // rest cut off), so the fraction is rounded to a whole unit here:
    // otherwise an annotation at the first sample would fall before the
    // file's start and readers would drop it.
    const int64_t units = std::llround(start * 1e4);
    const std::time_t whole = static_cast<std::time_t>(units / 10000);
    const int fraction = static_cast<int>(units % 10000);
    std::tm local;
    if (localtime_r(&whole, &local) == nullptr)
        throw RecorderError("cannot prepare " + path_ + ": the start time is not a calendar time");
    header_.start = start;
    const int year = local.tm_year + 1900;
    if (year < 1985 || year > 2084)
        throw RecorderError("cannot prepare " + path_ + ": the clock says " + std::to_string(year) +
                            ", but the file format takes start dates from 1985 to 2084 only");
    if (edf_set_startdatetime(handle_, year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                              local.tm_sec) != 0)
        throw RecorderError("cannot prepare " + path_ + ": EDFlib refused the start date and time");
    if (edf_set_subsecond_starttime(handle_, fraction * 1000) != 0)
        throw RecorderError("cannot prepare " + path_ + ": EDFlib refused the start time's fraction of a second");
}

void EdfSegment::WriteRecord(const double* values) {
    if (handle_ < 0) throw WriteError("cannot write " + path_ + ": the file is closed");
    const size_t n = static_cast<size_t>(header_.plan.samplesPerRecord);
    for (size_t i = 0; i < header_.signals.size(); ++i) {
        if (edfwrite_physical_samples(handle_, const_cast<double*>(values + i * n)) != 0) {
            struct stat info;
            const int64_t size = fstat(watch_, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
            throw WriteError("cannot write " + path_ + ": " + FailureReason(size));
        }
    }
    ++records_;
    Check();
}

void EdfSegment::Check() {
    struct stat info;
    if (fstat(watch_, &info) != 0) throw WriteError("cannot write " + path_ + ": " + std::strerror(errno));
    if (info.st_nlink == 0)
        throw WriteError("cannot write " + path_ + ": the file (or its directory) was deleted while recording");
    const int64_t size = static_cast<int64_t>(info.st_size);
    if (!layoutKnown_ && size >= layout_.headerBytes) {
        FileLayout onDisk;
        if (ReadFileLayout(watch_, onDisk)) {
            layout_.headerBytes = onDisk.headerBytes;
            layout_.recordBytes = onDisk.recordBytes;
            layoutKnown_ = true;
        }
    }
    const int64_t expected = layout_.headerBytes + static_cast<int64_t>(records_) * layout_.recordBytes;
    if (expected - size > slack_) throw WriteError("cannot write " + path_ + ": " + FailureReason(size));
}

std::string EdfSegment::FailureReason(int64_t size) {
    // EDFlib does not pass on why its writes failed; a one-byte write at the
    // end of the file meets the same obstacle and names it.
    const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    std::string reason = "the data stopped reaching the file";
    const char zero = 0;
    if (pwrite(fd, &zero, 1, static_cast<off_t>(size)) < 0)
        reason = std::strerror(errno);
    else if (ftruncate(fd, static_cast<off_t>(size)) != 0)
        reason = std::strerror(errno);
    close(fd);
    return reason;
}

void EdfSegment::Note(const Annotation& annotation) {
    if (events_) events_->Add(annotation);
}

void EdfSegment::Flush() {
    if (!events_) return;
    const auto now = std::chrono::steady_clock::now();
    const bool sync = now - lastSync_ >= std::chrono::seconds(1);
    events_->Flush(sync);
    if (sync) {
        // EDFlib's own buffer holds less than a data record; what it has
        // handed to the system goes to the disk with the events.
        if (watch_ >= 0 && fdatasync(watch_) != 0 && errno != EINVAL)
            throw WriteError("cannot write " + path_ + ": " + std::strerror(errno));
        lastSync_ = now;
    }
}

void EdfSegment::CloseHandle(const std::vector<Annotation>& annotations, size_t count) {
    if (handle_ < 0) return;
    for (size_t k = 0; k < count && k < annotations.size(); ++k) {
        const Annotation& a = annotations[k];
        std::string text = a.text.substr(0, static_cast<size_t>(kMaxAnnotationText));
        edfwrite_annotation_utf8(handle_, a.onset, a.duration, text.c_str());
    }
    edfclose_file(handle_);
    handle_ = -1;
}

size_t EdfSegment::Close(const std::vector<Annotation>& annotations) {
    if (handle_ < 0) return 0;
    std::string eventsFailure;
    try {
        if (events_) events_->Close();
    } catch (const WriteError& e) {
        eventsFailure = e.what();
    }
    const size_t count = static_cast<size_t>(std::min<uint64_t>(annotations.size(), Capacity()));
    CloseHandle(annotations, count);

    struct stat info;
    FileLayout onDisk;
    std::string problem;
    if (fstat(watch_, &info) != 0)
        problem = std::strerror(errno);
    else if (info.st_nlink == 0)
        problem = "the file (or its directory) was deleted while recording";
    else if (!ReadFileLayout(watch_, onDisk))
        problem = "its header did not reach the file";
    else if (onDisk.records != static_cast<int64_t>(records_) ||
             static_cast<int64_t>(info.st_size) != onDisk.headerBytes + onDisk.records * onDisk.recordBytes)
        problem = "the last data did not reach the file";
    if (problem.empty()) {
        if (!eventsFailure.empty()) throw WriteError(eventsFailure);
        return count;
    }

    std::string kept;
    if (info.st_nlink != 0) {
        try {
            const int64_t n = RepairFile(path_, static_cast<int64_t>(records_));
            kept = " (" + std::to_string(n) + " of " + std::to_string(records_) + " data records kept)";
        } catch (const WriteError&) {
        }
    }
    throw WriteError("cannot write " + path_ + ": " + problem + kept);
}

int64_t EdfSegment::Abandon(const std::vector<Annotation>& annotations) {
    if (handle_ < 0) return 0;
    struct stat info;
    int64_t keep = 0;
    FileLayout onDisk;
    const bool gone = fstat(watch_, &info) != 0 || info.st_nlink == 0;
    if (!gone && ReadFileLayout(watch_, onDisk)) {
        keep = (static_cast<int64_t>(info.st_size) - onDisk.headerBytes) / onDisk.recordBytes;
        keep = std::max<int64_t>(0, std::min<int64_t>(keep, static_cast<int64_t>(records_)));
    }
    // Only annotations that fall into the kept records, and only as many as
    // they hold, so that EDFlib writes nothing beyond them.
    const int64_t end = OnsetUnits(static_cast<uint64_t>(keep) * header_.plan.samplesPerRecord, header_.plan.rate);
    size_t count = 0;
    const size_t most = static_cast<size_t>(keep) * static_cast<size_t>(header_.plan.annotationSignals);
    while (count < annotations.size() && count < most && annotations[count].onset < end) ++count;
    CloseHandle(annotations, count);
    try {
        if (events_) events_->Close();
    } catch (const WriteError&) {
        // The failure that brought the segment here is the one reported.
    }
    if (gone) return 0;
    return RepairFile(path_, keep);
}

void EdfSegment::Discard() {
    CloseHandle({}, 0);
    unlink(path_.c_str());
    if (events_) events_->Remove();
}

}  // namespace voqrec
