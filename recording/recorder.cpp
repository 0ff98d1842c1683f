#include "recording/recorder.h"

#include "stdruntime/textconv.h"

#include <charconv>
#include <cmath>

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
std::string quoted(std::string_view text)
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
    row.append(ticksText(r)).append(",").append(stepsText, stepsEnd).append(",").append(quoted(temperatureText));
    row.append(",").append(m).append(",").append(absM).append(",").append(field(r.netMag.text()));
    row.append(",").append(field(run.energyText())).append(",\n");
    return row;
}

std::string eventRow(const Run &run, std::string_view temperatureText, std::string_view event)
{
    return ticksText(run.record()) + ",," + quoted(temperatureText) + ",,,,," + quoted(event) + "\n";
}

} // namespace ferro
