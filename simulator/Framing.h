// Block framing and the faults that spoil, reorder or delay blocks: packets
// go into framed blocks (never straddling two), blocks may have their CRC
// spoiled, bytes dropped or their tail cut, two may swap places, and each
// may be held back by a random delay (link jitter) without ever overtaking
// an earlier one.  Internal to the simulator; not thread-safe (the device's
// mutex guards it).
#ifndef VOQSIM_FRAMING_H
#define VOQSIM_FRAMING_H

#include "SignalModel.h"
#include "Stream.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace voqsim {

// What one packet of a block tells the host, for the trigger truth.
struct Carried {
    int64_t sample = -1;       // data packets: the sample number, else -1
    double measured = 0.0;     // data packets: host time of measurement
    int trigger = 0;           // data packets: the trigger byte
    int triggerDelay = -1;     // acquisition answers: the host's new trigger delay
};

struct Block {
    Bytes bytes;
    bool raw = false;          // raw bytes queued by SendRaw(), not a block
    uint16_t number = 0;
    std::vector<int64_t> samples;
    std::vector<Carried> carried;
    uint64_t accelerometerPackets = 0;
    uint32_t lastSampleStamp = 0;   // of the last data packet
    double release = 0.0;           // host time it may be written
};

class Framer {
public:
    // Frames `packets` (emptied) into blocks stamped `stamp` with clock
    // record `clock`, applies the pending block faults and schedules the
    // blocks.  Counts spoiled blocks in `stats`.
    void Frame(std::vector<QueuedPacket>& packets, uint32_t stamp, const uint8_t* clock, double now,
               StreamStats& stats);
    // Schedules raw bytes behind the blocks already made.
    void QueueRaw(const Bytes& bytes, double now);
    // Moves the blocks whose time has come, in order, to `out`.
    void TakeReady(double now, std::vector<Block>& out);
    // The next time a held or delayed block is due (infinity: none).
    double NextRelease() const;
    // Forgets every block not yet taken; returns the samples they carried.
    uint64_t Discard();

    uint16_t NextNumber() const { return number_; }
    void Restart(uint64_t seed);   // numbering from 0, generators reseeded

    // Faults.
    void CorruptNext(int count) { corruptNext_ = count; }
    void SetCorruptFraction(double fraction) { corruptFraction_ = fraction; }
    void TruncateNext(size_t keepBytes) {
        truncatePending_ = true;
        truncateKeep_ = keepBytes;
    }
    void DropBytesInNext(size_t count) {
        dropPending_ = count > 0;
        dropCount_ = count;
    }
    void SwapNext() { swapPending_ = true; }
    void SetJitter(double seconds) { jitterSeconds_ = seconds; }
    // Clears the standing block faults; a held block is scheduled at once.
    void ClearFaults(double now);

private:
    void Emit(Block block, double now);
    void Schedule(Block block, double now);

    uint16_t number_ = 0;
    int corruptNext_ = 0;
    double corruptFraction_ = 0.0;
    Random faultRandom_;
    bool truncatePending_ = false;
    size_t truncateKeep_ = 0;
    bool dropPending_ = false;
    size_t dropCount_ = 0;
    bool swapPending_ = false;
    bool holding_ = false;
    Block held_;
    double heldSince_ = 0.0;
    double jitterSeconds_ = 0.0;
    Random jitterRandom_;
    double lastRelease_ = -std::numeric_limits<double>::infinity();
    std::deque<Block> scheduled_;
};

}  // namespace voqsim

#endif
