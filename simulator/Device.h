// The simulated headset's device: its state, and the parts that do its
// jobs.  Internal to the simulator.
//
//   Link.*, PortWatch*     the pseudo-terminal, its output, the symbolic link,
//                          and the watch on the host opening and closing it
//   Commands.cpp           reading command packets, carrying them out and
//                          answering (named codes in Wire.h)
//   Stream.*               the device clock, the sample clock and the
//                          packets of each sample (signals in SignalModel.*)
//   Framing.*, Truth.*     blocks, block faults and jitter; the trigger truth file
//   Device.cpp             the device's state changes and configuration
//   Service.cpp            the device thread's loop, delivery, link loss and
//                          the drop schedule
//   Simulator.cpp          the public interface
//
// Every member is guarded by `mutex`; the device thread holds it except
// while it waits in poll().
#ifndef VOQSIM_DEVICE_H
#define VOQSIM_DEVICE_H

#include "Framing.h"
#include "Link.h"
#include "SignalModel.h"
#include "Simulator.h"
#include "Stream.h"
#include "Truth.h"
#include "Wire.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace voqsim {

// An incomplete command packet is dropped after this long.
const double kHoldOffSeconds = 0.25;

void Validate(const Config& config);
Image ImageOf(const Config& config);
int OccupiedSlots(const Image& image);

struct Simulator::Device {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    Config config;
    Image image{};
    std::vector<Slot> slots;
    bool sevenSensors = false;
    DeviceState state;

    // The thread and its wake-up pipe.
    std::thread thread;
    int wakeRead = -1;
    int wakeWrite = -1;
    bool running = false;
    bool stopRequested = false;
    bool hangUpRequested = false;   // LoseLink(true) from another thread
    std::chrono::steady_clock::time_point epoch;
    bool connectionPending = true;

    Link link;
    Stream stream;
    Framer framer;
    TriggerTruth truth;

    // The drop schedule, from the host's first start of acquisition.
    double firstAcquisitionHost = -1.0;
    size_t nextDrop = 0;
    bool droppedOnSchedule = false;

    double nextBlockHost = 0.0;
    double nextBatteryHost = -1.0;

    // Input not yet parsed, and since when.
    Bytes input;
    double inputSince = 0.0;

    // Packets waiting to be framed; urgent ones go without waiting for the
    // block cadence.
    std::vector<QueuedPacket> packets;
    bool urgent = false;

    // Command faults.
    bool silent = false;
    std::set<int> silentFamilies;
    std::map<int, int> refusals;
    std::map<int, int> failFirst;
    std::set<int> malformed;
    int skipNext = 0;

    std::vector<CommandRecord> commands;
    StreamStats stats;

    // ---- Device.cpp: state changes (all with the mutex held) ----
    double Now() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - epoch).count();
    }
    // Monotonic-clock seconds of host time 0.
    double EpochSeconds() const {
        return std::chrono::duration<double>(epoch.time_since_epoch()).count();
    }
    bool Active() const { return state.linkUp && state.poweredOn; }
    int ReportedSensorCount() const;
    void Wake() const;
    void LoadImageLocked(const Image& newImage);
    void ResetDevice(double now);
    void StartAcquisition(double now);
    void StopAcquisition();
    void StopEverything();
    void SetRate(int rate, int filter, double now);
    void SetAccelerometerRate(int rate);
    void SetDrift(double ppm, double now);
    void ApplyConfig(const Config& newConfig, double now);
    SignalInputs Inputs() const;

    // ---- Commands.cpp ----
    void ReadInput(double now);
    void ParseInput(double now);
    void Handle(CommandRecord& r, double now);
    int Execute(const CommandRecord& r, double now, std::vector<Bytes>& answers);
    void AfterAnswer(const CommandRecord& r, double now);
    void Queue(Bytes packet, bool makeUrgent = true);
    void QueueAlarm(int species, int codeByte, const std::vector<unsigned>& parameters, bool sixteenBit,
                    double now);
    void QueueResponse(int species, int code, int identifier, const Bytes& payload, double now,
                       int triggerDelay = -1);
    std::string Identification() const;
    uint32_t SerialNumber() const;
    Bytes Page(int page) const;

    // ---- Service.cpp ----
    void Run();
    void Service(double now);
    double NextDeadline(double now) const;
    void GenerateSamples(double now);
    void BuildBlocks(double now);
    void DeliverReady(double now);
    void Deliver(const Block& block);
    void DiscardPackets();
    void DiscardUndelivered();
    void HostOpened();
    void HostClosed();
    void LoseLinkLocked(bool hangUp);
    void RestoreLinkLocked();
    void FollowDropSchedule(double now);
    double NextDropEvent() const;
};

}  // namespace voqsim

#endif
