// One detached worker thread with start, stop-request and finish flags.
#ifndef VOQ_THREAD_H
#define VOQ_THREAD_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace VOQ {

class Thread {
public:
    Thread();
    // Requests a stop and waits (1-ms polls) while the body is running.
    virtual ~Thread();

    // The body the worker runs; it polls stopRequested and returns.
    virtual void* Run() = 0;

    // Starts the body on a new detached thread; false when a body is still
    // running or the thread cannot be created.
    bool Start();
    // Runs the body in the calling thread, keeping the flags and catching
    // whatever it throws.
    void* RunSynchronously();
    // Asks the body to end and waits until it has.
    void StopAndWait();
    // True between a successful Start and the body's end.
    bool Alive() const { return running.load() && !finished.load(); }
    // True on the worker thread while it runs the body.
    bool IsCurrentThread() const { return workerId.load() == std::this_thread::get_id(); }
    std::string ErrorMessage() const;

    std::atomic<bool> running;
    std::atomic<bool> finished;
    std::atomic<bool> failed;
    std::atomic<bool> stopRequested;

private:
    std::atomic<std::thread::id> workerId;
    mutable std::mutex messageLock;   // guards errorMessage
    std::string errorMessage;
};

}  // namespace VOQ

// The POSIX thread entry: runs RunSynchronously on the Thread it is given.
extern "C" void* ThreadStarter(void* thread);

#endif
