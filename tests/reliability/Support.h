// Shared pieces of the reliability tests: a thread-safe message log, the
// record of delivered samples (each identified by its packet time stamp in
// ticks), and a streaming session that runs background acquisition while the
// caller reads every buffered value of the "SND" channel, whose value is the
// sample's own time stamp.
#ifndef VOQ_RELIABILITY_SUPPORT_H
#define VOQ_RELIABILITY_SUPPORT_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "VOQ.h"
#include "VOQ_API.h"

namespace reliability {

// Messages from any thread.
class MessageLog {
public:
    static int Sink(const char* message, int level);
    static void Clear();
    // Messages containing `fragment` at `level` (0: any level).
    static int Count(const std::string& fragment, int level = 0);
    static std::vector<std::string> Find(const std::string& fragment);
    static std::string All();
};

// Packet time stamps (ticks) of the samples a sample callback saw.
class SampleLog {
public:
    static void Callback(VOQ_Headset headset, double sampleTime, void* self);
    void Clear();
    std::vector<uint32_t> Take();
    size_t Count() const;

private:
    mutable std::mutex lock_;
    std::vector<uint32_t> ticks_;
};

uint32_t Ticks(double seconds);
// Seconds of resident memory: the process's resident set size in kilobytes.
long ResidentKilobytes();

// One streaming run on a connected headset whose montage contains "SND".
struct StreamResult {
    std::vector<uint32_t> callbackTicks;   // in the order the callback saw them
    std::vector<uint32_t> readTicks;       // read from the SND channel's buffer
    uint64_t overflowed = 0;               // BufferOverflow() at the end
    double longestWait = 0.0;              // longest single wait call, seconds
    std::vector<std::string> errors;       // errors of wait calls
};

struct StreamOptions {
    double seconds = 3.0;
    // Called about every 20 ms from the reading thread with the seconds since
    // the stream started: the caller's own calls (commands) go here.
    std::function<void(double)> during;
    // Called about every 5 ms from a thread of its own, whatever the reading
    // thread is doing (waiting, say): faults of the simulated headset go here.
    std::function<void(double)> faults;
    // Paced batches (WaitForBatch) instead of WaitForSamples(1).
    bool batches = false;
    // Stop reading the buffers between these times (seconds), to let them
    // overflow.
    double pauseFrom = -1.0, pauseUntil = -1.0;
};

// Starts background acquisition, reads until `seconds` have passed, stops,
// waits for the worker to end, reads what is still on the line and in the
// buffers.  The headset must be stopped when called.
StreamResult RunStream(VOQ_Headset handle, SampleLog& samples, const StreamOptions& options);

// voq-sim as a child process, stopped (SIGTERM) and reaped on destruction;
// its first line of output is the device path ("" when it did not start).
class ChildSimulator {
public:
    ChildSimulator(const std::string& program, int rate);
    ~ChildSimulator();
    ChildSimulator(const ChildSimulator&) = delete;
    ChildSimulator& operator=(const ChildSimulator&) = delete;
    const std::string& Path() const { return path_; }
    // Ends it at once (SIGKILL), as a headset that dies: the link hangs up.
    void Kill();

private:
    int pid_ = -1;
    std::string path_;
};

// Index of the SND channel among the output channels, -1 when missing.
int FindChannel(VOQ_Headset handle, const std::string& name);

}  // namespace reliability

#endif
