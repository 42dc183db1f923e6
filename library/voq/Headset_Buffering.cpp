// Buffers, flushing, the buffering controller, paced batches, the waiting
// functions, receiving and idling, and the background acquisition thread.
#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "voq/Headset.h"

namespace VOQ {

namespace {

// Waiting loops sleep this long between looks at the buffers.
const double kPollPause = 0.001;
// In the last moments before a batch deadline the loop spins instead.
const double kSpinBeforeDeadline = 0.002;
// While the background worker reads, the batch wait has nothing to read
// itself: it sleeps in longer steps (each wake-up costs more than the look
// it takes), ending each no later than the 1-ms steps could end, 1 ms before
// the deadline (with room for a late wake-up).
const double kWorkerPollPause = 0.010;
const double kLastWakeBeforeDeadline = 0.0015;
// Pause after a pace reset, so that the batch is not handed over at once.
const double kPauseAfterReset = 0.003;

std::string Decimal(uint64_t value) { return std::to_string(value); }

// The calling thread's CPU time, for the spin account.
double ThreadCpuSeconds() {
    timespec t;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0.0;
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

uint64_t SmallestCapacity(const std::vector<Channel*>& channels) {
    uint64_t smallest = std::numeric_limits<uint64_t>::max();
    for (const Channel* channel : channels)
        if (channel) smallest = std::min(smallest, channel->buffer.Capacity());
    return smallest;
}

}  // namespace

// ---------------------------------------------------------------------------
// Buffers

uint64_t Headset::SamplesFor(double seconds) const {
    double samples = double(samplingRate) * seconds + 0.5;
    if (!(samples >= 1.0)) return 0;   // unknown rate, negative or NaN length
    if (samples > 1e9)
        throw Error("cannot make buffers of " + NumberString(seconds) + " seconds at " +
                    NumberString(samplingRate) + " samples per second: too long");
    return uint64_t(samples);
}

void Headset::ReallocateBuffers(double bufferSeconds, double impedanceSeconds) {
    uint64_t impedanceLength = SamplesFor(impedanceSeconds);
    uint64_t channelLength = std::max<uint64_t>(SamplesFor(bufferSeconds), 1);
    RefuseChangeInsideCallback("change buffer lengths");
    // The reading thread writes these buffers: keep it out while they change.
    ReadLockGuard guard(*this);
    for (Source* source : sources)
        if (source) source->AllocateImpedanceBuffers((unsigned long)impedanceLength);
    for (Channel* channel : montage)
        if (channel) channel->buffer.Allocate(channelLength);
    bufferDuration = bufferSeconds;
    impedanceWindow = impedanceSeconds;
    FitSampleTimes();
}

void Headset::FlushBuffers() {
    ReadLockGuard guard(*this);
    for (Source* source : montageSources)
        if (source) source->FlushImpedanceBuffers();
    // The montage directly, too: without a "raw" stage no stage reaches it.
    for (Channel* channel : montage)
        if (channel) channel->buffer.Flush();
    for (ProcessingStage* stage : cascade) {
        if (!stage) continue;
        for (Channel* channel : stage->channels)
            if (channel) channel->buffer.Flush();
    }
}

uint64_t Headset::Buffered() const {
    const std::vector<Channel*>& channels = OutputChannels();
    bool any = false;
    uint64_t level = 0;
    for (const Channel* channel : channels) {
        if (!channel) continue;
        uint64_t buffered = channel->buffer.Buffered();
        level = any ? std::min(level, buffered) : buffered;
        any = true;
    }
    return level;
}

uint64_t Headset::BufferOverflow() const {
    uint64_t largest = 0;
    for (const Channel* channel : OutputChannels())
        if (channel) largest = std::max(largest, channel->buffer.Overflowed());
    return largest;
}

// ---------------------------------------------------------------------------
// The buffering controller

void Headset::ConfigureBufferingController(double interval, double smoothing, double p, double i, double d) {
    updateInterval = interval;
    levelSmoothing = smoothing;
    gainP = p;
    gainI = i;
    gainD = d;
    batchCount = 0;
    ResetPace();
}

void Headset::ConfigureBatch(unsigned int size, double latency) {
    batchSize = size;
    batchLatency = latency;
    batchCount = 0;
    ResetPace();
}

bool Headset::RebaseBufferingController(double rate, bool resetUpdates) {
    deadlineBaseBatch = batchCount;
    controllerBaseBatch = batchCount;
    deadlineBaseTime = PrecisionTime();
    deadlineCorrection = 0.0;
    if (resetUpdates) controllerUpdates = 0.0;
    if (rate != 0.0) estimatedSampleRate = rate;
    return true;
}

void Headset::ResetPace() { RebaseBufferingController(samplingRate, true); }

// ---------------------------------------------------------------------------
// Waiting

// Callbacks run on the reading thread with the read lock held: a wait or a
// read there would wait for itself.
void Headset::CheckNotReadingThread() const { RefuseInsideCallback("wait for samples or read blocks"); }

void Headset::CheckWaitPossible(uint64_t samplesNeeded) {
    CheckNotReadingThread();
    FitSampleTimes();   // channels a stage added itself
    const std::vector<Channel*>& channels = OutputChannels();
    if (channels.empty())
        throw Error("cannot wait for samples: the headset has no output channels (choose a montage first)");
    uint64_t capacity = SmallestCapacity(channels);
    if (samplesNeeded > capacity)
        throw Error("cannot wait for " + Decimal(samplesNeeded) + " samples: the output buffers hold only " +
                    Decimal(capacity) + " (make them longer with ReallocateBuffers)");
}

// Throws instead of waiting on when the worker has failed or the headset has
// fallen silent.
void Headset::CheckWaitProgress(double callStart) {
    const int link = linkState.load();
    if (link == kLinkGaveUp) throw Error("gave up waiting for samples: " + GiveUpMessage());
    if (acquisitionThread.finished.load() && acquisitionThread.failed.load() && !workerFailureReported) {
        workerFailureReported = true;
        throw Error("Background acquisition ended by an error: " + acquisitionThread.ErrorMessage());
    }
    // While a reconnection tries, its own time limit bounds the wait.
    if (link == kLinkLost) return;
    double since = std::max(callStart, double(LastBlockTime()));
    if (PrecisionTime() - since > VOQ_WAIT_SILENCE_LIMIT && !SilenceIsLoss(callStart))
        throw Error("gave up waiting for samples: no block has arrived from the headset for " +
                    NumberString(VOQ_WAIT_SILENCE_LIMIT) + " seconds");
}

void Headset::Pump(double callStart) {
    Sleep(kPollPause);
    if (!acquisitionThread.Alive()) {
        try {
            TryToReadBlock();
        } catch (const Error&) {
            // A reconnection that has just given up (and ended the worker
            // with it) ends the wait with its own reason.
            CheckWaitProgress(callStart);
            throw;
        }
    }
    CheckWaitProgress(callStart);
}

void Headset::ReadOrWait() {
    if (acquisitionThread.Alive())
        Sleep(kPollPause);
    else
        TryToReadBlock();
}

// True when a block read would find bytes at once: bytes kept back by the
// reader, queued fake input, or bytes waiting in the serial device.
bool Headset::InputWaiting() {
    ReadLockGuard guard(*this);
    if (!pendingInput.empty()) return true;
    if (const std::deque<uint8_t>* fake = port.FakeData()) return !fake->empty();
    if (!port.IsOpen()) return false;
    int count = 0;
    if (ioctl(port.Descriptor(), FIONREAD, &count) != 0) return false;
    return count > 0;
}

void Headset::DiscardDownTo(uint64_t keep) {
    auto trim = [keep](Channel* channel) {
        if (!channel || !channel->buffer.IsAllocated()) return;
        uint64_t buffered = channel->buffer.Buffered();
        for (uint64_t k = keep; k < buffered; ++k) channel->buffer.Read();
    };
    // Trimming is idempotent, so a channel in both lists is no problem.
    for (Channel* channel : OutputChannels()) trim(channel);
    for (Channel* channel : montage) trim(channel);
}

double Headset::WaitForBatch() {
    CheckReadable();
    const double callStart = PrecisionTime();
    const double R = samplingRate;
    if (!(R > 0.0)) throw Error("cannot wait for a batch: the sampling rate is not known");
    const uint64_t B = batchSize;
    if (B == 0) throw Error("cannot wait for a batch: the batch size is 0 (configure a batch first)");
    double reserve = R * batchLatency + 0.5;
    const uint64_t W = reserve >= 1.0 ? uint64_t(reserve) : 0;
    const uint64_t N = batchCount;
    const uint64_t firstLevel = W + B + 4;
    CheckWaitPossible(N == 0 ? firstLevel : B);
    CheckWaitProgress(callStart);

    // After a lost link the batches start again like the first one, without
    // discarding: the samples from before the loss are still to be read.
    const bool relinked = linkRestorations.load() != restorationsSeen || !IsLinkUp();

    bool reset = false;
    double stamp;
    double deadline = 0.0;
    if (N == 0 || relinked) {
        while (Buffered() < firstLevel) Pump(callStart);
        restorationsSeen = linkRestorations.load();
        if (N == 0 && Buffered() > firstLevel) DiscardDownTo(firstLevel);
        Sleep(kPauseAfterReset);
        ResetPace();
        reset = true;
        stamp = SecondsSinceConnection();
    } else {
        if (!(estimatedSampleRate > 0.0)) estimatedSampleRate = R;
        deadlineCorrection += double(B) / estimatedSampleRate - double(B) / R;
        deadline = deadlineBaseTime + double(N - deadlineBaseBatch) * double(B) / R + deadlineCorrection;
        const uint64_t discharge = 3 * B + W;
        double spinStart = -1.0;   // thread CPU time when the final spin began
        for (double now = PrecisionTime(); now < deadline; now = PrecisionTime()) {
            uint64_t level = Buffered();
            if (level > discharge) {
                ResetPace();
                if (WillShow(2))
                    Message(2, "Discharging buffer and resetting controller (triggered by " + Decimal(level) +
                                   " samples in buffer)");
                reset = true;
                break;
            }
            if (now < deadline - kSpinBeforeDeadline) {
                if (acquisitionThread.Alive())
                    SleepSeconds(std::min(kWorkerPollPause, deadline - kLastWakeBeforeDeadline - now));
                else
                    Sleep(kPollPause);
            } else if (spinStart < 0.0)
                spinStart = ThreadCpuSeconds();
            // Read only what is already there, so that a read never runs
            // past the deadline.
            if (!acquisitionThread.Alive() && PrecisionTime() < deadline - kSpinBeforeDeadline && InputWaiting())
                TryToReadBlock();
            CheckWaitProgress(callStart);
        }
        if (spinStart >= 0.0) spinSeconds += ThreadCpuSeconds() - spinStart;
        stamp = SecondsSinceConnection();
    }

    if (Buffered() < B) {
        // With reconnection on, the violation is reported once the buffer is
        // refilled, and only when the link stayed up: samples that a lost
        // link took are missing, not late.
        const bool reconnection = reconnectSeconds > 0.0;
        const uint64_t restorations = linkRestorations.load();
        const char* const violation = "Real-time violation - refilling buffer and resetting controller";
        if (!reconnection && WillShow(2)) Message(2, violation);
        while (Buffered() < B) Pump(callStart);
        if (reconnection && IsLinkUp() && linkRestorations.load() == restorations && WillShow(2))
            Message(2, violation);
        ResetPace();
        stamp = SecondsSinceConnection();
        Sleep(kPauseAfterReset);
        reset = true;
    }

    const double level = double(Buffered());
    const double r = (level - double(B)) / R;
    if (N == 0 || relinked)
        smoothedLevel = r;
    else
        smoothedLevel = levelSmoothing * smoothedLevel + (1.0 - levelSmoothing) * r;

    const double P = double(B) / R;
    updateInterval = P * std::trunc(updateInterval / P + 0.5);

    // An update needs at least one batch since the last one (a zero interval
    // would otherwise divide by zero).
    if (!reset && N > controllerBaseBatch && P * double(N - controllerBaseBatch) >= updateInterval) {
        const double delta = P * double(N - controllerBaseBatch);
        const double e = smoothedLevel - batchLatency;
        if (controllerUpdates < 2) {
            previousError = e;
            integratedError = 0.0;
        }
        integratedError += delta * e;
        const double d = (e - previousError) / delta;
        previousError = e;
        const double limit = 0.5 / R;
        double c = gainP * e + gainI * integratedError + gainD * d;
        if (c > limit) c = limit;
        if (c < -limit) c = -limit;
        const double newRate = 1.0 / (1.0 / R - c);
        deadlineBaseBatch = N;
        controllerBaseBatch = N;
        // The new pace starts from when this batch was due, not from when the
        // wait noticed it: the wake-up delay of every update would otherwise
        // add up and slow the pace below the rate the controller reports.
        deadlineBaseTime = deadline;
        deadlineCorrection = 0.0;
        if (newRate != 0.0 && std::isfinite(newRate)) estimatedSampleRate = newRate;
        if (WillShow(4))
            Message(4, "Buffering error = " + NumberString(e) + "; integrated = " + NumberString(integratedError) +
                           "; derivative = " + NumberString(d) + "; correction = " + NumberString(-c));
        if (WillShow(3)) {
            char text[64];
            std::snprintf(text, sizeof text, "%.15g", double(estimatedSampleRate));
            Message(3, std::string("Estimated sample rate updated to ") + text);
        }
        controllerUpdates += 1.0;
    }
    batchCount = N + 1;
    return stamp;
}

uint64_t Headset::WaitForSamples(uint64_t n) {
    CheckReadable();
    const double callStart = PrecisionTime();
    CheckWaitPossible(n);
    CheckWaitProgress(callStart);
    for (;;) {
        uint64_t level = Buffered();
        if (level >= n) return level;
        Pump(callStart);
    }
}

void Headset::WasteSamples(uint64_t n) {
    if (Buffered() > n) DiscardDownTo(n);
}

// ---------------------------------------------------------------------------
// Reading in the caller's thread

void Headset::Receive(double duration, double idleTime) {
    CheckReadable();
    CheckNotReadingThread();
    const double t0 = SecondsSinceConnection();
    if (dataAcquisitionMode == 0) StartDataAcquisition();
    if (dataAcquisitionMode != 0) {
        if (duration < 0) {
            while (dataAcquisitionMode != 0) ReadOrWait();
        } else {
            while (dataAcquisitionMode != 0) {
                ReadOrWait();
                if (SecondsSinceConnection() >= t0 + duration) {
                    if (dataAcquisitionMode != 0) StopDataAcquisition();
                    break;
                }
            }
        }
    }
    if (idleTime == 0) return;
    Idle(idleTime);
}

void Headset::Idle(double seconds) {
    CheckReadable();
    CheckNotReadingThread();
    const double t0 = PrecisionTime();
    if (seconds < 0) {
        for (;;) ReadOrWait();
    }
    do {
        ReadOrWait();
    } while (PrecisionTime() - t0 < seconds);
}

// ---------------------------------------------------------------------------
// Background acquisition

bool Headset::StartBackgroundAcquisition() {
    CheckNotReadingThread();
    acquisitionThread.StopAndWait();
    workerFailureReported = false;
    return acquisitionThread.Start();
}

void Headset::StopBackgroundAcquisition() { acquisitionThread.stopRequested = true; }

void* AcquisitionThread::Run() {
    if (!headset) return nullptr;
    // Marks the reading loop, however it is left.
    struct StreamingScope {
        std::atomic<bool>& flag;
        explicit StreamingScope(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~StreamingScope() { flag = false; }
    };
    try {
        const bool wasRunning = headset->DataAcquisitionMode() != 0;
        if (!wasRunning) headset->StartDataAcquisition();
        {
            StreamingScope scope(streaming);
            const double loopStart = PrecisionTime();
            while (!stopRequested.load()) {
                headset->SilenceIsLoss(loopStart);
                // While the link is lost the reconnection owns the port (and
                // the stream stops and starts again under it).
                const int link = headset->linkState.load();
                if (link == Headset::kLinkLost) {
                    Sleep(kWorkerPollPause);
                    continue;
                }
                if (link == Headset::kLinkGaveUp) throw Error(headset->GiveUpMessage());
                if (headset->DataAcquisitionMode() == 0) break;
                headset->TryToReadBlock();
                Sleep(kPollPause);
            }
        }
        if (!wasRunning && headset->IsLinkUp() && headset->DataAcquisitionMode() != 0)
            headset->StopDataAcquisition();
    } catch (const std::exception& e) {
        headset->Message(1, std::string("Background acquisition ended by an error: ") + e.what());
        throw;
    }
    return nullptr;
}

}  // namespace VOQ
