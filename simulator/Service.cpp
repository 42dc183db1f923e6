// The device thread: one service pass per wake-up (the host opening and
// closing the port, due samples, commands, battery alarms, blocks, output),
// delivery of blocks to the link, and link loss.
#include "Device.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include <poll.h>
#include <unistd.h>

namespace voqsim {

namespace {

const size_t kMaxBacklog = 256 * 1024;   // undelivered bytes before blocks are dropped
const double kIdleWakeSeconds = 0.05;

}  // namespace

void Simulator::Device::GenerateSamples(double now) {
    if (!state.acquiring) return;
    SampleSettings settings;
    settings.signals = Inputs();
    settings.triggerPeriodSeconds = config.triggerPeriodSeconds;
    settings.triggerValue = config.triggerValue;
    settings.sevenSensors = sevenSensors;
    settings.skip = skipNext;
    stream.Generate(now, settings, slots, stats, packets);
    skipNext = settings.skip;
}

void Simulator::Device::BuildBlocks(double now) {
    if (silent || !Active()) {
        DiscardPackets();
        return;
    }
    uint8_t clock[wire::kClockRecordSize];
    stream.Reading(now, clock);
    framer.Frame(packets, stream.Stamp(now), clock, now, stats);
    urgent = false;
    DeliverReady(now);
}

void Simulator::Device::DeliverReady(double now) {
    std::vector<Block> ready;
    framer.TakeReady(now, ready);
    for (const Block& block : ready) Deliver(block);
}

void Simulator::Device::Deliver(const Block& block) {
    if (block.raw) {
        if (link.IsOpen()) link.Append(block.bytes);
        return;
    }
    if (link.Backlog() > kMaxBacklog || !link.IsOpen()) {
        // The host is not reading: the device's buffer overflows.
        stats.samplesDiscarded += block.samples.size();
        return;
    }
    BlockWrite w;
    w.number = block.number;
    w.dataPackets = int(block.samples.size());
    w.lastSample = block.samples.empty() ? -1 : block.samples.back();
    w.lastSampleStamp = block.lastSampleStamp;
    link.AppendBlock(block.bytes, w);
    ++stats.blocksSent;
    for (int64_t s : block.samples) {
        if (stats.firstSampleNumber < 0) stats.firstSampleNumber = s;
        stats.lastSampleNumber = s;
        ++stats.dataPacketsSent;
    }
    stats.accelerometerPacketsSent += block.accelerometerPackets;
    truth.Observe(block, EpochSeconds(), ReportedSensorCount() == 7);
}

void Simulator::Device::DiscardPackets() {
    for (const QueuedPacket& p : packets)
        if (p.sample >= 0) ++stats.samplesDiscarded;
    packets.clear();
    urgent = false;
}

void Simulator::Device::DiscardUndelivered() {
    DiscardPackets();
    stats.samplesDiscarded += framer.Discard();
    link.DropOutput();
}

// ---- the host opening and closing the port ----

void Simulator::Device::HostOpened() {
    connectionPending = true;
    if (state.linkUp && !state.poweredOn) state.poweredOn = true;
}

void Simulator::Device::HostClosed() {
    StopEverything();
    DiscardUndelivered();
    input.clear();
    connectionPending = true;
    link.FlushHostInput();
}

// ---- link loss ----

void Simulator::Device::LoseLinkLocked(bool hangUp) {
    state.linkUp = false;
    StopEverything();
    DiscardUndelivered();
    input.clear();
    if (hangUp && link.IsOpen()) {
        link.Withdraw();
        link.Close();
        changed.notify_all();
    }
}

void Simulator::Device::RestoreLinkLocked() {
    if (!link.IsOpen()) {
        link.Open();
        link.Publish();
    }
    state.linkUp = true;
    state.poweredOn = true;
    state.hostOpenCount = 0;
    connectionPending = true;
    input.clear();
}

// ---- the thread ----

void Simulator::Device::Service(double now) {
    if (hangUpRequested) {
        link.Withdraw();
        link.Close();
        hangUpRequested = false;
        changed.notify_all();
    }
    FollowDropSchedule(now);
    link.Watch().Take([this](bool opened) {
        if (opened) {
            if (state.hostOpenCount++ == 0) HostOpened();
        } else if (state.hostOpenCount > 0 && --state.hostOpenCount == 0) {
            HostClosed();
        }
    });
    GenerateSamples(now);   // what fell due before the commands that follow
    ReadInput(now);
    if (Active() && nextBatteryHost >= 0.0 && now >= nextBatteryHost) {
        QueueAlarm(wire::kAlarmMaster, wire::kAlarmBatteryLevel,
                   {unsigned(config.battery1Percent), unsigned(config.battery2Percent),
                    unsigned(config.battery1Counts), unsigned(config.battery2Counts)},
                   true, now);
        nextBatteryHost += config.batteryPeriodSeconds;
        if (nextBatteryHost < now) nextBatteryHost = now + config.batteryPeriodSeconds;
    }
    GenerateSamples(now);
    const bool blockDue = state.acquiring && now >= nextBlockHost;
    if (!packets.empty() && (urgent || !state.acquiring || blockDue)) BuildBlocks(now);
    if (blockDue) {
        nextBlockHost += config.blockIntervalSeconds;
        if (nextBlockHost < now) nextBlockHost = now + config.blockIntervalSeconds;
    }
    DeliverReady(now);
    link.Flush([this] { return Now(); });
}

// Deadlines other than the streaming cadence.
double Simulator::Device::NextDeadline(double now) const {
    double deadline = now + kIdleWakeSeconds;
    if (nextBatteryHost >= 0.0) deadline = std::min(deadline, nextBatteryHost);
    if (!input.empty()) deadline = std::min(deadline, inputSince + kHoldOffSeconds + 0.001);
    deadline = std::min(deadline, framer.NextRelease());
    deadline = std::min(deadline, NextDropEvent());
    return deadline;
}

// ---- the drop schedule ----

double Simulator::Device::NextDropEvent() const {
    if (firstAcquisitionHost < 0.0 || nextDrop >= config.drops.size())
        return std::numeric_limits<double>::infinity();
    const LinkDrop& d = config.drops[nextDrop];
    return firstAcquisitionHost + d.atSeconds + (droppedOnSchedule ? d.seconds : 0.0);
}

void Simulator::Device::FollowDropSchedule(double now) {
    if (now < NextDropEvent()) return;
    if (!droppedOnSchedule) {
        LoseLinkLocked(true);
        droppedOnSchedule = true;
        return;
    }
    try {
        RestoreLinkLocked();
    } catch (const std::exception&) {
        return;   // no pseudo-terminal to be had now: tried again at the next pass
    }
    droppedOnSchedule = false;
    ++nextDrop;
}

void Simulator::Device::Run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopRequested) {
        Service(Now());
        // While acquisition runs the device wakes for the block cadence:
        // samples are made when their block goes.
        const double now = Now();
        double deadline = NextDeadline(now);
        if (state.acquiring) deadline = std::min(deadline, nextBlockHost);
        const double until = std::max(0.0, deadline - now);
        struct pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {wakeRead, POLLIN, 0};
        if (link.IsOpen()) {
            short events = POLLIN;
            if (link.Backlog() > 0) events = short(events | POLLOUT);
            fds[count++] = {link.Descriptor(), events, 0};
        }
        if (link.Watch().Descriptor() >= 0) fds[count++] = {link.Watch().Descriptor(), POLLIN, 0};
        lock.unlock();
#ifdef __linux__
        // To the microsecond: a wait rounded up to whole milliseconds would
        // write every block up to a millisecond after its time, a delay of
        // the simulator's own on top of the link's jitter.
        struct timespec timeout;
        timeout.tv_sec = time_t(until);
        timeout.tv_nsec = long((until - double(timeout.tv_sec)) * 1e9);
        ppoll(fds, count, &timeout, nullptr);
#else
        poll(fds, count, int(std::ceil(until * 1000.0)));
#endif
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(wakeRead, drain, sizeof drain) > 0) {
            }
        }
        lock.lock();
    }
}

}  // namespace voqsim
