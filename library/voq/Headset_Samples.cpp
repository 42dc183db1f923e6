// Data and accelerometer packets, and the per-sample update of sources,
// impedances, montage channels, processing stages and the sample callback.
//
// Everything here runs on the thread that reads blocks, with the read lock
// held.  The per-sample path allocates nothing and formats a message only
// when the verbosity shows it.
#include <cmath>
#include <cstdio>

#include "voq/Headset.h"

namespace VOQ {

namespace {

const double kTwoPi = 6.283185307179586;

// "data packet  12 arrived timestamped   1.234567", into `text`.
const char* ArrivalText(char (&text)[96], int sequence, double packetTime) {
    std::snprintf(text, sizeof text, "data packet %3d arrived timestamped %10.6f", sequence, packetTime);
    return text;
}

// One sample's time in the ring while the sample is processed, its
// callbacks included (also when one of them throws).
class SampleInProgress {
public:
    SampleInProgress(SampleTimeRing& ring, double time) : times(ring) { times.BeginSample(time); }
    ~SampleInProgress() { times.EndSample(); }
    SampleInProgress(const SampleInProgress&) = delete;
    SampleInProgress& operator=(const SampleInProgress&) = delete;

private:
    SampleTimeRing& times;
};

}  // namespace

void Headset::ProcessData(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    if (length < DataPacketStruct::kWireSize) {
        if (WillShow(2)) Message(2, "malformed data packet");
        return;
    }
    if (length > DataPacketStruct::kWireSize && WillShow(3)) Message(3, "extraneous bytes in data packet");

    DataPacketStruct data;
    DataPacketStruct::Decode(packet, data);
    const int sequence = data.sequenceNumber;
    // Samples since the previous one by the counter (0: unknown).
    dataCounterGap = expectedDataPacketCounter == -1 ? 0 : (sequence - expectedDataPacketCounter + 256) % 256 + 1;
    if (expectedDataPacketCounter == -1) expectedDataPacketCounter = sequence;
    char text[96];
    if (sequence == expectedDataPacketCounter) {
        if (WillShow(5)) Message(5, ArrivalText(text, sequence, packetTime));
    } else if (WillShow(2)) {
        Message(2, std::string(ArrivalText(text, sequence, packetTime)) + " - OUT OF SEQUENCE (expected " +
                       std::to_string(expectedDataPacketCounter) + ")");
    }
    expectedDataPacketCounter = (sequence + 1) % 256;
    ProcessSample(data, receptionTime, packetTime);
}

void Headset::ProcessExtendedData(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    (void)receptionTime;
    if (length <= ExtendedDataHeaderStruct::kSubtypeOffset) {
        if (WillShow(2)) Message(2, "malformed extended data packet");
        return;
    }
    const int subtype = packet[ExtendedDataHeaderStruct::kSubtypeOffset];
    if (subtype != ExtendedDataSubtype::AccelerometerData) {
        if (WillShow(3))
            Message(3, "Ignoring class-4 extended data packet of subtype 0x" + HexString(subtype, 2, true) + " (" +
                           ExtendedDataSubtypeName(subtype) + ").");
        return;
    }
    const size_t expected = ExtendedDataHeaderStruct::kAccelerometerPacketSize;
    if (length < expected) {
        if (WillShow(2)) Message(2, "malformed accelerometer data packet");
        return;
    }
    if (length > expected && WillShow(3)) Message(3, "extraneous bytes in accelerometer data packet");

    // x, y and z of one sample, `offset` seconds after the packet's stamp.
    auto sample = [&](double offset, size_t values) {
        HandleAccelerometerSample(packetTime + offset, ReadS16LE(packet + values), ReadS16LE(packet + values + 2),
                                  ReadS16LE(packet + values + 4));
    };
    using namespace AccelerometerLayout;
    sample(0.0, kFirstValues);
    sample(ReadS16LE(packet + kSecondOffset) / kTicksPerSecond, kSecondValues);
    sample(ReadS16LE(packet + kThirdOffset) / kTicksPerSecond, kThirdValues);
}

void Headset::HandleAccelerometerSample(double time, double x, double y, double z) {
    // The queues and the trigger delay line belong to the reading thread
    // (responses reallocate them on the same thread): no entry protocol.
    accelerometerQueues[0].WriteUnshared(time);
    accelerometerQueues[1].WriteUnshared(x);
    accelerometerQueues[2].WriteUnshared(y);
    accelerometerQueues[3].WriteUnshared(z);
    if (WillShow(3)) {
        char text[160];
        std::snprintf(text, sizeof text, "accelerometer data: t=%07.3f, x=%+4.0f, y=%+4.0f, z=%+4.0f", time, x, y, z);
        Message(3, text);
    }
}

void Headset::ProcessSample(const DataPacketStruct& packet, double receptionTime, double packetTime) {
    (void)receptionTime;
    const double stamp = StampSample(packet);
    if (gapOpen) CloseGap(stamp);
    const SampleInProgress sample(sampleTimes, stamp);

    // Reference waves of the impedance driver's two frequencies.
    double c110 = 0.0, s110 = 0.0, c130 = 0.0, s130 = 0.0;
    if (impedanceDriverMode >= 1) {
        const double w = kTwoPi * packetTime;
        c110 = std::cos(110.0 * w);
        s110 = std::sin(110.0 * w);
        c130 = std::cos(130.0 * w);
        s130 = std::sin(130.0 * w);
    }

    // Accelerometer: at most one new sample per data sample, once its time
    // has been reached.
    if (accelerometerRate > 0.0 && nextAccelerometerSample[0] <= packetTime) {
        for (int k = 0; k < 4; ++k) currentAccelerometerSample[k] = nextAccelerometerSample[k];
        if (accelerometerQueues[0].Buffered() > 0) {
            for (int k = 0; k < 4; ++k)
                nextAccelerometerSample[k] = accelerometerQueues[k].Buffered() > 0 ? accelerometerQueues[k].ReadUnshared() : 0.0;
        }
    }

    // Trigger, delayed like the filtered signals.  The delay line advances
    // once per sample.
    int triggerByte = packet.trigger;
    if (sensorCount == 7) triggerByte >>= 4;
    if (!triggerDelayLine.IsAllocated()) triggerDelayLine.Allocate(1);
    triggerDelayLine.WriteUnshared(double(triggerByte));
    const int delayedTrigger = triggerDelayLine.Buffered() > 0 ? int(triggerDelayLine.ReadUnshared()) : 0;

    // Sources, in list order: the first 24 from the readings, then by code.
    int currentTrigger = 0;
    bool haveSinceClockSet = false;
    double sinceClockSet = -1.0;
    const size_t sourceCount = sources.size();
    const size_t slotCount = sourceCount < 24 ? sourceCount : 24;
    for (size_t i = 0; i < slotCount; ++i)
        if (Source* source = sources[i]) source->SetRawSignal(packet.readings[i]);
    for (size_t i = slotCount; i < sourceCount; ++i) {
        Source* source = sources[i];
        if (!source) continue;
        const int code = source->code;
        switch (code) {
            case SourceID::TRG:
                currentTrigger = delayedTrigger;
                source->SetRawSignal(currentTrigger);
                break;
            case SourceID::SND:
                source->SetRawSignal(packetTime);
                break;
            case SourceID::RCV:
                if (!haveSinceClockSet) {
                    haveSinceClockSet = true;
                    if (onboardClockSet.isSet) {
                        int64_t wholeSeconds = 0;
                        double fraction = 0.0;
                        onboardClockSet.AskTheComputer(wholeSeconds, fraction);
                        sinceClockSet = double(wholeSeconds - onboardClockSet.seconds) +
                                        (fraction - onboardClockSet.fraction);
                    }
                }
                source->SetRawSignal(sinceClockSet);
                break;
            case SourceID::TRG0:
            case SourceID::TRG1:
            case SourceID::TRG2:
            case SourceID::TRG3:
            case SourceID::TRG4:
            case SourceID::TRG5:
            case SourceID::TRG6:
            case SourceID::TRG7:
                source->SetRawSignal(((currentTrigger >> (code - SourceID::TRG0)) & 1) ? 1.0 : 0.0);
                break;
            case SourceID::ACCT:
            case SourceID::ACCX:
            case SourceID::ACCY:
            case SourceID::ACCZ:
                source->SetRawSignal(currentAccelerometerSample[code - SourceID::ACCT]);
                break;
            default:
                break;
        }
    }

    // Impedance estimates of the montage's referential electrodes.
    for (Source* source : montageSources)
        if (source && source->IsReferentialEEG()) source->ComputeImpedance(c110, s110, c130, s130);

    // Montage channels.
    for (Channel* channel : montage) {
        if (!channel) continue;
        const double value = channel->CalculateRawSignal();
        if (channel->buffer.IsAllocated()) channel->buffer.Write(value);
    }

    // Processing stages, then the caller's callback.  While they run, this
    // thread is marked as the callbacks' thread: changes of the montage and
    // the cascade made from a callback are refused (they would pull the
    // lists from under this loop).
    struct CallbackScope {
        std::atomic<std::thread::id>& marker;
        explicit CallbackScope(std::atomic<std::thread::id>& m) : marker(m) {
            marker.store(std::this_thread::get_id(), std::memory_order_relaxed);
        }
        ~CallbackScope() { marker.store(std::thread::id(), std::memory_order_relaxed); }
    } scope(callbackThread);
    VOQ_Headset handle = reinterpret_cast<VOQ_Headset>(this);
    const double rate = samplingRate;
    for (size_t k = 0; k < cascade.size(); ++k) {
        ProcessingStage* stage = cascade[k];
        if (stage && stage->filter)
            stage->RunFilter(rate);
        else if (stage && stage->callback)
            stage->callback(handle, packetTime, reinterpret_cast<VOQ_ProcessingStage>(stage));
    }
    VOQ_SampleCallback callback = sampleCallback.load();
    if (callback) callback(handle, packetTime, sampleCallbackUserData.load());
    lastSampleStamp = stamp;
    haveLastSample = true;
    ++samplesProcessed;
}

void Headset::SetSampleCallback(VOQ_SampleCallback callback, void* userData) {
    // Under the read lock, so that no sample sees the new callback with the
    // old user data.
    ReadLockGuard guard(*this);
    sampleCallback = callback;
    sampleCallbackUserData = userData;
}

}  // namespace VOQ
