#pragma once
// The batch program's CSV: plain C-locale numbers. Temperatures and series
// values are the shortest text that reads back as the same double; a value of
// the table has 10 significant digits, an error 3 and an autocorrelation time
// 4, which is all the statistics support. Standard C++ only.

#include "analysis/analysis.h"
#include "engine/updates.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ferro::batch {

using analysis::Results;
using analysis::Value;
using engine::Algorithm;
using engine::Start;

// What a row says besides the measurement: the point, the run's settings and
// what is known exactly.
struct RowFacts {
    int size = 20;
    double temperature = 1;
    Algorithm algorithm = Algorithm::Metropolis;
    std::int64_t sweeps = 0, equilibrate = 0;
    Start start = Start::Zero;
    std::uint64_t seed = 0, stream = 0;
    std::string factorsName;               // as given; empty without a factor file
    std::optional<double> exactEnergy;     // every factor equal: at T F for this size
    std::optional<double> exactSpecificHeat;
    double meanClusterSize = std::nan(""); // Wolff only
    std::size_t point = 0, points = 1;     // the row's index in the run, and the run's points
    std::string warnings;                  // short words joined by ';'
    std::string run;                       // the run's fingerprint (batch/fingerprint.h)
};

// temperature,sweeps,seed,energy,... exact_energy (the first 15 columns),
// then size, algorithm, susceptibility_full(_error), binder_cumulant(_error),
// abs_magnetization_autocorrelation_time, exact_specific_heat,
// mean_cluster_size, equilibrate, start, factors, version, stream, point,
// points and warnings, then correlation_length(_error),
// correlation_length_over_size(_error) and run (the run's fingerprint). Every
// quantity per site; a field that has no value (NaN) stays empty. The tables
// of a run's shares are merged by point and points.
std::string tableHeader();
std::string tableRow(const RowFacts &facts, const Results &results);

// The results as the table gives them (values to 10 significant digits,
// errors to 3, tau to 4), so that a figure drawn by the run and one drawn
// from its saved table are the same.
Results asWritten(const Results &results);

const char *algorithmName(Algorithm algorithm); // "metropolis", "wolff", "checkerboard"
const char *startName(Start start);             // "zero", "infinity"

// One row of the series: the lattice totals E and M of an L x L lattice after
// `sweep` sweeps (written per site), and which run, point and stream made it.
struct SeriesFacts {
    double temperature = 1;
    std::uint64_t seed = 0;
    std::int64_t sweep = 0;
    int energy = 0, totalMag = 0, size = 20;
    std::size_t point = 0;
    std::uint64_t stream = 0;
};
// temperature,seed,sweep,energy,magnetization,size,point,stream
std::string seriesHeader();
std::string seriesRow(const SeriesFacts &facts);

} // namespace ferro::batch
