// The host times of the samples a headset has processed, newest last, kept
// beside the output channels' buffered values.
//
// The thread that reads blocks writes one time per sample: BeginSample
// before the sample's values go into the montage and stage channels, and
// EndSample after the last callback has run.  Another thread reads them
// without a lock: a sequence count that is odd while a sample is in
// progress tells a reader to wait and retry (a seqlock), so that what it
// reads (the count of samples and the channels' unread values) belongs to
// one moment between samples.
#ifndef VOQ_SAMPLETIMERING_H
#define VOQ_SAMPLETIMERING_H

#include <atomic>
#include <cstdint>
#include <memory>

namespace VOQ {

class SampleTimeRing {
public:
    // Grows the ring to hold at least `capacity` times, keeping the newest.
    // Only while no sample is processed and no one reads (the owner holds
    // the read lock on the thread that reads the times).
    void Reserve(uint64_t capacity);
    uint64_t Capacity() const { return capacity; }

    // The reading thread, around each sample.
    void BeginSample(double time) {
        const uint32_t s = sequence.load(std::memory_order_relaxed);
        sequence.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        current = time;
        inSample = true;
        if (capacity) times[size_t(count.load(std::memory_order_relaxed) % capacity)].store(time, std::memory_order_relaxed);
    }
    void EndSample() {
        inSample = false;
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    // On the reading thread only: true inside a sample (its callbacks), and
    // that sample's time.
    bool InSample() const { return inSample; }
    double Current() const { return current; }

    // Copies the times of up to `n` samples, oldest first, ending with the
    // sample whose index `newest(samples)` gives (samples: how many have
    // been processed, the one in progress included on the reading thread;
    // a negative index: none).  Returns how many it copied: fewer when the
    // ring no longer holds the older ones, -1 when `newest` gave none.
    // `readingThread`: the caller is the thread that writes (inside a
    // callback), which must not wait for itself.
    template <typename Newest>
    int64_t Copy(Newest newest, double* out, uint64_t n, bool readingThread) const {
        for (;;) {
            const uint32_t before = readingThread ? 0 : sequence.load(std::memory_order_acquire);
            if (before & 1u) {
                Pause();
                continue;
            }
            const uint64_t samples = count.load(std::memory_order_relaxed) + (readingThread && inSample ? 1 : 0);
            const int64_t last = newest(samples);
            int64_t copied = -1;
            if (last >= 0 && uint64_t(last) < samples) {
                const uint64_t kept = samples < capacity ? samples : capacity;
                const uint64_t oldestKept = samples - kept > firstKept ? samples - kept : firstKept;
                uint64_t from = uint64_t(last) + 1 >= n ? uint64_t(last) + 1 - n : 0;
                if (from < oldestKept) from = oldestKept;
                copied = 0;
                for (uint64_t k = from; k <= uint64_t(last) && kept > 0; ++k)
                    out[copied++] = times[size_t(k % capacity)].load(std::memory_order_relaxed);
            }
            if (readingThread) return copied;
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence.load(std::memory_order_relaxed) == before) return copied;
        }
    }
    // Samples processed so far.
    uint64_t Count() const { return count.load(std::memory_order_acquire); }

private:
    static void Pause();

    std::unique_ptr<std::atomic<double>[]> times;
    uint64_t capacity = 0;
    // The oldest sample whose time the ring holds (a ring that grew holds
    // none of the samples before those it kept).
    uint64_t firstKept = 0;
    std::atomic<uint64_t> count{0};
    std::atomic<uint32_t> sequence{0};
    double current = 0.0;
    bool inSample = false;
};

}  // namespace VOQ

#endif
