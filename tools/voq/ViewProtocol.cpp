// What `voq view` sends to the page.
#include "ViewProtocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace voqtool {

namespace {

void AppendInteger(std::string& out, long long value) {
    char text[24];
    auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void AppendUnsigned(std::string& out, uint64_t value) {
    char text[24];
    auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// A trace value as a whole number of 1/kValueScale, or null.
void AppendScaled(std::string& out, double value) {
    const double scaled = value * kValueScale;
    if (!std::isfinite(scaled) || std::fabs(scaled) > 9e15) {
        out += "null";
        return;
    }
    AppendInteger(out, std::llround(scaled));
}

}  // namespace

const char* TraceKindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::Eeg: return "eeg";
    case TraceKind::Trigger: return "trigger";
    case TraceKind::Other: return "other";
    }
    return "other";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;   // UTF-8 passes as it is
        }
    }
    out += '"';
    return out;
}

std::string JsonNumber(double value, int decimals) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", std::max(0, decimals), value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

std::string ServerSentEvent(const std::string& name, const std::string& data) {
    std::string out;
    out.reserve(name.size() + data.size() + 16);
    out += "event: ";
    out += name;
    out += "\ndata: ";
    out += data;
    out += "\n\n";
    return out;
}

TraceEncoder::TraceEncoder(std::vector<TraceChannel> channels, double samplingRate, uint64_t firstSample)
    : channels_(std::move(channels)),
      rate_(samplingRate),
      decimation_(static_cast<unsigned>(std::max(1L, std::lround(samplingRate / kPointRate)))),
      next_(firstSample),
      low_(channels_.size()),
      high_(channels_.size()),
      last_(channels_.size(), 0.0),
      points_(channels_.size()) {
    // A stream that starts inside a group begins its points at the next
    // whole group; the samples before it are left out.
    firstPending_ = (firstSample + decimation_ - 1) / decimation_;
    filled_ = 0;
    skip_ = static_cast<unsigned>(firstPending_ * decimation_ - firstSample);
}

void TraceEncoder::Add(const double* values) {
    const size_t n = channels_.size();
    const uint64_t sample = next_++;
    for (size_t c = 0; c < n; ++c) {
        if (channels_[c].kind != TraceKind::Trigger) continue;
        const double v = values[c];
        if (haveLast_ && v != last_[c] && std::isfinite(v)) {
            triggers_ += ",[";
            AppendUnsigned(triggers_, sample);
            triggers_ += ',';
            AppendUnsigned(triggers_, c);
            triggers_ += ',';
            AppendInteger(triggers_, std::llround(v));
            triggers_ += ']';
        }
        if (std::isfinite(v)) last_[c] = v;
    }
    haveLast_ = true;
    if (skip_ > 0) {
        --skip_;
        return;
    }

    if (filled_ == 0) {
        std::fill(low_.begin(), low_.end(), std::numeric_limits<double>::infinity());
        std::fill(high_.begin(), high_.end(), -std::numeric_limits<double>::infinity());
    }
    for (size_t c = 0; c < n; ++c) {
        const double v = values[c];
        if (!std::isfinite(v)) continue;
        low_[c] = std::min(low_[c], v);
        high_[c] = std::max(high_[c], v);
    }
    if (++filled_ < decimation_) return;
    filled_ = 0;
    for (size_t c = 0; c < n; ++c) {
        std::string& p = points_[c];
        p += ',';
        AppendScaled(p, low_[c] <= high_[c] ? low_[c] : std::nan(""));
        p += ',';
        AppendScaled(p, low_[c] <= high_[c] ? high_[c] : std::nan(""));
    }
    ++pendingPoints_;
}

std::string TraceEncoder::TakeEvent(double arrivalMs) {
    if (pendingPoints_ == 0 && triggers_.empty()) return std::string();
    std::string data = "{\"point\":";
    AppendUnsigned(data, firstPending_);
    data += ",\"points\":";
    AppendUnsigned(data, pendingPoints_);
    data += ",\"values\":[";
    for (size_t c = 0; c < points_.size(); ++c) {
        if (c > 0) data += ',';
        data += '[';
        if (!points_[c].empty()) data.append(points_[c], 1, std::string::npos);   // without the first comma
        data += ']';
        points_[c].clear();
    }
    data += "],\"triggers\":[";
    if (!triggers_.empty()) data.append(triggers_, 1, std::string::npos);
    data += "],\"samples\":";
    AppendUnsigned(data, next_);
    data += ",\"arrival\":";
    data += JsonNumber(arrivalMs, 1);
    data += '}';
    firstPending_ += pendingPoints_;
    pendingPoints_ = 0;
    triggers_.clear();
    return ServerSentEvent("data", data);
}

std::string TraceEncoder::HelloMembers() const {
    std::string out = "\"channels\":[";
    for (size_t c = 0; c < channels_.size(); ++c) {
        if (c > 0) out += ',';
        out += "{\"name\":" + JsonString(channels_[c].name) + ",\"kind\":\"" + TraceKindName(channels_[c].kind) +
               "\"}";
    }
    out += "],\"rate\":" + JsonNumber(rate_, 6);
    out += ",\"decimation\":" + std::to_string(decimation_);
    out += ",\"pointRate\":" + JsonNumber(rate_ / decimation_, 6);
    out += ",\"valueScale\":" + JsonNumber(kValueScale, 0);
    return out;
}

}  // namespace voqtool
