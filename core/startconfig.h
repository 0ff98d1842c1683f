#pragma once
// The two prepared starting states of the lattice. No widgets.

#include "lattice.h"
#include "random.h"

namespace ferro {

// Zero temperature: re-seed, then one draw r for the whole lattice: r < 0.5
// makes every spin +1, r > 0.5 every spin -1, r exactly 0.5 keeps every site.
void orderedState(Lattice &lattice, Random &random);

// Infinite temperature: re-seed once, then one draw per site in row-major
// order, with the same three cases as orderedState.
void randomState(Lattice &lattice, Random &random);

} // namespace ferro
