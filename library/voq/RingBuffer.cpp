#include "voq/RingBuffer.h"

#include <sched.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "voq/Error.h"

namespace VOQ {

void RingBuffer::Allocate(uint64_t newCapacity) {
    Clear();
    if (newCapacity == 0) return;
    // On 32-bit systems a 64-bit capacity may not fit the address space.
    if (newCapacity > std::numeric_limits<size_t>::max() / sizeof(double))
        throw Error("cannot allocate a buffer of " + std::to_string(newCapacity) + " samples");
    // Zeroed by the allocator: a large buffer comes as fresh pages, which
    // cost nothing until they are written.
    data = static_cast<double*>(std::calloc(size_t(newCapacity), sizeof(double)));
    if (!data) throw std::bad_alloc();
    capacity = newCapacity;
}

void RingBuffer::Clear() {
    // Nobody reads or writes a buffer while it is cleared (its storage goes):
    // the owner's lock orders these stores, so they need no fences of their
    // own (a source's five buffers are cleared on every calibration read).
    std::free(data);
    data = nullptr;
    sum = 0.0;
    capacity = 0;
    writeIndex = 0;
    readIndex = 0;
    buffered.store(0, std::memory_order_relaxed);
    overflowed.store(0, std::memory_order_relaxed);
    writing.store(false, std::memory_order_relaxed);
    reading.store(false, std::memory_order_relaxed);
}

// The writer's wait, out of line (the entry protocol is in the header).
void RingBuffer::WaitForReader() {
    while (reading.load(std::memory_order_acquire) && turn.load(std::memory_order_relaxed) == 1) sched_yield();
}

void RingBuffer::ReaderEnter() const {
    reading.store(true, std::memory_order_relaxed);
    turn.exchange(0, std::memory_order_acq_rel);
    while (writing.load(std::memory_order_acquire) && turn.load(std::memory_order_relaxed) == 0) sched_yield();
}

void RingBuffer::ReaderExit() const { reading.store(false, std::memory_order_release); }

bool RingBuffer::TakeOldest(double& value) {
    const uint64_t unread = buffered.load(std::memory_order_relaxed);
    if (unread == 0) return false;
    value = data[readIndex];
    readIndex = readIndex + 1 == capacity ? 0 : readIndex + 1;
    buffered.store(unread - 1, std::memory_order_release);
    return true;
}

double RingBuffer::Read() {
    if (!IsAllocated()) throw Error("cannot read from unallocated buffer");
    double value = 0.0;
    ReaderEnter();
    const bool took = TakeOldest(value);
    ReaderExit();
    if (!took) throw Error("buffer underflow");
    return value;
}

double RingBuffer::ReadUnshared() {
    if (!IsAllocated()) throw Error("cannot read from unallocated buffer");
    double value = 0.0;
    if (!TakeOldest(value)) throw Error("buffer underflow");
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
