// A scripted stand-in for the headset on a pseudo-terminal, for unit tests of
// the serial port and of command transactions: it records every command
// packet the host writes and answers each one with the bytes a test-supplied
// responder returns (nothing, a block with a response, an alarm, ...).
#ifndef VOQ_TEST_PTY_DEVICE_H
#define VOQ_TEST_PTY_DEVICE_H

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BlockBuilder.h"
#include "voq/Protocol.h"

namespace voqtest {

struct SentCommand {
    std::vector<uint8_t> bytes;   // as written, prefix included
    bool prefixed = false;
    int length = 0;               // the length byte
    int destination = 0;
    int family = 0;
    int identifier = 0;
    std::vector<uint8_t> payload;
    bool crcValid = false;
};

class PtyDevice {
public:
    // Returns the bytes to send back for one command (may be empty).
    using Responder = std::function<Bytes(const SentCommand&)>;

    PtyDevice() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pty");
        path = ptsname(master);
        // Keep the device side open ourselves so that the line never hangs up.
        keeper = open(path.c_str(), O_RDWR | O_NOCTTY);
        struct termios t;
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        tcgetattr(keeper, &t);
        cfmakeraw(&t);
        tcsetattr(keeper, TCSANOW, &t);
        worker = std::thread([this] { Serve(); });
    }
    ~PtyDevice() {
        stop = true;
        worker.join();
        close(keeper);
        close(master);
    }

    const std::string& Path() const { return path; }

    void SetResponder(Responder r) {
        std::lock_guard<std::mutex> lock(mutex);
        responder = std::move(r);
    }
    // Bytes to the host, outside any command.
    void Write(const Bytes& bytes) {
        std::lock_guard<std::mutex> lock(writeMutex);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += size_t(n);
            else usleep(1000);
        }
    }
    std::vector<SentCommand> Commands() const {
        std::lock_guard<std::mutex> lock(mutex);
        return commands;
    }
    // Raw bytes received from the host since the start.
    std::vector<uint8_t> RawInput() const {
        std::lock_guard<std::mutex> lock(mutex);
        return raw;
    }
    bool WaitForCommands(size_t count, double seconds) const {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, std::chrono::duration<double>(seconds),
                                [&] { return commands.size() >= count; });
    }

private:
    void Serve() {
        std::vector<uint8_t> pending;
        while (!stop) {
            struct pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            uint8_t buffer[512];
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) continue;
            {
                std::lock_guard<std::mutex> lock(mutex);
                raw.insert(raw.end(), buffer, buffer + n);
            }
            pending.insert(pending.end(), buffer, buffer + n);
            for (;;) {
                size_t start = 0;
                bool prefixed = false;
                if (!pending.empty() && pending[0] == 0x7E) {
                    prefixed = true;
                    start = 1;
                }
                if (pending.size() < start + 1) break;
                size_t total = start + 1 + pending[start];
                if (pending.size() < total) break;
                SentCommand c;
                c.bytes.assign(pending.begin(), pending.begin() + long(total));
                c.prefixed = prefixed;
                c.length = pending[start];
                const uint8_t* packet = pending.data() + start;
                if (c.length >= 5) {
                    c.destination = packet[1];
                    c.family = packet[4];
                    c.identifier = packet[5];
                    c.payload.assign(packet + 6, packet + 1 + c.length);
                    c.crcValid = VOQ::CRC16(packet + 4, size_t(c.length) - 3) == VOQ::ReadU16LE(packet + 2);
                }
                pending.erase(pending.begin(), pending.begin() + long(total));
                Responder r;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    commands.push_back(c);
                    r = responder;
                }
                arrived.notify_all();
                if (r) {
                    Bytes answer = r(c);
                    if (!answer.empty()) Write(answer);
                }
            }
        }
    }

    int master = -1;
    int keeper = -1;
    std::string path;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::mutex writeMutex;
    mutable std::condition_variable arrived;
    Responder responder;
    std::vector<SentCommand> commands;
    std::vector<uint8_t> raw;
    std::thread worker;
};

// A block that answers `c` with `code` (default: its family) and `payload`.
inline Bytes Answer(const SentCommand& c, const Bytes& payload, int code = -1, uint16_t blockNumber = 0) {
    int species = c.destination == 2 ? 5 : 1;
    return Block(blockNumber, {ResponsePacket(species, code < 0 ? c.family : code, c.identifier, payload)});
}

}  // namespace voqtest

#endif
