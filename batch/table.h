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

// temperature,sweeps,seed,energy,energy_error,abs_magnetization,... with
// every quantity per site; a field that has no value (NaN) stays empty.
std::string tableHeader();
std::string tableRow(double temperature, std::int64_t sweeps, std::uint64_t seed, const Results &results,
                     std::optional<double> exactEnergy);

std::string seriesHeader();
// One row of the series: the lattice totals E and M of `sites` sites after
// `sweep` sweeps, written per site.
std::string seriesRow(double temperature, std::uint64_t seed, std::int64_t sweep, int energy, int totalMag,
                      int sites);

} // namespace ferro::batch
