#include "figures/tableplot.h"

#include "analysis/exactenergy.h"
#include "engine/updates.h"
#include "stdruntime/textfields.h"
#include "table/csv.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>

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

// The columns a table of ferrogrid-batch always has.
const char *const Needed[] = {"temperature", "sweeps", "seed", "energy", "energy_error", "abs_magnetization",
                              "abs_magnetization_error", "specific_heat", "specific_heat_error", "susceptibility",
                              "susceptibility_error", "acceptance", "acceptance_error",
                              "energy_autocorrelation_time"};

// The caption's facts that the first row gives.
CaptionFacts firstRowFacts(const TableReader &table, const CaptionFacts &fallback)
{
    const std::vector<std::string> &row = table.fields();
    const std::size_t absent = table.columns().size();
    CaptionFacts facts = fallback;
    facts.sweeps = row[table.column("sweeps")];
    facts.seed = row[table.column("seed")];
    if (const std::size_t c = table.column("equilibrate"); c < absent)
        facts.equilibrate = row[c];
    if (const std::size_t c = table.column("factors"); c < absent)
        facts.factorsName = row[c];
    if (const std::size_t c = table.column("algorithm"); c < absent)
        facts.algorithm = row[c];
    return facts;
}

// One row's point and exact energy (NaN when the table has none). Every
// number is the shortest text that reads back as the same double, empty for
// NaN; the figure draws no number that is infinite.
bool readPoint(const TableReader &table, PlotPoint &point, double &exact, std::string &error)
{
    const std::vector<std::string> &row = table.fields();
    const auto number = [&](const char *c) {
        const std::size_t at = table.column(c);
        double value = std::numeric_limits<double>::quiet_NaN();
        if (!error.empty() || at == row.size() || row[at].empty())
            return value;
        const std::string &s = row[at];
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
        if (ec != std::errc() || end != s.data() + s.size())
            error = table.where() + c + " " + messageQuote(s) + " is not a number";
        else if (!std::isfinite(value))
            error = table.where() + c + " " + messageQuote(s) + " is not a finite number";
        return value;
    };
    point.temperature = number("temperature");
    point.energy = {number("energy"), number("energy_error")};
    point.absMag = {number("abs_magnetization"), number("abs_magnetization_error")};
    point.specificHeat = {number("specific_heat"), number("specific_heat_error")};
    point.susceptibility = {number("susceptibility"), number("susceptibility_error")};
    point.binder = {number("binder_cumulant"), number("binder_cumulant_error")};
    point.lengthOverSize = {number("correlation_length_over_size"), number("correlation_length_over_size_error")};
    exact = number("exact_energy");
    if (!error.empty())
        return false;
    if (!(point.temperature > 0)) {
        error = table.where() + "temperature " + messageQuote(row[table.column("temperature")]) + " is not above 0";
        return false;
    }
    if (const std::size_t at = table.column("size"); at < row.size()) {
        const std::optional<std::uint64_t> size = wholeNumber(row[at]);
        if (!size || *size < std::uint64_t(engine::MinimumSize) || *size > std::uint64_t(engine::MaximumSize)) {
            error = table.where() + "size " + messageQuote(row[at]) + " is not a lattice size";
            return false;
        }
        point.size = int(*size);
    }
    return true;
}

// The factor F of the exact curves, drawn at T * F: 1 when no row names a
// factor file; else the F for which the exact energy of a row's size at
// T * F is the table's; none unless every row has an exact energy.
std::optional<double> exactFactor(const std::vector<PlotPoint> &points, const std::vector<double> &exactEnergies,
                                  bool factorFile)
{
    if (std::any_of(exactEnergies.begin(), exactEnergies.end(), [](double e) { return std::isnan(e); }))
        return std::nullopt;
    if (!factorFile)
        return 1.0;
    // The run's factor F is not in the table, but its exact energies are at
    // T * F: invert the one nearest the steepest part of E(T), where the
    // inversion loses the fewest digits.
    std::size_t best = 0;
    for (std::size_t k = 1; k < exactEnergies.size(); ++k)
        if (std::fabs(exactEnergies[k] + std::sqrt(2.0)) < std::fabs(exactEnergies[best] + std::sqrt(2.0)))
            best = k;
    const PlotPoint &at = points[best];
    // Twelve digits: a factor typed as 2 reads back as 2.
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", temperatureOfEnergy(at.size, exactEnergies[best]) / at.temperature);
    return std::strtod(text, nullptr);
}

// The points of the run that the rows hold, from the columns point and
// points: a row's point is one of the run's and no other row's, so that the
// caption can say how many of the run's points the table lacks.
class RunPoints {
public:
    bool take(const TableReader &table, std::string &error)
    {
        const std::size_t point = table.column("point"), points = table.column("points");
        if (point == table.columns().size() || points == table.columns().size())
            return true; // the table does not say
        const std::vector<std::string> &row = table.fields();
        if (!m_points && !(m_points = wholeNumber(row[points]))) {
            error = table.where() + "points " + messageQuote(row[points]) + " is not a number";
            return false;
        }
        const std::optional<std::uint64_t> at = wholeNumber(row[point]);
        if (!at || *at >= *m_points) {
            error = table.where() + messageQuote(row[point]) + " is not a point of 0 to " + std::to_string(*m_points - 1);
            return false;
        }
        const auto [seen, isNew] = m_lineOf.emplace(*at, table.lineNumber());
        if (!isNew) {
            error = table.where() + "point " + std::to_string(*at) + " is also on line " + std::to_string(seen->second);
            return false;
        }
        return true;
    }
    // The run's points that no row holds.
    std::uint64_t missing() const { return m_points ? *m_points - m_lineOf.size() : 0; }
    std::uint64_t points() const { return m_points.value_or(0); }

private:
    std::optional<std::uint64_t> m_points;
    std::map<std::uint64_t, std::size_t> m_lineOf;
};

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

TablePlot readTablePlot(TableReader &table, const CaptionFacts &fallback)
{
    TablePlot out;
    if (!table.readHeader()) {
        out.error = table.error();
        return out;
    }
    for (const char *c : Needed)
        if (table.column(c) == table.columns().size()) {
            out.error = table.name() + ": no " + c + " column: not a table of ferrogrid-batch";
            return out;
        }
    if (!table.readRow()) {
        out.error = table.error().empty() ? table.name() + ": no rows to draw" : table.error();
        return out;
    }
    CaptionFacts facts = firstRowFacts(table, fallback);
    const std::size_t factors = table.column("factors");
    RunPoints points;
    bool factorFile = false;
    std::vector<double> exactEnergies;
    do {
        PlotPoint point;
        double exact = 0;
        if (!readPoint(table, point, exact, out.error) || !points.take(table, out.error))
            return out;
        exactEnergies.push_back(exact);
        factorFile = factorFile || (factors < table.columns().size() && !table.fields()[factors].empty());
        out.data.points.push_back(point);
    } while (table.readRow());
    if (!table.error().empty()) {
        out.error = table.error();
        return out;
    }
    out.data.uniformFactor = exactFactor(out.data.points, exactEnergies, factorFile);
    facts.uniform = out.data.uniformFactor == 1.0;
    std::vector<int> &sizes = facts.sizes;
    sizes.clear();
    for (const PlotPoint &p : out.data.points)
        sizes.push_back(p.size);
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    out.data.caption = plotCaption(facts);
    // A share, or a merge that allowed missing points, says what it lacks.
    if (points.missing() > 0)
        out.data.caption += QStringLiteral(", %1 of %2 points missing").arg(points.missing()).arg(points.points());
    return out;
}

} // namespace ferro::batch
