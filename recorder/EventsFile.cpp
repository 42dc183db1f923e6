#include "EventsFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FileIo.h"

namespace voqrec {

const char* const kTriggerEvent = "trigger";
const char* const kAlarmEvent = "alarm";
const char* const kDataLossEvent = "data loss";
const char* const kImpedanceEvent = "impedance";
const char* const kNoteEvent = "annotation";
const char* const kLinkEvent = "link";

const std::vector<EventType> kEventTypes = {
    {kTriggerEvent, "The trigger input changed to the value in the value column"},
    {kAlarmEvent, "An alarm of the headset (those pending when the recording started are marked (earlier))"},
    {kDataLossEvent, "Samples lost because they were not read in time, a real-time violation, the first value "
                     "beyond a signal's range, or samples repeated to complete the last data record"},
    {kImpedanceEvent, "An electrode impedance measured before the recording"},
    {kNoteEvent, "A note added by the program that recorded"},
    {kLinkEvent, "The link to the headset was lost (the last sample before the loss), or restored (the first "
                 "sample after it, with the number of samples missing)"},
};

namespace {

const char* const kColumns[] = {"onset", "duration", "trial_type", "value", "sample", "annotation"};

std::string StemOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

// A cell holds no tab or line end.
std::string Cell(const std::string& text) {
    if (text.empty()) return "n/a";
    std::string cell = text;
    for (char& c : cell)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return cell;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string SidecarText() {
    std::string levels;
    for (const EventType& t : kEventTypes)
        levels += std::string(levels.empty() ? "" : ",\n") + "      " + Json(t.name) + ": " + Json(t.description);
    return "{\n"
           "  \"onset\": {\n"
           "    \"Description\": \"Time of the event from the first sample of the recording file, to 0.1 ms "
           "(the onset of its annotation in the file)\",\n"
           "    \"Units\": \"s\"\n"
           "  },\n"
           "  \"duration\": {\n"
           "    \"Description\": \"Duration of the event; 0 for an instant\",\n"
           "    \"Units\": \"s\"\n"
           "  },\n"
           "  \"trial_type\": {\n"
           "    \"Description\": \"The kind of event\",\n"
           "    \"Levels\": {\n" +
           levels +
           "\n    }\n"
           "  },\n"
           "  \"value\": {\n"
           "    \"Description\": \"The trigger input's new value (0 to 255) for a trigger event, the samples missing for "
           "a restored link; n/a for the others\"\n"
           "  },\n"
           "  \"sample\": {\n"
           "    \"Description\": \"The sample of the onset in the recording file, counted from 0\"\n"
           "  },\n"
           "  \"annotation\": {\n"
           "    \"Description\": \"The text of the event's annotation in the recording file\"\n"
           "  }\n"
           "}\n";
}

// A decimal number of seconds as 100-microsecond units; false when the text
// is not one.
bool ParseUnits(const std::string& text, int64_t& units) {
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno != 0 || !(seconds >= 0.0) || seconds > 1e9)
        return false;
    units = static_cast<int64_t>(std::llround(seconds * 10000.0));
    return true;
}

}  // namespace

std::string EventsPath(const std::string& recordingPath) { return StemOf(recordingPath) + "_events.tsv"; }

std::string EventsSidecarPath(const std::string& recordingPath) { return StemOf(recordingPath) + "_events.json"; }

std::string UnitsText(int64_t units) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%04lld", static_cast<long long>(units / 10000),
                  static_cast<long long>(units % 10000));
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

EventsFile::EventsFile(const std::string& recordingPath)
    : path_(EventsPath(recordingPath)), sidecar_(EventsSidecarPath(recordingPath)) {
    const int sidecar = open(sidecar_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (sidecar < 0) throw WriteError("cannot create " + sidecar_ + ": " + std::strerror(errno));
    const std::string text = SidecarText();
    const bool written = WriteAll(sidecar, text.data(), text.size());
    const int writeErrno = errno;
    close(sidecar);
    if (!written) throw WriteError("cannot write " + sidecar_ + ": " + std::strerror(writeErrno));

    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const std::string why = std::strerror(errno);
        unlink(sidecar_.c_str());
        throw WriteError("cannot create " + path_ + ": " + why);
    }
    for (const char* column : kColumns) pending_ += std::string(pending_.empty() ? "" : "\t") + column;
    pending_ += '\n';
    Flush();
}

EventsFile::~EventsFile() {
    if (fd_ >= 0) close(fd_);
}

void EventsFile::Add(const Annotation& a) {
    pending_ += UnitsText(a.onset) + '\t' + UnitsText(std::max<int64_t>(0, a.duration)) + '\t' + Cell(a.type) +
                '\t' + Cell(a.value) + '\t' + std::to_string(a.sample) + '\t' + Cell(a.text) + '\n';
}

void EventsFile::Flush(bool sync) {
    if (fd_ < 0) throw WriteError("cannot write " + path_ + ": the file is closed");
    if (!pending_.empty()) {
        if (!WriteAll(fd_, pending_.data(), pending_.size()))
            throw WriteError("cannot write " + path_ + ": " + std::strerror(errno));
        pending_.clear();
    }
    if (sync && fdatasync(fd_) != 0) throw WriteError("cannot write " + path_ + ": " + std::strerror(errno));
}

void EventsFile::Close() {
    if (fd_ < 0) return;
    std::string failure;
    try {
        Flush(true);
    } catch (const WriteError& e) {
        failure = e.what();
    }
    if (close(fd_) != 0 && failure.empty()) failure = "cannot write " + path_ + ": " + std::strerror(errno);
    fd_ = -1;
    if (!failure.empty()) throw WriteError(failure);
}

void EventsFile::Remove() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
    unlink(path_.c_str());
    unlink(sidecar_.c_str());
}

std::vector<Annotation> ReadEventsFile(const std::string& path, std::vector<int>* lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw RecorderError("cannot read " + path + ": " + std::strerror(errno));
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    if (in.bad()) throw RecorderError("cannot read " + path);

    std::vector<Annotation> rows;
    if (lines) lines->clear();
    enum { kOnset, kDuration, kType, kValue, kSample, kText, kCount };
    int column[kCount];
    for (int& c : column) c = -1;
    size_t pos = 0;
    int line = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        if (end == std::string::npos) break;   // an unfinished last row
        std::string row = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (!row.empty() && row.back() == '\r') row.pop_back();
        std::vector<std::string> cells;
        for (size_t from = 0;;) {
            const size_t tab = row.find('\t', from);
            cells.push_back(row.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        auto fail = [&](const std::string& why) {
            return RecorderError(path + ": line " + std::to_string(line) + ": " + why);
        };
        if (line == 1) {
            for (size_t i = 0; i < cells.size(); ++i)
                for (int k = 0; k < kCount; ++k)
                    if (cells[i] == kColumns[k]) column[k] = static_cast<int>(i);
            for (int k : {kOnset, kSample, kText})
                if (column[k] < 0)
                    throw fail(std::string("no column \"") + kColumns[k] + "\": not an events file of a recording");
            continue;
        }
        if (row.empty()) continue;
        auto cell = [&](int k) -> std::string {
            if (column[k] < 0) return "n/a";
            if (static_cast<size_t>(column[k]) >= cells.size())
                throw fail("it has " + std::to_string(cells.size()) + " columns, fewer than the first line");
            return cells[static_cast<size_t>(column[k])];
        };
        Annotation a;
        if (!ParseUnits(cell(kOnset), a.onset)) throw fail("the onset \"" + cell(kOnset) + "\" is not a time");
        const std::string duration = cell(kDuration);
        int64_t units = 0;
        if (duration != "n/a" && !ParseUnits(duration, units))
            throw fail("the duration \"" + duration + "\" is not a time");
        a.duration = units > 0 ? units : -1;
        const std::string sample = cell(kSample);
        char* stop = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(sample.c_str(), &stop, 10);
        if (sample.empty() || sample[0] < '0' || sample[0] > '9' || *stop != '\0' || errno != 0)
            throw fail("the sample \"" + sample + "\" is not a sample number");
        a.sample = n;
        a.type = cell(kType);
        a.value = cell(kValue);
        a.text = cell(kText);
        if (a.text == "n/a") a.text.clear();
        rows.push_back(a);
        if (lines) lines->push_back(line);
    }
    if (line == 0) throw RecorderError(path + ": it is empty: not an events file of a recording");
    return rows;
}

}  // namespace voqrec
