#pragma once
// One point of a batch run (a lattice size and a temperature), from the
// starting state to the averages: the window's starting states and flip
// decisions, or the Wolff cluster update, sweep after sweep. Standard C++
// only; safe to run several at once on separate threads.

#include "analysis/analysis.h"
#include "engine/spinforms.h"
#include "analysis/reweight.h"
#include "batch/checkpoint.h"
#include "engine/updates.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace ferro::batch {

using analysis::Results;
using analysis::Value;

using engine::Algorithm;
using engine::Start;

// Takes series rows as they are made, some whole rows at a time; returns
// false when they could not be kept (the job then stops).
using SeriesWriter = std::function<bool(std::string_view rows)>;

// Takes the lattice's spins (L^2, row after row) after the sweep `sweep` (0:
// the starting state); `last` once after the job's last sweep. Returns false
// when they could not be kept (the job then stops).
using PictureWriter = std::function<bool(const engine::SpinRows &rows, std::int64_t sweep, bool last)>;

struct TemperatureJob {
    int size = 20;                // L of the L x L torus
    double temperature = 1;       // 0.1 or more
    Algorithm algorithm = Algorithm::Metropolis;
    std::int64_t equilibrate = 0; // sweeps before measuring
    std::int64_t sweeps = 1;      // measured sweeps, 1 or more
    Start start = Start::Zero;
    std::uint64_t seed = 0;       // of the whole run (for the series rows)
    std::uint64_t stream = 0;     // the seed of the point's own stream
    std::size_t point = 0;        // the point's index in the run (for the series rows)
    const double *factors = nullptr; // L * L site factors
    // The temperature every site runs at, T F, when every factor is F: the
    // specific heat and susceptibilities are measured there. NaN when the
    // factors differ (no single temperature: those stay empty).
    double siteTemperature = std::nan("");
    int threads = 1;              // checkerboard: threads sharing the point's bands
    std::int64_t seriesEvery = 0; // > 0: one series row every this many sweeps,
    SeriesWriter series;          // handed here from sweep 0 (the starting
                                  // state) on, equilibration included
    PictureWriter picture;        // set: handed the last state, and with
    std::int64_t framesEvery = 0; // this > 0 the state every this many
                                  // sweeps from sweep 0 on
    bool histogram = false;       // keep the energy histogram for reweighting
    // Carry on from this state (its series rows are the caller's) instead
    // of starting; null: start.
    const PointState *resume = nullptr;
    // Between two sweeps, whenever *holdWanted is set: the job's state handed
    // to `hold` (which may keep the job waiting).
    const std::atomic<bool> *holdWanted = nullptr;
    std::function<void(std::span<PointState> states)> hold;
};

struct TemperatureOutcome {
    bool finished = false; // false when stopped before the last sweep
    Results results;       // acceptance empty for Wolff
    double meanClusterSize = std::nan(""); // Wolff: spins per cluster while measuring
    std::shared_ptr<const analysis::EnergyHistogram> histogram; // when the job asked for it
};

// Runs the job. Adds every 64 finished sweeps to `sweepsDone` (and the rest at
// the end); gives up between two sweeps once `stop` is set, after handing on
// the series rows made so far.
TemperatureOutcome runTemperatureJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop);

// Runs Metropolis jobs of one size without series together (resumed from
// states of one sweep count, or all from the start): each sweep of
// all of them is handed to the kernel at once (sweepTogether), which advances
// them in whatever order runs fastest; every job makes exactly the decisions
// it makes alone.
std::vector<TemperatureOutcome> runTemperatureJobs(std::span<const TemperatureJob> jobs,
                                                   std::atomic<std::int64_t> &sweepsDone,
                                                   const std::atomic<bool> &stop);

} // namespace ferro::batch
