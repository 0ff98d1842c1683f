#pragma once
// The batch program's CSV: plain C-locale numbers. Temperatures and series
// values are the shortest text that reads back as the same double; a value of
// the table has 10 significant digits, an error 3 and an autocorrelation time
// 4, which is all the statistics support. Standard C++ only.

#include "analysis/analysis.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ferro::batch {

using analysis::Results;
using analysis::Value;

// temperature,sweeps,seed,energy,energy_error,abs_magnetization,... with
// every quantity per site; a field that has no value (NaN) stays empty; the
// last two columns are the row's point (its index in the run) and the run's
// number of points, by which the tables of a run's shares are merged.
std::string tableHeader();
std::string tableRow(double temperature, std::int64_t sweeps, std::uint64_t seed, const Results &results,
                     std::optional<double> exactEnergy, std::size_t point, std::size_t points);

// The results as the table gives them (values to 10 significant digits,
// errors to 3, tau to 4), so that a figure drawn by the run and one drawn
// from its saved table are the same.
Results asWritten(const Results &results);

std::string seriesHeader();
// One row of the series: the lattice totals E and M of `sites` sites after
// `sweep` sweeps, written per site.
std::string seriesRow(double temperature, std::uint64_t seed, std::int64_t sweep, int energy, int totalMag,
                      int sites);

} // namespace ferro::batch
