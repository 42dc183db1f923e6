#include "voq/Headset.h"

#include <ctime>

namespace VOQ {

namespace {

// One command with a u16 payload (or none), sent with the given time-out and
// the standard number of attempts.
int SendWord(Headset& headset, CommandDestination::Code destination, CommandFamily::Code family, uint16_t value,
             double timeout) {
    Command command = WordCommand(destination, family, value);
    return headset.Send(command, timeout, kAttempts) ? 1 : 0;
}

int SendEmpty(Headset& headset, CommandDestination::Code destination, CommandFamily::Code family, double timeout) {
    Command command(destination, family);
    return headset.Send(command, timeout, kAttempts) ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Command transactions

bool Headset::Send(Command& command, double timeout, int attempts) {
    // Packet processing (and the callbacks it runs) holds the read lock: a
    // transaction there would wait for replies that only it could read.
    RefuseInsideCallback("send commands");
    if (port.FakeData() != nullptr) return true;
    CheckLinkForCommand();
    if (!port.IsOpen()) throw Error("Cannot send commands to headset: serial-port connection not yet established.");

    std::lock_guard<std::mutex> transaction(commandLock);
    // However the transaction ends, a late reply must not reach the command.
    struct PendingReset {
        Headset& headset;
        ~PendingReset() {
            std::lock_guard<std::mutex> lock(headset.pendingLock);
            headset.pendingCommand = nullptr;
        }
    } pendingReset{*this};

    Sign(command);
    std::string bytes;
    auto build = [&] {
        bytes.assign(commandPrefix);
        bytes.append(reinterpret_cast<const char*>(command.packet), command.packetLength);
    };
    build();
    if (WillShow(3)) Message(3, "Sending " + command.Description());
    if (WillShow(7)) Message(7, "Raw command is " + PythonString(bytes, true));
    if (attempts < 1) throw Error("Command failed too many times.");

    for (int k = 0; k < attempts; ++k) {
        {
            std::lock_guard<std::mutex> lock(pendingLock);
            command.succeeded = false;
            command.rejected = false;
            pendingCommand = timeout != 0 ? &command : nullptr;
        }
        int written;
        {
            ReadLockGuard guard(*this);
            CheckLinkForCommand();
            written = port.Send(bytes.data(), bytes.size());
            if (written < 0 && SerialPort::LinkFailed(-written)) {
                // The command fails; a reconnection may take over the link.
                const std::string failure = "Write to serial port failed with errno " + std::to_string(-written);
                if (!LinkLost(failure)) linkFailed = true;
                throw LinkError(failure);
            }
        }
        if (written < 0) throw Error("Write to serial port failed with errno " + std::to_string(-written));
        if (size_t(written) < bytes.size())
            throw Error("Could not send complete command (sent " + std::to_string(written) + " of " +
                        std::to_string(bytes.size()) + " bytes)");
        if (timeout == 0) return true;

        const double deadline = PrecisionTime() + timeout;
        bool pending = true;
        do {
            CheckLinkForCommand();
            if (acquisitionThread.ReadsForOthers() && !Reconnecting() && !acquisitionThread.IsCurrentThread()) {
                // The worker, in its reading loop, settles the command.  Before
                // and after that loop it may be waiting for this transaction's
                // lock to start or stop the stream, so then the reply is read
                // here (block reads take turns under the read lock).
                Sleep(0.001);
            } else {
                TryToReadBlock();
            }
            std::lock_guard<std::mutex> lock(pendingLock);
            pending = pendingCommand == &command;
        } while (pending && PrecisionTime() < deadline);

        bool succeeded;
        {
            std::lock_guard<std::mutex> lock(pendingLock);
            pendingCommand = nullptr;
            succeeded = command.succeeded;
        }
        if (!pending && succeeded) return true;
        if (k + 1 >= attempts) break;
        Sign(command);
        build();
        if (WillShow(2)) {
            Message(2, std::string(pending ? "No reply received" : "Command failed") + " - resending (attempt #" +
                           std::to_string(k + 1) + ") as " + command.Description());
        }
    }
    throw Error("Command failed too many times.");
}

const uint8_t* Headset::Sign(Command& command) {
    int identifier = commandIdentifier;
    if (identifier == 95) {
        identifier = 96;
        if (WillShow(3)) Message(3, "Skipping command ID 95");
    }
    commandIdentifier = (identifier + 1) % 256;
    return command.Sign(identifier);
}

void Headset::ForgetPending(int identifier, bool succeeded, bool rejected) {
    std::lock_guard<std::mutex> lock(pendingLock);
    if (pendingCommand == nullptr || pendingCommand->Identifier() != identifier) return;
    pendingCommand->succeeded = succeeded;
    pendingCommand->rejected = rejected;
    pendingCommand = nullptr;
}

void Headset::ForgetPendingUnsettled() {
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingCommand = nullptr;
}

bool Headset::Echo(const std::string& message, double timeout, int attempts) {
    Command command(CommandDestination::Master, CommandFamily::Echo, message.data(), std::min<size_t>(message.size(), 24));
    return Send(command, timeout < 0 ? kReplyTimeout : timeout, attempts < 0 ? kAttempts : attempts);
}

void Headset::UseOptionalCommandPrefix(bool use) {
    std::lock_guard<std::mutex> transaction(commandLock);
    commandPrefix = use ? "~" : "";
}

// ---------------------------------------------------------------------------
// Device commands

int Headset::QueryDeviceID() {
    return SendEmpty(*this, CommandDestination::Master, CommandFamily::DeviceIdentification, kReplyTimeout);
}

int Headset::QuerySerialNumberAndSensorCount() {
    return SendEmpty(*this, CommandDestination::Master, CommandFamily::SerialNumberAndSensorCount, kReplyTimeout);
}

int Headset::QueryFirmwareRevisions() {
    SendEmpty(*this, CommandDestination::Master, CommandFamily::FirmwareRevision, kReplyTimeout);
    SendEmpty(*this, CommandDestination::Slave, CommandFamily::FirmwareRevision, kReplyTimeout);
    SendEmpty(*this, CommandDestination::Master, CommandFamily::FirmwareRevisionSub, kReplyTimeout);
    return SendEmpty(*this, CommandDestination::Slave, CommandFamily::FirmwareRevisionSub, kReplyTimeout);
}

int Headset::SetClock() {
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    const uint8_t payload[6] = {uint8_t(local.tm_mon + 1), uint8_t(local.tm_mday), uint8_t(local.tm_year - 100),
                                uint8_t(local.tm_hour),    uint8_t(local.tm_min),  uint8_t(local.tm_sec)};
    Command command(CommandDestination::Master, CommandFamily::RealTimeClock, payload, sizeof payload);
    return Send(command, kReplyTimeout, kAttempts) ? 1 : 0;
}

int Headset::ReadClock() {
    return SendEmpty(*this, CommandDestination::Master, CommandFamily::RealTimeClock, kReplyTimeout);
}

int Headset::StartBatteryMonitor() {
    // 1 starts the monitor (0 would stop it); no reply is awaited.
    return SendWord(*this, CommandDestination::Master, CommandFamily::BatteryMonitor, 1, 0.0);
}

int Headset::QuerySensorInfo() {
    int result = 0;
    for (int page = 0; page < 8; ++page)
        result = SendWord(*this, CommandDestination::Master, CommandFamily::CalibrationMemory, page, kReplyTimeout);
    return result;
}

int Headset::QueryImpedanceDriverMode() {
    return SendWord(*this, CommandDestination::Slave, CommandFamily::ImpedanceDriverMode,
                    ModeRequest::Query, kReplyTimeout);
}

int Headset::StartImpedanceDriver() {
    return SendWord(*this, CommandDestination::Slave, CommandFamily::ImpedanceDriverMode,
                    ModeRequest::Start, kReplyTimeout);
}

int Headset::StopImpedanceDriver() {
    return SendWord(*this, CommandDestination::Slave, CommandFamily::ImpedanceDriverMode,
                    ModeRequest::Stop, kReplyTimeout);
}

int Headset::QueryAnalogResetMode() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::AnalogResetMode,
                    ModeRequest::Query, kReplyTimeout);
}

int Headset::StartAnalogReset(bool wait) {
    return SendWord(*this, CommandDestination::Master, CommandFamily::AnalogResetMode,
                    ModeRequest::Start, wait ? kReplyTimeout : 0.0);
}

int Headset::LockAnalogReset() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::AnalogResetMode,
                    ModeRequest::Lock, kReplyTimeout);
}

int Headset::ReleaseAnalogReset() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::AnalogResetMode,
                    ModeRequest::Stop, kReplyTimeout);
}

int Headset::QueryDataAcquisitionMode() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::DataAcquisitionMode,
                    ModeRequest::Query, kReplyTimeout);
}

int Headset::StartDataAcquisition() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::DataAcquisitionMode,
                    ModeRequest::Start, kReplyTimeout);
}

int Headset::StopDataAcquisition() {
    Command command = StopStreamCommand();
    return Send(command, kReplyTimeout, kAttempts) ? 1 : 0;
}

int Headset::QueryAcquisitionSettings() {
    return SendWord(*this, CommandDestination::Master, CommandFamily::AcquisitionSettings, 0, kReplyTimeout);
}

int Headset::ConfigureAcquisitionSettings(unsigned short samplesPerSecond, unsigned short filter) {
    // Filter stages redesign themselves for a new rate; one that cannot run
    // at it refuses the change before anything is sent.
    if (samplesPerSecond > 0 && double(samplesPerSecond) != double(samplingRate)) CheckFiltersAt(samplesPerSecond);
    int result = ApplyAcquisitionSettings(samplesPerSecond, filter);
    RebaseBufferingController(samplingRate, true);
    return result;
}

int Headset::ApplyAcquisitionSettings(unsigned short samplesPerSecond, unsigned short filter) {
    uint8_t payload[4];
    WriteU16LE(payload, samplesPerSecond);
    WriteU16LE(payload + 2, filter);
    Command command(CommandDestination::Master, CommandFamily::AcquisitionSettings, payload, sizeof payload);
    Send(command, kReplyTimeout, kAttempts);
    return QueryDataAcquisitionMode();
}

int Headset::QueryAccelerometerRate() {
    return SendEmpty(*this, CommandDestination::Slave, CommandFamily::AccelerometerRate, kReplyTimeout);
}

int Headset::SetAccelerometerRate(unsigned short rate) {
    uint8_t payload[2];
    WriteU16LE(payload, rate);
    Command command(CommandDestination::Slave, CommandFamily::AccelerometerRate, payload, sizeof payload);
    int result = Send(command, kReplyTimeout, kAttempts) ? 1 : 0;
    if (command.rejected) throw Error("failed to change accelerometer rate to " + std::to_string(rate));
    double now = accelerometerRate;
    if (now != double(rate) && WillShow(1)) {
        Message(1, "failed to change accelerometer rate to " + std::to_string(rate) + ": it is now " + NumberString(now));
    }
    return result;
}

int Headset::ChangeLEDs(unsigned short value) {
    return SendWord(*this, CommandDestination::Master, CommandFamily::LED, value, kReplyTimeout);
}

int Headset::Shutdown() { return SendWord(*this, CommandDestination::Master, CommandFamily::Shutdown, 1, 0.0); }

int Headset::SelfTest() { return SendWord(*this, CommandDestination::Master, CommandFamily::SelfTest, 0, 0.0); }

std::string Headset::HardwareModel() const {
    std::lock_guard<std::mutex> lock(stateLock);
    return hardwareModel;
}

std::string Headset::HardwareRevision() const {
    std::lock_guard<std::mutex> lock(stateLock);
    return hardwareRevision;
}

}  // namespace VOQ
