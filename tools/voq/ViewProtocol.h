// What `voq view` sends to the page: server-sent events whose data are one
// line of JSON each.
//
//   event: hello     the channels, the rates and the choices (first on every
//                    stream, and again when the channels change)
//   event: data      new trace points and the exact trigger changes
//   event: status    the headset's state, twice a second
//   event: contact   the electrodes' impedances (contact view only)
//
// Traces are decimated for display: each point is the smallest and the
// largest value of `decimation` consecutive samples, so that a one-sample
// spike still shows while the page gets about 150 points per second and
// channel whatever the sampling rate.  Values are sent as whole numbers of
// 1/kValueScale of the channel's unit.  Trigger changes are not decimated:
// each carries its exact sample number.
#ifndef VOQ_TOOL_VIEWPROTOCOL_H
#define VOQ_TOOL_VIEWPROTOCOL_H

#include <cstdint>
#include <string>
#include <vector>

namespace voqtool {

// Trace values go out as round(value * kValueScale).
const double kValueScale = 100.0;
// Display points per second and channel that the decimation aims at.
const double kPointRate = 150.0;

// How the page scales a channel's trace.
enum class TraceKind {
    Eeg,       // microvolts, on the page's amplitude scale
    Trigger,   // whole numbers; markers at its changes
    Other,     // any other unit, scaled to its own range
};
const char* TraceKindName(TraceKind kind);

struct TraceChannel {
    std::string name;
    TraceKind kind = TraceKind::Eeg;
};

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// A number for JSON: the shortest round-trip text of a finite value with at
// most `decimals` decimals; null when it is not finite.
std::string JsonNumber(double value, int decimals);

// One server-sent event: "event: NAME\ndata: DATA\n\n".  `data` must not
// contain a line break (JSON from this file never does).
std::string ServerSentEvent(const std::string& name, const std::string& data);

// Samples in, decimated trace points and trigger changes out.
class TraceEncoder {
public:
    // `firstSample` numbers the first sample that Add() will get; points are
    // numbered from it divided by the decimation, so that a new encoder for
    // the same stream continues the numbering.
    TraceEncoder(std::vector<TraceChannel> channels, double samplingRate, uint64_t firstSample = 0);

    unsigned Decimation() const { return decimation_; }
    const std::vector<TraceChannel>& Channels() const { return channels_; }
    // Samples added so far, counting from `firstSample`.
    uint64_t NextSample() const { return next_; }

    // One sample of every channel, in channel order (Channels().size() values).
    void Add(const double* values);

    // The data event for everything completed since the last call: the new
    // points and the trigger changes, and `arrivalMs` (wall-clock
    // milliseconds since 1970) at which the newest sample arrived.  Empty
    // when nothing was completed.  Points of an unfinished group wait for
    // the group's last sample; trigger changes go out at once.
    std::string TakeEvent(double arrivalMs);

    // The JSON members describing the stream for the hello event, without
    // the enclosing braces: "channels", "rate", "decimation", "pointRate"
    // and "valueScale".
    std::string HelloMembers() const;

private:
    std::vector<TraceChannel> channels_;
    double rate_;
    unsigned decimation_;
    uint64_t next_;                      // number of the next sample
    unsigned skip_ = 0;                  // samples before the first whole group
    unsigned filled_ = 0;                // samples in the open group
    std::vector<double> low_, high_;     // the open group's extremes
    std::vector<double> last_;           // trigger channels' previous values
    bool haveLast_ = false;
    uint64_t firstPending_;              // number of the first point not sent
    std::vector<std::string> points_;    // per channel: ",lo,hi" text of pending points
    size_t pendingPoints_ = 0;
    std::string triggers_;               // ",[sample,channel,value]" items
};

}  // namespace voqtool

#endif
