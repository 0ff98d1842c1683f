#include "batch/temperaturerun.h"

#include "batch/kernel.h"
#include "batch/table.h"

namespace ferro::batch {

TemperatureOutcome runTemperatureJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop)
{
    Stream stream(streamSeed(job.seed, job.index));
    FastLattice lattice;
    if (job.start == Start::Zero)
        lattice.startOrdered(stream);
    else
        lattice.startRandom(stream);
    lattice.setTemperature(runTemperature(job.temperature), job.factors);

    TemperatureOutcome outcome;
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
        pending += seriesRow(job.temperature, job.seed, sweep, lattice.Energy, lattice.TotalMag, Sites);
        if (pending.size() >= 8192)
            handOn();
    };
    if (job.seriesEvery > 0)
        seriesRowAt(0);

    analysis::Accumulator accumulator(job.sweeps, Sites);
    const std::int64_t total = job.equilibrate + job.sweeps;
    std::int64_t reported = 0;
    for (std::int64_t sweep = 1; sweep <= total; ++sweep) {
        if (!kept || stop.load(std::memory_order_relaxed)) {
            sweepsDone += sweep - 1 - reported;
            handOn();
            return outcome;
        }
        const int accepted = lattice.sweep(stream);
        if (sweep > job.equilibrate)
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
        return outcome;
    outcome.finished = true;
    outcome.results = accumulator.analyse(job.temperature);
    return outcome;
}

} // namespace ferro::batch
