#include "voq/Headset.h"

#include <cmath>
#include <cstring>

namespace VOQ {

void Headset::Initialize() {
    InitializeDevice(false, 0);

    // 12. Buffering controller and batch defaults: 0.06 s of samples a batch.
    ConfigureBufferingController(0.25, 0.998, 0.005, 2.5e-6, 0.1);
    double rate = samplingRate;
    double samples = std::floor(rate * 0.06 + 0.5);
    ConfigureBatch(samples > 0 ? static_cast<unsigned int>(samples) : 0u, 0.05);

    // 13, 14. Factory montage with the traditional ear or mastoid reference.
    ChooseChannels("FACTORY", "FACTORY", false);
    std::string reference = SetTraditionalReference(true);
    if (reference.empty() && WillShow(1)) {
        Message(1, "failed to set ear/mastoid reference: signals will be referenced to factory reference " +
                       FactoryReferenceString());
    }
}

void Headset::InitializeDevice(bool reconnecting, uint32_t expectedSerial) {
    // 1. Stale input.
    size_t flushed = FlushData(2.0);
    if (WillShow(3)) Message(3, "Flushed " + std::to_string(flushed) + " bytes");

    // 2. Wait for the headset to echo the ready text.
    readyFlag = false;
    for (int cycle = 0; cycle < 10 && !readyFlag; ++cycle) {
        Echo("VOQ Ready", 0.0, kAttempts);
        const double deadline = PrecisionTime() + 2.0;
        // Each read waits for input itself (at most half a second).
        while (!readyFlag && PrecisionTime() < deadline) {
            TryToReadBlock();
            if (reconnecting) CheckLinkForCommand();
        }
    }
    if (!readyFlag) Echo("HELLO", kReplyTimeout, kAttempts);

    // 3. Stop any running data stream.
    KillDataStream(true);

    // 4. Identity, serial number and firmware.
    QueryDeviceID();
    QuerySerialNumberAndSensorCount();
    if (reconnecting && expectedSerial != 0xFFFFFFFFu && serialNumber != expectedSerial)
        throw DifferentHeadsetError("a different headset (serial number " + std::to_string(serialNumber) +
                                    ") answered on " + Port() + " instead of serial number " +
                                    std::to_string(expectedSerial));
    QueryFirmwareRevisions();

    // 5. The headset's clock.
    SetClock();

    // 6. The battery monitor, and time for its first report (a reconnection
    // does not wait: the data stream matters more).
    StartBatteryMonitor();
    if (!reconnecting) Sleep(2.0);

    // 7, 8. Impedance driver off, analog reset released.
    StopImpedanceDriver();
    ReleaseAnalogReset();

    // 9. Calibration memory; the eighth page builds the sources.  A
    // reconnection compares the pages with those read before instead, so
    // that the sources, montage and stages (and the caller's handles to
    // them) stay.
    if (reconnecting) {
        {
            ReadLockGuard guard(*this);
            calibrationCheckPages.clear();
        }
        checkingCalibration = true;
        struct CheckScope {
            std::atomic<bool>& flag;
            ~CheckScope() { flag = false; }
        } scope{checkingCalibration};
        QuerySensorInfo();
        ReadLockGuard guard(*this);
        if (calibrationCheckPages.size() < size_t(CalibrationLayout::kPages) || calibrationCheck != calibrationMemory)
            throw DifferentHeadsetError("the calibration memory of the headset on " + Port() +
                                        " is not the one read before the link was lost");
    } else {
        QuerySensorInfo();
    }

    // 10, 11. Modes, clock and accelerometer rate.
    QueryImpedanceDriverMode();
    QueryAnalogResetMode();
    ReadClock();
    QueryAccelerometerRate();
}

void Headset::TakeCalibrationPage(int page, const uint8_t* bytes) {
    const size_t offset = CalibrationLayout::kPageSize * size_t(page);
    if (checkingCalibration) {
        std::memcpy(calibrationCheck.data() + offset, bytes, CalibrationLayout::kPageSize);
        calibrationCheckPages.insert(page);
        return;
    }
    std::memcpy(calibrationMemory.data() + offset, bytes, CalibrationLayout::kPageSize);
    calibrationPagesReceived.insert(page);
    if (calibrationPagesReceived.size() >= size_t(CalibrationLayout::kPages)) InterpretCalibrationMemory(nullptr);
}

}  // namespace VOQ
