#include "Tap.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace reliability {

namespace {

// Bit by bit, independent of the library's table: polynomial 0x8005, initial
// value 0, no reflection, no final XOR.
uint16_t CheckSum(const uint8_t* data, size_t length) {
    uint16_t r = 0;
    for (size_t i = 0; i < length; ++i) {
        r = uint16_t(r ^ (uint16_t(data[i]) << 8));
        for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000) ? uint16_t((r << 1) ^ 0x8005) : uint16_t(r << 1);
    }
    return r;
}

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void MakeRaw(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// Writes as much of `queue` as `fd` takes now.
void Flush(int fd, std::deque<uint8_t>& queue) {
    uint8_t chunk[4096];
    while (!queue.empty()) {
        size_t n = std::min(queue.size(), sizeof chunk);
        std::copy(queue.begin(), queue.begin() + long(n), chunk);
        ssize_t written = write(fd, chunk, n);
        if (written <= 0) return;
        queue.erase(queue.begin(), queue.begin() + written);
    }
}

}  // namespace

Tap::Tap(const std::string& devicePath) {
    device_ = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device_ < 0) Fail("cannot open " + devicePath);
    MakeRaw(device_);

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        Fail("cannot make a pseudo-terminal");
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    hostPath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) Fail("cannot open " + hostPath_);
    MakeRaw(slave_);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("cannot make a pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    thread_ = std::thread([this] { Run(); });
}

Tap::~Tap() {
    stop_ = true;
    const char c = 1;
    ssize_t ignored = write(wakeWrite_, &c, 1);
    (void)ignored;
    if (thread_.joinable()) thread_.join();
    for (int fd : {device_, master_, slave_, wakeRead_, wakeWrite_})
        if (fd >= 0) close(fd);
}

TapRecord Tap::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return record_;
}

void Tap::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    record_ = TapRecord();
    pending_.clear();
    inBrokenStretch_ = false;
    lastBlockNumber_ = -1;
}

void Tap::Run() {
    std::deque<uint8_t> toHost, toDevice;
    bool deviceOpen = true;
    uint8_t buffer[4096];
    auto lastInput = std::chrono::steady_clock::now();
    while (!stop_) {
        struct pollfd fds[3] = {
            {wakeRead_, POLLIN, 0},
            {deviceOpen ? device_ : -1, short(POLLIN | (toDevice.empty() ? 0 : POLLOUT)), 0},
            {master_, short(POLLIN | (toHost.empty() ? 0 : POLLOUT)), 0},
        };
        if (poll(fds, 3, 100) < 0 && errno != EINTR) break;
        if (deviceOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = read(device_, buffer, sizeof buffer);
            if (n > 0) {
                toHost.insert(toHost.end(), buffer, buffer + n);
                std::lock_guard<std::mutex> guard(lock_);
                pending_.insert(pending_.end(), buffer, buffer + n);
                Decode(false);
                lastInput = std::chrono::steady_clock::now();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                deviceOpen = false;   // the headset hung up
            }
        }
        if (std::chrono::steady_clock::now() - lastInput > std::chrono::milliseconds(600)) {
            std::lock_guard<std::mutex> guard(lock_);
            if (!pending_.empty()) Decode(true);
        }
        if (fds[2].revents & POLLIN) {
            ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) toDevice.insert(toDevice.end(), buffer, buffer + n);
        }
        const size_t before = toHost.size();
        Flush(master_, toHost);
        bytesToHost_ += before - toHost.size();
        if (deviceOpen) Flush(device_, toDevice);
    }
}

void Tap::Decode(bool quiet) {
    size_t at = 0;
    auto skip = [&] {
        ++at;
        ++record_.skippedBytes;
        inBrokenStretch_ = true;
    };
    while (at < pending_.size()) {
        const uint8_t* p = pending_.data() + at;
        const size_t have = pending_.size() - at;
        if (p[0] != '#') {
            skip();
            continue;
        }
        if (have < 4) {
            if (!quiet) break;
            skip();
            continue;
        }
        if (p[1] != '2') {
            skip();
            continue;
        }
        const size_t length = U16(p + 2);
        if (length < 22 || length > 1024) {
            skip();
            continue;
        }
        if (have < length) {
            // A claim that the line never fills is skipped once the line has
            // gone quiet, as a reader does after half a second of silence.
            if (!quiet) break;
            skip();
            continue;
        }
        const bool framed = p[length - 2] == '\r' && p[length - 1] == '\n';
        const bool intact = framed && CheckSum(p + 14, length - 16) == U16(p + 12);
        if (framed) {
            std::vector<uint32_t>& samples = intact ? record_.samples : record_.corruptedSamples;
            long remaining = long(length) - 24;
            size_t cursor = 22;
            while (remaining >= 7) {
                const size_t n = p[cursor];
                if (n == 0) break;
                if (long(n) <= remaining && intact) {
                    const int species = p[cursor + 1];
                    if (species == 3 && n >= 56) {
                        samples.push_back(U32(p + cursor + 2));
                        record_.sequence.push_back(p[cursor + 6]);
                    }
                    if (species == 2 || species == 6) ++record_.alarms;
                    if (species == 1 || species == 5) ++record_.responses;
                } else if (long(n) <= remaining && p[cursor + 1] == 3 && n >= 56) {
                    samples.push_back(U32(p + cursor + 2));
                }
                remaining -= long(n);
                cursor += n;
            }
        }
        if (!intact) {
            if (framed) ++record_.corruptedBlocks;
            skip();
            continue;
        }
        const int number = U16(p + 14);
        if (lastBlockNumber_ >= 0 && number != (lastBlockNumber_ + 1) % 65536) ++record_.outOfOrderBlocks;
        lastBlockNumber_ = number;
        ++record_.intactBlocks;
        if (inBrokenStretch_) ++record_.brokenStretches;
        inBrokenStretch_ = false;
        at += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + long(at));
}

}  // namespace reliability
