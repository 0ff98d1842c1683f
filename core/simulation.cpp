#include "simulation.h"

#include "textconv.h"

#include <cmath>

namespace ferro {

void Simulation::tmrTime_Timer(RunHost &host)
{
    record.time.increment();
    record.labels.increment();
    MonteCarloTick(host);
}

void Simulation::MonteCarloTick(RunHost &host)
{
    random.Randomize();
    host.setTimersEnabled(true);
    host.applyTimerInterval();

    if (record.time.value() == LastPageTick) {
        record.go = false;
        host.setTimersEnabled(false);
    }
    if (!record.go) {
        // The counters moved all the same: the stopping tick shows its count.
        host.recordChanged();
        return;
    }

    if (record.time.value() > 0 && record.labels.value() % PageTicks == 0) {
        host.prepareCharts();
        record.time.setZero();
        record.axisBase = record.labels.value() / TicksPerStep;
    }

    const FlipOutcome flip = AttemptFlip(lattice, random, host.runTemperature(), host.siteFactors());
    if (flip.energyWritten)
        record.energyShown = true;
    host.showAttempt(flip.k);

    const double m = lattice.TotalMag / static_cast<double>(Sites);
    record.instantaneousMag.set(RoundTo(m, 4));
    // The sum keeps two decimals on every tick, so a tick with |m| below
    // 0.005 adds nothing to it.
    record.sumMag.set(RoundTo(record.sumMag.value() + std::fabs(m), 2));
    const std::int64_t n = record.labels.value();
    if (n > 0)
        record.netMag.set(RoundTo(record.sumMag.value() / static_cast<double>(n), 4));

    if (n % TicksPerStep == 0) {
        host.plotPoints(static_cast<float>(static_cast<double>(record.time.value()) / TicksPerStep),
                        static_cast<float>(1.0 - std::fabs(m)),
                        static_cast<float>(1.0 - record.netMag.value()));
    }
    host.recordChanged();
}

void Simulation::MeasureLattice()
{
    lattice.recount();
    record.energyShown = true;
    record.instantaneousMag.set(RoundTo(lattice.TotalMag / static_cast<double>(Sites), 4));
}

void Simulation::clearReadouts()
{
    record.instantaneousMag.clear();
    record.sumMag.clear();
    record.labels.setZero();
    record.netMag.clear();
}

} // namespace ferro
