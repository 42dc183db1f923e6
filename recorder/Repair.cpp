#include "Repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "EdfHeader.h"
#include "EventsFile.h"
#include "FileIo.h"
#include "RecordPlan.h"

namespace voqrec {

namespace {

const size_t kWriteChunk = 1 << 20;
const int64_t kMaxRecordCount = 99999999;   // what the header's 8 characters hold

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    int Close() {
        const int result = fd_ >= 0 ? close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

RecorderError Failure(const std::string& path, const std::string& why) {
    return RecorderError("cannot repair " + path + ": " + why);
}

// Opens the file and reads its header; throws when it is not an EDF/BDF file.
void Inspect(const std::string& path, Descriptor& fd, EdfHeader& header, struct stat& info) {
    fd.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) throw Failure(path, std::strerror(errno));
    if (fstat(fd.Get(), &info) != 0) throw Failure(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode)) throw Failure(path, "not a file");
    const std::string why = ReadEdfHeader(fd.Get(), header);
    if (!why.empty()) throw Failure(path, why);
}

bool ClosedProperly(const EdfHeader& h, const struct stat& info) {
    return h.records >= 0 && static_cast<int64_t>(info.st_size) == h.headerBytes + h.records * h.recordBytes;
}

// One time-stamped annotation list of EDF+: onset (`start` being the
// first sample's, both in 100-microsecond units from the header's start
// time), duration, text, each ended as the format wants.
std::string Tal(const Annotation& a, int64_t start) {
    const int64_t onset = start + a.onset;
    std::string tal = (onset < 0 ? "-" : "+") + UnitsText(onset < 0 ? -onset : onset);
    if (a.duration > 0) tal += "\x15" + UnitsText(a.duration);
    tal += '\x14';
    for (char c : a.text) tal += (c == '\x14' || c == '\x15' || c == '\0') ? ' ' : c;
    tal += '\x14';
    tal += '\0';
    return tal;
}

// The length of the time-keeping list at the start of a record's first
// annotation signal ("+12.3" and two 0x14), or 0 when it has none; its onset
// (seconds from the header's start time) in 100-microsecond units goes to
// `onset`, rounded.
size_t TimeKeeping(const char* slot, size_t size, int64_t& onset) {
    if (size == 0 || (slot[0] != '+' && slot[0] != '-')) return 0;
    int64_t whole = 0, tenthsOfMicroseconds = 0;
    int decimals = -1;   // -1 before the point
    size_t i = 1;
    for (; i < size && ((slot[i] >= '0' && slot[i] <= '9') || (slot[i] == '.' && decimals < 0)); ++i) {
        if (slot[i] == '.') {
            decimals = 0;
        } else if (decimals < 0) {
            if (whole < 1000000000000LL) whole = whole * 10 + (slot[i] - '0');
        } else if (decimals < 7) {
            tenthsOfMicroseconds = tenthsOfMicroseconds * 10 + (slot[i] - '0');
            ++decimals;
        }
    }
    if (i == 1 || i + 2 > size || slot[i] != '\x14' || slot[i + 1] != '\x14') return 0;
    for (; decimals < 7; ++decimals) tenthsOfMicroseconds *= 10;
    onset = whole * 10000 + (tenthsOfMicroseconds + 500) / 1000;
    if (slot[0] == '-') onset = -onset;
    return i + 2;
}

// Rewrites the annotation signals of one data record: its time stamp, then
// as many of `events` from `next` on as fit.  The events' onsets count from
// the file's first sample, which the first record's time stamp places after
// the header's start time (by the start's fraction of a second): `start`
// is set from it.
void FillAnnotations(const std::string& path, const EdfHeader& h, int64_t index, char* record,
                     const std::vector<Annotation>& events, size_t& next, int64_t& start) {
    bool first = true;
    for (const EdfSignalInfo& s : h.signals) {
        if (!s.annotations) continue;
        char* slot = record + s.offset;
        const size_t size = static_cast<size_t>(s.bytes);
        size_t used = 0;
        if (first) {
            int64_t onset = 0;
            used = TimeKeeping(slot, size, onset);
            if (index == 0) start = onset;
            if (used == 0 || used >= size)
                throw Failure(path, "data record " + std::to_string(index + 1) +
                                        " has no time stamp in its annotation signal, as a BDF+ or EDF+ file must");
            slot[used++] = '\0';
            first = false;
        }
        std::memset(slot + used, 0, size - used);
        for (; next < events.size(); ++next) {
            const std::string tal = Tal(events[next], start);
            if (tal.size() > size - used) break;
            std::memcpy(slot + used, tal.data(), tal.size());
            used += tal.size();
        }
    }
}

// The rows of the events file that fall into the first `samples` samples,
// in onset order; checks that every row belongs to a file of this rate.
std::vector<Annotation> EventsToWrite(const std::string& path, const std::string& eventsPath, double rate,
                                      uint64_t samples, size_t& leftOut) {
    std::vector<Annotation> rows;
    std::vector<int> lines;
    try {
        rows = ReadEventsFile(eventsPath, &lines);
    } catch (const RecorderError& e) {
        throw Failure(path, e.what());
    }
    std::vector<Annotation> inside;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Annotation& a = rows[i];
        if (std::llabs(a.onset - OnsetUnits(a.sample, rate)) > 1) {
            char text[64];
            std::snprintf(text, sizeof text, "%g", rate);
            throw Failure(path, eventsPath + " does not belong to it: line " + std::to_string(lines[i]) +
                                    ": the onset " + UnitsText(a.onset) + " s is not sample " +
                                    std::to_string(a.sample) + " at its " + text + " samples per second");
        }
        if (a.sample < samples)
            inside.push_back(a);
        else
            ++leftOut;
    }
    std::stable_sort(inside.begin(), inside.end(),
                     [](const Annotation& x, const Annotation& y) { return x.onset < y.onset; });
    return inside;
}

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", s);
    return text;
}

}  // namespace

bool NeedsRepair(const std::string& path) {
    Descriptor fd;
    EdfHeader header;
    struct stat info;
    Inspect(path, fd, header, info);
    return !ClosedProperly(header, info);
}

RepairResult RepairRecording(const std::string& path) {
    Descriptor in;
    EdfHeader h;
    struct stat info;
    Inspect(path, in, h, info);
    RepairResult result;
    if (ClosedProperly(h, info)) {
        result.records = h.records;
        result.seconds = static_cast<double>(h.records) * h.recordSeconds;
        result.report = path + " was closed properly: nothing to repair";
        return result;
    }

    const int64_t size = static_cast<int64_t>(info.st_size);
    int64_t kept = (size - h.headerBytes) / h.recordBytes;
    if (h.records >= 0) kept = std::min(kept, h.records);
    kept = std::min(kept, kMaxRecordCount);
    if (kept <= 0) throw Failure(path, "it holds no complete data record, so there is nothing to keep");
    result.records = kept;
    result.seconds = static_cast<double>(kept) * h.recordSeconds;
    result.bytesCut = size - h.headerBytes - kept * h.recordBytes;

    const std::string eventsPath = EventsPath(path);
    struct stat eventsInfo;
    result.eventsFile = stat(eventsPath.c_str(), &eventsInfo) == 0;
    std::vector<Annotation> events;
    if (result.eventsFile) {
        const EdfSignalInfo* data = h.FirstDataSignal();
        const bool hasAnnotationSignal =
            std::any_of(h.signals.begin(), h.signals.end(), [](const EdfSignalInfo& s) { return s.annotations; });
        if (!data || !hasAnnotationSignal || !(h.SamplingRate() > 0.0))
            throw Failure(path, "it is not a BDF+ or EDF+ file with data and annotation signals, so the events of " +
                                    eventsPath + " cannot go into it");
        events = EventsToWrite(path, eventsPath, h.SamplingRate(),
                               static_cast<uint64_t>(kept) * static_cast<uint64_t>(data->samples), result.leftOut);
    }

    // The repaired file, beside the original until it is complete.
    const std::string temporary = path + ".repairing";
    Descriptor out(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777));
    if (out.Get() < 0) throw Failure(path, "cannot create " + temporary + ": " + std::strerror(errno));
    try {
        auto writeFailure = [&] { return Failure(path, "cannot write " + temporary + ": " + std::strerror(errno)); };
        std::vector<char> header(static_cast<size_t>(h.headerBytes));
        if (ReadUpTo(in.Get(), header.data(), header.size(), 0) < header.size())
            throw Failure(path, std::string("cannot read it: ") + std::strerror(errno));
        char count[24];
        std::snprintf(count, sizeof count, "%-8lld", static_cast<long long>(kept));
        std::memcpy(header.data() + kRecordCountOffset, count, static_cast<size_t>(kRecordCountWidth));
        std::string chunk(header.begin(), header.end());

        std::vector<char> record(static_cast<size_t>(h.recordBytes));
        size_t next = 0;
        int64_t start = 0;
        for (int64_t r = 0; r < kept; ++r) {
            const off_t at = static_cast<off_t>(h.headerBytes + r * h.recordBytes);
            if (ReadUpTo(in.Get(), record.data(), record.size(), at) < record.size())
                throw Failure(path, std::string("cannot read it: ") + std::strerror(errno));
            if (result.eventsFile) FillAnnotations(path, h, r, record.data(), events, next, start);
            chunk.append(record.data(), record.size());
            if (chunk.size() >= kWriteChunk || r + 1 == kept) {
                if (!WriteAll(out.Get(), chunk.data(), chunk.size())) throw writeFailure();
                chunk.clear();
            }
        }
        if (next < events.size())
            throw Failure(path, "its annotation signals have no room for " + std::to_string(events.size() - next) +
                                    " of the " + std::to_string(events.size()) + " events");
        if (fsync(out.Get()) != 0) throw writeFailure();
        if (out.Close() != 0) throw writeFailure();
        if (rename(temporary.c_str(), path.c_str()) != 0)
            throw Failure(path, "cannot replace it with " + temporary + ": " + std::strerror(errno));
    } catch (...) {
        out.Close();
        unlink(temporary.c_str());
        throw;
    }
    // The rename itself reaches the disk with the directory.
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    Descriptor dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) fsync(dir.Get());

    result.repaired = true;
    result.events = events.size();
    std::string report = "repaired " + path + ": kept " + std::to_string(kept) + " data records (" +
                         Seconds(result.seconds) + ")";
    if (result.bytesCut > 0) report += ", cut off " + std::to_string(result.bytesCut) + " bytes after them";
    if (result.eventsFile) {
        report += ", wrote " + std::to_string(result.events) + " events from " + eventsPath;
        if (result.leftOut > 0)
            report += " (" + std::to_string(result.leftOut) + " after the last complete record left out)";
    } else {
        report += "; no events file " + eventsPath + ", so no events were added";
    }
    result.report = report;
    return result;
}

}  // namespace voqrec
