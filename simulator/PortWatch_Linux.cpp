// The port watch on Linux: inotify events for opens and closes of the
// device path.
#include "PortWatch.h"

#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace voqsim {

void PortWatch::Watch(const std::string& path) {
    Close();
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE) < 0) Close();
}

void PortWatch::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void PortWatch::Take(const std::function<void(bool opened)>& event) {
    if (fd_ < 0) return;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
            struct inotify_event e;
            std::memcpy(&e, buffer + at, sizeof e);
            at += ssize_t(sizeof e) + ssize_t(e.len);
            if (e.mask & IN_OPEN) event(true);
            if (e.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) event(false);
        }
    }
}

}  // namespace voqsim
