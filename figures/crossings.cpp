// Crossings of U or xi/L of successive lattice sizes, by straight lines
// between grid temperatures (declared in figures/plot.h). Standard C++ only.
#include "figures/plot.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace ferro::batch {

namespace {

// Temperatures of one grid written by one run are the same doubles for every
// size; a table read back gives them back exactly. The tolerance only forgives
// grids typed by hand.
bool sameTemperature(double a, double b)
{
    return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

} // namespace

std::vector<Crossing> linearCrossings(const std::vector<PlotPoint> &points, Measured PlotPoint::*value)
{
    std::map<int, std::vector<const PlotPoint *>> bySize; // ascending size, then temperature
    for (const PlotPoint &p : points)
        if (std::isfinite((p.*value).mean))
            bySize[p.size].push_back(&p);
    for (auto &[size, list] : bySize)
        std::sort(list.begin(), list.end(),
                  [](const PlotPoint *a, const PlotPoint *b) { return a->temperature < b->temperature; });

    std::vector<Crossing> out;
    if (bySize.size() < 2) // nothing to cross (and no second size to step to)
        return out;
    for (auto small = bySize.begin(), large = std::next(small); small != bySize.end() && large != bySize.end();
         ++small, ++large) {
        // d = v_larger - v_smaller at each temperature both sizes have.
        struct Difference {
            double temperature, d, variance;
        };
        std::vector<Difference> common;
        for (const PlotPoint *s : small->second)
            for (const PlotPoint *l : large->second)
                if (sameTemperature(s->temperature, l->temperature)) {
                    const Measured &vl = l->*value, &vs = s->*value;
                    common.push_back({s->temperature, vl.mean - vs.mean, vl.error * vl.error + vs.error * vs.error});
                    break;
                }
        for (std::size_t k = 0; k < common.size(); ++k) {
            const Difference &a = common[k];
            if (a.d == 0) {
                // On the grid: v varies with T, so the error of d moves the
                // zero by error / |slope of d|, taken from the neighbours.
                double slope = NAN;
                if (k + 1 < common.size())
                    slope = (common[k + 1].d - a.d) / (common[k + 1].temperature - a.temperature);
                else if (k > 0)
                    slope = (a.d - common[k - 1].d) / (a.temperature - common[k - 1].temperature);
                out.push_back({small->first, large->first, a.temperature, std::sqrt(a.variance) / std::fabs(slope)});
                break;
            }
            if (k + 1 == common.size())
                break;
            const Difference &b = common[k + 1];
            if (b.d == 0 || (a.d < 0) == (b.d < 0))
                continue; // no change of sign, or the next temperature's exact zero
            // The line through (Ta, da) and (Tb, db) is 0 at
            //   T = Ta + w da / (da - db),  w = Tb - Ta.
            // First-order propagation with the four values independent (each
            // size and temperature runs its own stream), so var(da) and var(db)
            // are the sums of their two values' squared errors:
            //   dT/dda = -w db / (da - db)^2,  dT/ddb = w da / (da - db)^2,
            //   error^2 = w^2 (db^2 var(da) + da^2 var(db)) / (da - db)^4.
            // It holds while the errors are small against |da - db|.
            const double w = b.temperature - a.temperature, span = a.d - b.d;
            const double t = a.temperature + w * a.d / span;
            const double error = std::fabs(w) / (span * span)
                * std::sqrt(b.d * b.d * a.variance + a.d * a.d * b.variance);
            out.push_back({small->first, large->first, t, error});
            break;
        }
    }
    return out;
}

} // namespace ferro::batch
