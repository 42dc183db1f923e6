// The pseudo-terminal, its output and the symbolic link that names it.
#include "Link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace voqsim {

namespace {

const size_t kMaxBlockWrites = 1000000;

void SetNonBlockingCloseOnExec(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

void Link::Open() {
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) throw std::runtime_error(std::string("posix_openpt failed: ") + strerror(errno));
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        const int e = errno;
        close(master);
        throw std::runtime_error(std::string("cannot prepare the pseudo-terminal: ") + strerror(e));
    }
    SetNonBlockingCloseOnExec(master);
    const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        const int e = errno;
        close(master);
        throw std::runtime_error(std::string("cannot open ") + name + ": " + strerror(e));
    }
    struct termios t;
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B921600);
        cfsetospeed(&t, B921600);
        tcsetattr(slave, TCSANOW, &t);
    }
    master_ = master;
    slave_ = slave;
    path_ = name;
    watch_.Watch(path_);
}

void Link::Close() {
    watch_.Close();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    master_ = slave_ = -1;
    path_.clear();
    DropOutput();
}

void Link::FlushHostInput() {
    if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

void Link::Read(Bytes& into) {
    if (master_ < 0) return;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        into.insert(into.end(), buffer, buffer + n);
    }
}

void Link::AppendBlock(const Bytes& bytes, const BlockWrite& block) {
    Append(bytes);
    if (record_) unwritten_.emplace_back(output_.size(), block);
}

void Link::DropOutput() {
    output_.clear();
    unwritten_.clear();
}

void Link::Flush(const std::function<double()>& now) {
    if (master_ < 0) {
        DropOutput();
        return;
    }
    while (!output_.empty()) {
        const double before = unwritten_.empty() ? 0.0 : now();
        const ssize_t n = write(master_, output_.data(), output_.size());
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) DropOutput();
            break;
        }
        output_.erase(output_.begin(), output_.begin() + n);
        // The blocks whose last byte went out with this write.
        while (!unwritten_.empty() && unwritten_.front().first <= size_t(n)) {
            BlockWrite w = unwritten_.front().second;
            w.hostTime = before;
            if (written_.size() < kMaxBlockWrites) written_.push_back(w);
            unwritten_.pop_front();
        }
        for (auto& entry : unwritten_) entry.first -= size_t(n);
    }
}

void Link::RecordWrites(bool on) {
    record_ = on;
    unwritten_.clear();
    if (on) written_.clear();
}

std::vector<BlockWrite> Link::TakeWrites() {
    std::vector<BlockWrite> taken;
    taken.swap(written_);
    return taken;
}

void Link::Publish() {
    if (linkPath_.empty() || path_.empty()) return;
    // A new link beside the old one, renamed over it: a host never finds the
    // path missing or half made.
    const std::string fresh = linkPath_ + ".new";
    unlink(fresh.c_str());
    if (symlink(path_.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), linkPath_.c_str()) != 0) {
        const int e = errno;
        unlink(fresh.c_str());
        throw std::runtime_error("cannot link " + linkPath_ + " to " + path_ + ": " + strerror(e));
    }
}

void Link::Withdraw() {
    if (linkPath_.empty()) return;
    char target[256];
    // Only our own link is removed, never a file someone put there.
    if (readlink(linkPath_.c_str(), target, sizeof target) >= 0) unlink(linkPath_.c_str());
}

}  // namespace voqsim
