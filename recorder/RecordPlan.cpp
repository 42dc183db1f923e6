#include "RecordPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "voq/Text.h"

namespace voqrec {

namespace {

// Splits "dir/name.ext" into "dir/name" and ".ext" (no extension: "").
void SplitExtension(const std::string& path, std::string& stem, std::string& extension) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        stem = path;
        extension.clear();
    } else {
        stem = path.substr(0, dot);
        extension = path.substr(dot);
    }
}

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7F) ? c : '_';
    }
    return out;
}

std::string Cut(const std::string& text, size_t length) {
    return text.size() <= length ? text : text.substr(0, length);
}

}  // namespace

FileFormat FormatOfPath(const std::string& path) {
    std::string stem, extension;
    SplitExtension(path, stem, extension);
    const std::string e = Lower(extension);
    if (e == ".bdf") return FileFormat::BDF;
    if (e == ".edf") return FileFormat::EDF;
    throw RecorderError("cannot tell the file format of \"" + path +
                        "\": name it NAME.bdf (BDF+, 24-bit) or NAME.edf (EDF+, 16-bit)");
}

const char* FormatName(FileFormat format) { return format == FileFormat::BDF ? "BDF+" : "EDF+"; }

int DigitalMinimum(FileFormat format) { return format == FileFormat::BDF ? -8388608 : -32768; }

int DigitalMaximum(FileFormat format) { return format == FileFormat::BDF ? 8388607 : 32767; }

std::string SegmentPath(const std::string& path, unsigned segment) {
    if (segment <= 1) return path;
    std::string stem, extension;
    SplitExtension(path, stem, extension);
    char number[16];
    std::snprintf(number, sizeof number, "-%03u", segment);
    return stem + number + extension;
}

std::vector<std::string> ExistingSegments(const std::string& path) {
    std::vector<std::string> existing;
    for (unsigned k = 1; k <= 999; ++k) {
        const std::string name = SegmentPath(path, k);
        struct stat info;
        if (stat(name.c_str(), &info) == 0) existing.push_back(name);
    }
    return existing;
}

RecordPlan PlanRecords(double rate) {
    if (!(rate > 0.0) || rate > 1e6 || rate != std::floor(rate)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", rate);
        throw RecorderError(std::string("cannot record at ") + text +
                            " samples per second: the rate must be a whole number of samples per second");
    }
    const long long r = static_cast<long long>(rate);
    const int most = kMaxAnnotationSignals - kReservedEventsPerRecord;
    const int first = static_cast<int>(std::max(1LL, std::min<long long>(most, r / 10)));
    for (int n = first; n >= 1; --n) {
        if ((100000LL * n) % r != 0) continue;
        RecordPlan plan;
        plan.rate = rate;
        plan.samplesPerRecord = n;
        plan.durationUnits = static_cast<int>(100000LL * n / r);
        plan.annotationSignals = n + kReservedEventsPerRecord;
        return plan;
    }
    throw RecorderError("cannot record at " + std::to_string(r) +
                        " samples per second: no data record of at most " + std::to_string(most) +
                        " samples lasts a whole number of 10-microsecond units, so the file could not "
                        "hold a trigger change at every sample");
}

std::vector<Term> ParseChannelTerms(const std::string& text, const std::vector<std::string>& sourceNames) {
    std::vector<std::string> names(sourceNames);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    auto fail = [&text](const std::string& why) -> RecorderError {
        return RecorderError("cannot read the channel \"" + text + "\": " + why);
    };
    std::vector<Term> terms;
    size_t pos = 0;
    while (pos < text.size()) {
        double sign = 1.0;
        if (text[pos] == '-') {
            sign = -1.0;
            ++pos;
        } else if (text[pos] == '+') {
            if (terms.empty()) throw fail("it starts with \"+\"");
            ++pos;
        } else if (!terms.empty()) {
            throw fail("a term does not start with \"+\" or \"-\"");
        }
        const std::string* match = nullptr;
        for (const std::string& name : names) {
            if (!name.empty() && text.compare(pos, name.size(), name) == 0) {
                match = &name;
                break;
            }
        }
        if (!match) throw fail("no source is named \"" + text.substr(pos) + "\"");
        pos += match->size();
        Term term;
        term.source = *match;
        term.weight = sign;
        for (char op : {'*', '/'}) {
            if (pos >= text.size() || text[pos] != op) continue;
            const char* start = text.c_str() + pos + 1;
            char* end = nullptr;
            errno = 0;
            const double number = std::strtod(start, &end);
            if (end == start || errno == ERANGE) throw fail(std::string("no number after \"") + op + "\"");
            if (op == '*') {
                term.weight *= number;
            } else {
                if (number == 0.0) throw fail("a divisor is 0");
                term.weight /= number;
            }
            pos = static_cast<size_t>(end - text.c_str());
        }
        terms.push_back(term);
    }
    return terms;
}

double PhysicalLimit(double bound) {
    if (!(bound > 0.0)) return 1.0;
    const double limit = std::ceil(bound * 1.01);
    return std::min(9999999.0, std::max(1.0, limit));
}

std::vector<std::string> UniqueLabels(const std::vector<std::string>& wanted,
                                      const std::vector<std::string>& fallback) {
    const size_t kLabel = 16;
    std::vector<std::string> first(wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) first[i] = Cut(Printable(wanted[i]), kLabel);
    auto count = [&first](const std::string& label) {
        return std::count(first.begin(), first.end(), label);
    };
    std::vector<std::string> labels(wanted.size());
    std::set<std::string> taken;
    for (size_t i = 0; i < wanted.size(); ++i) {
        std::string label = first[i];
        const std::string other = i < fallback.size() ? Cut(Printable(fallback[i]), kLabel) : std::string();
        if ((label.empty() || count(label) > 1) && !other.empty() && !taken.count(other) && count(other) == 0)
            label = other;
        if (label.empty()) label = "Channel";
        if (taken.count(label)) {
            for (int n = 2;; ++n) {
                const std::string suffix = "-" + std::to_string(n);
                const std::string candidate = Cut(label, kLabel - suffix.size()) + suffix;
                if (!taken.count(candidate)) {
                    label = candidate;
                    break;
                }
            }
        }
        taken.insert(label);
        labels[i] = label;
    }
    return labels;
}

int64_t OnsetUnits(uint64_t index, double rate) {
    return static_cast<int64_t>(std::llround(static_cast<double>(index) * 10000.0 / rate));
}

}  // namespace voqrec
