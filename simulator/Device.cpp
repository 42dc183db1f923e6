// The device's state changes and its configuration.
#include "Device.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <unistd.h>

namespace voqsim {

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Validate(const Config& c) {
    if (c.samplingRate != wire::kSamplingRates[0] && c.samplingRate != wire::kSamplingRates[1])
        throw std::invalid_argument("sampling rate must be 300 or 600, not " + std::to_string(c.samplingRate));
    if (c.filterMode != 0 && c.filterMode != 1) throw std::invalid_argument("filter mode must be 0 or 1");
    if (!c.image.empty() && c.image.size() != 128)
        throw std::invalid_argument("a calibration image has 128 bytes, not " + std::to_string(c.image.size()));
    if (c.image.empty()) LayoutImage(c.layout);   // throws for an unknown name
    if (std::find(c.accelerometerRates.begin(), c.accelerometerRates.end(), c.accelerometerRate) ==
        c.accelerometerRates.end())
        throw std::invalid_argument("accelerometer rate " + std::to_string(c.accelerometerRate) +
                                    " is not among the supported rates");
    for (int r : c.accelerometerRates)
        if (r < 0 || r > 1800) throw std::invalid_argument("accelerometer rates are 0 to 1800");
    if (!(c.blockIntervalSeconds >= 0.001 && c.blockIntervalSeconds <= 1.0))
        throw std::invalid_argument("block interval must be 1 ms to 1 s");
    if (!(c.batteryPeriodSeconds > 0.0)) throw std::invalid_argument("battery period must be positive");
    if (!(c.driftPpm > -500000.0 && c.driftPpm < 500000.0))
        throw std::invalid_argument("drift must be within +-500000 ppm");
    if (!(c.jitterMilliseconds >= 0.0 && c.jitterMilliseconds <= 10000.0))
        throw std::invalid_argument("jitter must be 0 to 10000 ms");
    double back = 0.0;   // when the link is back from the drop before
    for (const LinkDrop& d : c.drops) {
        if (!(d.atSeconds >= 0.0) || !(d.seconds > 0.0))
            throw std::invalid_argument("a link drop needs AT >= 0 and SECONDS > 0");
        if (d.atSeconds < back)
            throw std::invalid_argument("link drops come in order, each after the link is back from the one before");
        back = d.atSeconds + d.seconds;
    }
}

Image ImageOf(const Config& c) {
    if (c.image.size() == 128) {
        Image image;
        std::copy(c.image.begin(), c.image.end(), image.begin());
        return image;
    }
    return LayoutImage(c.layout);
}

int OccupiedSlots(const Image& image) {
    int n = 0;
    for (int k = 0; k < wire::kReadings; ++k)
        if (image[size_t(k)] != 0x00 && image[size_t(k)] != 0xFF) ++n;
    return n;
}

int Simulator::Device::ReportedSensorCount() const {
    return config.sensorCount >= 0 ? config.sensorCount : OccupiedSlots(image);
}

void Simulator::Device::Wake() const {
    if (wakeWrite >= 0) {
        const char c = 1;
        ssize_t ignored = write(wakeWrite, &c, 1);
        (void)ignored;
    }
}

void Simulator::Device::LoadImageLocked(const Image& newImage) {
    image = newImage;
    slots = DescribeSlots(image);
    sevenSensors = OccupiedSlots(image) == 7;
    stream.ResetSignals(config.seed, slots);
}

void Simulator::Device::ResetDevice(double now) {
    state = DeviceState();
    state.samplingRate = config.samplingRate;
    state.filterMode = config.filterMode;
    state.accelerometerRate = config.accelerometerRate;
    stream.Stop();
    stream.ResetClock(now);
    nextBatteryHost = -1.0;
    input.clear();
    packets.clear();
    framer.Discard();
    link.DropOutput();
    urgent = false;
    connectionPending = true;
}

void Simulator::Device::StartAcquisition(double now) {
    if (state.acquiring) return;
    state.acquiring = true;
    state.acquisitionMode = 1;
    const uint64_t blocks = stats.blocksSent, corrupted = stats.blocksCorrupted, runs = stats.runs;
    stats = StreamStats();
    stats.blocksSent = blocks;
    stats.blocksCorrupted = corrupted;
    stats.runs = runs + 1;
    stream.Start(now, state.samplingRate, state.accelerometerRate, config.seed, slots);
    nextBlockHost = now + config.blockIntervalSeconds;
    if (firstAcquisitionHost < 0.0) firstAcquisitionHost = now;
}

void Simulator::Device::StopAcquisition() {
    state.acquiring = false;
    state.acquisitionMode = 0;
    stream.Stop();
}

// What a headset does when its link goes: everything stops.
void Simulator::Device::StopEverything() {
    StopAcquisition();
    state.impedanceDriverMode = 0;
    state.batteryMonitor = false;
    nextBatteryHost = -1.0;
}

void Simulator::Device::SetRate(int rate, int filter, double now) {
    const bool changedRate = rate != state.samplingRate;
    state.samplingRate = rate;
    state.filterMode = filter;
    if (changedRate) stream.ChangeRate(now, rate, state.accelerometerRate, config.seed, slots);
}

void Simulator::Device::SetAccelerometerRate(int rate) {
    state.accelerometerRate = rate;
    stream.ChangeAccelerometerRate(rate);
}

void Simulator::Device::SetDrift(double ppm, double now) {
    config.driftPpm = ppm;
    stream.SetDrift(ppm, now);
}

// Configure(): the whole configuration replaced, applied at once.
void Simulator::Device::ApplyConfig(const Config& newConfig, double now) {
    const Config old = config;
    if (newConfig.driftPpm != old.driftPpm) SetDrift(newConfig.driftPpm, now);
    config = newConfig;
    if (newConfig.layout != old.layout || newConfig.image != old.image) LoadImageLocked(ImageOf(newConfig));
    if (newConfig.samplingRate != old.samplingRate || newConfig.filterMode != old.filterMode)
        SetRate(newConfig.samplingRate, newConfig.filterMode, now);
    if (newConfig.accelerometerRate != old.accelerometerRate) SetAccelerometerRate(newConfig.accelerometerRate);
    framer.SetJitter(newConfig.jitterMilliseconds * 1e-3);
    if (running && newConfig.truthPath != old.truthPath) truth.Open(newConfig.truthPath);
    if (newConfig.linkPath != old.linkPath) {
        if (running) link.Withdraw();
        link.SetLinkPath(newConfig.linkPath);
        if (running) link.Publish();
    }
}

SignalInputs Simulator::Device::Inputs() const {
    SignalInputs in;
    in.backgroundMicrovolts = config.backgroundMicrovolts;
    in.alphaMicrovolts = config.alphaMicrovolts;
    in.blinkMicrovolts = config.blinkMicrovolts;
    in.impedanceDriverOn = state.impedanceDriverMode != 0;
    in.cmfImpedanceKOhm = config.cmfImpedanceKOhm;
    std::map<std::string, double> byName;
    for (const auto& entry : config.impedanceKOhm) byName[Lower(entry.first)] = entry.second;
    for (size_t k = 0; k < size_t(wire::kReadings) && k < slots.size(); ++k) {
        auto it = byName.find(Lower(slots[k].name));
        in.impedanceKOhm[k] = it != byName.end() ? it->second : config.impedanceAllKOhm;
    }
    return in;
}

}  // namespace voqsim
