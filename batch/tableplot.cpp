#include "batch/tableplot.h"

#include "batch/merge.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace ferro::batch {

QString plotCaption(const CaptionFacts &facts)
{
    QString text = QStringLiteral("Ferrogrid, 20 \u00d7 20 torus, ");
    if (facts.equilibrate)
        text += QString::fromStdString(*facts.equilibrate) + QStringLiteral(" + ");
    text += QString::fromStdString(facts.sweeps) + QStringLiteral(" sweeps, seed ")
        + QString::fromStdString(facts.seed);
    if (!facts.uniform)
        text += facts.factorsName ? QStringLiteral(", factors from %1").arg(QString::fromStdString(*facts.factorsName))
                                  : QStringLiteral(", site factors");
    return text;
}

TablePlot readTablePlot(const std::string &name, const std::string &text, const CaptionFacts &fallback)
{
    TablePlot out;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end;
        rows.push_back(csvFields(text.substr(from, end - from)));
        from = end + 1;
    }
    if (rows.empty()) {
        out.error = name + ": empty, not a table";
        return out;
    }
    const std::vector<std::string> &header = rows[0];
    const auto column = [&](const std::string &c) {
        return std::size_t(std::find(header.begin(), header.end(), c) - header.begin());
    };
    static const char *const needed[] = {"temperature", "sweeps", "seed", "energy", "energy_error",
                                         "abs_magnetization", "abs_magnetization_error", "specific_heat",
                                         "specific_heat_error", "susceptibility", "susceptibility_error",
                                         "acceptance", "acceptance_error", "energy_autocorrelation_time"};
    for (const char *c : needed)
        if (column(c) == header.size()) {
            out.error = name + ": no " + c + " column: not a table of ferrogrid-batch";
            return out;
        }
    if (rows.size() == 1) {
        out.error = name + ": no rows to draw";
        return out;
    }
    const std::size_t exact = column("exact_energy"), equilibrate = column("equilibrate"),
                      factors = column("factors");
    const std::vector<std::string> &first = rows[1];
    CaptionFacts facts = fallback;
    facts.sweeps = first[column("sweeps")];
    facts.seed = first[column("seed")];
    if (equilibrate < header.size())
        facts.equilibrate = first[equilibrate];
    if (factors < header.size())
        facts.factorsName = first[factors];
    out.data.exactCurve = exact < header.size();
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string> &row = rows[r];
        const std::string where = name + ":" + std::to_string(r + 1) + ": ";
        if (row.size() != header.size()) {
            out.error = where + std::to_string(row.size()) + " fields where the header has "
                + std::to_string(header.size());
            return out;
        }
        bool bad = false;
        // Written as the shortest text that reads back as the same double;
        // empty for NaN.
        const auto number = [&](const char *c) {
            const std::string &s = row[column(c)];
            if (s.empty())
                return std::numeric_limits<double>::quiet_NaN();
            double value = 0;
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
            if (ec != std::errc() || end != s.data() + s.size()) {
                if (!bad)
                    out.error = where + c + " '" + s + "' is not a number";
                bad = true;
            }
            return value;
        };
        PlotPoint point {};
        point.temperature = number("temperature");
        point.results.energy = {number("energy"), number("energy_error")};
        point.results.absMag = {number("abs_magnetization"), number("abs_magnetization_error")};
        point.results.specificHeat = {number("specific_heat"), number("specific_heat_error")};
        point.results.susceptibility = {number("susceptibility"), number("susceptibility_error")};
        point.results.acceptance = {number("acceptance"), number("acceptance_error")};
        point.results.energyTau = number("energy_autocorrelation_time");
        if (bad)
            return out;
        if (!(point.temperature > 0)) {
            out.error = where + "temperature '" + row[column("temperature")] + "' is not above 0";
            return out;
        }
        // The run writes the exact energy only when every factor is 1.
        if (exact < header.size() && row[exact].empty())
            out.data.exactCurve = false;
        out.data.points.push_back(point);
    }
    facts.uniform = out.data.exactCurve;
    out.data.caption = plotCaption(facts);
    return out;
}

} // namespace ferro::batch
