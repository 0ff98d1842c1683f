#include "batch/sweep.h"

#include "batch/kernel.h"
#include "batch/table.h"

namespace ferro::batch {

Outcome runJob(const Job &job, std::atomic<std::int64_t> &sweepsDone, const std::atomic<bool> &stop)
{
    Stream stream(streamSeed(job.seed, job.index));
    FastLattice lattice;
    if (job.start == Start::Zero)
        lattice.startOrdered(stream);
    else
        lattice.startRandom(stream);
    lattice.setTemperature(runTemperature(job.temperature), job.factors);

    Outcome outcome;
    const std::string prefix = numberText(job.temperature) + "," + std::to_string(job.seed) + ",";
    auto seriesLine = [&](std::int64_t sweep) {
        outcome.series += prefix + std::to_string(sweep) + "," + numberText(lattice.Energy / double(Sites)) + ","
            + numberText(lattice.TotalMag / double(Sites)) + "\n";
    };
    if (job.seriesEvery > 0)
        seriesLine(0);

    analysis::Accumulator accumulator(job.sweeps, Sites);
    const std::int64_t total = job.equilibrate + job.sweeps;
    std::int64_t reported = 0;
    for (std::int64_t sweep = 1; sweep <= total; ++sweep) {
        if (stop.load(std::memory_order_relaxed)) {
            sweepsDone += sweep - 1 - reported;
            return outcome;
        }
        const int accepted = lattice.sweep(stream);
        if (sweep > job.equilibrate)
            accumulator.add(lattice.Energy, lattice.TotalMag, accepted);
        if (job.seriesEvery > 0 && sweep % job.seriesEvery == 0)
            seriesLine(sweep);
        if ((sweep & 63) == 0) {
            sweepsDone += sweep - reported;
            reported = sweep;
        }
    }
    sweepsDone += total - reported;
    outcome.finished = true;
    outcome.results = accumulator.analyse(job.temperature);
    return outcome;
}

} // namespace ferro::batch
