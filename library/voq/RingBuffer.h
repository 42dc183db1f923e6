// A fixed-capacity circular buffer of doubles with one writer thread and one
// reader thread, an unread count, an overflow count and a running sum.  The
// writer and the reader exclude each other with a two-flag-and-turn protocol,
// without a lock object.
#ifndef VOQ_RINGBUFFER_H
#define VOQ_RINGBUFFER_H

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

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
    uint64_t Write(double value) {
        if (!IsAllocated()) return 1;
        WriterEnter();
        const uint64_t lost = Store(value);
        WriterExit();
        return lost;
    }
    // The same for a buffer that no other thread reads or flushes meanwhile
    // (its owner keeps them out, e.g. with a lock): no entry protocol.
    uint64_t WriteUnshared(double value) { return IsAllocated() ? Store(value) : 1; }
    // WriteUnshared of values[k] into *buffers[k] for every k.  Buffers that
    // are always written together share their capacity and write position;
    // the position is then worked out once for all of them.  True when they
    // did (and are allocated), false when each was written on its own.
    template <size_t N>
    static bool WriteUnsharedInStep(RingBuffer* const (&buffers)[N], const double (&values)[N]) {
        const RingBuffer& first = *buffers[0];
        const uint64_t capacity = first.capacity;
        const uint64_t index = first.writeIndex;
        // Storage exists exactly when the capacity is not 0 (Allocate and
        // Clear keep the two together), so equal capacities suffice.
        bool inStep = first.data != nullptr && capacity != 0;
        for (size_t k = 1; k < N; ++k)
            inStep &= (buffers[k]->capacity == capacity) & (buffers[k]->writeIndex == index);
        if (!inStep) {
            for (size_t k = 0; k < N; ++k) buffers[k]->WriteUnshared(values[k]);
            return false;
        }
        const uint64_t next = index + 1 == capacity ? 0 : index + 1;
        StoreInStep(buffers, values, index, next, std::make_index_sequence<N>());
        return true;
    }
    // The oldest unread value; throws "buffer underflow" when there is none
    // and "cannot read from unallocated buffer" without storage.
    double Read();
    // The same for a buffer that no other thread writes or flushes meanwhile:
    // no entry protocol.
    double ReadUnshared();
    // The value written n writes before the newest; 0 when unallocated.  It
    // enters as a reader, so a look-back never sees a half-made write.
    double LookBack(uint64_t n) const;
    // The newest value written (0 before the first write or without
    // storage), for the writer's own thread: only the writer changes the
    // slots and the write position, so no entry protocol is needed.
    double Newest() const {
        if (!IsAllocated()) return 0.0;
        return data[writeIndex == 0 ? capacity - 1 : writeIndex - 1];
    }
    // Discards the unread values; the storage and the running sum are kept,
    // so that moving means stay consistent with the stored values.
    void Flush();

    uint64_t Capacity() const { return capacity; }
    uint64_t Buffered() const { return buffered.load(std::memory_order_acquire); }
    uint64_t Overflowed() const { return overflowed.load(std::memory_order_acquire); }
    double Sum() const { return sum; }
    // Sum / capacity; 0 without storage.
    double Mean() const { return capacity ? sum / double(int64_t(capacity)) : 0.0; }

private:
    template <size_t... K>
    static void StoreInStep(RingBuffer* const (&buffers)[sizeof...(K)], const double (&values)[sizeof...(K)],
                            uint64_t index, uint64_t next, std::index_sequence<K...>) {
        (buffers[K]->StoreAt(index, next, values[K]), ...);
    }

    // The write itself.  The writer is alone with the counters here (a flush
    // changes them only as a reader), so they are updated with plain loads
    // and stores.
    uint64_t Store(double value) {
        const uint64_t index = writeIndex;
        return StoreAt(index, index + 1 == capacity ? 0 : index + 1, value);
    }
    // The write at `index`, which writeIndex is; `next` follows it.  The sum
    // is worked on in a local: the compiler cannot know that the stored
    // value does not land on it.
    uint64_t StoreAt(uint64_t index, uint64_t next, double value) {
        double total = sum;
        const double old = data[index];
        data[index] = value;
        writeIndex = next;
        if (std::isfinite(old)) total -= old;
        if (std::isfinite(value)) total += value;
        sum = total;
        const uint64_t unread = buffered.load(std::memory_order_relaxed);
        uint64_t lost = overflowed.load(std::memory_order_relaxed);
        if (unread < capacity) {
            buffered.store(unread + 1, std::memory_order_release);
        } else {
            overflowed.store(++lost, std::memory_order_release);
            readIndex = next;
        }
        return lost;
    }
    // Each side must see the other's flag after publishing its own.  The
    // turn is taken with an exchange (a read-modify-write, acquire and
    // release): of the two exchanges the later one reads the earlier, so the
    // side that comes second sees the first side's flag and the turn it left,
    // and waits.  One locked instruction per entry; the exit is a plain
    // release store.
    void WriterEnter() {
        writing.store(true, std::memory_order_relaxed);
        turn.exchange(1, std::memory_order_acq_rel);
        if (reading.load(std::memory_order_acquire)) WaitForReader();
    }
    void WriterExit() { writing.store(false, std::memory_order_release); }
    void WaitForReader();
    void ReaderEnter() const;
    void ReaderExit() const;
    // Moves the oldest unread value into `value`; false when there is none.
    bool TakeOldest(double& value);

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
