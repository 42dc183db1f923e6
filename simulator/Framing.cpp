// Blocks from packets, and the block faults.
#include "Framing.h"

#include <voq/Protocol.h>

#include <algorithm>

namespace voqsim {

namespace {

const double kSwapHoldSeconds = 0.1;   // a lone swapped block goes after this
const uint16_t kSpoiledCrc = 0x5A5A;   // XORed into a CRC that is to fail

}  // namespace

void Framer::Restart(uint64_t seed) {
    number_ = 0;
    faultRandom_ = Random(seed ^ 0xFA017ull);
    jitterRandom_ = Random(seed ^ 0x717E2ull);
}

void Framer::Frame(std::vector<QueuedPacket>& packets, uint32_t stamp, const uint8_t* clock, double now,
                   StreamStats& stats) {
    size_t i = 0;
    while (i < packets.size()) {
        size_t body = 0;
        size_t j = i;
        while (j < packets.size() && wire::kBlockOverhead + body + packets[j].bytes.size() <= wire::kMaxBlock) {
            body += packets[j].bytes.size();
            ++j;
        }
        if (j == i) {   // cannot happen: packets are at most 255 bytes
            ++i;
            continue;
        }
        Block block;
        Bytes& b = block.bytes;
        const size_t length = wire::kBlockOverhead + body;
        b.reserve(length);
        b.insert(b.end(), wire::kBlockStart, wire::kBlockStart + 2);
        wire::Put16(b, unsigned(length));
        wire::Put32(b, stamp);
        wire::Put32(b, 0);
        wire::Put16(b, 0);   // CRC, below
        wire::Put16(b, number_);
        b.insert(b.end(), clock, clock + wire::kClockRecordSize);
        block.number = number_;
        for (size_t k = i; k < j; ++k) {
            const QueuedPacket& p = packets[k];
            b.insert(b.end(), p.bytes.begin(), p.bytes.end());
            Carried c;
            c.triggerDelay = p.triggerDelay;
            if (p.sample >= 0) {
                block.samples.push_back(p.sample);
                block.lastSampleStamp = wire::Get32(&p.bytes[wire::kPacketStamp]);
                c.sample = p.sample;
                c.measured = p.measured;
                c.trigger = p.bytes[wire::kDataTrigger];
            }
            if (p.sample >= 0 || p.triggerDelay >= 0) block.carried.push_back(c);
            if (p.accelerometer) ++block.accelerometerPackets;
        }
        b.push_back('\r');
        b.push_back('\n');
        const size_t covered = length - wire::kBlockNumber - wire::kBlockTrailer;
        uint16_t crc = VOQ::CRC16(&b[wire::kBlockNumber], covered);
        bool corrupt = false;
        if (corruptNext_ > 0) {
            --corruptNext_;
            corrupt = true;
        } else if (corruptFraction_ > 0.0 && faultRandom_.Uniform() < corruptFraction_) {
            corrupt = true;
        }
        if (corrupt) {
            crc = uint16_t(crc ^ kSpoiledCrc);
            ++stats.blocksCorrupted;
        }
        wire::Set16(&b[wire::kBlockCrc], crc);
        if (dropPending_) {
            dropPending_ = false;
            const size_t count = std::min(dropCount_, covered);
            const size_t from = wire::kBlockNumber + (covered - count) / 2;
            b.erase(b.begin() + long(from), b.begin() + long(from + count));
        }
        if (truncatePending_) {
            truncatePending_ = false;
            const size_t keep = truncateKeep_ > 0 ? std::min(truncateKeep_, b.size() - 1) : b.size() / 2;
            b.resize(keep);
        }
        ++number_;
        Emit(std::move(block), now);
        i = j;
    }
    packets.clear();
}

void Framer::QueueRaw(const Bytes& bytes, double now) {
    Block block;
    block.raw = true;
    block.bytes = bytes;
    Schedule(std::move(block), now);
}

void Framer::Emit(Block block, double now) {
    if (swapPending_ && !holding_) {
        swapPending_ = false;
        holding_ = true;
        held_ = std::move(block);
        heldSince_ = now;
        return;
    }
    Schedule(std::move(block), now);
    if (holding_) {
        holding_ = false;
        Schedule(std::move(held_), now);
    }
}

void Framer::Schedule(Block block, double now) {
    double release = now;
    if (jitterSeconds_ > 0.0) release += jitterSeconds_ * jitterRandom_.Uniform();
    // Never before an earlier block.
    block.release = std::max(release, lastRelease_);
    lastRelease_ = block.release;
    scheduled_.push_back(std::move(block));
}

void Framer::TakeReady(double now, std::vector<Block>& out) {
    if (holding_ && now - heldSince_ >= kSwapHoldSeconds) {
        holding_ = false;
        Schedule(std::move(held_), now);
    }
    while (!scheduled_.empty() && scheduled_.front().release <= now) {
        out.push_back(std::move(scheduled_.front()));
        scheduled_.pop_front();
    }
}

double Framer::NextRelease() const {
    double next = std::numeric_limits<double>::infinity();
    if (holding_) next = heldSince_ + kSwapHoldSeconds;
    if (!scheduled_.empty()) next = std::min(next, scheduled_.front().release);
    return next;
}

uint64_t Framer::Discard() {
    uint64_t samples = 0;
    if (holding_) samples += held_.samples.size();
    holding_ = false;
    for (const Block& b : scheduled_) samples += b.samples.size();
    scheduled_.clear();
    return samples;
}

void Framer::ClearFaults(double now) {
    corruptNext_ = 0;
    corruptFraction_ = 0.0;
    truncatePending_ = false;
    dropPending_ = false;
    swapPending_ = false;
    if (holding_) {
        holding_ = false;
        Schedule(std::move(held_), now);
    }
}

}  // namespace voqsim
