// The serial port: opening (including devices without modem-control lines),
// reading with a silence time-out, writing, the fake-data queue and the
// default port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "VOQ_API.h"
#include "test_pty_device.h"
#include "voq/Error.h"
#include "voq/SerialPort.h"
#include "voq/Time.h"

using namespace voqtest;

namespace {

std::string OpenError(VOQ::SerialPort& port, const std::string& name) {
    try {
        port.Open(name);
    } catch (const VOQ::Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SerialPort, EmptyNameLeavesThePortClosed) {
    VOQ::SerialPort port;
    port.Init();
    EXPECT_EQ(OpenError(port, ""), "");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.IsOpenOrFake());
    uint8_t buffer[4];
    double start = VOQ::PrecisionTime();
    EXPECT_EQ(port.Receive(buffer, sizeof buffer, 0.5), 0u);
    EXPECT_LT(VOQ::PrecisionTime() - start, 0.1);
    EXPECT_EQ(port.Send("x", 1), 0);
    port.CleanUp();
}

TEST(SerialPort, MissingDeviceFailsWithItsName) {
    VOQ::SerialPort port;
    port.Init();
    EXPECT_EQ(OpenError(port, "/nonexistent/voq-port"), "Failed to open COM port \"/nonexistent/voq-port\"");
    EXPECT_FALSE(port.IsOpen());
    port.CleanUp();
}

TEST(SerialPort, NonTerminalFailsReadingSettings) {
    VOQ::SerialPort port;
    port.Init();
    EXPECT_EQ(OpenError(port, "/dev/null"), "Failed to read settings from COM port \"/dev/null\"");
    EXPECT_FALSE(port.IsOpen());
    port.CleanUp();
}

// A pseudo-terminal has no modem-control lines: it opens all the same.
TEST(SerialPort, PseudoTerminalOpensWithoutModemLines) {
    PtyDevice device;
    VOQ::SerialPort port;
    port.Init();
    VOQ::PrecisionTime();   // fixes the time origin before the port opens
    VOQ::Sleep(0.01);
    EXPECT_EQ(OpenError(port, device.Path()), "");
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.PortName(), device.Path());
    EXPECT_GT(port.TimeOpened(), 0.0);

    // Raw 921600 baud, no echo, no canonical mode.
    struct termios t;
    ASSERT_EQ(tcgetattr(port.Descriptor(), &t), 0);
    // User-mode emulation (VOQ_EMULATOR set) translates terminal line speeds
    // only up to 460800 baud: 921600 reads back as 0 there.
    if (!std::getenv("VOQ_EMULATOR")) {
        EXPECT_EQ(cfgetospeed(&t), speed_t(B921600));
    }
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);

    // Writes reach the device unchanged.
    const uint8_t packet[6] = {5, 1, 0, 0, 0x1D, 0};
    EXPECT_EQ(port.Send(packet, sizeof packet), 6);
    ASSERT_TRUE(device.WaitForCommands(1, 2.0));
    EXPECT_EQ(device.RawInput(), std::vector<uint8_t>(packet, packet + 6));

    // Reads return what the device sent.
    device.Write(Text("hello"));
    uint8_t buffer[5] = {};
    EXPECT_EQ(port.Receive(buffer, 5, 1.0), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");

    EXPECT_EQ(OpenError(port, device.Path()),
              "Serial port " + device.Path() + " must be closed before it can be re-opened.");
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();   // closing twice does nothing
    // The port can be opened again once closed.
    EXPECT_EQ(OpenError(port, device.Path()), "");
    port.CleanUp();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.TimeOpened(), 0.0);
}

TEST(SerialPort, TimeOutMeasuresSilence) {
    PtyDevice device;
    VOQ::SerialPort port;
    port.Init();
    port.Open(device.Path());
    uint8_t buffer[64];

    double start = VOQ::PrecisionTime();
    EXPECT_EQ(port.Receive(buffer, sizeof buffer, 0), 0u);
    EXPECT_LT(VOQ::PrecisionTime() - start, 0.05);

    start = VOQ::PrecisionTime();
    EXPECT_EQ(port.Receive(buffer, sizeof buffer, 0.3), 0u);
    double silent = VOQ::PrecisionTime() - start;
    EXPECT_GE(silent, 0.29);
    EXPECT_LT(silent, 0.8);

    // Bytes trickling in every 0.15 s for 0.6 s keep the read going.
    std::thread trickle([&] {
        for (int k = 0; k < 5; ++k) {
            device.Write(Bytes{uint8_t('a' + k)});
            VOQ::Sleep(0.15);
        }
    });
    start = VOQ::PrecisionTime();
    size_t got = port.Receive(buffer, sizeof buffer, 0.3);
    double elapsed = VOQ::PrecisionTime() - start;
    trickle.join();
    EXPECT_EQ(got, 5u);
    EXPECT_GE(elapsed, 0.85);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "abcde");
    port.CleanUp();
}

TEST(SerialPort, FakeDataStandsInForTheDevice) {
    VOQ::SerialPort port;
    port.Init();
    std::deque<uint8_t> queue;
    for (int k = 0; k < 10000; ++k) queue.push_back(uint8_t(k));
    port.AttachFakeData(&queue);
    VOQ::PrecisionTime();
    VOQ::Sleep(0.01);
    EXPECT_TRUE(port.IsOpenOrFake());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(OpenError(port, "fake"), "");
    EXPECT_GT(port.TimeOpened(), 0.0);
    EXPECT_EQ(port.Send("abc", 3), 3);
    EXPECT_EQ(queue.size(), 10000u);   // output is discarded, not queued

    // More than 4096 bytes at once: served in several reads.
    std::vector<uint8_t> buffer(12000);
    EXPECT_EQ(port.Receive(buffer.data(), 10000, 0), 10000u);
    EXPECT_EQ(buffer[4097], uint8_t(4097));
    EXPECT_EQ(buffer[9999], uint8_t(9999));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(port.Receive(buffer.data(), 10, 0), 0u);
    port.CleanUp();
    EXPECT_FALSE(port.IsOpenOrFake());
}

TEST(SerialPort, DefaultPortComesFromTheEnvironment) {
    const char* saved = std::getenv("VOQSerialPort");
    std::string keep = saved ? saved : "";
    unsetenv("VOQSerialPort");
    EXPECT_EQ(VOQ::DefaultPort(), "");
    EXPECT_STREQ(VOQ_GetDefaultPort(), "");
    setenv("VOQSerialPort", "/dev/ttyVOQ", 1);
    EXPECT_EQ(VOQ::DefaultPort(), "/dev/ttyVOQ");
    EXPECT_STREQ(VOQ_GetDefaultPort(), "/dev/ttyVOQ");
    EXPECT_EQ(VOQ::ReadEnvironmentVariable("VOQ_SURELY_UNSET_VARIABLE"), "");
    if (saved) setenv("VOQSerialPort", keep.c_str(), 1);
    else unsetenv("VOQSerialPort");
}
