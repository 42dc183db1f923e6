#include "voq/RingBuffer.h"

#include <sched.h>

#include <cmath>
#include <cstring>

#include "voq/Error.h"

namespace VOQ {

void RingBuffer::Allocate(uint64_t newCapacity) {
    Clear();
    if (newCapacity == 0) return;
    data = new double[size_t(newCapacity)];
    std::memset(data, 0, size_t(newCapacity) * sizeof(double));
    capacity = newCapacity;
}

void RingBuffer::Clear() {
    delete[] data;
    data = nullptr;
    sum = 0.0;
    capacity = 0;
    writeIndex = 0;
    readIndex = 0;
    buffered = 0;
    overflowed = 0;
    writing = false;
    reading = false;
}

// Sequentially consistent flags: each side must see the other's flag after
// publishing its own, which release/acquire alone does not guarantee.
void RingBuffer::WriterEnter() {
    writing.store(true);
    turn.store(1);
    while (reading.load() && turn.load() == 1) sched_yield();
}

void RingBuffer::WriterExit() { writing.store(false); }

void RingBuffer::ReaderEnter() const {
    reading.store(true);
    turn.store(0);
    while (writing.load() && turn.load() == 0) sched_yield();
}

void RingBuffer::ReaderExit() const { reading.store(false); }

uint64_t RingBuffer::Write(double value) {
    if (!IsAllocated()) return 1;
    WriterEnter();
    double old = data[writeIndex];
    data[writeIndex] = value;
    writeIndex = (writeIndex + 1) % capacity;
    if (std::isfinite(old)) sum -= old;
    if (std::isfinite(value)) sum += value;
    uint64_t unread = buffered.load(std::memory_order_relaxed);
    if (unread < capacity) {
        buffered.store(unread + 1, std::memory_order_release);
    } else {
        overflowed.fetch_add(1, std::memory_order_acq_rel);
        readIndex = writeIndex;
    }
    uint64_t result = overflowed.load(std::memory_order_relaxed);
    WriterExit();
    return result;
}

double RingBuffer::Read() {
    if (!IsAllocated()) throw Error("cannot read from unallocated buffer");
    ReaderEnter();
    uint64_t unread = buffered.load(std::memory_order_relaxed);
    if (unread == 0) {
        ReaderExit();
        throw Error("buffer underflow");
    }
    double value = data[readIndex];
    readIndex = (readIndex + 1) % capacity;
    buffered.store(unread - 1, std::memory_order_release);
    ReaderExit();
    return value;
}

double RingBuffer::LookBack(uint64_t n) const {
    if (!IsAllocated()) return 0.0;
    uint64_t back = (n % capacity) + 1;
    ReaderEnter();
    uint64_t index = (writeIndex + capacity - back % capacity) % capacity;
    double value = data[index];
    ReaderExit();
    return value;
}

void RingBuffer::Flush() {
    if (!IsAllocated()) {
        buffered = 0;
        overflowed = 0;
        return;
    }
    ReaderEnter();
    buffered = 0;
    overflowed = 0;
    readIndex = writeIndex;
    ReaderExit();
}

}  // namespace VOQ
