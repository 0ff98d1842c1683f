#pragma once
// Reweighted curves of the points of one size on a fine temperature grid,
// and the peaks and crossings read off them, each with its jackknife error.
// Standard C++ only.

#include "analysis/reweight.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferro::analysis {

// Neighbouring points (in temperature) whose energy histograms share less
// than this fraction of their sweeps are not combined: the curve leaves the
// temperatures between them empty.
inline constexpr double MinOverlap = 0.02;

struct CurveInput {
    double temperature;                 // as given: the grid is in these units
    const EnergyHistogram *histogram;   // its measured sweeps
    // The blocks of the point's own jackknife (Results::jackknifeBlocks:
    // blocks of at least 20 autocorrelation times where the run allows); 0
    // for no limit beyond the histogram's.
    std::int64_t blocks = 0;
};

// The blocks of a size's combined jackknife: no more than any point's own
// jackknife has, so that a block spans as many autocorrelation times as the
// table's do, and a power of two, so that each joins whole histogram blocks
// (at least 2 where the histograms have them).
int curveBlocks(const std::vector<CurveInput> &points);

struct SizeCurve {
    int size = 0;
    double step = 0.001;
    std::int64_t firstStep = 0;                     // the grid: (firstStep + i) * step
    std::vector<std::optional<CurveValues>> values; // none in a gap
    std::vector<int> group;                         // the group of points each value comes from (-1 in a gap)
    std::vector<int> groupSizes;                    // the points of each group
    std::vector<std::string> notes;                 // what to say on standard error
    double temperature(std::size_t i) const { return double(firstStep + std::int64_t(i)) * step; }
    int groupPoints(std::size_t i) const { return group[i] < 0 ? 0 : groupSizes[std::size_t(group[i])]; }
};

// The points of one size: grouped into runs of neighbours whose histograms
// overlap, each group combined and drawn from its lowest point to its highest
// and a little beyond (as far as the end point's energy spread allows, a
// change of beta of at most 1 / sigma_E and 5 %). A point alone gives its own
// narrow curve. The sites run at T * factor.
SizeCurve reweightSize(int size, const std::vector<CurveInput> &points, double step, double factor = 1,
                       double minOverlap = MinOverlap);

// A maximum of a curve, or a crossing of two; value and temperature with
// their jackknife errors.
struct Extremum {
    Quantity quantity;
    int size = 0, size2 = 0; // size2: the larger size of a crossing, 0 for a peak
    Value temperature, value;
};

// The maximum of the quantity on the curve, refined by a parabola through
// the grid points around it. None (and `note` set) when the largest value
// lies at an end of its group's curve: the peak lies outside.
std::optional<Extremum> peakOf(const SizeCurve &curve, Quantity quantity, std::string &note);

// Where the quantity of two sizes' curves cross (the steepest crossing when
// there are several), interpolated between grid points. None (and `note`
// set) when the curves do not cross where both are drawn. The sizes' runs are
// independent: the error adds the jackknife of each size's blocks, the other
// size's curve held at its full value.
std::optional<Extremum> crossingOf(const SizeCurve &a, const SizeCurve &b, Quantity quantity, std::string &note);

} // namespace ferro::analysis
