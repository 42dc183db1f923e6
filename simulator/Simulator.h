// The simulated headset: a device model that serves the headset's wire
// protocol on a fresh pseudo-terminal, for tests, tools and demos that have no
// hardware.
//
// In-process use:
//
//     voqsim::Config config;                 // defaults: "standard24", 300/s
//     config.samplingRate = 600;
//     voqsim::Simulator sim(config);
//     std::string path = sim.Start();        // e.g. "/dev/pts/7"
//     ... open `path` as a serial port (the library, or any raw reader) ...
//     sim.SetSilentTo(29, true);             // inject faults at any time
//     auto commands = sim.Commands();        // what the host sent
//     sim.Stop();                            // also done by the destructor
//
// The device (one thread per Simulator):
//   - Reads command packets from the host: an optional "~" (0x7E) prefix, the
//     length byte, destination, CRC, family, identifier, payload.  A packet
//     whose CRC is wrong is not carried out; the device answers it with the
//     "CheckFailed" alarm (master code byte 0x31).  A length byte below 5
//     gives the "PacketSizeError" alarm (0x30, one 8-bit parameter: the
//     length); a packet left incomplete for 250 ms is discarded with the
//     "HoldOffDelay" alarm (0x2F).  Every packet is kept in the record
//     (Commands()).
//   - Answers each command with one response packet from the processor it was
//     addressed to (species 1 for destination 1, master; species 5 for
//     destination 2, slave), code = the family, identifier = the command's
//     identifier.  A destination other than 1 or 2 is recorded and ignored.
//     An unknown family is refused with the reserved code 0xE0.  Answers by
//     family (u16 = two bytes, low byte first):
//       18  firmware revision text of that processor and a NUL, "1.18.0\0".
//       19  one response per entry of that processor's sub-revision map, in
//           key order, each 4 bytes: key, value, 0, 0 (so one query teaches
//           the host the whole map).  With a payload byte, only that key's
//           entry (0xF0 when there is no such key).  An empty map answers
//           one entry 0, 0.
//       29  the identification text, no terminator ("VOQ24 HS Rev 2").
//       30  LED: payload u16 (or one byte) is stored; answer 1 byte: the LED
//           value's low byte.
//       33  data acquisition mode, u16 sub-command 0 query, 1 stop, 2 start;
//           answer 4 bytes: mode (0 stopped, 1 running), filter mode, u16
//           sampling rate.  Other sub-commands: 0xF0.
//       40  u32 serial number, u16 sensor count.
//       47  calibration memory.  Read: u16 page (0 to 7) -> page, 0, the 16
//           bytes.  Write: 0xA0 + page, 0x3C, 16 bytes -> stored, answered
//           like a read of that page.  Page 8 or more: 0xF0; write-enable
//           byte not 0x3C: 0xF1; write with fewer than 16 data bytes: 0xF2.
//       48  real-time clock.  Six bytes (month, day, year - 2000, hour,
//           minute, second) set it and restart the device's tick count at 0;
//           no payload queries it; answer 13 bytes: current reading (6), one
//           unused byte (0), the time it was last set (6).  A field out of
//           range: 0xF0 + its index; another payload size: 0xF0.
//       65  analog reset, u16 sub-command 0 query, 1 release, 2 start,
//           3 lock; answer u16 mode: 0 released, 1 in reset, 2 locked.
//      145  self test: answer u16 0 (passed).
//      165  acquisition settings.  u16 rate (300 or 600, else 0xF0), u16
//           filter mode (0 or 1, else 0xF1) change them; a shorter payload
//           or a rate of 0 only queries.  Answer 10 bytes: u16 rate, u16
//           filter mode, u16 record type (1), u32 channel selection
//           (0x00FFFFFF: all 24 slots).
//      172  accelerometer rate.  No payload queries; u16 rate sets it when it
//           is one of the supported rates, else 0xF0; answer u16 rate.
//      186  battery monitor, u16 1 starts, u16 0 stops (else 0xF0); answer
//           u16 state.  While it runs: a "BatteryLevel" alarm (master code
//           byte 0x0F, four 16-bit parameters: battery 1 %, battery 2 %,
//           counts 1, counts 2) after batteryFirstDelaySeconds, then every
//           batteryPeriodSeconds.
//      189  shutdown: answer u16 1, then the "PowerDown" alarm (0x02), then
//           the device is off: it stops streaming and ignores the host until
//           the host opens the port again or RestoreLink() is called.
//      203  internal storage: answer u16 0, u16 0 (no storage fitted).
//      218  impedance driver, u16 sub-command 0 query, 1 stop, 2 start;
//           answer u16 mode (0 off, 1 on).
//      236  echo: the payload is answered unchanged (cut to 247 bytes).
//     A sub-command family without its u16 payload is refused with 0xF0.
//   - Sends framed blocks: "#2", u16 length L (24 to 1024), u32 time stamp,
//     4 zero bytes, u16 CRC of bytes 14 to L - 3, u16 block number (wraps at
//     65536), the clock record (month, day, year - 2000, hour, minute,
//     second), packets back to back, CR LF.  Packets never straddle blocks;
//     more packets than fit make more blocks.  While acquisition runs a block
//     goes out every blockIntervalSeconds with the packets that fell due;
//     answers and alarms go out at once in a block of their own (with any
//     data packets due by then).  While idle, nothing is sent unless there is
//     something to say.
//   - Time stamps count 1/1800 s ticks of the device's own clock since its
//     clock was last set (or since Start()).  The device's clock runs at
//     (1 + driftPpm * 1e-6) times real time on the host's monotonic clock;
//     each data packet advances the stamp by 1800 / rate ticks (6 at 300/s,
//     3 at 600/s).
//   - While acquisition runs: one data packet (species 3, 56 bytes: header,
//     sequence number = sample number mod 256, trigger byte, 24 x s16) per
//     sample; sample numbers restart at 0 with each start.  With an
//     accelerometer rate R > 0, an accelerometer packet (species 4, 30
//     bytes, subtype 20) every three accelerometer samples, sent before the
//     first data packet that is not earlier than its third sample; offsets 2
//     and 3 are 1800 / R and 2 * 1800 / R ticks.  Accelerometer counts:
//     about 1000 on z (gravity), a slow sway of some tens of counts on x and
//     y, plus a few counts of noise.
//   - Signals, in microvolts, per slot (see Slot), turned into counts through
//     the slot's gain: raw = round(microvolts / gain), gain = 0.301 (74.0 for
//     the common-mode slot) x (1 + g x 2^-15), g the slot's signed gain
//     correction at byte 24 + 4 x slot of the image; clamped to the s16 range
//     (0 when the gain is 0).  Content, deterministic from the seed and the
//     sample number: a 1/f-like background (backgroundMicrovolts RMS); a
//     10 Hz alpha rhythm (alphaMicrovolts on occipital, 0.7 of it on parietal
//     and posterior temporal sites, 0.15 elsewhere); blinks (blinkMicrovolts
//     peak, 300 ms raised cosine) on frontal sites, the first 1 s after the
//     start, then every 2 to 5 s; the common-mode slot carries a slow wander
//     of about 1.5 mV.  While the impedance driver is on, every electrode and
//     ear or mastoid reference slot also carries
//         a110 cos(2 pi 110 t + p1) + a130 cos(2 pi 130 t + p2),
//     t = the packet time stamp / 1800, a110 = 2 Z / 0.01950289701,
//     a130 = 2 Zcmf / 0.0239163282228 (Z the electrode's impedance and Zcmf
//     the common-mode impedance in kOhm), so that the in-phase and quadrature
//     means of a one-second window give back Z and Zcmf.  Keep the sum of the
//     two amplitudes below about 9.8 mV (Z + 0.8 Zcmf below about 95 kOhm):
//     counts beyond the s16 range are clamped.
//   - Triggers: every triggerPeriodSeconds (rounded to whole samples; 0 turns
//     them off) the trigger byte carries a value for one sample, first at one
//     period after the start: triggerValue, or 1, 2, 3, ... 255, 1, ... when
//     it is 0.  On a 7-sensor headset the value (1 to 15) travels in the
//     upper four bits of the trigger byte.
//   - The link: the device keeps the pseudo-terminal's device side open
//     itself, so the port never hangs up between connections and bytes sent
//     before the host opens wait for it.  The device watches the host open
//     and close the port: the first command after an open (or after Start()
//     or RestoreLink()) is preceded by the "ConnectionCreated" alarm (master
//     code byte 0x33); when the last host closes the port the device stops
//     acquisition, the impedance driver and the battery monitor and discards
//     what it had not yet delivered.
//   - Link loss: LoseLink(true), or the drop schedule (Config::drops), closes
//     the pseudo-terminal: a real hang-up, the host's reads and writes fail
//     at once.  RestoreLink(), or the schedule, brings the device back on a
//     new pseudo-terminal, powered on as after a reconnection.  A host that
//     opens Config::linkPath instead of the device path finds the device
//     again there.
//   - Time-stamp proofs: Config::jitterMilliseconds holds blocks back at
//     random, never out of order; Config::truthPath names a file that gets
//     the measurement time of every trigger onset the host will see.
//
// Thread safety: every public method may be called from any thread at any
// time; configuration and faults take effect at once.
#ifndef VOQSIM_SIMULATOR_H
#define VOQSIM_SIMULATOR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace voqsim {

// ---------------------------------------------------------------------------
// Calibration images and layouts

// The 128-byte calibration memory: slot codes at 0 to 23, the signed gain
// correction of slot k at 24 + 4k, the common-mode follower position at 126
// (layout version 2 and later), the layout version at 127.
using Image = std::array<uint8_t, 128>;

// Built-in layouts:
//   "standard24": a 24-slot 10-20 headset, layout version 2, common-mode
//       follower at Pz (byte 126 = 33, so the Pz slot is the common-mode
//       slot).  Slots 0 to 23: Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3
//       Pz(common mode) P4 T6 O1 O2 A1 A2 X1 X2 X3.  Small gain corrections
//       (within +-150 units of 2^-15).
//   "seven": a 7-sensor headset, layout version 1.  Slot 0 is X1 with the
//       flag bit (0x97), wired as the linked ear reference A1A2; slots 1 to
//       6: F3 F4 C3 C4 P3 P4; slots 7 to 23 and bytes 120 to 126 erased
//       (0xFF).
//   "erased": all 128 bytes 0xFF.
std::vector<std::string> LayoutNames();
// The image of a built-in layout; throws std::invalid_argument for another
// name.  Names are compared ignoring letter case.
Image LayoutImage(const std::string& name);
// Reads an image from a file: a bare 128-byte binary image, "BIN" and one
// line feed followed by the 128 bytes, or "DEC" / "HEX" followed by 128
// whitespace-separated decimal / hexadecimal values.  Throws
// std::runtime_error naming the file on failure.
Image ReadImageFile(const std::string& path);

enum class SlotKind {
    Unused,      // code 0x00 (NR) or 0xFF (NC)
    Electrode,   // a scalp position: background, alpha, blinks, impedance tones
    Reference,   // A1, A2, M1, M2, A1A2, M1M2: background, impedance tones
    Auxiliary,   // X1 to X3, ECG, EMG, EOG: background only
    CommonMode,  // the common-mode follower (CM, or the follower position)
};

// How the device is wired, as it reads its own image.
struct Slot {
    int index = 0;       // 0 to 23: reading index in a data packet
    int code = 0;        // source identifier (the flag bit removed; 18 for the
                         // common-mode slot; 36 for a 7-sensor slot 0 X1 at
                         // layout version 1)
    std::string name;    // the code's name ("CM" for the common-mode slot)
    SlotKind kind = SlotKind::Unused;
    double gain = 0.0;   // microvolts per count
};
std::vector<Slot> DescribeSlots(const Image& image);

// ---------------------------------------------------------------------------
// Configuration

// A loss of the link on the drop schedule: a hang-up `atSeconds` after the
// host first started acquisition, and the device back `seconds` later.
struct LinkDrop {
    double atSeconds = 0.0;
    double seconds = 0.0;
};

struct Config {
    int samplingRate = 300;              // 300 or 600 (power-on setting)
    int filterMode = 1;                  // 0 or 1
    std::string layout = "standard24";   // a built-in layout ...
    std::vector<uint8_t> image;          // ... or, when 128 bytes, this image

    // Identity.  Empty / zero / negative means "by layout": "VOQ24 HS Rev 2"
    // and serial 2400117 for "standard24" and "erased", "VOQ7 HS Rev 1" and
    // serial 700042 for "seven" (and for an image with seven sensors); the
    // sensor count answered to family 40 is the number of occupied slots.
    std::string identification;
    uint32_t serialNumber = 0;
    int sensorCount = -1;
    std::string masterFirmware = "1.18.0";
    std::string slaveFirmware = "1.9.4";
    std::map<int, int> masterSubRevisions{{1, 2}, {2, 7}};
    std::map<int, int> slaveSubRevisions{{1, 3}};

    // Battery monitor.
    int battery1Percent = 87;
    int battery2Percent = 84;
    int battery1Counts = 3912;
    int battery2Counts = 3890;
    double batteryFirstDelaySeconds = 0.25;
    double batteryPeriodSeconds = 10.0;

    // Clock drift of the device against the host, parts per million.
    double driftPpm = 0.0;

    // Impedances in kOhm: per electrode by name (ignoring letter case; the
    // names of Slot::name), others impedanceAllKOhm; the common-mode
    // impedance is cmfImpedanceKOhm.
    double impedanceAllKOhm = 5.0;
    std::map<std::string, double> impedanceKOhm;
    double cmfImpedanceKOhm = 2.0;

    // Triggers.
    double triggerPeriodSeconds = 1.0;   // 0: no triggers
    int triggerValue = 0;                // 0: cycling 1, 2, 3, ...

    // Accelerometer.
    std::vector<int> accelerometerRates{0, 10, 25, 50, 100};
    int accelerometerRate = 10;          // power-on setting

    // Signal content.
    double backgroundMicrovolts = 10.0;
    double alphaMicrovolts = 20.0;
    double blinkMicrovolts = 100.0;

    uint64_t seed = 1;
    double blockIntervalSeconds = 0.02;

    // Link jitter: each block is held back by a random delay of 0 to this
    // many milliseconds before it is written, never overtaking an earlier
    // one, so that blocks arrive in bursts as over a radio link.  0 to 10000.
    double jitterMilliseconds = 0.0;
    // The trigger truth file ("" for none): for every trigger onset the host
    // will see, a line "VALUE SECONDS" is appended and flushed at once
    // (format "%d %.6f").  VALUE is the value the host's trigger channel
    // changes to; SECONDS is the time on the host's monotonic clock
    // (CLOCK_MONOTONIC, the clock of std::chrono::steady_clock) at which the
    // device measured the sample where the host's trigger channel changes.
    // The device measures sample n of a run at t0 + n / (rate x (1 + driftPpm
    // x 1e-6)), t0 the host time of the start command (piecewise, when the
    // rate or drift changes during the run), and never sends a sample before
    // it is measured.  The host shows each data packet's trigger late by the
    // number of samples it takes from the last acquisition-mode answer (16
    // while the filter is on at 300 or 600 samples/s, else 0), counting the
    // data packets it receives; the line names the sample where that
    // delayed trigger changes.  Start() opens the file for appending
    // (std::runtime_error when it cannot), Stop() closes it.
    std::string truthPath;

    // A symbolic link kept at this path ("" for none) to the current
    // pseudo-terminal: made by Start(), replaced atomically when the device
    // comes back on a new terminal, removed while the terminal is gone (so
    // that a host never opens a terminal that another program took over
    // meanwhile) and by Stop().  An existing file at the path is replaced.
    std::string linkPath;
    // The drop schedule: each entry loses the link with a real hang-up (as
    // LoseLink(true)) at its time after the host first starts acquisition
    // (after Start()), and brings the device back (as RestoreLink()) on a
    // new pseudo-terminal its `seconds` later.  Entries come in order, each
    // after the link is back from the one before (std::invalid_argument
    // otherwise); `atSeconds` >= 0, `seconds` > 0.
    std::vector<LinkDrop> drops;
};

// ---------------------------------------------------------------------------
// Observations

// One command packet as received.
struct CommandRecord {
    int destination = 0;           // byte 1
    int family = 0;                // byte 4
    int identifier = 0;            // byte 5
    std::vector<uint8_t> payload;  // bytes 6 ..
    bool crcValid = false;
    bool prefixed = false;         // preceded by "~"
    bool ignored = false;          // not carried out: bad CRC, bad destination,
                                   // a silencing fault, a lost link or the
                                   // device switched off
    double hostTime = 0.0;         // seconds since Start(), host monotonic clock
};

struct DeviceState {
    bool acquiring = false;
    int acquisitionMode = 0;       // 0 stopped, 1 running
    int impedanceDriverMode = 0;   // 0 off, 1 on
    int analogResetMode = 0;       // 0 released, 1 in reset, 2 locked
    int samplingRate = 300;
    int filterMode = 1;
    int accelerometerRate = 0;
    int led = 0;
    bool batteryMonitor = false;
    bool poweredOn = true;
    bool linkUp = true;            // false after LoseLink()
    int hostOpenCount = 0;         // host descriptors open on the port (as seen)
};

// Counts of the current (or the last) acquisition run, for reliability tests:
// samples are numbered from 0 at each start; a data packet carries its sample
// number mod 256.
struct StreamStats {
    uint64_t runs = 0;                   // acquisition starts since Start()
    uint64_t dataPacketsSent = 0;        // this run: data packets put in blocks
    int64_t firstSampleNumber = -1;      // this run: first sample sent
    int64_t lastSampleNumber = -1;       // this run: last sample sent
    uint64_t samplesSkipped = 0;         // this run: by SkipDataPackets()
    uint64_t samplesDiscarded = 0;       // this run: while silent or not delivered
    uint64_t accelerometerPacketsSent = 0;  // this run
    uint64_t blocksSent = 0;             // since Start(), all blocks
    uint64_t blocksCorrupted = 0;        // since Start(), CRC spoiled on purpose
    uint16_t nextBlockNumber = 0;
};

// One block as it left the device, for latency measurements (see
// RecordBlockWrites).
struct BlockWrite {
    uint16_t number = 0;             // block number
    int dataPackets = 0;             // data packets in the block
    int64_t lastSample = -1;         // sample number of its last data packet, -1 none
    uint32_t lastSampleStamp = 0;    // that packet's time stamp, in ticks
    double hostTime = 0.0;           // seconds since Start(), host monotonic clock:
                                     // just before the write() that handed the
                                     // block's last byte to the pseudo-terminal
};

// ---------------------------------------------------------------------------

class Simulator {
public:
    explicit Simulator(Config config = Config());
    ~Simulator();                                 // Stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens a fresh pseudo-terminal, starts the device thread and returns the
    // device path that the host opens (e.g. "/dev/pts/7").  The device is
    // powered on, stopped, with the configured rates, the configured image
    // and its clock at the host's local time.  Throws std::runtime_error when
    // the pseudo-terminal cannot be made, std::logic_error when running.
    std::string Start();
    // Ends the device thread and closes the pseudo-terminal.  Idempotent.
    void Stop();
    bool IsRunning() const;
    std::string DevicePath() const;               // "" when not running

    // Configuration.  Configure() replaces the whole configuration: a changed
    // layout or image replaces the calibration memory (page writes are lost),
    // a changed rate or filter mode applies at once.
    void Configure(const Config& config);
    Config GetConfig() const;
    void SetDriftPpm(double ppm);
    // Returns whether a slot of the current image has that name.
    bool SetImpedance(const std::string& electrode, double kOhm);
    void SetAllImpedances(double kOhm);           // clears per-electrode values
    void SetCMFImpedance(double kOhm);
    void SetBatteryLevels(int battery1Percent, int battery2Percent);
    void SetTrigger(double periodSeconds, int value);
    void UseLayout(const std::string& name);      // throws std::invalid_argument
    void LoadImage(const Image& image);

    // Observations (copies).
    std::vector<CommandRecord> Commands() const;
    size_t CommandCount() const;
    void ClearCommands();
    // Waits until at least `count` commands are in the record.
    bool WaitForCommands(size_t count, double timeoutSeconds) const;
    DeviceState State() const;
    StreamStats Stats() const;
    Image CalibrationImage() const;
    std::vector<Slot> Slots() const;
    // Seconds since Start() on the host's monotonic clock (std::chrono::
    // steady_clock): the time base of CommandRecord::hostTime and
    // BlockWrite::hostTime.  0 when not running.
    double HostTime() const;
    // Latency hook: while on, every block written to the pseudo-terminal is
    // recorded (at most 1,000,000, the oldest kept).  Turning it on clears the
    // record.  TakeBlockWrites() returns the record and clears it.
    void RecordBlockWrites(bool on);
    std::vector<BlockWrite> TakeBlockWrites();

    // Faults.  All take effect at once; ClearFaults() removes every standing
    // one (silence, per-family faults, corruption fraction, pending block
    // faults).
    // Nothing reaches the host (commands are still received and carried out;
    // due data packets are discarded).
    void SetSilent(bool silent);
    // Commands of this family are neither carried out nor answered.
    void SetSilentTo(int family, bool silent);
    // Commands of this family are answered with the refusal code (0x80,
    // 0xE0 to 0xE7, 0xF0 to 0xFF) and not carried out; 0 removes the fault.
    void SetRefusal(int family, int code);
    // The next `count` commands of this family are neither carried out nor
    // answered.
    void FailFirstAttempts(int family, int count);
    // Commands of this family are carried out but answered with a payload one
    // byte shorter than the family's smallest valid answer (an empty payload
    // for families whose answer is at most one byte).
    void SetMalformedAnswer(int family, bool malformed);
    // Spoil the CRC field of the next `count` blocks.
    void CorruptNextBlocks(int count = 1);
    // Spoil the CRC of this fraction (0 to 1) of all blocks, chosen by a
    // generator seeded from the seed.
    void SetCorruptBlockFraction(double fraction);
    // Send only the first `keepBytes` bytes (0: half) of the next block.
    void TruncateNextBlock(size_t keepBytes = 0);
    // Leave `count` bytes out of the middle of the next block's packet area.
    void DropBytesInNextBlock(size_t count);
    // Send the next two blocks in reverse order (a lone block is sent after
    // 100 ms when no second one follows).
    void SwapNextBlocks();
    // Leave out the next `count` samples (their numbers are skipped).
    void SkipDataPackets(int count);
    // Queue an alarm packet: species 2 (master) or 6 (slave), the code byte,
    // parameters 8- or 16-bit (at most 63).
    void SendAlarm(int species, int codeByte, const std::vector<unsigned>& parameters,
                   bool sixteenBit);
    // Queue raw bytes, sent between blocks.
    void SendRaw(const std::vector<uint8_t>& bytes);
    // The device disappears: it stops acquisition, the impedance driver and
    // the battery monitor, sends nothing and ignores the host.  With hangUp
    // the pseudo-terminal is closed as well (a real hang-up: the host's reads
    // and writes fail at once with a hang-up or EIO, as when a Bluetooth
    // serial device goes away), the device path and the symbolic link
    // (Config::linkPath) go away.  The device keeps its identity: serial
    // number, calibration image (page writes included) and settings (rates,
    // filter mode, clock).
    void LoseLink(bool hangUp);
    // The device comes back (after LoseLink(), a drop or a shutdown command):
    // powered on, stopped, announcing "ConnectionCreated" before its next
    // answer, ready for the host's start-up again.  Returns the device path,
    // which is a new one after a hang-up (the symbolic link then points to
    // it).  Throws std::runtime_error when no pseudo-terminal can be made.
    std::string RestoreLink();
    void ClearFaults();

private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace voqsim

#endif
