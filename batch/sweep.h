#pragma once
// One temperature of a batch run, from the starting state to the averages:
// the window's starting states and flip decisions, sweep after sweep.
// Standard C++ only; safe to run several at once on separate threads.

#include "analysis/analysis.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace ferro::batch {

using analysis::Results;
using analysis::Value;

enum class Start { Zero, Infinity }; // the T = Zero and T = Infinity buttons

struct Job {
    double temperature = 1;      // 0.1 or more
    std::int64_t equilibrate = 0; // sweeps before measuring
    std::int64_t sweeps = 1;      // measured sweeps, 1 or more
    Start start = Start::Zero;
    std::uint64_t seed = 0;       // of the whole run; the stream also depends on index
    std::uint64_t index = 0;      // of the temperature in the run
    const double *factors = nullptr; // 400 site factors
    std::int64_t seriesEvery = 0; // > 0: one series line every this many sweeps
};

struct Outcome {
    bool finished = false; // false when stopped before the last sweep
    Results results;
    // With seriesEvery: "temperature,seed,sweep,energy,magnetization" lines,
    // per site, from sweep 0 (the starting state) on, equilibration included.
    std::string series;
};

// Runs the job. Adds every 64 finished sweeps to `sweepsDone` (and the rest at
// the end); gives up between two sweeps once `stop` is set.
Outcome runJob(const Job &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop);

} // namespace ferro::batch
