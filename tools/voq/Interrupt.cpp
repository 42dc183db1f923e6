// Ctrl-C handling of the `voq` tool.
#include "Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace voqtool {

namespace {

std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterrupt(int signal) {
    if (gInterrupts.fetch_add(1) == 0) {
        if (signal != SIGINT) return;
        static const char text[] = "\nvoq: stopping (Ctrl-C again to quit at once)\n";
        ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
        (void)ignored;
    } else {
        _exit(130);
    }
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return gInterrupts.load() != 0; }

void ClearInterrupt() { gInterrupts.store(0); }

}  // namespace voqtool
