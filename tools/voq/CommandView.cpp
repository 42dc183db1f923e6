// `voq view`: a live view of the headset in a web browser.
//
// The main thread is the only one that calls the library: woken by the
// samples' arrival (the library's background thread reads the port and
// calls the sample callback), it reads the output channels, turns the
// samples into display events once, and hands them to the viewers' queues,
// which never make it wait (ViewHub.h).  The web server's threads only
// serve pages and write queued events.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "Session.h"
#include "ViewHub.h"
#include "ViewProtocol.h"
#include "ViewServer.h"

namespace voqtool {

namespace {

// The reading loop wakes when samples arrive, waits this long for the rest
// of their block, and reads; it looks at least every kLongestWait.
const std::chrono::milliseconds kBlockWait(1);
const std::chrono::milliseconds kLongestWait(10);
// How often the state (and the contact view's impedances) go out.
const double kStatusPeriod = 0.5;
// Viewers at once, and events queued for each (about 2 s of data events).
const size_t kMaxViewers = 8;
const size_t kQueuedEvents = 100;
// Output buffers long enough to ride out a slow command (the impedance
// driver switched by the contact view) without losing samples.
const double kBufferSeconds = 5.0;
const double kImpedanceWindowSeconds = 1.0;

double WallMilliseconds() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Samples as they arrive, told by the sample callback on the library's
// reading thread: their count wakes the reading loop, and the wall-clock
// time of the newest goes to the page, which measures from it how late it
// draws.
struct Arrivals {
    std::atomic<double> newestMs{0.0};
    std::atomic<uint64_t> count{0};
    std::mutex mutex;
    std::condition_variable arrived;

    // Waits until a sample arrives after `seen` was counted, at most `wait`.
    void WaitAfter(uint64_t seen, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait_for(lock, wait, [this, seen] { return count.load() != seen; });
    }
};
Arrivals gArrivals;

void OnSample(VOQ_Headset, double, void*) {
    gArrivals.newestMs.store(WallMilliseconds(), std::memory_order_relaxed);
    gArrivals.count.fetch_add(1);
    // Without the lock: a wake-up lost to the race is made up by the
    // loop's longest wait.
    gArrivals.arrived.notify_one();
}

// Installs the sample callback for the life of the view.
class ArrivalClock {
public:
    explicit ArrivalClock(VOQ_Headset h) : h_(h) {
        VOQ_ClearError();
        VOQ_Headset_SetSampleCallback(h_, OnSample, nullptr);
        ThrowIfLibraryFailed("");
    }
    ~ArrivalClock() {
        VOQ_Headset_SetSampleCallback(h_, nullptr, nullptr);
        VOQ_ClearError();
    }
    ArrivalClock(const ArrivalClock&) = delete;
    ArrivalClock& operator=(const ArrivalClock&) = delete;

private:
    VOQ_Headset h_;
};

// The filters the page may choose from: the id is the filter stage's text
// ("off": none), and applying one rebuilds the output channels
// (ViewState::Rebuild).  A --filter text of its own is offered too.
std::vector<FilterRequests::Choice> FilterChoices(const std::string& given) {
    std::vector<FilterRequests::Choice> choices = {
        {"off", "off"},
        {"bandpass 1 40", "1\u201340 Hz"},
        {"bandpass 1 40; notch 50", "1\u201340 Hz, notch 50 Hz"},
        {"bandpass 1 40; notch 60", "1\u201340 Hz, notch 60 Hz"},
        {"notch 50", "notch 50 Hz"},
        {"notch 60", "notch 60 Hz"},
    };
    bool listed = given.empty();
    for (const FilterRequests::Choice& c : choices) listed = listed || c.id == given;
    if (!listed) choices.push_back({given, given});
    return choices;
}

std::string Battery(VOQ_Headset h, unsigned index) {
    const double level = VOQ_Headset_GetBatteryLevel(h, index);
    return level >= 0 ? JsonNumber(level, 0) : "null";
}

std::string ContactJson(double kOhm, double good, double fair) {
    const bool measured = kOhm >= 0;
    return "{\"kohm\":" + (measured ? JsonNumber(kOhm, 1) : std::string("null")) + ",\"grade\":\"" +
           (measured ? ContactText(Grade(kOhm, good, fair)) : "unknown") + "\"}";
}

// The output channels and their encoder.
class ViewState {
public:
    ViewState(const ViewOptions& options, Session& session, FilterRequests& filters)
        : options_(options), session_(session), filters_(filters), h_(session.Headset()) {
        // The montage as chosen, to choose it again when the filter changes
        // (a montage choice removes every stage, filters included).
        VOQ_ClearError();
        const char* montage = VOQ_Headset_GetMontageString(h_);
        const char* reference = VOQ_Headset_GetReferenceString(h_);
        montage_ = montage != nullptr ? montage : "";
        reference_ = reference != nullptr ? reference : "";
        ThrowIfLibraryFailed("");
        if (!options.filter.empty()) {
            session.AddFilter(options.filter);
            filter_ = options.filter;
        }
        Rebuild(0);
    }

    // Reads every sample buffered since the last call and publishes the
    // new points.  Throws ToolError when the headset has gone silent.
    void ReadAndPublish(ViewHub& hub) {
        const double arrival = gArrivals.newestMs.load(std::memory_order_relaxed);
        VOQ_ClearError();
        // Waiting for no sample returns the level at once, and fails like
        // every wait when no block has come for the silence limit or the
        // background reading failed.
        const size_t level = VOQ_Headset_WaitForSamples(h_, 0);
        ThrowIfLibraryFailed("is the headset still switched on and in range?");
        const size_t n = channels_.size();
        values_.resize(n);
        for (size_t s = 0; s < level; ++s) {
            for (size_t c = 0; c < n; ++c) values_[c] = VOQ_Channel_ReadBuffered(channels_[c]);
            encoder_->Add(values_.data());
        }
        ThrowIfLibraryFailed("");
        samples_ += level;
        std::string event = encoder_->TakeEvent(arrival);
        if (!event.empty()) hub.Publish(kTraceView, MakeViewEvent(std::move(event)));
    }

    void PublishStatus(ViewHub& hub, bool driverOn) {
        VOQ_ClearError();
        const DeliveryReports reports = session_.Reports();
        std::string status = "{\"rate\":" + JsonNumber(VOQ_Headset_GetSamplingRate(h_), 3);
        status += ",\"battery\":[" + Battery(h_, 1) + "," + Battery(h_, 2) + "]";
        status += ",\"samples\":" + std::to_string(samples_);
        status += ",\"overflowed\":" + std::to_string(VOQ_Headset_GetNumberOfOverflowedSamples(h_));
        status += ",\"violations\":" + std::to_string(reports.realTimeViolations);
        // Up, or lost and being reconnected (the reading loop ends the view
        // when the link does not come back).
        status += std::string(",\"link\":\"") + (VOQ_Headset_IsLinkUp(h_) != 0 ? "up" : "reconnecting") + "\"";
        status += ",\"impedanceDriver\":" + std::string(driverOn ? "true" : "false");
        status += ",\"filter\":" + JsonString(filter_);
        status += ",\"viewers\":" + std::to_string(hub.Count(kEveryView)) + "}";
        VOQ_ClearError();
        hub.Publish(kEveryView, MakeViewEvent(ServerSentEvent("status", status)));
    }

    void PublishContact(ViewHub& hub, bool driverOn, bool settled) {
        VOQ_ClearError();
        const double good = options_.goodKOhm, fair = options_.fairKOhm;
        std::string contact = "{\"driver\":" + std::string(driverOn ? "true" : "false");
        contact += ",\"settled\":" + std::string(settled ? "true" : "false");
        contact += ",\"good\":" + JsonNumber(good, 3) + ",\"fair\":" + JsonNumber(fair, 3);
        contact += ",\"electrodes\":[";
        for (size_t i = 0; i < electrodes_.size(); ++i) {
            const double z = driverOn ? VOQ_Source_GetImpedanceEEG(electrodes_[i].source) : -1.0;
            contact += (i ? "," : "") + std::string("{\"name\":") + JsonString(electrodes_[i].name) + ",\"contact\":" +
                       ContactJson(z, good, fair) + "}";
        }
        const double cmf = driverOn ? VOQ_Headset_GetImpedanceCMF(h_) : -1.0;
        contact += "],\"common\":" + ContactJson(cmf, good, fair) + "}";
        VOQ_ClearError();
        hub.Publish(kContactView, MakeViewEvent(ServerSentEvent("contact", contact)));
    }

    const ViewEventPtr& Hello() const { return hello_; }

    // Applies the filter the page asked for, if any: the montage chosen
    // again as it was, then the filter stage of the choice.  The samples
    // buffered meanwhile are left behind.
    void ApplyFilterRequest(ViewHub& hub) {
        const std::string id = filters_.Take();
        if (id.empty() || id == filter_) return;
        VOQ_ClearError();
        VOQ_Headset_ChooseChannels(h_, montage_.c_str(), reference_.c_str(), 1);
        ThrowIfLibraryFailed("");
        if (id != "off") session_.AddFilter(id);
        filter_ = id;
        Rebuild(encoder_->NextSample());
        hub.SetHello(hello_);
    }

private:
    // Takes the output channels afresh (after a montage or filter change)
    // and describes them in a new hello event; the points go on numbered
    // from `nextSample`.
    void Rebuild(uint64_t nextSample) {
        VOQ_ClearError();
        channels_.clear();
        std::vector<TraceChannel> traces;
        const unsigned n = VOQ_Headset_GetNumberOfChannels(h_);
        for (unsigned i = 0; i < n; ++i) {
            VOQ_Channel c = VOQ_Headset_GetChannelByIndex(h_, i);
            ThrowIfLibraryFailed("");
            const char* name = VOQ_Channel_GetName(c);
            TraceChannel t;
            t.name = name != nullptr ? name : "";
            t.kind = VOQ_Channel_IsTrigger(c)           ? TraceKind::Trigger
                     : VOQ_Channel_IsReferentialEEG(c) ? TraceKind::Eeg
                                                       : TraceKind::Other;
            channels_.push_back(c);
            traces.push_back(t);
        }
        ThrowIfLibraryFailed("");
        if (channels_.empty()) throw ToolError("the montage has no channels", "choose some with --montage");
        const double rate = VOQ_Headset_GetSamplingRate(h_);
        if (!(rate > 0)) throw ToolError("the headset reported no sampling rate");
        encoder_ = std::make_unique<TraceEncoder>(traces, rate, nextSample);
        electrodes_ = MeasurableElectrodes(h_);

        const char* model = VOQ_Headset_GetHardwareModel(h_);
        const char* revision = VOQ_Headset_GetHardwareRevision(h_);
        const char* reference = VOQ_Headset_GetReferenceString(h_);
        std::string hello = "{" + encoder_->HelloMembers();
        hello += ",\"headset\":" + JsonString(std::string(model != nullptr ? model : "") + " " +
                                              (revision != nullptr ? revision : ""));
        hello += ",\"serial\":" + std::to_string(VOQ_Headset_GetSerialNumber(h_));
        hello += ",\"port\":" + JsonString(session_.Port());
        hello += ",\"reference\":" + JsonString(reference != nullptr ? reference : "");
        hello += ",\"filters\":[";
        const auto& choices = filters_.Choices();
        for (size_t i = 0; i < choices.size(); ++i)
            hello += (i ? "," : "") + std::string("{\"id\":") + JsonString(choices[i].id) +
                     ",\"label\":" + JsonString(choices[i].label) + "}";
        hello += "],\"filter\":" + JsonString(filter_);
        hello += ",\"good\":" + JsonNumber(options_.goodKOhm, 3) + ",\"fair\":" + JsonNumber(options_.fairKOhm, 3);
        hello += "}";
        VOQ_ClearError();
        hello_ = MakeViewEvent(ServerSentEvent("hello", hello), true);
    }

    const ViewOptions& options_;
    Session& session_;
    FilterRequests& filters_;
    VOQ_Headset h_;
    std::vector<VOQ_Channel> channels_;
    std::vector<Electrode> electrodes_;
    std::unique_ptr<TraceEncoder> encoder_;
    std::vector<double> values_;
    ViewEventPtr hello_;
    std::string filter_ = "off";
    std::string montage_, reference_;
    uint64_t samples_ = 0;
};

}  // namespace

int RunView(const Options& options, Session& session) {
    const ViewOptions& o = options.view;
    const ListenAddress wanted = ParseListenAddress(o.http);

    ViewHub hub(kMaxViewers, kQueuedEvents);
    FilterRequests filters(FilterChoices(o.filter));
    ViewServer server(hub, &filters);
    // Listening first: a taken port fails before the headset is touched.
    const ListenAddress served = server.Bind(wanted);
    if (!IsLoopbackHost(served.host))
        std::fprintf(stderr,
                     "voq: warning: serving on %s, not only on this computer: anyone on that network can "
                     "watch the signals\n",
                     served.Authority().c_str());

    session.Connect();
    session.KeepLink(o.reconnectSeconds);
    session.ChooseMontage(o.montage);
    VOQ_Headset h = session.Headset();
    VOQ_ClearError();
    VOQ_Headset_ReallocateBuffers(h, kBufferSeconds, kImpedanceWindowSeconds);
    ThrowIfLibraryFailed("");

    ViewState state(o, session, filters);
    hub.SetHello(state.Hello());
    ArrivalClock arrivals(h);
    session.StartAcquisition();
    server.Start();

    std::printf("%s\n", served.Url().c_str());
    std::fflush(stdout);
    session.Progress("serving the live view on " + served.Url() + (o.seconds >= 0 ? "" : " until Ctrl-C"));

    const auto started = std::chrono::steady_clock::now();
    auto lastStatus = started - std::chrono::seconds(1);
    bool driverOn = false;
    std::chrono::steady_clock::time_point driverSince;
    bool interrupted = false;
    for (;;) {
        if (Interrupted()) {
            interrupted = true;
            break;
        }
        if (o.seconds >= 0 && Since(started) >= o.seconds) break;
        const uint64_t seen = gArrivals.count.load();
        gArrivals.WaitAfter(seen, kLongestWait);
        if (gArrivals.count.load() != seen) std::this_thread::sleep_for(kBlockWait);
        state.ReadAndPublish(hub);
        state.ApplyFilterRequest(hub);

        // The contact view keeps the impedance driver on while it is open
        // (switched when the link is up: a lost link refuses commands, and
        // its reconnection restores the driver as it was).
        const bool wanted = hub.Count(kContactView) > 0;
        if (wanted != driverOn && VOQ_Headset_IsLinkUp(h) != 0) {
            if (wanted)
                session.StartImpedanceDriver();
            else
                session.StopImpedanceDriver();
            driverOn = wanted;
            driverSince = std::chrono::steady_clock::now();
        }
        if (Since(lastStatus) >= kStatusPeriod) {
            lastStatus = std::chrono::steady_clock::now();
            state.PublishStatus(hub, driverOn);
            if (driverOn)
                state.PublishContact(hub, true, Since(driverSince) >= kImpedanceWindowSeconds + 0.3);
            else if (hub.Count(kContactView) > 0)
                state.PublishContact(hub, false, false);
            session.DrainMessages();
        }
    }
    server.Stop();
    if (interrupted && o.seconds >= 0) return kExitInterrupted;
    return kExitOK;
}

}  // namespace voqtool
