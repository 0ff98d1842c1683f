#include "batch/checkerboardrun.h"

#include "engine/checkerboard.h"
#include "engine/fouriermode.h"
#include "engine/lattice.h"
#include "table/table.h"

#include <string>

namespace ferro::batch {

TemperatureOutcome runCheckerboardJob(const TemperatureJob &job, std::atomic<std::int64_t> &sweepsDone,
                                      const std::atomic<bool> &stop)
{
    engine::Stream stream(job.stream);
    engine::CheckerboardLattice lattice(job.size);
    if (job.start == Start::Zero)
        lattice.startOrdered(stream);
    else
        lattice.startRandom(stream);
    lattice.setTemperature(job.siteTemperature);
    lattice.setThreads(job.threads);

    // The spins a row at a time, for a picture: a lattice of 16384^2 is
    // never held as one number a spin.
    const engine::SpinRows rows = [&lattice](int i, std::span<engine::Spin> row) {
        for (int j = 0; j < lattice.size(); ++j)
            row[std::size_t(j)] = engine::Spin(lattice.spin(i, j));
    };
    auto showPicture = [&](std::int64_t sweep, bool last = false) {
        if (!job.picture || (!last && (job.framesEvery <= 0 || sweep % job.framesEvery != 0)))
            return true;
        return job.picture(rows, sweep, last);
    };

    std::string pending;
    bool kept = showPicture(0);
    auto handOn = [&] {
        kept = kept && (pending.empty() || job.series(pending));
        pending.clear();
        return kept;
    };
    auto seriesRowAt = [&](std::int64_t sweep) {
        pending += seriesRow({job.temperature, job.seed, sweep, int(lattice.Energy), int(lattice.TotalMag), job.size,
                              job.point, job.stream});
        if (pending.size() >= 8192)
            handOn();
    };
    if (job.seriesEvery > 0)
        seriesRowAt(0);

    analysis::Accumulator accumulator(job.sweeps, lattice.sites());
    // The energy histogram for reweighting, when asked for, with the Fourier
    // mode of every measured sweep (read off the bits).
    engine::FourierMode mode(job.size);
    const std::shared_ptr<analysis::EnergyHistogram> histogram
        = job.histogram ? std::make_shared<analysis::EnergyHistogram>(lattice.sites(), job.sweeps) : nullptr;
    if (histogram)
        histogram->setHasMode();
    const std::int64_t total = job.equilibrate + job.sweeps;
    std::int64_t reported = 0;
    for (std::int64_t sweep = 1; sweep <= total; ++sweep) {
        if (!kept || stop.load(std::memory_order_relaxed)) {
            sweepsDone += sweep - 1 - reported;
            handOn();
            return {};
        }
        const std::int64_t flipped = lattice.sweep();
        if (sweep > job.equilibrate) {
            const double f = mode(lattice);
            accumulator.add(lattice.Energy, lattice.TotalMag, flipped, f);
            if (histogram)
                histogram->add(lattice.Energy, lattice.TotalMag, f);
        }
        if (job.seriesEvery > 0 && sweep % job.seriesEvery == 0)
            seriesRowAt(sweep);
        kept = kept && showPicture(sweep);
        // Progress every 64 sweeps, or every sweep on large lattices.
        if ((sweep & 63) == 0 || lattice.sites() >= (1 << 20)) {
            sweepsDone += sweep - reported;
            reported = sweep;
        }
    }
    sweepsDone += total - reported;
    if (!handOn() || !showPicture(total, true))
        return {};
    TemperatureOutcome outcome;
    outcome.finished = true;
    outcome.results = accumulator.analyse(job.siteTemperature);
    outcome.histogram = histogram;
    return outcome;
}

} // namespace ferro::batch
