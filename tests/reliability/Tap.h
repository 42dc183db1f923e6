// A wire tap between the simulated headset and the library: it opens the
// simulator's device path as the host, offers the library a pseudo-terminal
// of its own, relays every byte both ways, and decodes the headset's stream
// on the way with its own code (not the library's), so that the tests know
// exactly which blocks reached the library intact and which samples those
// blocks carried.
//
// A block counts as intact when its bytes arrive contiguously with the start
// code, a length of 22 to 1024, the terminator and a matching check sum.
// Everything else (a corrupted, cut or shortened block, stray bytes) is
// skipped one byte at a time until the next intact block: a "broken
// stretch".
#ifndef VOQ_RELIABILITY_TAP_H
#define VOQ_RELIABILITY_TAP_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace reliability {

struct TapRecord {
    // Time stamps (1/1800 s ticks) of the data packets in intact blocks, in
    // the order the blocks arrived.
    std::vector<uint32_t> samples;
    std::vector<uint8_t> sequence;   // their data-packet sequence numbers
    // Data packets of blocks whose framing held but whose check sum failed.
    std::vector<uint32_t> corruptedSamples;
    size_t intactBlocks = 0;
    size_t corruptedBlocks = 0;       // framed, check sum wrong
    size_t brokenStretches = 0;       // runs of skipped bytes ended by an intact block
    size_t skippedBytes = 0;
    size_t alarms = 0;                // alarm packets in intact blocks
    size_t responses = 0;             // response packets in intact blocks
    size_t outOfOrderBlocks = 0;      // intact blocks whose number was not the previous + 1
};

class Tap {
public:
    // Opens `devicePath` (the simulator's) and makes the library's side.
    // Throws std::runtime_error when either fails.
    explicit Tap(const std::string& devicePath);
    ~Tap();
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    // The path the library opens.
    const std::string& HostPath() const { return hostPath_; }

    TapRecord Snapshot() const;
    // Forgets what was recorded (and any partial block being decoded).
    void Clear();
    // Bytes relayed so far from the headset to the library.
    uint64_t BytesToHost() const { return bytesToHost_.load(); }

private:
    void Run();
    // With lock_ held.  `quiet`: the line has been silent for a while, so a
    // block start whose claimed length is not there yet is skipped.
    void Decode(bool quiet);

    std::string hostPath_;
    int device_ = -1;       // the simulator's pseudo-terminal, opened as host
    int master_ = -1;       // our pseudo-terminal's master side
    int slave_ = -1;        // kept open so that the library may close and reopen
    int wakeRead_ = -1, wakeWrite_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> bytesToHost_{0};
    std::thread thread_;

    mutable std::mutex lock_;
    std::vector<uint8_t> pending_;   // headset bytes not yet decoded
    bool inBrokenStretch_ = false;
    int lastBlockNumber_ = -1;
    TapRecord record_;
};

}  // namespace reliability

#endif
