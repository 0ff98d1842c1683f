#pragma once
// The run's record file (`ferrogrid --record FILE`): one CSV row for every
// point the charts get, and an event row wherever the series is cut (a
// starting state, a new page, a clear, Reset, a snapshot, changed factors).
// Numbers are the read-outs' own texts without their leading blank, so they
// carry the read-outs' rounding and a C-locale point. RecordSession writes
// them. Standard C++; no widgets.

#include "core/run.h"

#include <string>
#include <string_view>

namespace ferro {

// The column names, with their units.
std::string recordHeader();
// A point: ticks since the last clear, the point's place on the time axis in
// steps per site, the temperature text, m, |m|, the average and the energy.
std::string pointRow(const Run &run, std::string_view temperatureText);
// An event: ticks, the temperature text and what happened; the measurement
// columns stay empty, so that charts drawn from the file leave a gap there.
std::string eventRow(const Run &run, std::string_view temperatureText, std::string_view event);

} // namespace ferro
