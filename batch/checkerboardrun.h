#pragma once
// One point of a batch run with the checkerboard update (engine/checkerboard.h):
// the sweep loop of runTemperatureJob for a lattice of one bit a spin. Standard
// C++ only; safe to run several at once on separate threads.

#include "batch/temperaturerun.h"

namespace ferro::batch {

// Runs the job (job.siteTemperature is the temperature every site runs at;
// job.factors is not read): starting state from the point's stream, then
// equilibration and measured sweeps, series rows, progress and stop as
// runTemperatureJob does them. The acceptance is the flipped spins per site.
TemperatureOutcome runCheckerboardJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone,
                                      const std::atomic<bool> &stop);

} // namespace ferro::batch
