#include "figures/tableplot.h"

#include "analysis/exactenergy.h"
#include "table/merge.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace ferro::batch {

namespace {

// The temperature at which the L x L torus has energy per site `energy`
// (which rises strictly with T), by bisection of ln T over the range the
// exact code covers.
double temperatureOfEnergy(int L, double energy)
{
    double lo = std::log(0.1), hi = std::log(1e4);
    for (int i = 0; i < 100 && lo < hi; ++i) {
        const double mid = (lo + hi) / 2;
        (exactEnergy(L, L, std::exp(mid)) < energy ? lo : hi) = mid;
    }
    return std::exp((lo + hi) / 2);
}

} // namespace

QString plotCaption(const CaptionFacts &facts)
{
    QString text = QStringLiteral("Ferrogrid, ");
    if (facts.sizes.size() == 1) {
        text += QStringLiteral("%1 \u00d7 %1 torus, ").arg(facts.sizes.front());
    } else {
        QStringList sizes;
        for (int L : facts.sizes)
            sizes << QString::number(L);
        text += QStringLiteral("L \u00d7 L tori, L = %1, ").arg(sizes.join(QStringLiteral(", ")));
    }
    if (!facts.algorithm.empty()) {
        QString algorithm = QString::fromStdString(facts.algorithm);
        algorithm[0] = algorithm[0].toUpper();
        text += algorithm + QStringLiteral(", ");
    }
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
                      factors = column("factors"), size = column("size"), algorithm = column("algorithm");
    const std::vector<std::string> &first = rows[1];
    CaptionFacts facts = fallback;
    facts.sweeps = first[column("sweeps")];
    facts.seed = first[column("seed")];
    if (equilibrate < header.size())
        facts.equilibrate = first[equilibrate];
    if (factors < header.size())
        facts.factorsName = first[factors];
    if (algorithm < header.size())
        facts.algorithm = first[algorithm];
    bool exactCurve = exact < header.size(), factorFile = false;
    std::vector<double> exactEnergies;
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
            const std::size_t at = column(c);
            if (at == header.size())
                return std::numeric_limits<double>::quiet_NaN();
            const std::string &s = row[at];
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
        PlotPoint point;
        point.temperature = number("temperature");
        point.energy = {number("energy"), number("energy_error")};
        point.absMag = {number("abs_magnetization"), number("abs_magnetization_error")};
        point.specificHeat = {number("specific_heat"), number("specific_heat_error")};
        point.susceptibility = {number("susceptibility"), number("susceptibility_error")};
        point.binder = {number("binder_cumulant"), number("binder_cumulant_error")};
        const double energy = number("exact_energy");
        if (bad)
            return out;
        if (!(point.temperature > 0)) {
            out.error = where + "temperature '" + row[column("temperature")] + "' is not above 0";
            return out;
        }
        if (size < header.size()) {
            const std::string &s = row[size];
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), point.size);
            if (ec != std::errc() || end != s.data() + s.size() || point.size < 2) {
                out.error = where + "size '" + s + "' is not a lattice size";
                return out;
            }
        }
        // The run writes the exact energy only when every factor is the same.
        if (exact < header.size() && row[exact].empty())
            exactCurve = false;
        exactEnergies.push_back(energy);
        factorFile = factorFile || (factors < header.size() && !row[factors].empty());
        out.data.points.push_back(point);
    }
    if (exactCurve && !factorFile) {
        out.data.uniformFactor = 1.0;
    } else if (exactCurve) {
        // The run's factor F is not in the table, but its exact energies are
        // at T * F: invert the one nearest the steepest part of E(T), where
        // the inversion loses the fewest digits.
        std::size_t best = 0;
        for (std::size_t k = 1; k < exactEnergies.size(); ++k)
            if (std::fabs(exactEnergies[k] + std::sqrt(2.0)) < std::fabs(exactEnergies[best] + std::sqrt(2.0)))
                best = k;
        const PlotPoint &at = out.data.points[best];
        // Twelve digits: a factor typed as 2 reads back as 2.
        char text[32];
        std::snprintf(text, sizeof text, "%.12g", temperatureOfEnergy(at.size, exactEnergies[best]) / at.temperature);
        out.data.uniformFactor = std::strtod(text, nullptr);
    }
    facts.uniform = out.data.uniformFactor == 1.0;
    std::vector<int> &sizes = facts.sizes;
    sizes.clear();
    for (const PlotPoint &p : out.data.points)
        sizes.push_back(p.size);
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    out.data.caption = plotCaption(facts);
    return out;
}

} // namespace ferro::batch
