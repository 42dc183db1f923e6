#include "voq/Thread.h"

#include <pthread.h>

#include "voq/Error.h"
#include "voq/Time.h"

namespace VOQ {

Thread::Thread() : running(false), finished(false), failed(false), stopRequested(false) {}

Thread::~Thread() { StopAndWait(); }

void Thread::StopAndWait() {
    stopRequested = true;
    while (running.load() && !finished.load()) Sleep(0.001);
}

std::string Thread::ErrorMessage() const {
    std::lock_guard<std::mutex> guard(messageLock);
    return errorMessage;
}

bool Thread::Start() {
    if (running.load() && !finished.load()) return false;
    finished = false;
    failed = false;
    stopRequested = false;
    {
        std::lock_guard<std::mutex> guard(messageLock);
        errorMessage.clear();
    }
    // Marked running before the worker exists, so that neither a second Start
    // nor the destructor can miss a worker that has not begun yet.
    running = true;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        running = false;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // The body runs the caller's sample, stage and message callbacks: give it
    // the same stack on every system (macOS gives other threads 512 KiB).
    pthread_attr_setstacksize(&attributes, 8 * 1024 * 1024);
    pthread_t id;
    int result = pthread_create(&id, &attributes, ThreadStarter, this);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        running = false;
        return false;
    }
    return true;
}

void* Thread::RunSynchronously() {
    running = true;
    workerId = std::this_thread::get_id();
    void* result = nullptr;
    try {
        result = Run();
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> guard(messageLock);
        errorMessage = e.what();
        failed = true;
    } catch (const std::string& s) {
        std::lock_guard<std::mutex> guard(messageLock);
        errorMessage = s;
        failed = true;
    } catch (...) {
        std::lock_guard<std::mutex> guard(messageLock);
        errorMessage = "unknown exception type occurred in thread";
        failed = true;
    }
    workerId = std::thread::id();
    finished = true;
    return result;
}

}  // namespace VOQ

extern "C" void* ThreadStarter(void* thread) {
    static_cast<VOQ::Thread*>(thread)->RunSynchronously();
    return thread;
}
