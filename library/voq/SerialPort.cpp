#include "voq/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>   // IOSSIOSPEED: the request only, no framework is linked
#endif

#include "voq/Error.h"
#include "voq/Time.h"

namespace VOQ {

// ---------------------------------------------------------------------------
// Platform details, kept together: the line speed and the modem-control
// requests are the only things that differ between the supported systems.

namespace {

const int kOpenFlags = O_RDWR | O_NOCTTY | O_NONBLOCK;

// Raw 8N1, no flow control, reads return at once; 921600 baud where the
// settings record can carry that speed (see ApplySettings for macOS).
void MakeRawSettings(struct termios& settings) {
    settings.c_iflag = IGNPAR;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = CS8 | CREAD | CLOCAL;
#if defined(__linux__)
    settings.c_cflag |= B921600;
#elif defined(__APPLE__)
    // macOS has no B921600 and its drivers refuse unlisted rates in
    // tcsetattr: a listed rate here, the real one set by ApplySettings.
    cfsetspeed(&settings, B230400);
#else
    // The line speed is a field of its own here.
    cfsetispeed(&settings, 921600);
    cfsetospeed(&settings, 921600);
#endif
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
}

// Applies the settings at once; 0 on success, -1 with errno set.
int ApplySettings(int descriptor, const struct termios& settings) {
    if (tcsetattr(descriptor, TCSANOW, &settings) != 0) return -1;
#if defined(__APPLE__)
    // The macOS way to any line speed; it must follow every tcsetattr, which
    // puts the speed of the record back.  A pseudo-terminal has no line speed
    // and refuses the request with ENOTTY: it opens all the same.
    speed_t speed = 921600;
    if (ioctl(descriptor, IOSSIOSPEED, &speed) != 0 && errno != ENOTTY) return -1;
#endif
    return 0;
}

// Devices without modem-control lines (every pseudo-terminal, many serial
// bridges) answer these requests with one of these errors.
bool LacksModemLines(int error) { return error == ENOTTY || error == EINVAL; }

int GetModemLines(int descriptor, int& lines) { return ioctl(descriptor, TIOCMGET, &lines); }
int SetModemLines(int descriptor, int lines) { return ioctl(descriptor, TIOCMSET, &lines); }
const int kDTRandRTS = TIOCM_DTR | TIOCM_RTS;

}  // namespace

// ---------------------------------------------------------------------------

SerialPort::SerialPort() : timeOpened(0), descriptor(0), savedSettings(nullptr), fakeData(nullptr) {}

SerialPort::~SerialPort() { CleanUp(); }

void SerialPort::Init() {
    descriptor = 0;
    timeOpened = 0;
    fakeData = nullptr;
    if (!savedSettings) savedSettings = new struct termios();
}

void SerialPort::CleanUp() {
    Close();
    fakeData = nullptr;
    timeOpened = 0;
    delete savedSettings;
    savedSettings = nullptr;
}

void SerialPort::Open(const std::string& name) {
    if (descriptor != 0) throw Error("Serial port " + portName + " must be closed before it can be re-opened.");
    portName = name;
    if (portName.empty()) return;
    if (fakeData) {
        if (timeOpened != 0) return;
        timeOpened = PrecisionTime();
        return;
    }
    OpenDevice();
    timeOpened = PrecisionTime();
}

void SerialPort::Reopen() {
    if (descriptor != 0 || fakeData || portName.empty()) return;
    OpenDevice();
}

void SerialPort::OpenDevice() {
    if (!savedSettings) savedSettings = new struct termios();

    int fd = ::open(portName.c_str(), kOpenFlags);
    if (fd < 1) {
        // A descriptor of 0 is never kept (0 means closed).
        if (fd == 0) ::close(fd);
        descriptor = 0;
        throw Error("Failed to open COM port \"" + portName + "\"");
    }
    auto fail = [&](const char* what) {
        ::close(fd);
        descriptor = 0;
        throw Error(std::string(what) + portName + "\"");
    };
    if (tcgetattr(fd, savedSettings) != 0) fail("Failed to read settings from COM port \"");
    struct termios settings = *savedSettings;
    MakeRawSettings(settings);
    if (ApplySettings(fd, settings) != 0) fail("Failed to update settings for COM port \"");
    int lines = 0;
    if (GetModemLines(fd, lines) != 0) {
        if (!LacksModemLines(errno)) fail("Failed to query status from COM port \"");
    } else if (SetModemLines(fd, lines | kDTRandRTS) != 0 && !LacksModemLines(errno)) {
        fail("Failed to update status for COM port \"");
    }
    descriptor = fd;
}

void SerialPort::Close() {
    if (descriptor == 0) return;
    int lines = 0;
    if (GetModemLines(descriptor, lines) == 0) SetModemLines(descriptor, lines & ~kDTRandRTS);
    if (savedSettings) tcsetattr(descriptor, TCSANOW, savedSettings);
    ::close(descriptor);
    descriptor = 0;
}

namespace {

// Waits until the device has input, at most `seconds`; false when it has
// none by then (or the wait failed).  A line that has hung up (its device
// gone: a read then returns nothing for ever) throws LinkError.
bool WaitForInput(int descriptor, double seconds) {
    struct pollfd p;
    p.fd = descriptor;
    p.events = POLLIN;
    p.revents = 0;
    const int milliseconds = seconds <= 0 ? 0 : int(std::min(seconds, 3600.0) * 1000.0) + 1;
    if (::poll(&p, 1, milliseconds) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) throw LinkError("Read from serial port failed: the line hung up");
    return true;
}

}  // namespace

size_t SerialPort::Receive(void* buffer, size_t count, double timeout) {
    if (descriptor == 0 && !fakeData) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t received = 0;
    // The clock is read only once a read comes back short (most calls are
    // served at once: resynchronisation takes a byte at a time).
    double deadline = 0.0;
    bool timing = false;
    // A device that reports input which a read then does not deliver would
    // keep a waiting loop busy: after such a pass the loop pauses 1 ms
    // instead.  (A device that has gone away throws LinkError.)
    bool lastWaitFound = false;
    while (received < count) {
        size_t chunk = std::min<size_t>(count - received, 4096);
        size_t obtained = 0;
        if (fakeData) {
            obtained = std::min(chunk, fakeData->size());
            const auto end = fakeData->begin() + long(obtained);
            std::copy(fakeData->begin(), end, out + received);
            fakeData->erase(fakeData->begin(), end);
        } else {
            ssize_t n = ::read(descriptor, out + received, chunk);
            if (n > 0) obtained = size_t(n);
            if (n < 0 && LinkFailed(errno))
                throw LinkError("Read from serial port failed with errno " + std::to_string(errno));
        }
        received += obtained;
        if (received >= count) break;
        if (timeout == 0) {
            if (obtained == 0) break;
            continue;
        }
        const double now = PrecisionTime();
        if (obtained > 0 || !timing) {
            deadline = now + timeout;
            timing = true;
        }
        if (obtained > 0) continue;
        if (timeout > 0 && now > deadline) break;
        // Nothing there: wait for the device to have input (so that bytes
        // are taken as soon as they arrive, and an idle line costs no
        // wake-ups), at most until the deadline; fake data is polled.
        if (fakeData || lastWaitFound) {
            lastWaitFound = false;
            SleepSeconds(0.001);
        } else {
            lastWaitFound = WaitForInput(descriptor, timeout > 0 ? deadline - now : 1.0);
        }
    }
    return received;
}

bool SerialPort::LinkFailed(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

int SerialPort::Send(const void* data, size_t length) {
    if (fakeData) return int(length);
    if (descriptor == 0) return 0;
    ssize_t n = ::write(descriptor, data, length);
    if (n < 0) return -errno;
    return int(n);
}

std::string ReadEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

std::string DefaultPort() { return ReadEnvironmentVariable("VOQSerialPort"); }

}  // namespace VOQ
