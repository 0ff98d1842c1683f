#include "stdruntime/clock.h"

#include <cstdio>
#include <ctime>

namespace ferro {

ClockReading SystemClock::now() const
{
    const std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string DateText(const ClockReading &r)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", r.month, r.day, r.year);
    return buf;
}

std::string TimeText(const ClockReading &r)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", r.hour, r.minute, r.second);
    return buf;
}

} // namespace ferro
