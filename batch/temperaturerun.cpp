#include "batch/temperaturerun.h"

#include "engine/chain.h"
#include "table/table.h"
#include "core/flip.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace ferro::batch {

using engine::Chain;
using engine::FastLattice;
using engine::Stream;

namespace {

// The starting state of the job's lattice, from its own stream, and its
// acceptance at the run temperature.
void prepare(FastLattice &lattice, Stream &stream, const TemperatureJob &job)
{
    if (job.start == Start::Zero)
        lattice.startOrdered(stream);
    else
        lattice.startRandom(stream);
    lattice.setTemperature(runTemperature(job.temperature), job.factors);
}

// Wolff clusters until the spins added since the lattice was made reach the
// next multiple of L^2. Used while equilibrating only: a sweep that ends on a
// count of spins ends more often after a large cluster, so states sampled at
// its end lean to order (at L = 8 the energy comes out several errors low).
void wolffSweepBySpins(FastLattice &lattice, Stream &stream, std::int64_t &clusters, std::int64_t &added)
{
    const std::int64_t sites = lattice.sites();
    const std::int64_t next = (lattice.wolffSpinsAdded() / sites + 1) * sites;
    while (lattice.wolffSpinsAdded() < next) {
        added += lattice.wolffCluster(stream);
        ++clusters;
    }
}

// The clusters of a measured Wolff sweep: a fixed number, as many as flip L^2
// spins on average, from the mean cluster of the second half of the
// equilibration (or of one unmeasured sweep when there is none).
std::int64_t clustersPerSweep(std::int64_t sites, std::int64_t clusters, std::int64_t added)
{
    return std::max<std::int64_t>(1, std::llround(double(sites) * double(clusters) / double(added)));
}

TemperatureOutcome finish(const TemperatureJob &job, const analysis::Accumulator &accumulator, std::int64_t clusters,
                          std::int64_t added)
{
    TemperatureOutcome outcome;
    outcome.finished = true;
    outcome.results = accumulator.analyse(job.siteTemperature);
    if (job.algorithm == Algorithm::Wolff) {
        outcome.results.acceptance = {}; // a cluster flip is always taken
        if (clusters > 0)
            outcome.meanClusterSize = double(added) / double(clusters);
    }
    return outcome;
}

// The chain as it stands after `sweep` sweeps, its series rows not yet
// handed on included.
PointState captured(const FastLattice &lattice, Stream &stream, const analysis::Accumulator &accumulator,
                    std::int64_t sweep, std::int64_t clusters, std::int64_t added, std::int64_t perSweep,
                    const std::string &pending)
{
    PointState s;
    s.sweep = sweep;
    const std::span<const engine::Spin> spins = lattice.spins();
    s.spins.assign(spins.begin(), spins.end());
    std::copy(std::begin(stream.engine().s), std::end(stream.engine().s), s.stream.begin());
    s.wolff = lattice.wolffState();
    s.accumulator = accumulator.save();
    s.clusters = clusters;
    s.added = added;
    s.perSweep = perSweep;
    s.series = pending;
    return s;
}

// The chain put back as `state` holds it. False for a state that does not
// fit the job (then nothing runs).
bool restored(FastLattice &lattice, Stream &stream, analysis::Accumulator &accumulator, const PointState &state,
              const TemperatureJob &job)
{
    if (state.spins.size() != std::size_t(lattice.sites()) || state.sweep < 0
        || state.sweep > job.equilibrate + job.sweeps || !accumulator.restore(state.accumulator))
        return false;
    const std::span<engine::Spin> spins = lattice.spins();
    for (std::size_t k = 0; k < spins.size(); ++k) {
        if (state.spins[k] < -1 || state.spins[k] > 1)
            return false;
        spins[k] = state.spins[k];
    }
    lattice.recount();
    lattice.setTemperature(runTemperature(job.temperature), job.factors);
    std::copy(state.stream.begin(), state.stream.end(), stream.engine().s);
    lattice.restoreWolff(state.wolff);
    return true;
}

} // namespace

TemperatureOutcome runTemperatureJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop)
{
    Stream stream(job.stream);
    FastLattice lattice(job.size);
    analysis::Accumulator accumulator(job.sweeps, lattice.sites());
    if (!job.resume)
        prepare(lattice, stream, job);
    else if (!restored(lattice, stream, accumulator, *job.resume, job))
        return {};

    // Series rows go out in pieces of about 8 KB: memory stays flat however
    // long the run, and a stop loses nothing made before the last piece.
    std::string pending;
    bool kept = true;
    auto handOn = [&] {
        kept = kept && (pending.empty() || job.series(pending));
        pending.clear();
        return kept;
    };
    auto seriesRowAt = [&](std::int64_t sweep) {
        pending += seriesRow(job.temperature, job.seed, sweep, lattice.Energy, lattice.TotalMag, job.size);
        if (pending.size() >= 8192)
            handOn();
    };
    if (job.seriesEvery > 0 && !job.resume)
        seriesRowAt(0);

    const bool wolff = job.algorithm == Algorithm::Wolff;
    std::int64_t clusters = 0, added = 0, perSweep = 0;
    const std::int64_t total = job.equilibrate + job.sweeps;
    std::int64_t reported = 0;
    if (job.resume) {
        clusters = job.resume->clusters;
        added = job.resume->added;
        perSweep = job.resume->perSweep;
        reported = job.resume->sweep;
        sweepsDone += reported;
    }
    for (std::int64_t sweep = reported + 1; sweep <= total; ++sweep) {
        if (job.holdWanted && job.holdWanted->load(std::memory_order_relaxed)) {
            PointState state = captured(lattice, stream, accumulator, sweep - 1, clusters, added, perSweep, pending);
            job.hold({&state, 1});
        }
        if (!kept || stop.load(std::memory_order_relaxed)) {
            sweepsDone += sweep - 1 - reported;
            handOn();
            return {};
        }
        const bool measured = sweep > job.equilibrate;
        int accepted = 0;
        if (wolff && !measured) {
            if (sweep == job.equilibrate / 2 + 1)
                clusters = added = 0; // the first half settles
            wolffSweepBySpins(lattice, stream, clusters, added);
        } else if (wolff) {
            if (perSweep == 0) {
                if (clusters == 0)
                    wolffSweepBySpins(lattice, stream, clusters, added);
                perSweep = clustersPerSweep(lattice.sites(), clusters, added);
                clusters = added = 0;
            }
            for (std::int64_t c = 0; c < perSweep; ++c)
                added += lattice.wolffCluster(stream);
            clusters += perSweep;
        } else {
            accepted = lattice.sweep(stream);
        }
        if (measured)
            accumulator.add(lattice.Energy, lattice.TotalMag, accepted);
        if (job.seriesEvery > 0 && sweep % job.seriesEvery == 0)
            seriesRowAt(sweep);
        if ((sweep & 63) == 0) {
            sweepsDone += sweep - reported;
            reported = sweep;
        }
    }
    sweepsDone += total - reported;
    if (!handOn())
        return {};
    return finish(job, accumulator, clusters, added);
}

std::vector<TemperatureOutcome> runTemperatureJobs(std::span<const TemperatureJob> jobs,
                                                   std::atomic<std::int64_t> &sweepsDone,
                                                   const std::atomic<bool> &stop)
{
    std::vector<std::unique_ptr<Chain>> chains;
    std::vector<Chain *> pointers;
    std::vector<analysis::Accumulator> accumulators;
    std::int64_t reported = 0; // alike for every job: all start, or all resume from one sweep count
    for (const TemperatureJob &job : jobs) {
        chains.push_back(std::make_unique<Chain>(job.size, job.stream));
        pointers.push_back(chains.back().get());
        accumulators.emplace_back(job.sweeps, chains.back()->lattice.sites());
        if (!job.resume)
            prepare(chains.back()->lattice, chains.back()->stream, job);
        else if (job.resume->sweep != jobs.front().resume->sweep
                 || !restored(chains.back()->lattice, chains.back()->stream, accumulators.back(), *job.resume, job))
            return std::vector<TemperatureOutcome>(jobs.size());
        else
            reported = job.resume->sweep;
    }
    sweepsDone += std::int64_t(jobs.size()) * reported;
    std::vector<int> accepted(jobs.size());
    const std::int64_t total = jobs.front().equilibrate + jobs.front().sweeps; // alike for every job of a run
    const TemperatureJob &first = jobs.front();
    for (std::int64_t sweep = reported + 1; sweep <= total; ++sweep) {
        if (first.holdWanted && first.holdWanted->load(std::memory_order_relaxed)) {
            std::vector<PointState> states;
            for (std::size_t c = 0; c < jobs.size(); ++c)
                states.push_back(captured(chains[c]->lattice, chains[c]->stream, accumulators[c], sweep - 1, 0, 0, 0, {}));
            first.hold(states);
        }
        if (stop.load(std::memory_order_relaxed)) {
            sweepsDone += std::int64_t(jobs.size()) * (sweep - 1 - reported);
            return std::vector<TemperatureOutcome>(jobs.size());
        }
        engine::sweepTogether(pointers, accepted);
        if (sweep > jobs.front().equilibrate)
            for (std::size_t c = 0; c < jobs.size(); ++c)
                accumulators[c].add(chains[c]->lattice.Energy, chains[c]->lattice.TotalMag, accepted[c]);
        if ((sweep & 63) == 0) {
            sweepsDone += std::int64_t(jobs.size()) * (sweep - reported);
            reported = sweep;
        }
    }
    sweepsDone += std::int64_t(jobs.size()) * (total - reported);
    std::vector<TemperatureOutcome> outcomes;
    for (std::size_t c = 0; c < jobs.size(); ++c)
        outcomes.push_back(finish(jobs[c], accumulators[c], 0, 0));
    return outcomes;
}

} // namespace ferro::batch
