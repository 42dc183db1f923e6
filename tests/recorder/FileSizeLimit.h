// Fails this process's writes past a size like a full disk: the file size
// limit is lowered and SIGXFSZ ignored, so that writes past it fail with
// "File too large".  Both are restored when the object goes.
#ifndef VOQREC_TEST_FILESIZELIMIT_H
#define VOQREC_TEST_FILESIZELIMIT_H

#include <signal.h>
#include <sys/resource.h>

#include <cstring>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        read_ = getrlimit(RLIMIT_FSIZE, &saved_) == 0;
        if (!read_) return;
        struct sigaction ignore;
        std::memset(&ignore, 0, sizeof ignore);
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &oldHandler_);
        struct rlimit limit = saved_;
        limit.rlim_cur = bytes;
        applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        if (!read_) return;
        setrlimit(RLIMIT_FSIZE, &saved_);
        sigaction(SIGXFSZ, &oldHandler_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // Whether the current limit could be read, and the new one set.
    bool Read() const { return read_; }
    bool Applied() const { return applied_; }

private:
    struct rlimit saved_;
    struct sigaction oldHandler_;
    bool read_ = false;
    bool applied_ = false;
};

#endif
