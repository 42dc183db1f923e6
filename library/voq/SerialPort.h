// The serial device that reaches one headset: raw, non-blocking, 921600 baud,
// read with a silence time-out.  A fake-data queue can stand in for the
// device (testing hook): input then comes from the queue and output is
// discarded.
#ifndef VOQ_SERIALPORT_H
#define VOQ_SERIALPORT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

struct termios;

namespace VOQ {

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void Init();
    void CleanUp();
    // Opens the device; "" leaves the port closed without error.  Failures
    // throw one of the opening messages.
    void Open(const std::string& portName);
    // Opens the port of the last Open() again (a reconnection), keeping the
    // time it was first opened, so that time stamps go on from there.
    void Reopen();
    // Drops DTR and RTS, restores the saved settings and closes.
    void Close();
    // Up to `count` bytes; the time-out measures silence (restarts whenever
    // bytes arrive); 0 polls once; negative never expires.  Throws LinkError
    // when the device has gone: the line hung up while waiting, or a read
    // failed with an error that LinkFailed() names.
    size_t Receive(void* buffer, size_t count, double timeout);
    // 0 when closed; `length` with fake data; else the write's result or
    // minus the system error number.
    int Send(const void* data, size_t length);
    // True for the system error numbers that mean the device has gone.
    static bool LinkFailed(int error);

    // Testing hook: input comes from `queue` (not owned), output is dropped.
    void AttachFakeData(std::deque<uint8_t>* queue) { fakeData = queue; }
    std::deque<uint8_t>* FakeData() const { return fakeData; }

    bool IsOpen() const { return descriptor != 0; }
    bool IsOpenOrFake() const { return descriptor != 0 || fakeData != nullptr; }
    const std::string& PortName() const { return portName; }
    double TimeOpened() const { return timeOpened.load(std::memory_order_relaxed); }
    int Descriptor() const { return descriptor; }

private:
    void OpenDevice();

    std::string portName;
    // Atomic: a reconnection reopens the port on its own thread while the
    // caller's thread asks whether it is open and since when.
    std::atomic<double> timeOpened;
    std::atomic<int> descriptor;
    struct termios* savedSettings;
    std::deque<uint8_t>* fakeData;
};

// The value of VOQSerialPort, or "" (there is no built-in default device).
std::string DefaultPort();
std::string ReadEnvironmentVariable(const std::string& name);

}  // namespace VOQ

#endif
