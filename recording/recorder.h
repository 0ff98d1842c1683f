#pragma once
// The run's record file (`ferrogrid --record FILE`): one CSV row for every
// point the charts get, and an event row wherever the series is cut (a
// starting state, a new page, a clear, Reset, a snapshot, changed factors).
// Numbers are the read-outs' own texts without their leading blank, so they
// carry the read-outs' rounding and a C-locale point. Standard C++ and POSIX;
// no widgets.

#include "stdruntime/clock.h"
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

// Appends rows to one file. Each row goes out in one write() on a descriptor
// opened with O_APPEND, with no buffer of ours in between, so the file holds
// whole rows up to the last one written however the program ends. A row cut
// short by a full disk is taken back off the file.
class Recorder {
public:
    explicit Recorder(std::string path) : m_path(std::move(path)) {}
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Opens the file, creating it if need be, and writes a blank separator
    // line when it already holds something, the header and a start row
    // stamped `now`. False when any of that fails; error() says why.
    bool open(const ClockReading &now);
    // Appends one whole row. False at the first failure, after which the file
    // is closed and nothing more is written.
    bool write(std::string_view row);
    // Why the file could not be opened or written, as a sentence.
    const std::string &error() const { return m_error; }

private:
    void fail(const std::string &what, int err);

    std::string m_path;
    int m_fd = -1;
    std::string m_error;
};

} // namespace ferro
