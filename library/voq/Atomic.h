// Values written by the reading thread and read by the caller's thread (or
// the other way round) without a lock: relaxed atomics that read and assign
// like plain values.
#ifndef VOQ_ATOMIC_H
#define VOQ_ATOMIC_H

#include <atomic>

namespace VOQ {

template <typename T>
class Relaxed {
public:
    Relaxed(T value = T()) : v(value) {}
    Relaxed(const Relaxed& other) : v(other.load()) {}
    Relaxed& operator=(const Relaxed& other) {
        store(other.load());
        return *this;
    }
    Relaxed& operator=(T value) {
        store(value);
        return *this;
    }
    operator T() const { return load(); }
    T load() const { return v.load(std::memory_order_relaxed); }
    void store(T value) { v.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> v;
};

typedef Relaxed<double> RelaxedDouble;
typedef Relaxed<int> RelaxedInt;
typedef Relaxed<bool> RelaxedBool;

}  // namespace VOQ

#endif
