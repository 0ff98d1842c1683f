#pragma once
// The batch program's CSV: plain C-locale numbers, each the shortest text
// that reads back as the same double. Standard C++ only.

#include "analysis/analysis.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ferro::batch {

using analysis::Results;
using analysis::Value;

// Shortest round-trip text of a number ("1.75", "-0.0025", "1e-05"); empty
// for NaN.
std::string numberText(double value);

// temperature,sweeps,seed,energy,energy_error,abs_magnetization,... with
// every quantity per site.
std::string tableHeader();
std::string tableRow(double temperature, std::int64_t sweeps, std::uint64_t seed, const Results &results,
                     std::optional<double> exactEnergy);

std::string seriesHeader();

} // namespace ferro::batch
