// Sample times on the host's clock: each sample stamped once on the reading
// path, the stamps kept beside the output channels' buffered values, and
// what the caller reads of them.
#include "voq/Headset.h"

#include <algorithm>

namespace VOQ {

double Headset::StampSample(const DataPacketStruct& packet) {
    const double rate = samplingRate;
    const int ticksPerSample = rate > 0.0 ? int(kTicksPerSecond / rate + 0.5) : 0;
    const int gap = dataCounterGap;
    dataCounterGap = 0;
    return sampleClock.Stamp(packet.header.timeStamp, gap, ticksPerSample);
}

void Headset::FitSampleTimes() {
    // Never inside a sample (a callback that changes buffers): the ring is
    // being written, and may be read by the caller's thread.
    if (readLockOwner.load() == std::this_thread::get_id() && sampleTimes.InSample()) return;
    // Every unread value of every channel, and the value read before them,
    // keep their times.
    uint64_t longest = 0;
    for (const Channel* channel : montage)
        if (channel) longest = std::max(longest, channel->buffer.Capacity());
    for (const ProcessingStage* stage : cascade)
        if (stage)
            for (const Channel* channel : stage->channels)
                if (channel) longest = std::max(longest, channel->buffer.Capacity());
    if (longest + 1 <= sampleTimes.Capacity()) return;
    ReadLockGuard guard(*this);
    sampleTimes.Reserve(longest + 1);
}

unsigned int Headset::SampleTimes(double* times, unsigned int count) {
    if (count == 0) return 0;
    // A callback runs on the thread that writes the times, inside a sample:
    // it reads them as they are and changes nothing.
    const bool readingThread = readLockOwner.load() == std::this_thread::get_id();
    if (!readingThread) FitSampleTimes();
    if (sampleTimes.Count() == 0 && !(readingThread && sampleTimes.InSample()))
        throw Error("no sample time yet: no sample has arrived from the headset");
    if (OutputChannels().empty())
        throw Error("no sample time: the headset has no output channels (choose a montage first)");
    const int64_t copied = sampleTimes.Copy(
        [this](uint64_t samples) { return int64_t(samples) - 1 - int64_t(Buffered()); }, times, count, readingThread);
    if (copied < 0) throw Error("no sample time yet: every sample that arrived is still unread");
    if (copied == 0) throw Error("no sample time: the time of the sample most recently read is no longer kept");
    return unsigned(copied);
}

double Headset::SampleTime() {
    double time = 0.0;
    SampleTimes(&time, 1);
    return time;
}

double Headset::CallbackSampleTime() const {
    if (readLockOwner.load() != std::this_thread::get_id() || !sampleTimes.InSample())
        throw Error("no callback sample time: only a sample or stage callback can ask for the time of its sample");
    return sampleTimes.Current();
}

}  // namespace VOQ
