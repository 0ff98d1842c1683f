#pragma once
// Averages and errors of a run at one temperature: the measured sweeps are
// cut into consecutive blocks (binning), and every quantity's error comes
// from a jackknife over the blocks, which accounts for the autocorrelation
// of successive sweeps as long as a block spans many autocorrelation times.
// Standard C++ only.

#include <cstdint>
#include <vector>

namespace ferro::batch {

// Sums over the sweeps of one block of the lattice totals after each sweep
// (E and M, in units of the coupling and of one spin) and of the attempts
// counted as accepted. Integers, so the sums never depend on their order.
struct Block {
    std::int64_t sweeps = 0, energy = 0, energySquared = 0, absMag = 0, magSquared = 0, accepted = 0;
};

// Collects a known number of measured sweeps into `blocks` blocks of as
// nearly equal length as the count allows (fewer blocks for fewer sweeps).
class Accumulator {
public:
    explicit Accumulator(std::int64_t sweeps, int blocks = 64);
    void add(int energy, int totalMag, int accepted);
    const std::vector<Block> &blocks() const { return m_blocks; }

private:
    std::vector<Block> m_blocks;
    std::int64_t m_total, m_done = 0, m_blockEnd = 0;
    std::size_t m_current = 0;
};

struct Value {
    double mean = 0;
    double error = 0; // NaN with fewer than two blocks
};

// Per site, on a lattice of `sites` sites at temperature T (Boltzmann's
// constant 1): energy E / N, |m| = |M| / N, specific heat (<E^2> - <E>^2) /
// (N T^2), susceptibility (<M^2> - <|M|>^2) / (N T), acceptance ratio, and the
// integrated autocorrelation time of the energy in sweeps (NaN when the
// energy never changes or there are fewer than two blocks).
struct Results {
    Value energy, absMag, specificHeat, susceptibility, acceptance;
    double energyTau = 0;
    double blockSweeps = 0; // mean sweeps per block
};

Results analyse(const std::vector<Block> &blocks, double temperature, int sites);

} // namespace ferro::batch
