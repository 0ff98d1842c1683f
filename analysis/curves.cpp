#include "analysis/curves.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace ferro::analysis {

namespace {

std::string number(double x)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", x);
    return buf;
}

// How far in beta a point's histogram reaches: 1 / sigma_E, at most 5 %.
double reach(const EnergyHistogram &h, double beta)
{
    const double spread = energySpread(h);
    return std::min(spread > 0 ? 1 / spread : INFINITY, 0.05 * beta);
}

} // namespace

int curveBlocks(const std::vector<CurveInput> &points)
{
    std::int64_t most = EnergyHistogram::MaxBlocks;
    for (const CurveInput &p : points) {
        most = std::min<std::int64_t>(most, p.histogram->blocks());
        if (p.blocks > 0)
            most = std::min(most, p.blocks);
    }
    int blocks = 1;
    while (2 * blocks <= most)
        blocks *= 2;
    return blocks;
}

SizeCurve reweightSize(int size, const std::vector<CurveInput> &input, double step, double factor, double minOverlap)
{
    SizeCurve curve;
    curve.size = size;
    curve.step = step;
    std::vector<CurveInput> points = input;
    std::stable_sort(points.begin(), points.end(),
                     [](const CurveInput &a, const CurveInput &b) { return a.temperature < b.temperature; });
    if (points.empty())
        return curve;

    // Groups of neighbours that overlap.
    std::vector<std::vector<CurveInput>> groups {{points.front()}};
    for (std::size_t i = 1; i < points.size(); ++i) {
        const double overlap = histogramOverlap(*points[i - 1].histogram, *points[i].histogram);
        if (overlap < minOverlap) {
            curve.notes.push_back("L = " + std::to_string(size) + ": the energy histograms of T = "
                                  + number(points[i - 1].temperature) + " and T = " + number(points[i].temperature)
                                  + " hardly overlap (" + number(100 * overlap)
                                  + " % in common): the curves leave a gap between them; add temperatures "
                                    "there to close it");
            groups.emplace_back();
        }
        groups.back().push_back(points[i]);
    }

    // Each group's range (in the temperatures as given), then no two alike.
    std::vector<double> low, high;
    for (const std::vector<CurveInput> &g : groups) {
        const double betaLow = 1 / (g.back().temperature * factor), betaHigh = 1 / (g.front().temperature * factor);
        low.push_back(std::max(0.1, 1 / ((betaHigh + reach(*g.front().histogram, betaHigh)) * factor)));
        const double top = betaLow - reach(*g.back().histogram, betaLow);
        high.push_back(top > 0 ? 1 / (top * factor) : g.back().temperature * 1.05);
    }
    for (std::size_t g = 0; g + 1 < groups.size(); ++g)
        if (high[g] > low[g + 1]) {
            const double middle = 0.5 * (groups[g].back().temperature + groups[g + 1].front().temperature);
            high[g] = std::min(high[g], middle);
            low[g + 1] = std::max(low[g + 1], middle);
        }

    const int blocks = curveBlocks(points);
    std::vector<std::unique_ptr<MultiHistogram>> combined;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::vector<const EnergyHistogram *> histograms;
        std::vector<double> temperatures;
        for (const CurveInput &p : groups[g]) {
            histograms.push_back(p.histogram);
            temperatures.push_back(p.temperature * factor);
        }
        combined.push_back(std::make_unique<MultiHistogram>(histograms, temperatures, blocks));
        curve.groupSizes.push_back(int(groups[g].size()));
        if (!combined.back()->converged())
            curve.notes.push_back("L = " + std::to_string(size) + ": the combination of the points from T = "
                                  + number(groups[g].front().temperature) + " did not converge in "
                                  + std::to_string(MultiHistogram::MaxIterations) + " iterations");
    }

    const std::int64_t first = std::int64_t(std::ceil(low.front() / step - 1e-9));
    const std::int64_t last = std::int64_t(std::floor(high.back() / step + 1e-9));
    curve.firstStep = first;
    for (std::int64_t k = first; k <= last; ++k) {
        const double T = double(k) * step;
        int in = -1;
        for (std::size_t g = 0; g < groups.size() && in < 0; ++g)
            if (T >= low[g] - 1e-9 * step && T <= high[g] + 1e-9 * step)
                in = int(g);
        curve.group.push_back(in);
        if (in < 0)
            curve.values.emplace_back();
        else
            curve.values.push_back(combined[std::size_t(in)]->at(T * factor));
    }
    return curve;
}

namespace {

// The vertex of the parabola through (-1, a), (0, b), (1, c): offset and height.
std::pair<double, double> vertex(double a, double b, double c)
{
    const double curvature = a - 2 * b + c;
    if (!(curvature < 0))
        return {0, b};
    const double offset = 0.5 * (a - c) / curvature;
    return {offset, b - 0.125 * (a - c) * (a - c) / curvature};
}

} // namespace

std::optional<Extremum> peakOf(const SizeCurve &curve, Quantity q, std::string &note)
{
    const std::size_t n = curve.values.size();
    // The largest value of the values from all sweeps, or of leave-out b.
    const auto valueAt = [&](std::size_t i, int b) {
        const CurveValues &v = *curve.values[i];
        return b < 0 ? v.full[q] : v.leaveOut[std::size_t(b)][q];
    };
    const auto maximum = [&](int b, std::size_t from, std::size_t to) {
        std::size_t best = from;
        for (std::size_t i = from; i < to; ++i)
            if (valueAt(i, b) > valueAt(best, b))
                best = i;
        return best;
    };
    std::size_t best = n;
    for (std::size_t i = 0; i < n; ++i)
        if (curve.values[i] && std::isfinite(curve.values[i]->full[q]) && (best == n || valueAt(i, -1) > valueAt(best, -1)))
            best = i;
    if (best == n) {
        note = "no curve";
        return std::nullopt;
    }
    // The run of grid points of its group.
    std::size_t from = best, to = best + 1;
    while (from > 0 && curve.values[from - 1] && curve.group[from - 1] == curve.group[best])
        --from;
    while (to < n && curve.values[to] && curve.group[to] == curve.group[best])
        ++to;
    if (best == from || best + 1 == to) {
        note = "the largest value lies at T = " + number(curve.temperature(best))
            + ", an end of the curve: the peak lies beyond the points' range";
        return std::nullopt;
    }
    const auto refine = [&](std::size_t i, int b, double &T, double &height) {
        if (i == from || i + 1 == to) { // a leave-out's maximum at the end: keep the end
            T = curve.temperature(i), height = valueAt(i, b);
            return;
        }
        const auto [offset, top] = vertex(valueAt(i - 1, b), valueAt(i, b), valueAt(i + 1, b));
        T = curve.temperature(i) + offset * curve.step;
        height = top;
    };
    Extremum e {q, curve.size, 0, {}, {}};
    refine(best, -1, e.temperature.mean, e.value.mean);
    std::vector<double> positions, heights;
    for (std::size_t b = 0; b < curve.values[best]->leaveOut.size(); ++b) {
        double T, height;
        refine(maximum(int(b), from, to), int(b), T, height);
        positions.push_back(T);
        heights.push_back(height);
    }
    e.temperature.error = jackknifeError(positions);
    e.value.error = jackknifeError(heights);
    return e;
}

std::optional<Extremum> crossingOf(const SizeCurve &a, const SizeCurve &b, Quantity q, std::string &note)
{
    // Both on the grid k * step: the grid points both curves hold.
    const std::int64_t first = std::max(a.firstStep, b.firstStep);
    const std::int64_t last = std::min(a.firstStep + std::int64_t(a.values.size()), b.firstStep + std::int64_t(b.values.size())) - 1;
    const auto at = [&](const SizeCurve &c, std::int64_t k) -> const std::optional<CurveValues> & {
        return c.values[std::size_t(k - c.firstStep)];
    };
    // A curve's value from all its sweeps (r < 0) or with its block r left out.
    const auto value = [&](const SizeCurve &c, std::int64_t k, int r) {
        const CurveValues &v = *at(c, k);
        return r < 0 ? v.full[q] : v.leaveOut[std::size_t(r)][q];
    };
    const auto difference = [&](std::int64_t k, int ra, int rb) { return value(a, k, ra) - value(b, k, rb); };
    const auto both = [&](std::int64_t k) { return k >= first && k + 1 <= last && at(a, k) && at(b, k) && at(a, k + 1) && at(b, k + 1); };
    // The crossing between k and k + 1, interpolated; NaN when none.
    const auto crossing = [&](std::int64_t k, int ra, int rb) {
        const double d0 = difference(k, ra, rb), d1 = difference(k + 1, ra, rb);
        if (!(d0 * d1 <= 0) || d0 == d1)
            return NaN;
        return (double(k) + d0 / (d0 - d1)) * a.step;
    };
    std::int64_t found = -1;
    double steepest = -1;
    for (std::int64_t k = first; k < last; ++k)
        if (both(k) && !std::isnan(crossing(k, -1, -1))) {
            const double slope = std::fabs(difference(k + 1, -1, -1) - difference(k, -1, -1));
            if (slope > steepest)
                steepest = slope, found = k;
        }
    if (found < 0) {
        note = first <= last ? "the curves do not cross where both are drawn" : "the curves have no temperature in common";
        return std::nullopt;
    }
    // The crossing of a pair of replicates nearest the full one, and the
    // smaller size's value there; false when they do not cross near it.
    const auto replicate = [&](int ra, int rb, double &T, double &y) {
        for (std::int64_t d = 0; found - d >= first || found + d < last; ++d)
            for (const std::int64_t k : {found - d, found + d})
                if (both(k) && !std::isnan(T = crossing(k, ra, rb))) {
                    const double x = T / a.step - double(k);
                    y = value(a, k, ra) + (value(a, k + 1, ra) - value(a, k, ra)) * x;
                    return true;
                }
        return false;
    };
    Extremum e {q, a.size, b.size, {}, {}};
    replicate(-1, -1, e.temperature.mean, e.value.mean);
    double positionVariance = 0, valueVariance = 0;
    for (const bool leftOfA : {true, false}) {
        std::vector<double> positions, values;
        const std::size_t replicates = (leftOfA ? at(a, found) : at(b, found))->leaveOut.size();
        for (int r = 0; r < int(replicates); ++r) {
            double T, y;
            if (!replicate(leftOfA ? r : -1, leftOfA ? -1 : r, T, y)) {
                e.temperature.error = e.value.error = NaN;
                return e;
            }
            positions.push_back(T);
            values.push_back(y);
        }
        positionVariance += std::pow(jackknifeError(positions), 2);
        valueVariance += std::pow(jackknifeError(values), 2);
    }
    e.temperature.error = std::sqrt(positionVariance);
    e.value.error = std::sqrt(valueVariance);
    return e;
}

} // namespace ferro::analysis
