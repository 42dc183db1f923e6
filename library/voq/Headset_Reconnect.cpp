// A lost link: the reconnection worker, the settings it restores, the link
// events the caller takes, and the samples missing across each loss.
//
// The loss is found by whichever thread reads or writes the port (a
// LinkError).  With reconnection asked for, that thread closes the port,
// notes what the caller had set on the device, posts a "lost" event and
// starts the reconnection worker; the failure is not thrown.  While the link
// is lost only the worker touches the port: the background acquisition
// thread waits, the caller's waits wait (without reading), and the caller's
// commands fail at once.  The worker reopens the port with back-off until
// its time is up, runs the device part of the start-up (checking the serial
// number and the calibration memory), restores the device's settings and
// the data stream, and marks the link up.  The sources, montage, reference,
// stages, buffers, batch and callbacks are never touched, so every handle
// stays valid.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "voq/Headset.h"

namespace VOQ {

namespace {

// Back-off between attempts to reopen the port: from the first to the
// longest, growing by the factor each time.
const double kFirstPause = 0.05;
const double kLongestPause = 0.5;
const double kPauseGrowth = 1.5;

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

}  // namespace

void* ReconnectThread::Run() {
    if (headset) headset->RunReconnection();
    return nullptr;
}

void Headset::SetReconnect(double seconds) {
    if (!(seconds >= 0.0) || !std::isfinite(seconds))
        throw Error("cannot keep reconnecting for " + NumberString(seconds) +
                    " seconds: give 0 (no reconnection) or a positive number");
    reconnectSeconds = seconds;
}

std::string Headset::GiveUpMessage() const {
    std::lock_guard<std::mutex> lock(linkLock);
    return giveUpMessage;
}

void Headset::CheckLinkForCommand() const {
    const int state = linkState.load();
    if (state == kLinkUp) return;
    if (state == kLinkGaveUp) throw Error("Cannot send commands to headset: " + GiveUpMessage());
    if (!reconnectThread.IsCurrentThread())
        throw LinkError("Cannot send commands to headset: the link is lost (reconnecting)");
    if (reconnectThread.stopRequested.load()) throw Error("reconnection stopped");
    std::lock_guard<std::mutex> lock(linkLock);
    if (PrecisionTime() > reconnectDeadline) throw Error("no time left to reconnect");
}

bool Headset::LinkLost(const std::string& why) {
    if (!(reconnectSeconds > 0.0) || !keepLink.load() || port.FakeData()) return false;
    // The reconnection's own attempt fails; it tries again.
    if (reconnectThread.IsCurrentThread()) return false;
    int expected = kLinkUp;
    if (!linkState.compare_exchange_strong(expected, kLinkLost)) return expected == kLinkLost;

    const double now = PrecisionTime();
    {
        std::lock_guard<std::mutex> lock(linkLock);
        lossTime = now;
        reconnectDeadline = now + reconnectSeconds;
        lossReason = why;
        settingsAtLoss.samplingRate = samplingRate;
        settingsAtLoss.filterMode = filterMode;
        settingsAtLoss.accelerometerRate = accelerometerRate;
        settingsAtLoss.impedanceDriverMode = impedanceDriverMode;
        settingsAtLoss.analogResetMode = analogResetMode;
        settingsAtLoss.dataAcquisitionMode = dataAcquisitionMode;
        settingsAtLoss.serialNumber = serialNumber;
    }
    // A loss before the first sample after a restoration continues the gap
    // that is still open: one gap, one pair of events.
    const bool newGap = !gapOpen;
    if (newGap) {
        gapPosition = samplesProcessed;
        gapLastHost = haveLastSample ? lastSampleStamp : HostClock();
    }
    ClosePort();
    if (newGap) PostLinkEvent(VOQ_LINK_LOST, 0, gapPosition);
    if (WillShow(1))
        Message(1, "link to the headset lost (" + why + "): reconnecting for up to " +
                       NumberString(reconnectSeconds) + " s");
    // A worker that has just restored the link may still be returning.
    for (int tries = 0; !reconnectThread.Start(); ++tries) {
        if (tries > 5000) {
            GiveUp("gave up reconnecting to the headset: the reconnection thread could not be started");
            break;
        }
        Sleep(0.001);
    }
    return true;
}

bool Headset::SilenceIsLoss(double since) {
    if (!(reconnectSeconds > 0.0) || !keepLink.load() || linkState.load() != kLinkUp || dataAcquisitionMode == 0)
        return false;
    if (PrecisionTime() - std::max(since, double(lastBlockTime)) <= VOQ_WAIT_SILENCE_LIMIT) return false;
    ReadLockGuard guard(*this);
    return LinkLost("no block has arrived from the headset for " + NumberString(VOQ_WAIT_SILENCE_LIMIT) + " seconds");
}

void Headset::RunReconnection() {
    std::string lastFailure;
    double deadline, seconds;
    DeviceSettings settings;
    {
        std::lock_guard<std::mutex> lock(linkLock);
        lastFailure = lossReason;
        deadline = reconnectDeadline;
        seconds = reconnectDeadline - lossTime;
        settings = settingsAtLoss;
    }
    double pause = kFirstPause;
    for (;;) {
        const double wakeUp = std::min(PrecisionTime() + pause, deadline);
        while (PrecisionTime() < wakeUp && !reconnectThread.stopRequested.load()) Sleep(0.005);
        if (reconnectThread.stopRequested.load()) return;
        if (PrecisionTime() >= deadline) {
            GiveUp("gave up reconnecting to the headset on " + Port() + " after " + NumberString(seconds) + " s (" +
                   lastFailure + ")");
            return;
        }
        pause = std::min(pause * kPauseGrowth, kLongestPause);
        bool opened = false;
        try {
            {
                ReadLockGuard guard(*this);
                pendingInput.clear();
                resynchronizationNeeded = false;
                port.Reopen();
            }
            opened = true;
            RestoreSession(settings);
            return;
        } catch (const DifferentHeadsetError& e) {
            ClosePort();
            GiveUp(std::string("gave up reconnecting: ") + e.what());
            return;
        } catch (const std::exception& e) {
            lastFailure = e.what();
            ClosePort();
            if (opened && WillShow(2)) Message(2, "reconnection attempt failed (" + lastFailure + "): trying again");
        }
    }
}

void Headset::RestoreSession(const DeviceSettings& settings) {
    InitializeDevice(true, settings.serialNumber);

    // What the caller had set on the device.
    if (settings.samplingRate > 0.0 && settings.filterMode >= 0 &&
        (samplingRate != settings.samplingRate || filterMode != settings.filterMode))
        ApplyAcquisitionSettings(static_cast<unsigned short>(settings.samplingRate),
                                 static_cast<unsigned short>(settings.filterMode));
    if (settings.accelerometerRate >= 0.0 && accelerometerRate != settings.accelerometerRate)
        SetAccelerometerRate(static_cast<unsigned short>(settings.accelerometerRate));
    if (settings.impedanceDriverMode >= 1 && impedanceDriverMode < 1) StartImpedanceDriver();
    if (settings.analogResetMode == 2 && analogResetMode != 2) LockAnalogReset();
    if (settings.analogResetMode == 1 && analogResetMode != 1) StartAnalogReset(true);

    const bool acquiring = settings.dataAcquisitionMode == 1;
    {
        // The device's time stamps and packet counter start again from the
        // start-up: the sample clock learns the new stream afresh (its stamps
        // still never go back), and so do the accelerometer's sample times.
        ReadLockGuard guard(*this);
        sampleClock.Reset();
        for (int k = 0; k < 4; ++k) {
            currentAccelerometerSample[k] = 0.0;
            nextAccelerometerSample[k] = 0.0;
        }
        if (acquiring) gapOpen = true;
    }
    if (acquiring) StartDataAcquisition();

    double away;
    {
        std::lock_guard<std::mutex> lock(linkLock);
        away = PrecisionTime() - lossTime;
    }
    if (!acquiring) {
        uint64_t position;
        {
            ReadLockGuard guard(*this);
            position = gapPosition;
        }
        PostLinkEvent(VOQ_LINK_RESTORED, 0, position);
        if (WillShow(1)) Message(1, "link to the headset restored after " + SecondsText(away) + " s");
    }
    linkRestorations.fetch_add(1);
    // Last: from here on the other threads read and command again.
    linkState = kLinkUp;
}

void Headset::GiveUp(const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(linkLock);
        giveUpMessage = message;
    }
    keepLink = false;
    linkState = kLinkGaveUp;
    uint64_t position;
    {
        ReadLockGuard guard(*this);
        position = gapPosition;
        gapOpen = false;
    }
    PostLinkEvent(VOQ_LINK_GAVE_UP, 0, position);
    if (WillShow(1)) Message(1, message);
}

void Headset::StopReconnecting() {
    keepLink = false;
    reconnectThread.StopAndWait();
    linkState = kLinkUp;
    linkFailed = false;
    ReadLockGuard guard(*this);
    gapOpen = false;
}

void Headset::PostLinkEvent(int kind, uint64_t missing, uint64_t position) {
    LinkEvent event;
    event.kind = kind;
    event.seconds = SecondsSinceConnection();
    event.missing = missing;
    event.position = position;
    std::lock_guard<std::mutex> lock(linkLock);
    linkEvents.push_back(event);
    // A caller that never takes them keeps the most recent.
    while (linkEvents.size() > kMaxAlarms) linkEvents.pop_front();
}

bool Headset::TakeLinkEvent(LinkEvent& event, uint64_t& before) {
    {
        std::lock_guard<std::mutex> lock(linkLock);
        if (linkEvents.empty()) return false;
        event = linkEvents.front();
        linkEvents.pop_front();
    }
    // The output buffers and the sample count, seen together.
    ReadLockGuard guard(*this);
    const uint64_t after = samplesProcessed - std::min(samplesProcessed, event.position);
    const uint64_t level = Buffered();
    before = level > after ? level - after : 0;
    return true;
}

// ---------------------------------------------------------------------------
// The gap, on the sample clock

void Headset::CloseGap(double firstStamp) {
    gapOpen = false;
    const double rate = samplingRate;
    const double gap = (firstStamp - gapLastHost) * rate - 1.0;
    const uint64_t missing = gap > 0.0 && std::isfinite(gap) ? uint64_t(std::llround(gap)) : 0;
    PostLinkEvent(VOQ_LINK_RESTORED, missing, gapPosition);
    if (WillShow(1)) {
        double away;
        {
            std::lock_guard<std::mutex> lock(linkLock);
            away = PrecisionTime() - lossTime;
        }
        Message(1, "link to the headset restored after " + SecondsText(away) + " s: " + std::to_string(missing) +
                       " samples missing");
    }
}

}  // namespace VOQ
