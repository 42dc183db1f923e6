#include "voq/Time.h"

#include <sys/select.h>
#include <sys/time.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace VOQ {

namespace {

double Seconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void SelectWait(long wholeSeconds, long microseconds) {
    timeval timeout;
    timeout.tv_sec = wholeSeconds;
    timeout.tv_usec = microseconds;
    select(0, nullptr, nullptr, nullptr, &timeout);
}

}  // namespace

double HostClock() { return Seconds(CLOCK_MONOTONIC); }

double CalendarMinusHostClock() {
    // A reading of the wall clock belongs to the middle of the two monotonic
    // readings around it, to within half their distance: keep the try with
    // the smallest distance (a pre-emption inside one try spoils only it).
    double best = 0.0, bestWidth = -1.0;
    for (int attempt = 0; attempt < 9; ++attempt) {
        const double before = Seconds(CLOCK_MONOTONIC);
        const double calendar = Seconds(CLOCK_REALTIME);
        const double after = Seconds(CLOCK_MONOTONIC);
        const double width = after - before;
        if (bestWidth < 0.0 || width < bestWidth) {
            bestWidth = width;
            best = calendar - 0.5 * (before + after);
        }
    }
    return best;
}

double PrecisionTime() {
    // The origin is fixed on the first call; a function-local static is
    // initialised exactly once even when threads race for it.
    const double now = HostClock();
    static const double origin = now;
    return now - origin;
}

void Sleep(double seconds) {
    if (!(seconds >= 0)) return;                     // negative or NaN
    if (seconds > 86400.0) seconds = 86400.0;         // keeps the count in range on 32-bit
    long milliseconds = long(seconds * 1000.0 + 0.5);
    SelectWait(milliseconds / 1000, (milliseconds % 1000) * 1000);
}

void SleepSeconds(double seconds) {
    if (!(seconds > 0)) return;
    long whole = long(seconds);
    long microseconds = long((seconds - double(whole)) * 1000000.0 + 0.5);
    if (microseconds >= 1000000) { whole += 1; microseconds -= 1000000; }
    SelectWait(whole, microseconds);
}

Clock& Clock::Set(const RealTimeClockStruct* record) {
    if (converted && record->month == lastRecord.month && record->day == lastRecord.day &&
        record->year == lastRecord.year && record->hour == lastRecord.hour && record->minute == lastRecord.minute &&
        record->second == lastRecord.second) {
        seconds = lastSeconds;
        fraction = 0.0;
        isSet = true;
        return *this;
    }
    std::tm t = {};
    t.tm_year = int(record->year) + 100;
    t.tm_mon = int(record->month) - 1;
    t.tm_mday = int(record->day);
    t.tm_hour = int(record->hour);
    t.tm_min = int(record->minute);
    t.tm_sec = int(record->second);
    t.tm_isdst = -1;
    seconds = int64_t(std::mktime(&t));
    fraction = 0.0;
    isSet = true;
    converted = true;
    lastRecord = *record;
    lastSeconds = seconds;
    return *this;
}

void Clock::AskTheComputer(int64_t& wholeSeconds, double& fractionOut) const {
    timeval now;
    gettimeofday(&now, nullptr);
    wholeSeconds = int64_t(now.tv_sec);
    fractionOut = double(now.tv_usec / 1000) / 1000.0;
}

bool Clock::TediousArithmetic(double offset, int64_t& wholeSeconds, double& fractionOut) const {
    if (!isSet) return false;
    double w = std::floor(offset);
    int64_t whole = seconds + int64_t(w);
    double frac = (offset - w) + fraction;
    while (frac >= 1.0) {
        frac -= 1.0;
        whole += 1;
    }
    wholeSeconds = whole;
    fractionOut = frac;
    return true;
}

std::string Clock::String(double offset, int digits) const {
    int64_t whole = 0;
    double frac = 0.0;
    if (offset < 0 || !TediousArithmetic(offset, whole, frac)) return std::string();
    std::time_t t = std::time_t(whole);
    std::tm local = {};
    localtime_r(&t, &local);
    char text[100];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::string out(text);
    if (digits > 0) {
        std::ostringstream stream;
        stream << std::fixed << std::setprecision(digits) << frac;
        out += stream.str().substr(1);
    }
    return out;
}

}  // namespace VOQ
