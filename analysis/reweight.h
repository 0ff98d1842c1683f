#pragma once
// Histogram reweighting: the averages of a lattice size at temperatures
// between (and a little beyond) the ones it was run at. Standard C++ only.
//
// Each point keeps, per energy level it visited and per jackknife block, the
// number of measured sweeps there and the sums of |m|, m^2, m^4 (per site)
// and of the Fourier mode: memory bounded by the levels visited, whatever the
// run length. Several points of one size combine into one estimate of the
// density of states (Ferrenberg and Swendsen, PRL 63 (1989) 1195), which a
// single point reduces to (PRL 61 (1988) 2635); the errors come from the
// jackknife, leaving out one block of every point at a time.

#include "analysis/analysis.h"

#include <array>
#include <cstdint>
#include <vector>

namespace ferro::analysis {

// The sums of the measured sweeps at one energy level.
struct LevelSums {
    double count = 0;                             // sweeps
    double absMag = 0, magSquared = 0, magFourth = 0; // of |m|, m^2, m^4, m = M / N
    double mode = 0; // of the Fourier mode at the smallest wave vector (unused while 0 everywhere)
};

class EnergyHistogram {
public:
    static constexpr int MaxBlocks = 32;

    // `sites`: N = L * L; `sweeps`: the measured sweeps expected, which the
    // blocks divide into equal parts (min(32, sweeps) blocks; any sweeps
    // beyond go into the last).
    EnergyHistogram(std::int64_t sites, std::int64_t sweeps);

    // The lattice totals after one measured sweep: E (an integer in
    // [-2N, 2N] in steps of 4) and M; `mode` the Fourier mode when measured.
    void add(std::int64_t energy, std::int64_t totalMag, double mode = 0);
    void setHasMode() { m_hasMode = true; }

    std::int64_t sites() const { return m_sites; }
    std::int64_t sweeps() const { return m_sweeps; }
    int blocks() const { return m_blocks; }
    bool hasMode() const { return m_hasMode; }
    // The levels held: energies firstEnergy() + 4 k for k < levels().
    int levels() const { return m_width; }
    std::int64_t firstEnergy() const { return 4 * std::int64_t(m_first) - 2 * m_sites; }
    const LevelSums &at(int block, int level) const { return m_sums[std::size_t(block) * std::size_t(m_width) + std::size_t(level)]; }
    std::size_t bytes() const { return m_sums.capacity() * sizeof(LevelSums); }

private:
    void widen(int level);

    std::int64_t m_sites, m_expected, m_sweeps = 0;
    int m_blocks;
    bool m_hasMode = false;
    int m_first = 0, m_width = 0;  // the levels held: (E + 2N) / 4 from m_first on
    std::vector<LevelSums> m_sums; // block after block, m_width levels each
};

// The quantities of a reweighted curve, per site.
enum Quantity { Energy, AbsMag, SpecificHeat, Susceptibility, SusceptibilityFull, Binder, LengthOverSize, Quantities };

struct CurveValues {
    std::array<double, Quantities> full;                   // from all the sweeps
    std::vector<std::array<double, Quantities>> leaveOut;  // with block b of every point left out
};

// The jackknife error of a quantity from its leave-one-out values (NaN with
// fewer than two).
double jackknifeError(const std::vector<double> &leaveOut);

// The points of one size combined. Every point must have the same sites.
// The jackknife leaves out one of `blocks` runs of neighbouring blocks of
// every point at a time (0, or more than a point has: as many as the point
// with the fewest blocks has). ln Z of every point is iterated until no value
// changes by more than `tolerance` from one iteration to the next (ln Z of
// the first point is 0).
class MultiHistogram {
public:
    static constexpr double DefaultTolerance = 1e-10;
    static constexpr int MaxIterations = 200000;

    MultiHistogram(const std::vector<const EnergyHistogram *> &points, const std::vector<double> &temperatures,
                   int blocks = 0, double tolerance = DefaultTolerance);

    // The averages at temperature T (the sites' temperature).
    CurveValues at(double T) const;

    bool converged() const { return m_converged; }
    int iterations() const { return m_iterations; } // of the estimate from all sweeps
    int blocks() const { return m_blocks; }

private:
    struct Replicate {
        std::vector<double> lnD; // ln sum_j N_j exp(-beta_j E - lnZ_j), by level
        std::vector<LevelSums> sums; // all points together, by level
        std::vector<double> lnZ;
    };
    void solve(Replicate &r, const std::vector<std::vector<double>> &counts, const std::vector<double> &lnZStart);
    std::vector<double> firstGuess(const std::vector<std::vector<double>> &counts) const;
    std::array<double, Quantities> evaluate(const Replicate &r, double beta) const;

    std::int64_t m_sites = 1;
    int m_blocks = 1, m_levels = 0, m_iterations = 0;
    bool m_hasMode = false, m_converged = true;
    double m_tolerance;
    std::int64_t m_first = 0; // the lowest energy held by any point
    double m_reference = 0;   // energies are taken relative to this one
    std::vector<double> m_betas;
    Replicate m_full;
    std::vector<Replicate> m_leaveOut;
};

// The fraction of sweeps two histograms have in common: sum over E of the
// smaller of their normalized counts (1 for identical, 0 for disjoint).
double histogramOverlap(const EnergyHistogram &a, const EnergyHistogram &b);

// The standard deviation of the energy (lattice units) of a point.
double energySpread(const EnergyHistogram &h);

} // namespace ferro::analysis
