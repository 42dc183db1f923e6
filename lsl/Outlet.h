// The Lab Streaming Layer outlet of one headset: its output channels and its
// events on the network, for any LSL client.
//
//     voqlsl::Outlet outlet(headset);      // a connected headset: both streams appear
//     outlet.Start(-1.0);                  // seconds; negative: until Close()
//     while (outlet.Step()) { ... outlet.Stats(), outlet.HasConsumers() ... }
//     outlet.Close();                      // both streams disappear
//
// The streams (see Description.h for the channels' metadata):
//   - "VOQ <serial number>", type "EEG", source_id "VOQ-<serial number>":
//     float32 samples of the output channels (the last processing stage's,
//     or the montage) at the sampling rate as nominal rate, each with its
//     own time stamp from the library's sample clock, on the clock of
//     lsl_local_clock() (the host's monotonic clock);
//   - "VOQ <serial number> markers", type "Markers", source_id
//     "VOQ-<serial number>-markers": one string channel at irregular rate,
//     with "trigger <value>" at every sample where the plain trigger channel
//     (TRG, when the output channels carry it) changes to a value other than
//     0, stamped with that very sample's time stamp; "alarm <name>" for each
//     alarm of the headset (taken off its list), "overflow, <N> samples
//     lost" when samples were lost because they were not read in time,
//     "link lost" (stamped with the last sample before a lost link, or
//     when noticed) and "link restored, <N> samples missing" (stamped with
//     the first sample after it) when the headset reconnects by itself
//     (VOQ_Headset_SetReconnect), and whatever Mark() is given, stamped when
//     noticed.  The streams stay open across a lost link: an inlet sees the
//     gap in the time stamps and the two markers.
// The source_id is the same for the same headset every time, so that an
// inlet finds a restarted outlet again.
//
// Samples go out as soon as the library has them: each Step() waits until
// at least one sample is buffered (VOQ_Headset_WaitForSamples, which looks
// every millisecond), then pushes every buffered sample as one chunk.  The
// headset sends its samples in blocks at a steady interval, so after a
// chunk the outlet sleeps until a few milliseconds before the next block is
// due (learnt from the blocks' arrivals) instead of looking for it every
// millisecond; a block that comes earlier waits at most until then.  Acquisition: if the headset is not
// acquiring, Start() starts background acquisition (which starts the data
// stream) and Close() stops it again.  The montage must not change while the
// outlet is open.  Everything runs on the caller's thread, through the
// library's C interface, so an outlet works with the shared library as well
// as the static one.  One outlet per headset; several headsets each have
// their own, in one process or several.
#ifndef VOQ_LSL_OUTLET_H
#define VOQ_LSL_OUTLET_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "Description.h"
#include "VOQ_API.h"

struct lsl_outlet_struct_;

namespace VOQ {
class Headset;
}

namespace voqlsl {

struct OutletStats {
    uint64_t samplesPushed = 0;
    uint64_t chunksPushed = 0;
    uint64_t markersPushed = 0;       // all markers, those below included
    uint64_t triggerMarkers = 0;
    uint64_t alarms = 0;
    uint64_t overflowedSamples = 0;   // lost before they were read
    uint64_t linkLosses = 0;          // lost links the stream went on after
    uint64_t samplesMissing = 0;      // samples those losses missed
};

// Marker texts.
std::string TriggerMarker(long long value);        // "trigger 5"
std::string AlarmMarker(int code);                  // "alarm BatteryLevel"
std::string OverflowMarker(uint64_t samples);       // "overflow, 12 samples lost"
std::string LinkLostMarker();                       // "link lost"
std::string LinkRestoredMarker(uint64_t missing);   // "link restored, 12 samples missing"

class Outlet {
public:
    // Describes the headset's output channels and opens both streams.
    // Throws LslError when the headset cannot be described (see
    // DescribeHeadset) or liblsl cannot open a stream.
    explicit Outlet(VOQ_Headset headset);
    explicit Outlet(VOQ::Headset& headset);
    ~Outlet();   // closes quietly when Close() was not called
    Outlet(const Outlet&) = delete;
    Outlet& operator=(const Outlet&) = delete;

    // Starts acquisition when the headset is not acquiring (the samples
    // buffered before are dropped: they are not part of this stream).
    // Streams `seconds` (rounded to whole samples); a negative value streams
    // until Close().
    void Start(double seconds);
    // Waits until samples are buffered (a block period, typically) and
    // pushes them, then the markers they and the headset call for.  Returns
    // false once the requested samples are pushed (and after Close()).
    // Throws LslError when the headset fails (no samples for
    // VOQ_WAIT_SILENCE_LIMIT seconds, a failed background acquisition, a
    // lost link that did not come back) or a push fails; the outlet stays
    // open.  While a lost link is being reconnected it returns after a short
    // pause when nothing is buffered, instead of waiting for the link.
    bool Step();
    // Pushes a marker, stamped `stamp` (seconds of lsl_local_clock()), or
    // now when `stamp` is negative.
    void Mark(const std::string& text, double stamp = -1.0);
    // True while at least one inlet is connected to the samples.
    bool HasConsumers() const;
    // Stops what Start() started and closes both streams.  Throws LslError
    // when acquisition could not be stopped (the streams are closed all the
    // same).  Closing twice does nothing.
    void Close();

    bool Started() const { return started_; }
    bool Closed() const { return closed_; }
    const StreamDescription& Description() const { return description_; }
    const OutletStats& Stats() const { return stats_; }

private:
    void Open();
    void SleepUntilNextBlockIsNear();
    void NoteArrival();
    void PushSamples(size_t count);
    void FillEarlierStamps(size_t count, size_t known);
    void PollHeadset();
    // Takes the headset's link events (samples buffered now are the next
    // pushed) and pushes the markers of samples already pushed.
    void TakeLinkEvents();
    // The link markers due at the sample numbered `sample`, stamped `stamp`.
    void MarkLink(uint64_t sample, double stamp);
    void StopAcquisition();
    void Release();

    VOQ_Headset headset_;
    StreamDescription description_;
    std::vector<VOQ_Channel> channels_;
    lsl_outlet_struct_* samples_ = nullptr;
    lsl_outlet_struct_* markers_ = nullptr;
    bool started_ = false;
    bool closed_ = false;
    bool startedAcquisition_ = false;
    int64_t targetSamples_ = -1;
    long long trigger_ = 0;           // the trigger value of the last sample pushed
    uint64_t overflowBase_ = 0;
    double burstStart_ = -1.0;        // when the samples of the last block were first seen
    double blockInterval_ = 0.0;      // smoothed time between blocks, 0 while unknown
    std::vector<float> chunk_;        // samples x channels
    std::vector<double> stamps_;
    std::vector<double> triggers_;
    OutletStats stats_;
    // Link markers not yet pushed, each with the number of the sample whose
    // stamp it takes, in order.
    struct LinkMarker {
        uint64_t sample;
        std::string text;
    };
    std::deque<LinkMarker> linkMarkers_;
    bool reconnecting_ = false;
    double lastStamp_ = -1.0;         // of the last sample pushed
};

}  // namespace voqlsl

#endif
