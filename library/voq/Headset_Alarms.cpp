#include "voq/Headset.h"

#include <cmath>
#include <cstdio>

namespace VOQ {

namespace {

std::string FormatParameter(unsigned value, char conversion, char fill, int width) {
    char digits[32];
    const char* format = conversion == 'x' ? "%x" : conversion == 'X' ? "%X" : "%u";
    std::snprintf(digits, sizeof digits, format, value);
    std::string text(digits);
    if (int(text.size()) < width) text.insert(0, size_t(width) - text.size(), fill);
    return text;
}

}  // namespace

std::string Headset::AlarmText(int code, const std::vector<unsigned>& parameters) {
    const char* pattern = AlarmMessage(code);
    std::string text;
    size_t next = 0;
    for (const char* p = pattern; *p; ++p) {
        if (*p != '%') {
            text.push_back(*p);
            continue;
        }
        char fill = ' ';
        int width = 0;
        for (++p; *p; ++p) {
            const char c = *p;
            if (c == '0' || c == ' ') {
                fill = c;
            } else if (c >= '1' && c <= '9') {
                width = c - '0';
            } else if (c == '%') {
                text.push_back('%');
                break;
            } else if (c == 'd' || c == 'x' || c == 'X') {
                unsigned value = next < parameters.size() ? parameters[next++] : 0u;
                text += FormatParameter(value, c, fill, width);
                break;
            }
            // Anything else inside a conversion is skipped.
        }
        if (*p == '\0') break;
    }
    return text;
}

void Headset::ProcessAlarm(const uint8_t* packet, size_t length, double receptionTime, double packetTime) {
    (void)receptionTime;
    if (length < AlarmPacketStruct::kWireSize) {
        if (WillShow(2)) Message(2, "malformed alarm packet");
        return;
    }
    const AlarmPacketStruct alarm = AlarmPacketStruct::Decode(packet);
    const int species = alarm.header.species;
    const int code = species * 256 + alarm.code;
    const bool wide = (alarm.descriptor & AlarmPacketStruct::kWideParameters) != 0;
    const size_t count = alarm.descriptor & AlarmPacketStruct::kCountMask;
    const size_t chunk = count * (wide ? 2 : 1);
    const size_t available = length - AlarmPacketStruct::kWireSize;
    if (available < chunk) {
        if (WillShow(2)) Message(2, std::string("malformed parameter chunk in ") + AlarmName(code) + " alarm packet");
        return;
    }
    if (available > chunk && WillShow(3))
        Message(3, std::string("extraneous bytes follow parameter chunk in ") + AlarmName(code) + " alarm packet");

    std::vector<unsigned> parameters(count);
    const uint8_t* p = packet + AlarmPacketStruct::kWireSize;
    for (size_t k = 0; k < count; ++k) parameters[k] = wide ? ReadU16LE(p + 2 * k) : p[k];

    if (WillShow(3)) {
        Message(3, "Received alarm type " + std::to_string(alarm.code) + " from " +
                       (species == PacketSpecies::AlarmFromSlave ? "slave" : "master") + " (" + AlarmName(code) + ")");
    }

    int level = 2;
    switch (code) {
        case Alarm::SystemStarted:
        case Alarm::Slave_SystemStarted:
            level = 3;
            break;
        case Alarm::BatteryLevel: {
            level = 3;
            // Only the levels the packet carries are taken over.
            if (count >= 1) batteryLevel1 = double(parameters[0]);
            if (count >= 2) batteryLevel2 = double(parameters[1]);
            std::lock_guard<std::mutex> lock(stateLock);
            const double whole = std::floor(packetTime);
            int64_t seconds = onboardClockSet.seconds + int64_t(whole);
            double fraction = packetTime - whole + onboardClockSet.fraction;
            while (fraction >= 1.0) {
                fraction -= 1.0;
                seconds += 1;
            }
            timeBatteryMeasured.seconds = seconds;
            timeBatteryMeasured.fraction = fraction;
            timeBatteryMeasured.isSet = true;
            break;
        }
        case Alarm::PCCommReset:
        case Alarm::HoldOffDelay:
        case Alarm::PacketSizeError:
        case Alarm::CheckFailed:
            level = 3;
            break;
        case Alarm::ConnectionCreated:
            level = 3;
            blueToothInitialized = true;
            break;
        default:
            break;
    }

    IssueMessage(WillShow(level) ? AlarmText(code, parameters) : std::string(), level, code);

    if (code >= Alarm::PCCommReset && code <= Alarm::CheckFailed) {
        // The headset dropped the last command: stop waiting so that it is
        // resent at once.
        ForgetPendingUnsettled();
    }
}

int Headset::GetAlarm(bool remove) {
    std::lock_guard<std::mutex> lock(alarmLock);
    if (alarms.empty()) return 0;
    int code = alarms.front();
    if (remove) alarms.pop_front();
    return code;
}

int Headset::NumberOfAlarms() const {
    std::lock_guard<std::mutex> lock(alarmLock);
    return int(alarms.size());
}

void Headset::ClearAlarms() {
    std::lock_guard<std::mutex> lock(alarmLock);
    alarms.clear();
}

}  // namespace VOQ
