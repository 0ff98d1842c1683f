#pragma once
// The run: the lattice, the run record and the rules of one timer tick, the
// chart page and the clear. It says what a tick changed; the window shows
// it. No widgets.

#include "core/flip.h"
#include "core/lattice.h"
#include "stdruntime/random.h"
#include "core/runrecord.h"

#include <string>

namespace ferro {

// What one tick did, for the window to show: the timers' state, then a new
// chart page, then the cell attempted, then one point on each chart.
struct TickResult {
    bool timersOn = true; // false once the tick has ended the page
    bool newPage = false; // both charts start afresh before anything else is drawn
    int cell = -1;        // the cell of the flip attempt, or -1 when none was made
    bool plotted = false; // a point on each chart, at x steps per site
    float x = 0, yMag = 0, yNet = 0;
};

class Run {
public:
    explicit Run(RandomSource &random) : m_random(random) {}

    const Lattice &lattice() const { return m_lattice; }
    // The spins, for the starting states and Reset to set.
    Lattice &lattice() { return m_lattice; }
    RandomSource &random() { return m_random; }
    const RunRecord &record() const { return m_record; }
    // The internal-energy read-out: Str(Energy) once a flip or a starting
    // state has written it, empty before.
    std::string energyText() const;

    // One firing of the run timer: both tick counters +1, then MonteCarloTick.
    TickResult tick(double runTemperature, const double *factors);
    // The rules of one tick without counting it: re-seed, timers on, stop
    // test, run state, new page, one flip attempt, read-outs, and a point on
    // each chart every 400th tick.
    TickResult MonteCarloTick(double runTemperature, const double *factors);
    // Recount TotalMag and Energy; the energy and magnetization read-outs
    // show the new totals.
    void MeasureLattice();

    // Go: the run state is "Go" again.
    void setGo() { m_record.go = true; }
    // Clear Chart, before the charts are redrawn: run state "Go", page
    // counter "0". The tick count is still the old one, which the charts'
    // left edge depends on.
    void startClear();
    // Clear Chart, after the charts are redrawn: read-outs emptied, total
    // counter "0", time axis from 0.
    void finishClear();

    // As if the timer had fired n more times without any flip attempt: for
    // reaching the end of a page in tests and tools.
    void fastForward(std::int64_t n);

private:
    RandomSource &m_random;
    Lattice m_lattice;
    RunRecord m_record;
};

} // namespace ferro
