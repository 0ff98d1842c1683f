#include "recording/recorder.h"

#include "stdruntime/textconv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro {

namespace {

// A read-out's text as a CSV field: Str's leading blank dropped (" .5" gives
// ".5", which spreadsheets read as 0.5).
std::string field(std::string text)
{
    if (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

// A text as typed, quoted when it holds a comma, a quote or a line break.
std::string csvQuoted(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string q = "\"";
    for (char c : text) {
        if (c == '"')
            q += '"';
        q += c;
    }
    return q + '"';
}

std::string ticksText(const RunRecord &r)
{
    return PlainText(r.ticksSinceClear.value());
}

} // namespace

std::string recordHeader()
{
    return "ticks,time_steps_per_site,temperature_J_per_kB,magnetization_per_site,abs_magnetization_per_site,"
           "average_magnetization_per_site,internal_energy_J,event\n";
}

std::string pointRow(const Run &run, std::string_view temperatureText)
{
    const RunRecord &r = run.record();
    // Where the point stands against the time-axis labels.
    const double steps = static_cast<double>(r.axisBase) + static_cast<double>(r.ticksThisPage.value()) / TicksPerStep;
    char stepsText[32];
    const auto stepsEnd = std::to_chars(stepsText, stepsText + sizeof stepsText, steps).ptr;
    const std::string m = field(r.instantaneousMag.text());
    const std::string absM =
        r.instantaneousMag.isEmpty() ? std::string() : field(Str(std::fabs(r.instantaneousMag.value())));
    std::string row;
    row.reserve(80 + temperatureText.size());
    row.append(ticksText(r)).append(",").append(stepsText, stepsEnd).append(",").append(csvQuoted(temperatureText));
    row.append(",").append(m).append(",").append(absM).append(",").append(field(r.netMag.text()));
    row.append(",").append(field(run.energyText())).append(",\n");
    return row;
}

std::string eventRow(const Run &run, std::string_view temperatureText, std::string_view event)
{
    return ticksText(run.record()) + ",," + csvQuoted(temperatureText) + ",,,,," + csvQuoted(event) + "\n";
}

Recorder::~Recorder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Recorder::fail(const std::string &what, int err)
{
    m_error = what + " (" + std::strerror(err) + "). The program runs on without recording.";
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool Recorder::open(const ClockReading &now)
{
    // Write-only: a pipe given as the file (--record >(...)) must see its
    // reader go, and we must never be that reader.
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        const int err = errno;
        fail(m_path + " cannot be opened for recording", err);
        return false;
    }

    std::string opening;
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // A line cut short by an earlier end is finished first, then one
        // blank line separates this recording from the one before.
        char last = '\n';
        if (const int in = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC); in >= 0) {
            if (::pread(in, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(in);
        }
        if (last != '\n')
            opening += '\n';
        opening += '\n';
    }
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "0,,,,,,,recording started %04d-%02d-%02d %02d:%02d:%02d\n", now.year,
                  now.month, now.day, now.hour, now.minute, now.second);
    opening += recordHeader() + stamp;
    return write(opening);
}

bool Recorder::write(std::string_view row)
{
    if (m_fd < 0)
        return false;
    std::size_t done = 0;
    while (done < row.size()) {
        const ssize_t n = ::write(m_fd, row.data() + done, row.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            // Take back the part of the row that did get written.
            const off_t end = ::lseek(m_fd, 0, SEEK_END);
            if (done > 0 && end >= static_cast<off_t>(done))
                std::ignore = ::ftruncate(m_fd, end - static_cast<off_t>(done));
            fail("Recording to " + m_path + " has stopped", err);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace ferro
