#pragma once
// Sweeps of four chains of one size with every factor equal, their
// generators advanced side by side in the lanes of AVX2 registers
// (fourstreams.h). Each chain keeps its own stream and makes exactly the
// decisions of its sweep alone (FastLattice::sweep, the reference): lane c
// computes chain c's two numbers, the site int(r1 L^2) by the same double
// rounding, and r2's integer bits, compared as attemptOnBits does. Only
// where hasAvx2() (engine/cpu.h) says so.

#include "engine/chain.h"

#include <span>

namespace ferro::engine::fourlanes {

// From their spins and the neighbour table (sizes up to TabledSize).
void sweepTabled(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);
// From the site codes, whose attempts branch on the decision.
void sweepStates(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);
// From one bit a spin, whose attempts do not branch on the decision; false,
// and nothing swept, when a lattice has a blank site.
bool sweepBits(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);

// The size from which sweepTogether sweeps four chains from their bits.
// Measured here: from L = 128 to 1024, 20 to 50 % faster than the tabled
// attempt or the site codes; up to L = 100, slower than the tabled attempt
// (on small lattices, a read of a site's word often waits for a write to the
// same bytes a few attempts before).
constexpr int BitsFrom = 113;

} // namespace ferro::engine::fourlanes
