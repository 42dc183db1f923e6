// A fixed-capacity circular buffer of doubles with one writer thread and one
// reader thread, an unread count, an overflow count and a running sum.  The
// writer and the reader exclude each other with a two-flag-and-turn protocol,
// without a lock object.
#ifndef VOQ_RINGBUFFER_H
#define VOQ_RINGBUFFER_H

#include <atomic>
#include <cstdint>

namespace VOQ {

class RingBuffer {
public:
    RingBuffer() = default;
    explicit RingBuffer(uint64_t capacity) { Allocate(capacity); }
    ~RingBuffer() { Clear(); }
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Releases any storage, then allocates `capacity` zero-filled slots (none
    // for 0) and resets every counter and the sum.
    void Allocate(uint64_t capacity);
    // Releases the storage; every field but the turn becomes 0.
    void Clear();
    bool IsAllocated() const { return data != nullptr && capacity != 0; }

    // Appends a value; 1 when unallocated, else the overflow count after it.
    uint64_t Write(double value);
    // The oldest unread value; throws "buffer underflow" when there is none
    // and "cannot read from unallocated buffer" without storage.
    double Read();
    // The value written n writes before the newest; 0 when unallocated.  It
    // enters as a reader, so a look-back never sees a half-made write.
    double LookBack(uint64_t n) const;
    // Discards the unread values; the storage and the running sum are kept,
    // so that moving means stay consistent with the stored values.
    void Flush();

    uint64_t Capacity() const { return capacity; }
    uint64_t Buffered() const { return buffered.load(std::memory_order_acquire); }
    uint64_t Overflowed() const { return overflowed.load(std::memory_order_acquire); }
    double Sum() const { return sum; }
    // Sum / capacity; 0 without storage.
    double Mean() const { return capacity ? sum / double(capacity) : 0.0; }

private:
    void WriterEnter();
    void WriterExit();
    void ReaderEnter() const;
    void ReaderExit() const;

    double* data = nullptr;
    double sum = 0.0;
    uint64_t capacity = 0;
    uint64_t writeIndex = 0;
    uint64_t readIndex = 0;
    std::atomic<uint64_t> buffered{0};
    std::atomic<uint64_t> overflowed{0};
    mutable std::atomic<bool> writing{false};
    mutable std::atomic<bool> reading{false};
    mutable std::atomic<int32_t> turn{0};
};

}  // namespace VOQ

#endif
