// A stream recorded from the simulated headset, and its replay through a
// headset's fake-data input.
//
// The recorder is a host of its own: it opens the simulator's
// pseudo-terminal as a raw serial port, sends the commands that bring the
// device into the benchmark's configuration (clock set, identity,
// calibration memory, impedance driver on, accelerometer on, acquisition
// started) and keeps every block that arrives.  The blocks up to the answer
// to the start of acquisition form the set-up; the data blocks after it form
// one lap of the stream.
//
// A lap can be replayed any number of times: lap k is the recorded lap with
// its block numbers, data-packet sequence numbers and time stamps moved on by
// k laps (and its CRCs made again), so that the stream stays in sequence and
// in time from one lap to the next, as a real stream would.
#ifndef VOQBENCH_STREAMRECORDING_H
#define VOQBENCH_STREAMRECORDING_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VOQ {
class Headset;
}

namespace voqbench {

using Bytes = std::vector<uint8_t>;

struct RecordOptions {
    int samplingRate = 300;
    int accelerometerRate = 100;
    bool impedanceDriver = true;
    double seconds = 5.0;   // of streaming
};

struct Recording {
    RecordOptions options;
    std::vector<Bytes> setup;    // blocks before and with the start's answer
    std::vector<Bytes> lap;      // data blocks after it
    uint64_t lapSamples = 0;     // data packets in the lap
    uint64_t lapAccelerometerPackets = 0;
    uint64_t lapBytes = 0;
    uint32_t ticksPerSample = 6;
};

// Starts an in-process simulated headset, records from it and stops it.
// Throws std::runtime_error on failure.
Recording RecordFromSimulator(const RecordOptions& options);

// The bytes of lap k (0 is the lap as recorded), one entry per block.
class LapPlayer {
public:
    explicit LapPlayer(const Recording& recording);
    // Fills `blocks` with lap k.
    void MakeLap(uint64_t k, std::vector<Bytes>& blocks) const;

private:
    struct PacketAt {
        size_t offset;
        int species;
    };
    const Recording& recording_;
    std::vector<std::vector<PacketAt>> packets_;
};

// A headset that reads the recording through its fake-data input: the set-up
// blocks are read, then the factory montage with the traditional reference is
// chosen, as start-up does.  Channel buffers hold `bufferSeconds`.
void PrepareReplayHeadset(VOQ::Headset& headset, const Recording& recording, double bufferSeconds);

// Feeds blocks to the headset's fake-data input.
void FeedBlocks(VOQ::Headset& headset, const std::vector<Bytes>& blocks);

}  // namespace voqbench

#endif
