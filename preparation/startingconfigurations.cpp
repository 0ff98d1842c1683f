// "T = Zero" and "T = Infinity": an ordered or a random lattice. Neither
// touches the run: pressed during a run, the run goes on from the new lattice.

#include "ising.h"

#include "startconfig.h"

namespace ferro {

void Ising::cmdZero_Click()
{
    orderedState(sim.lattice, sim.random);
    showCellsFromSpins();
    MeasureLattice();
}

void Ising::cmdRandom_Click()
{
    randomState(sim.lattice, sim.random);
    showCellsFromSpins();
    MeasureLattice();
}

} // namespace ferro
