// Whole reads and writes on a descriptor, retried after interruptions; shared
// by the recorder's file code.
#ifndef VOQ_RECORDER_FILEIO_H
#define VOQ_RECORDER_FILEIO_H

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace voqrec {

// Reads up to `count` bytes at `offset`; returns how many there were (fewer
// at the end of the file or on an error, with errno set).
inline size_t ReadUpTo(int fd, char* buffer, size_t count, off_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// Writes all `count` bytes at the descriptor's position; false (errno set)
// when that fails.
inline bool WriteAll(int fd, const char* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, data + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace voqrec

#endif
