#include "HostLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

uint16_t Crc16(const uint8_t* data, size_t length) {
    uint16_t r = 0;
    for (size_t i = 0; i < length; ++i) {
        r = uint16_t(r ^ (uint16_t(data[i]) << 8));
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x8000) ? uint16_t((r << 1) ^ 0x8005) : uint16_t(r << 1);
    }
    return r;
}

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
int16_t S16(const uint8_t* p) { return int16_t(U16(p)); }
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
Bytes U16Bytes(unsigned v) { return {uint8_t(v), uint8_t(v >> 8)}; }

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

HostLink::HostLink(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    struct termios t;
    if (tcgetattr(fd_, &t) == 0) {
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &t);
    }
}

HostLink::~HostLink() { Close(); }

void HostLink::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void HostLink::Write(const Bytes& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
}

int HostLink::Send(int destination, int family, const Bytes& payload, int identifier, bool prefix,
                   bool spoilCrc) {
    if (identifier < 0) identifier = nextIdentifier_++ & 0xFF;
    Bytes packet{uint8_t(payload.size() + 5), uint8_t(destination), 0, 0, uint8_t(family),
                 uint8_t(identifier)};
    packet.insert(packet.end(), payload.begin(), payload.end());
    uint16_t crc = Crc16(packet.data() + 4, packet.size() - 4);
    if (spoilCrc) crc = uint16_t(crc + 1);
    packet[2] = uint8_t(crc);
    packet[3] = uint8_t(crc >> 8);
    if (prefix) packet.insert(packet.begin(), 0x7E);
    Write(packet);
    return identifier;
}

bool HostLink::Fill(double deadline) {
    if (fd_ < 0) return false;
    for (;;) {
        uint8_t chunk[4096];
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.insert(buffer_.end(), chunk, chunk + n);
            return true;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            hungUp = true;
            return false;
        }
        const double left = deadline - Seconds();
        if (left <= 0) return false;
        struct pollfd p = {fd_, POLLIN, 0};
        poll(&p, 1, int(std::ceil(left * 1000.0)));
        if (p.revents & (POLLHUP | POLLERR)) {
            hungUp = true;
            return false;
        }
    }
}

Bytes HostLink::ReadFor(double seconds) {
    const double deadline = Seconds() + seconds;
    while (Fill(deadline)) {
    }
    Bytes all;
    all.swap(buffer_);
    return all;
}

bool HostLink::NextBlock(Block& block, double timeout) {
    const double deadline = Seconds() + timeout;
    for (;;) {
        // Skip to a start code.
        size_t start = 0;
        while (start + 1 < buffer_.size() && !(buffer_[start] == '#' && buffer_[start + 1] == '2')) ++start;
        if (start > 0) buffer_.erase(buffer_.begin(), buffer_.begin() + long(start));
        if (buffer_.size() >= 4) {
            const size_t length = U16(&buffer_[2]);
            if (length < 24 || length > 1024) {
                buffer_.erase(buffer_.begin());   // not a block start after all
                continue;
            }
            if (buffer_.size() >= length) {
                const uint8_t* b = buffer_.data();
                if (b[length - 2] != '\r' || b[length - 1] != '\n') {
                    buffer_.erase(buffer_.begin());
                    continue;
                }
                block = Block();
                block.length = length;
                block.stamp = U32(b + 4);
                block.crcOk = Crc16(b + 14, length - 16) == U16(b + 12);
                block.number = U16(b + 14);
                std::copy(b + 16, b + 22, block.clock);
                block.arrival = Seconds();
                size_t at = 22;
                while (at < length - 2) {
                    const size_t n = b[at];
                    if (n < 6 || at + n > length - 2) break;
                    Packet p;
                    p.species = b[at + 1];
                    p.stamp = U32(b + at + 2);
                    p.bytes.assign(b + at, b + at + n);
                    block.packets.push_back(std::move(p));
                    at += n;
                }
                block.packetsFit = at == length - 2;
                buffer_.erase(buffer_.begin(), buffer_.begin() + long(length));
                return true;
            }
        }
        if (!Fill(deadline)) return false;
    }
}

bool HostLink::Response(int identifier, Packet& response, double timeout, std::vector<Packet>* others) {
    const double deadline = Seconds() + timeout;
    Block block;
    while (NextBlock(block, std::max(0.0, deadline - Seconds()))) {
        bool found = false;
        for (Packet& p : block.packets) {
            if (!found && (p.species == 1 || p.species == 5) && p.Identifier() == identifier) {
                response = p;
                found = true;
            } else if (others) {
                others->push_back(p);
            }
        }
        if (found) return true;
    }
    return false;
}

bool HostLink::Ask(int destination, int family, const Bytes& payload, Packet& response,
                   std::vector<Packet>* others) {
    const int id = Send(destination, family, payload);
    return Response(id, response, 1.0, others);
}

}  // namespace simtest
