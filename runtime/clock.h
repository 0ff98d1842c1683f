#pragma once
// The wall clock as the program shows it. Standard C++ only.

#include <optional>
#include <string>

namespace ferro {

struct ClockReading {
    int year, month, day, hour, minute, second;
};

// Local date and time now, or the fixed reading a test has set.
ClockReading clockNow();
// Tests: freeze the clock at a reading; std::nullopt lets it run again.
void setFixedClock(std::optional<ClockReading> reading);

// "mm-dd-yyyy"
std::string DateText();
// "hh:mm:ss", 24-hour
std::string TimeText();

} // namespace ferro
