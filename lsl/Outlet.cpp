#include "Outlet.h"

#include <lsl_c.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "LinkEvents.h"
#include "voq/Protocol.h"

namespace voqlsl {

namespace {

// Seconds of samples (markers: hundreds) that liblsl keeps for a consumer
// that does not keep up, before it drops the oldest.
const int kMaxBufferedSeconds = 60;
const int kStopSeconds = 12;   // the worker's stop command may be resent for ~10 s
// Pacing: samples seen within this time of a block's first ones belong to
// the same block; the outlet looks again this long before the next block is
// due, and sleeps no longer than the longest sleep at once.
const double kSameBlock = 0.004;
const double kLookEarly = 0.004;
const double kLongestSleep = 0.050;

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Takes the library's stored error; throws it, prefixed with `what`.
void CheckLibrary(const std::string& what) {
    const char* error = VOQ_ClearError();
    if (error) throw LslError(what + ": " + error);
}

std::string LslFailure() {
    const char* error = lsl_last_error();
    return error && *error ? std::string(error) : std::string("liblsl gave no reason");
}

void Append(lsl_xml_ptr parent, const char* name, const std::string& value) {
    lsl_append_child_value(parent, name, value.c_str());
}

std::string Millimetres(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::fabs(value) < 0.005 ? 0.0 : value);   // no "-0.00"
    return text;
}

lsl_outlet OpenStream(lsl_streaminfo info, const std::string& name) {
    lsl_outlet outlet = lsl_create_outlet(info, 0, kMaxBufferedSeconds);
    lsl_destroy_streaminfo(info);
    if (!outlet) throw LslError("cannot open the LSL stream " + name + ": " + LslFailure());
    return outlet;
}

}  // namespace

std::string TriggerMarker(long long value) { return "trigger " + std::to_string(value); }

std::string AlarmMarker(int code) { return std::string("alarm ") + VOQ::AlarmName(code); }

std::string OverflowMarker(uint64_t samples) {
    return "overflow, " + std::to_string(samples) + " samples lost";
}

std::string LinkLostMarker() { return "link lost"; }

std::string LinkRestoredMarker(uint64_t missing) {
    return "link restored, " + std::to_string(missing) + " samples missing";
}

Outlet::Outlet(VOQ::Headset& headset) : Outlet(reinterpret_cast<VOQ_Headset>(&headset)) {}

Outlet::Outlet(VOQ_Headset headset) : headset_(headset), description_(DescribeHeadset(headset)) {
    VOQ_ClearError();
    for (size_t i = 0; i < description_.channels.size(); ++i)
        channels_.push_back(VOQ_Headset_GetChannelByIndex(headset_, static_cast<unsigned>(i)));
    CheckLibrary("cannot open the LSL outlet");
    Open();
}

Outlet::~Outlet() {
    if (!closed_) {
        try {
            Close();
        } catch (const std::exception&) {
            // Close() reports failures to those who call it; a destructor
            // can only make sure that the streams are closed.
        }
    }
}

void Outlet::Open() {
    const StreamDescription& d = description_;
    lsl_streaminfo info = lsl_create_streaminfo(d.name.c_str(), "EEG", static_cast<int32_t>(d.channels.size()),
                                                d.rate, cft_float32, d.sourceId.c_str());
    if (!info) throw LslError("cannot describe the LSL stream " + d.name + ": " + LslFailure());
    lsl_xml_ptr desc = lsl_get_desc(info);
    Append(desc, "manufacturer", "VOQ");
    Append(desc, "model", d.model);
    Append(desc, "serial_number", std::to_string(d.serialNumber));
    lsl_xml_ptr channels = lsl_append_child(desc, "channels");
    bool positions = false;
    for (const ChannelDescription& c : d.channels) {
        lsl_xml_ptr channel = lsl_append_child(channels, "channel");
        Append(channel, "label", c.label);
        Append(channel, "unit", c.unit);
        Append(channel, "type", c.type);
        if (!c.reference.empty()) Append(channel, "reference", c.reference);
        if (c.hasPosition) {
            lsl_xml_ptr location = lsl_append_child(channel, "location");
            Append(location, "X", Millimetres(c.position.x));
            Append(location, "Y", Millimetres(c.position.y));
            Append(location, "Z", Millimetres(c.position.z));
            positions = true;
        }
    }
    lsl_xml_ptr reference = lsl_append_child(desc, "reference");
    Append(reference, "label", d.reference);
    Append(reference, "subtracted", "Yes");
    Append(reference, "common_average", "No");
    if (!d.filtering.empty()) Append(desc, "filtering", d.filtering);
    if (positions) {
        lsl_xml_ptr cap = lsl_append_child(desc, "cap");
        Append(cap, "labelscheme", "10-20");
        Append(cap, "positions", "idealised spherical head, radius 90 mm; X right ear, Y nasion, Z vertex");
    }
    samples_ = OpenStream(info, d.name);

    info = lsl_create_streaminfo(d.markersName.c_str(), "Markers", 1, LSL_IRREGULAR_RATE, cft_string,
                                 d.markersSourceId.c_str());
    if (!info) {
        Release();
        throw LslError("cannot describe the LSL stream " + d.markersName + ": " + LslFailure());
    }
    desc = lsl_get_desc(info);
    Append(desc, "manufacturer", "VOQ");
    Append(desc, "model", d.model);
    Append(desc, "serial_number", std::to_string(d.serialNumber));
    Append(desc, "samples_source_id", d.sourceId);
    try {
        markers_ = OpenStream(info, d.markersName);
    } catch (...) {
        Release();
        throw;
    }
}

void Outlet::Release() {
    if (samples_) lsl_destroy_outlet(samples_);
    if (markers_) lsl_destroy_outlet(markers_);
    samples_ = nullptr;
    markers_ = nullptr;
}

void Outlet::Start(double seconds) {
    if (closed_) throw LslError("the LSL outlet is closed");
    if (started_) throw LslError("the LSL outlet has started already");
    targetSamples_ = seconds >= 0.0 ? static_cast<int64_t>(std::llround(seconds * description_.rate)) : -1;
    VOQ_ClearError();
    const int mode = VOQ_Headset_GetDataAcquisitionMode(headset_);
    CheckLibrary("cannot start the LSL outlet");
    if (mode == 0) {
        // What the buffers still hold came before the stream stopped.  The
        // background worker starts the data stream, and stops it again when
        // it is asked to stop.
        VOQ_ClearError();
        VOQ_Headset_FlushBuffers(headset_);
        const int running = VOQ_Headset_StartBackgroundAcquisition(headset_);
        CheckLibrary("cannot start acquisition");
        if (!running) throw LslError("cannot start acquisition: the acquisition thread did not start");
        startedAcquisition_ = true;
    }
    VOQ_ClearError();
    overflowBase_ = VOQ_Headset_GetNumberOfOverflowedSamples(headset_);
    CheckLibrary("cannot start the LSL outlet");
    started_ = true;
}

bool Outlet::Step() {
    if (closed_) return false;
    if (!started_) throw LslError("the LSL outlet has not started");
    if (targetSamples_ >= 0 && stats_.samplesPushed >= static_cast<uint64_t>(targetSamples_)) return false;
    SleepUntilNextBlockIsNear();
    TakeLinkEvents();
    if (reconnecting_) {
        // The wait would last until the link is back: look again soon, so
        // that the caller stays responsive.
        VOQ_ClearError();
        const size_t level = VOQ_Headset_GetNumberOfBufferedSamples(headset_);
        CheckLibrary("no samples from the headset");
        if (level == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            PollHeadset();
            return true;
        }
    }
    VOQ_ClearError();
    size_t waiting = VOQ_Headset_WaitForSamples(headset_, 1);
    if (const char* error = VOQ_ClearError()) {
        const std::string text = error;
        TakeLinkEvents();
        throw LslError("no samples from the headset: " + text);
    }
    TakeLinkEvents();
    NoteArrival();
    if (targetSamples_ >= 0)
        waiting = static_cast<size_t>(
            std::min<uint64_t>(waiting, static_cast<uint64_t>(targetSamples_) - stats_.samplesPushed));
    PushSamples(waiting);
    PollHeadset();
    return targetSamples_ < 0 || stats_.samplesPushed < static_cast<uint64_t>(targetSamples_);
}

void Outlet::SleepUntilNextBlockIsNear() {
    if (!(blockInterval_ > 0.0) || burstStart_ < 0.0) return;
    const double wait = std::min(burstStart_ + blockInterval_ - kLookEarly - Seconds(), kLongestSleep);
    if (wait > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

void Outlet::NoteArrival() {
    const double now = Seconds();
    if (burstStart_ >= 0.0 && now - burstStart_ < kSameBlock) return;
    if (burstStart_ >= 0.0) {
        const double interval = now - burstStart_;
        // A long pause (a stalled link) teaches nothing about the interval.
        if (interval < kLongestSleep)
            blockInterval_ = blockInterval_ > 0.0 ? 0.9 * blockInterval_ + 0.1 * interval : interval;
    }
    burstStart_ = now;
}

void Outlet::PushSamples(size_t count) {
    const size_t n = channels_.size();
    if (chunk_.size() < count * n) chunk_.resize(count * n);
    if (stamps_.size() < count) stamps_.resize(count);
    if (triggers_.size() < count) triggers_.resize(count);
    const int trigger = description_.triggerChannel;
    VOQ_ClearError();
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = 0; j < count; ++j) {
            const double x = VOQ_Channel_ReadBuffered(channels_[k]);
            chunk_[j * n + k] = static_cast<float>(x);
            if (static_cast<int>(k) == trigger) triggers_[j] = x;
        }
    }
    // The host times of the samples just read, oldest first.
    const unsigned known = VOQ_Headset_GetSampleTimes(headset_, stamps_.data(), static_cast<unsigned>(count));
    CheckLibrary("cannot read the samples' times");
    if (known < count) FillEarlierStamps(count, known);
    if (lsl_push_chunk_ftnp(samples_, chunk_.data(), static_cast<unsigned long>(count * n), stamps_.data(), 1) != 0)
        throw LslError("cannot push samples to the LSL stream " + description_.name + ": " + LslFailure());
    const uint64_t first = stats_.samplesPushed;
    stats_.samplesPushed += count;
    ++stats_.chunksPushed;
    if (count > 0) lastStamp_ = stamps_[count - 1];
    for (size_t j = 0; j < count; ++j) {
        MarkLink(first + j, stamps_[j]);
        if (trigger < 0) continue;
        const long long value = std::isfinite(triggers_[j]) ? std::llround(triggers_[j]) : 0;
        if (value != trigger_ && value != 0) {
            Mark(TriggerMarker(value), stamps_[j]);
            ++stats_.triggerMarkers;
        }
        trigger_ = value;
    }
}

void Outlet::TakeLinkEvents() {
    // The samples pushed so far are the samples read so far.
    voqrec::TakeLinkEvents(headset_, stats_.samplesPushed, [this](int kind, uint64_t gap, uint64_t missing) {
        reconnecting_ = kind == VOQ_LINK_LOST;
        if (kind == VOQ_LINK_LOST) {
            // Stamped with the last sample before the gap.
            linkMarkers_.push_back({gap > 0 ? gap - 1 : 0, LinkLostMarker()});
        } else if (kind == VOQ_LINK_RESTORED) {
            ++stats_.linkLosses;
            stats_.samplesMissing += missing;
            linkMarkers_.push_back({gap, LinkRestoredMarker(missing)});
        }
    });
    CheckLibrary("cannot read the headset's link events");
    // Markers of samples pushed already go out now, with the last stamp.
    if (stats_.samplesPushed > 0) MarkLink(stats_.samplesPushed - 1, lastStamp_);
}

void Outlet::MarkLink(uint64_t sample, double stamp) {
    while (!linkMarkers_.empty() && linkMarkers_.front().sample <= sample) {
        Mark(linkMarkers_.front().text, stamp);
        linkMarkers_.pop_front();
    }
}

void Outlet::FillEarlierStamps(size_t count, size_t known) {
    // The library keeps the times of as many samples as the buffers hold;
    // should it know fewer, the earlier samples lie a period apart before
    // the first it knows (or before now, when it knows none).
    const size_t missing = count - known;
    std::copy_backward(stamps_.begin(), stamps_.begin() + static_cast<long>(known),
                       stamps_.begin() + static_cast<long>(count));
    const double first = known > 0 ? stamps_[missing] : VOQ_HostClock() + 1.0 / description_.rate;
    for (size_t j = 0; j < missing; ++j) stamps_[j] = first - double(missing - j) / description_.rate;
}

void Outlet::PollHeadset() {
    VOQ_ClearError();
    for (int code = VOQ_Headset_GetAlarm(headset_, 1); code != 0; code = VOQ_Headset_GetAlarm(headset_, 1)) {
        ++stats_.alarms;
        Mark(AlarmMarker(code));
    }
    const uint64_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(headset_);
    CheckLibrary("cannot read the headset's state");
    if (overflowed > overflowBase_) {
        stats_.overflowedSamples += overflowed - overflowBase_;
        Mark(OverflowMarker(overflowed - overflowBase_));
    }
    overflowBase_ = overflowed;   // also after the buffers were flushed or reallocated
}

void Outlet::Mark(const std::string& text, double stamp) {
    if (closed_) throw LslError("the LSL outlet is closed");
    const char* value = text.c_str();
    if (lsl_push_sample_strtp(markers_, &value, stamp >= 0.0 ? stamp : lsl_local_clock(), 1) != 0)
        throw LslError("cannot push a marker to the LSL stream " + description_.markersName + ": " + LslFailure());
    ++stats_.markersPushed;
}

bool Outlet::HasConsumers() const { return samples_ && lsl_have_consumers(samples_) != 0; }

void Outlet::StopAcquisition() {
    if (!startedAcquisition_) return;
    startedAcquisition_ = false;
    VOQ_ClearError();
    VOQ_Headset_StopBackgroundAcquisition(headset_);
    CheckLibrary("cannot stop acquisition");
    // The worker stops the data stream on its way out; wait for that, so
    // that the headset is left as it was found.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
    for (;;) {
        VOQ_ClearError();
        const int mode = VOQ_Headset_GetDataAcquisitionMode(headset_);
        CheckLibrary("cannot stop acquisition");
        if (mode <= 0) return;
        if (std::chrono::steady_clock::now() > limit)
            throw LslError("cannot stop acquisition: the headset is still streaming");
        VOQ_Sleep(0.005);
    }
}

void Outlet::Close() {
    if (closed_) return;
    closed_ = true;
    try {
        StopAcquisition();
    } catch (...) {
        Release();
        throw;
    }
    Release();
}

}  // namespace voqlsl
