// The library's time base, sleeping, and the headset's on-board clock.
#ifndef VOQ_TIME_H
#define VOQ_TIME_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace VOQ {

// Seconds of the host's steady monotonic clock (CLOCK_MONOTONIC: what
// std::chrono::steady_clock counts on Linux), the clock of every sample time
// stamp given to callers.
double HostClock();
// Seconds since the first call in the process (which returns 0), counted on
// the monotonic clock so that stepping the wall clock cannot disturb
// time-outs, deadlines or paces.
double PrecisionTime();
// Seconds to add to a HostClock() reading to give calendar time (seconds
// since the epoch, CLOCK_REALTIME) at that moment: the wall clock read
// between two monotonic readings, the tightest of several tries.
double CalendarMinusHostClock();
// Waits, rounded to whole milliseconds; a negative value returns at once.
void Sleep(double seconds);
// Waits with microsecond resolution.
void SleepSeconds(double seconds);

// The headset's clock record on the wire: local civil time, one byte each,
// in this order (in every block, and twice in the answer to a clock query).
struct RealTimeClockStruct {
    static const size_t kWireSize = 6;
    uint8_t month;   // 1..12
    uint8_t day;     // 1..31
    uint8_t year;    // years since 2000
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    // Reads the six bytes at `p`.
    static RealTimeClockStruct Decode(const uint8_t* p) {
        return RealTimeClockStruct{p[0], p[1], p[2], p[3], p[4], p[5]};
    }
};

// One reading of the headset's clock as calendar time.
// Whole seconds are 64-bit everywhere, so that 32-bit systems pass 2038.
class Clock {
public:
    Clock() : isSet(false), seconds(0), fraction(0.0) {}

    // Converts the record (local civil time) to calendar seconds.  A record
    // equal to the one converted last gives the same seconds without asking
    // the system again: every block carries the clock, and the conversion
    // consults the time-zone database.
    Clock& Set(const RealTimeClockStruct* record);
    // The computer's wall-clock time, millisecond resolution.
    void AskTheComputer(int64_t& wholeSeconds, double& fractionOut) const;
    // The reading plus `offset`, split into whole seconds and a fraction < 1;
    // false (outputs untouched) while unset.
    bool TediousArithmetic(double offset, int64_t& wholeSeconds, double& fractionOut) const;
    // "YYYY-MM-DD HH:MM:SS[.ddd]" in local time; "" when unset or offset < 0.
    std::string String(double offset, int digits) const;

    bool isSet;
    int64_t seconds;
    double fraction;

private:
    bool converted = false;
    RealTimeClockStruct lastRecord = {0, 0, 0, 0, 0, 0};
    int64_t lastSeconds = 0;
};

}  // namespace VOQ

#endif
