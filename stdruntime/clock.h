#pragma once
// The wall clock as the program shows it. Standard C++ only.

#include <string>

namespace ferro {

struct ClockReading {
    int year, month, day, hour, minute, second;
};

// Where the date and time come from: the system's local time, or a fixed
// reading in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual ClockReading now() const = 0;
};

class SystemClock final : public Clock {
public:
    ClockReading now() const override;
};

// "mm-dd-yyyy"
std::string DateText(const ClockReading &r);
// "hh:mm:ss", 24-hour
std::string TimeText(const ClockReading &r);

} // namespace ferro
