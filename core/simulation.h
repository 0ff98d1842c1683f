#pragma once
// The run: the lattice, the run record, the random sequence and the rules of
// one timer tick. The window is reached only through RunHost. No widgets.

#include "flip.h"
#include "lattice.h"
#include "random.h"
#include "runrecord.h"

namespace ferro {

// What a tick needs from the window that shows the run.
class RunHost {
public:
    virtual ~RunHost() = default;
    // Both timers on or off, the run timer first.
    virtual void setTimersEnabled(bool on) = 0;
    // The run timer's interval := the interval scroll bar's value.
    virtual void applyTimerInterval() = 0;
    // Both charts erased and redrawn empty (the record's tick count decides
    // the colour of their left edge); resets the time axis to 0 ... 4000.
    virtual void prepareCharts() = 0;
    // The run temperature from the temperature text (at least 0.1).
    virtual double runTemperature() = 0;
    // The 400 site factors (creating their window, hidden, on first use).
    virtual const double *siteFactors() = 0;
    // Cell k recoloured from its spin, every border set to its fill.
    virtual void showAttempt(int k) = 0;
    // One point on each chart: x in steps per site, y = 1 - value.
    virtual void plotPoints(float x, float yMag, float yNet) = 0;
    // Read-outs or axis labels changed.
    virtual void recordChanged() = 0;
};

class Simulation {
public:
    Simulation() = default;
    explicit Simulation(std::uint64_t seed) : random(seed) {}

    Lattice lattice;
    RunRecord record;
    Random random;

    // One firing of the run timer: both tick counters +1, then MonteCarloTick.
    void tmrTime_Timer(RunHost &host);
    // The rules of one tick: re-seed, timers on, interval, stop test, run
    // state, new page, one flip attempt, read-outs, and a point on each chart
    // every 400th tick.
    void MonteCarloTick(RunHost &host);
    // Recount TotalMag and Energy and show them.
    void MeasureLattice();
    // The read-outs and the total counter emptied after the charts were
    // redrawn by a clear.
    void clearReadouts();
};

} // namespace ferro
