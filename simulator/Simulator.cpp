// The public interface of the simulated headset: each call takes the
// device's mutex and acts on the device (Device.h) at once.
#include "Device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace voqsim {

Simulator::Simulator(Config config) : device_(new Device) {
    Validate(config);
    device_->config = std::move(config);
    device_->LoadImageLocked(ImageOf(device_->config));
    device_->stream.SetDrift(device_->config.driftPpm, 0.0);
    device_->framer.Restart(device_->config.seed);
    device_->framer.SetJitter(device_->config.jitterMilliseconds * 1e-3);
}

Simulator::~Simulator() { Stop(); }

std::string Simulator::Start() {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (d.running) throw std::logic_error("the simulated headset is already running");
    int wake[2];
    if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe failed: ") + strerror(errno));
    try {
        d.truth.Open(d.config.truthPath);
        d.link.Open();
        d.link.SetLinkPath(d.config.linkPath);
        d.link.Publish();
    } catch (...) {
        d.link.Close();
        d.truth.Close();
        close(wake[0]);
        close(wake[1]);
        throw;
    }
    d.wakeRead = wake[0];
    d.wakeWrite = wake[1];
    d.epoch = std::chrono::steady_clock::now();
    d.stopRequested = false;
    d.hangUpRequested = false;
    d.commands.clear();
    d.stats = StreamStats();
    d.framer.Restart(d.config.seed);
    d.ResetDevice(0.0);
    d.firstAcquisitionHost = -1.0;
    d.nextDrop = 0;
    d.droppedOnSchedule = false;
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    return d.link.Path();
}

void Simulator::Stop() {
    Device& d = *device_;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (!d.running) return;
        d.stopRequested = true;
        d.changed.notify_all();
        d.Wake();
    }
    d.thread.join();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.link.Withdraw();
    d.link.Close();
    d.truth.Close();
    close(d.wakeRead);
    close(d.wakeWrite);
    d.wakeRead = d.wakeWrite = -1;
    d.running = false;
    d.changed.notify_all();
}

bool Simulator::IsRunning() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running;
}

std::string Simulator::DevicePath() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running ? device_->link.Path() : std::string();
}

void Simulator::Configure(const Config& config) {
    Validate(config);
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.ApplyConfig(config, d.running ? d.Now() : 0.0);
    d.Wake();
}

Config Simulator::GetConfig() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->config;
}

void Simulator::SetDriftPpm(double ppm) {
    if (!(ppm > -500000.0 && ppm < 500000.0))
        throw std::invalid_argument("drift must be within +-500000 ppm");
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.SetDrift(ppm, d.running ? d.Now() : 0.0);
    d.Wake();
}

bool Simulator::SetImpedance(const std::string& electrode, double kOhm) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.config.impedanceKOhm[electrode] = kOhm;
    for (const Slot& s : d.slots)
        if (Lower(s.name) == Lower(electrode)) return true;
    return false;
}

void Simulator::SetAllImpedances(double kOhm) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.impedanceAllKOhm = kOhm;
    device_->config.impedanceKOhm.clear();
}

void Simulator::SetCMFImpedance(double kOhm) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.cmfImpedanceKOhm = kOhm;
}

void Simulator::SetBatteryLevels(int battery1Percent, int battery2Percent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.battery1Percent = battery1Percent;
    device_->config.battery2Percent = battery2Percent;
}

void Simulator::SetTrigger(double periodSeconds, int value) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.triggerPeriodSeconds = std::max(0.0, periodSeconds);
    device_->config.triggerValue = value;
}

void Simulator::UseLayout(const std::string& name) {
    const Image image = LayoutImage(name);
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.layout = name;
    device_->config.image.clear();
    device_->LoadImageLocked(image);
}

void Simulator::LoadImage(const Image& image) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->config.image.assign(image.begin(), image.end());
    device_->LoadImageLocked(image);
}

std::vector<CommandRecord> Simulator::Commands() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->commands;
}

size_t Simulator::CommandCount() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->commands.size();
}

void Simulator::ClearCommands() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->commands.clear();
}

bool Simulator::WaitForCommands(size_t count, double timeoutSeconds) const {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    return d.changed.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
                              [&] { return d.commands.size() >= count; });
}

DeviceState Simulator::State() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->state;
}

StreamStats Simulator::Stats() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    StreamStats s = device_->stats;
    s.nextBlockNumber = device_->framer.NextNumber();
    return s;
}

Image Simulator::CalibrationImage() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->image;
}

std::vector<Slot> Simulator::Slots() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->slots;
}

double Simulator::HostTime() const {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->running ? device_->Now() : 0.0;
}

void Simulator::RecordBlockWrites(bool on) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->link.RecordWrites(on);
}

std::vector<BlockWrite> Simulator::TakeBlockWrites() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    return device_->link.TakeWrites();
}

void Simulator::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->silent = silent;
}

void Simulator::SetSilentTo(int family, bool silent) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (silent)
        device_->silentFamilies.insert(family);
    else
        device_->silentFamilies.erase(family);
}

void Simulator::SetRefusal(int family, int code) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (code == 0)
        device_->refusals.erase(family);
    else
        device_->refusals[family] = code & 0xFF;
}

void Simulator::FailFirstAttempts(int family, int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (count > 0)
        device_->failFirst[family] = count;
    else
        device_->failFirst.erase(family);
}

void Simulator::SetMalformedAnswer(int family, bool malformed) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    if (malformed)
        device_->malformed.insert(family);
    else
        device_->malformed.erase(family);
}

void Simulator::CorruptNextBlocks(int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->framer.CorruptNext(std::max(0, count));
}

void Simulator::SetCorruptBlockFraction(double fraction) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->framer.SetCorruptFraction(std::max(0.0, std::min(1.0, fraction)));
}

void Simulator::TruncateNextBlock(size_t keepBytes) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->framer.TruncateNext(keepBytes);
}

void Simulator::DropBytesInNextBlock(size_t count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->framer.DropBytesInNext(count);
}

void Simulator::SwapNextBlocks() {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->framer.SwapNext();
}

void Simulator::SkipDataPackets(int count) {
    std::lock_guard<std::mutex> lock(device_->mutex);
    device_->skipNext += std::max(0, count);
}

void Simulator::SendAlarm(int species, int codeByte, const std::vector<unsigned>& parameters,
                          bool sixteenBit) {
    if (species != wire::kAlarmMaster && species != wire::kAlarmSlave)
        throw std::invalid_argument("alarm species must be 2 (master) or 6 (slave)");
    if (parameters.size() > wire::kMaxAlarmParameters) throw std::invalid_argument("an alarm has at most 63 parameters");
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.QueueAlarm(species, codeByte & 0xFF, parameters, sixteenBit, d.running ? d.Now() : 0.0);
    d.Wake();
}

void Simulator::SendRaw(const std::vector<uint8_t>& bytes) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.silent || !d.Active() || !d.link.IsOpen()) return;
    // Blocks already made go first.
    const double now = d.Now();
    if (!d.packets.empty()) d.BuildBlocks(now);
    d.framer.QueueRaw(bytes, now);
    d.DeliverReady(now);
    d.Wake();
}

void Simulator::LoseLink(bool hangUp) {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    // The device thread closes the terminal itself: it may be polling it.
    d.LoseLinkLocked(false);
    if (hangUp && d.running && d.link.IsOpen()) d.hangUpRequested = true;
    d.Wake();
}

std::string Simulator::RestoreLink() {
    Device& d = *device_;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (!d.running) throw std::logic_error("the simulated headset is not running");
    d.Wake();
    d.changed.wait(lock, [&] { return !d.hangUpRequested || d.stopRequested; });
    if (d.stopRequested) throw std::logic_error("the simulated headset is stopping");
    d.RestoreLinkLocked();
    d.Wake();
    return d.link.Path();
}

void Simulator::ClearFaults() {
    Device& d = *device_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.silent = false;
    d.silentFamilies.clear();
    d.refusals.clear();
    d.failFirst.clear();
    d.malformed.clear();
    const double now = d.running ? d.Now() : 0.0;
    d.framer.ClearFaults(now);
    d.DeliverReady(now);
    d.skipNext = 0;
    d.Wake();
}

}  // namespace voqsim
