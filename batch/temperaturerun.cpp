#include "batch/temperaturerun.h"

#include "batch/checkerboardrun.h"

#include "engine/chain.h"
#include "engine/fouriermode.h"
#include "table/table.h"
#include "core/flip.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

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

// Measured Wolff sweeps: a sweep is c clusters, c = L^2 / (mean cluster so
// far) a real number, carried from sweep to sweep: `due` adds c after every
// sweep and the sweep makes clusters until their count reaches floor(due).
// So the sweeps flip L^2 spins on average for every seed and equilibration
// (a whole count per sweep would make them 0.77 or 1.16 L^2 at L = 8, as
// c = 1.3 or 1.7 rounded). The mean is over the clusters since the middle of
// the equilibration, measured ones included, so it settles to the same
// value for every seed. Where a sweep ends depends on the past alone, never
// on the clusters of the sweep itself, unlike the count of spins that ends
// an equilibration sweep (which leans to order); the past clusters move c
// by 1/(clusters so far) each, too little to lean measurably.
struct WolffClock : WolffCounts {
    void measuredSweep(FastLattice &lattice, Stream &stream)
    {
        if (clusters == 0) { // nothing to go by yet: one sweep by the count of spins
            std::int64_t c = 0, a = 0;
            wolffSweepBySpins(lattice, stream, c, a);
            clusters += c, added += a, measuredClusters += c, measuredAdded += a;
            return;
        }
        due += double(lattice.sites()) * double(clusters) / double(added);
        for (const std::int64_t end = std::int64_t(due); made < end; ++made) {
            const std::int64_t spins = lattice.wolffCluster(stream);
            added += spins, measuredAdded += spins;
            ++clusters, ++measuredClusters;
        }
    }
};

// Hands the spins to the job's picture writer at a frame's sweep (the last
// state with `last`). False when they could not be kept.
bool showPicture(const TemperatureJob &job, const FastLattice &lattice, std::int64_t sweep, bool last = false)
{
    if (!job.picture || (!last && (job.framesEvery <= 0 || sweep % job.framesEvery != 0)))
        return true;
    return job.picture(engine::rowsOf(lattice.spins(), lattice.size()), sweep, last);
}

// The histogram a job keeps for reweighting, when it asks for one.
std::shared_ptr<analysis::EnergyHistogram> histogramFor(const TemperatureJob &job)
{
    if (!job.histogram)
        return nullptr;
    auto histogram = std::make_shared<analysis::EnergyHistogram>(std::int64_t(job.size) * job.size, job.sweeps);
    histogram->setHasMode();
    return histogram;
}

TemperatureOutcome finish(const TemperatureJob &job, const analysis::Accumulator &accumulator, std::int64_t clusters = 0,
                          std::int64_t added = 0, std::shared_ptr<const analysis::EnergyHistogram> histogram = nullptr)
{
    TemperatureOutcome outcome;
    outcome.histogram = std::move(histogram);
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
                    std::int64_t sweep, const WolffClock &clock, const std::string &pending)
{
    PointState s;
    s.sweep = sweep;
    const std::span<const engine::Spin> spins = lattice.spins();
    s.spins.assign(spins.begin(), spins.end());
    std::copy(std::begin(stream.engine().s), std::end(stream.engine().s), s.stream.begin());
    s.wolff = lattice.wolffState();
    s.accumulator = accumulator.save();
    s.clock = clock;
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

// Sweep `sweep` of a job run alone: Metropolis, or Wolff clusters by the
// count of spins while equilibrating and by the clock while measuring.
// Returns the Metropolis attempts accepted.
int sweepAlone(const TemperatureJob &job, FastLattice &lattice, Stream &stream, WolffClock &clock, std::int64_t sweep)
{
    if (job.algorithm != Algorithm::Wolff)
        return lattice.sweep(stream);
    if (sweep > job.equilibrate) {
        clock.measuredSweep(lattice, stream);
    } else {
        if (sweep == job.equilibrate / 2 + 1)
            clock.clusters = clock.added = 0; // the first half settles
        wolffSweepBySpins(lattice, stream, clock.clusters, clock.added);
    }
    return 0;
}

} // namespace

TemperatureOutcome runTemperatureJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop)
{
    if (job.algorithm == Algorithm::Checkerboard)
        return runCheckerboardJob(job, sweepsDone, stop);
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
        pending += seriesRow({job.temperature, job.seed, sweep, lattice.Energy, lattice.TotalMag, job.size, job.point,
                              job.stream});
        if (pending.size() >= 8192)
            handOn();
    };
    if (job.seriesEvery > 0 && !job.resume)
        seriesRowAt(0);
    if (!job.resume) // a resumed run showed its start before
        kept = kept && showPicture(job, lattice, 0);

    engine::FourierMode mode(job.size);
    const std::shared_ptr<analysis::EnergyHistogram> histogram = histogramFor(job);
    WolffClock clock = job.resume ? WolffClock {job.resume->clock} : WolffClock {};
    const std::int64_t total = job.equilibrate + job.sweeps;
    std::int64_t reported = job.resume ? job.resume->sweep : 0;
    sweepsDone += reported;
    for (std::int64_t sweep = reported + 1; sweep <= total; ++sweep) {
        if (job.holdWanted && job.holdWanted->load(std::memory_order_relaxed)) {
            PointState state = captured(lattice, stream, accumulator, sweep - 1, clock, pending);
            job.hold({&state, 1});
        }
        if (!kept || stop.load(std::memory_order_relaxed)) {
            sweepsDone += sweep - 1 - reported;
            handOn();
            return {};
        }
        const int accepted = sweepAlone(job, lattice, stream, clock, sweep);
        if (sweep > job.equilibrate) { // read off the form swept, which stays the only fresh one
            const double f = mode(lattice);
            accumulator.add(lattice.Energy, lattice.TotalMag, accepted, f);
            if (histogram)
                histogram->add(lattice.Energy, lattice.TotalMag, f);
        }
        if (job.seriesEvery > 0 && sweep % job.seriesEvery == 0)
            seriesRowAt(sweep);
        kept = kept && showPicture(job, lattice, sweep);
        if ((sweep & 63) == 0) {
            sweepsDone += sweep - reported;
            reported = sweep;
        }
    }
    sweepsDone += total - reported;
    if (!handOn() || !showPicture(job, lattice, total, true))
        return {};
    return finish(job, accumulator, clock.measuredClusters, clock.measuredAdded, histogram);
}

std::vector<TemperatureOutcome> runTemperatureJobs(std::span<const TemperatureJob> jobs,
                                                   std::atomic<std::int64_t> &sweepsDone,
                                                   const std::atomic<bool> &stop)
{
    std::vector<std::unique_ptr<Chain>> chains;
    std::vector<Chain *> pointers;
    std::vector<analysis::Accumulator> accumulators;
    engine::FourierMode mode(jobs.front().size); // one size for every job
    std::vector<std::shared_ptr<analysis::EnergyHistogram>> histograms;
    std::int64_t reported = 0; // alike for every job: all start, or all resume from one sweep count
    for (const TemperatureJob &job : jobs) {
        chains.push_back(std::make_unique<Chain>(job.size, job.stream));
        pointers.push_back(chains.back().get());
        accumulators.emplace_back(job.sweeps, chains.back()->lattice.sites());
        histograms.push_back(histogramFor(job));
        if (!job.resume)
            prepare(chains.back()->lattice, chains.back()->stream, job);
        else if (job.resume->sweep != jobs.front().resume->sweep
                 || !restored(chains.back()->lattice, chains.back()->stream, accumulators.back(), *job.resume, job))
            return std::vector<TemperatureOutcome>(jobs.size());
        else
            reported = job.resume->sweep;
    }
    sweepsDone += std::int64_t(jobs.size()) * reported;
    const auto showPictures = [&](std::int64_t sweep, bool last = false) {
        for (std::size_t c = 0; c < jobs.size(); ++c)
            if (!showPicture(jobs[c], std::as_const(chains[c]->lattice), sweep, last))
                return false;
        return true;
    };
    std::vector<int> accepted(jobs.size());
    const std::int64_t total = jobs.front().equilibrate + jobs.front().sweeps; // alike for every job of a run
    const TemperatureJob &first = jobs.front();
    bool kept = first.resume || showPictures(0); // a resumed run showed its start before
    for (std::int64_t sweep = reported + 1; sweep <= total; ++sweep) {
        if (first.holdWanted && first.holdWanted->load(std::memory_order_relaxed)) {
            std::vector<PointState> states;
            for (std::size_t c = 0; c < jobs.size(); ++c)
                states.push_back(captured(chains[c]->lattice, chains[c]->stream, accumulators[c], sweep - 1, {}, {}));
            first.hold(states);
        }
        if (!kept || stop.load(std::memory_order_relaxed)) {
            sweepsDone += std::int64_t(jobs.size()) * (sweep - 1 - reported);
            return std::vector<TemperatureOutcome>(jobs.size());
        }
        engine::sweepTogether(pointers, accepted);
        if (sweep > jobs.front().equilibrate)
            for (std::size_t c = 0; c < jobs.size(); ++c) {
                const double f = mode(chains[c]->lattice);
                accumulators[c].add(chains[c]->lattice.Energy, chains[c]->lattice.TotalMag, accepted[c], f);
                if (histograms[c])
                    histograms[c]->add(chains[c]->lattice.Energy, chains[c]->lattice.TotalMag, f);
            }
        kept = showPictures(sweep);
        if ((sweep & 63) == 0) {
            sweepsDone += std::int64_t(jobs.size()) * (sweep - reported);
            reported = sweep;
        }
    }
    sweepsDone += std::int64_t(jobs.size()) * (total - reported);
    if (!showPictures(total, true))
        return std::vector<TemperatureOutcome>(jobs.size());
    std::vector<TemperatureOutcome> outcomes;
    for (std::size_t c = 0; c < jobs.size(); ++c)
        outcomes.push_back(finish(jobs[c], accumulators[c], 0, 0, histograms[c]));
    return outcomes;
}

} // namespace ferro::batch
