#pragma once
// Averages and errors of a run at one temperature, from the lattice totals
// after every measured sweep. Standard C++ only.
//
// The sweeps go into at most MaxBins bins of equal width: when the bins are
// full, neighbouring pairs merge and the width doubles, so memory stays
// bounded (MaxBins * sizeof(Bin), 4 MiB) however long the run, and `add` does
// a few integer additions. Every sum but the Fourier mode's is an exact
// integer, and all of them depend on nothing but the sequence of calls.
//
// The error of each mean (energy, |m|, acceptance) comes from its own
// integrated autocorrelation time, estimated with Sokal's automatic window
// on the binned series (coarsened further while the window would be long);
// the fluctuation quantities (specific heat, susceptibilities, Binder
// cumulant) from a bias-corrected jackknife over blocks that each span many
// autocorrelation times of the slowest observable.

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace ferro::analysis {

inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct Value {
    double mean = NaN;
    double error = NaN; // NaN = not available (an empty field)
};

// Per site on a lattice of N sites at temperature T (Boltzmann's constant 1).
struct Results {
    std::int64_t sweeps = 0;    // measured sweeps
    Value energy, absMag;       // E/N, |M|/N
    Value specificHeat;         // (<E^2>-<E>^2)/(N T^2)          NaN when temperature is NaN
    Value susceptibility;       // chi' = (<M^2>-<|M|>^2)/(N T)   NaN when temperature is NaN
    Value susceptibilityFull;   // chi  = <M^2>/(N T)             NaN when temperature is NaN
    Value binder;               // U = 1 - <m^4>/(3 <m^2>^2)
    // The second-moment correlation length (chi/F - 1)^(1/2) / (2 sin(pi/L))
    // in lattice spacings, with chi = <M^2>/N and F the mean of the Fourier
    // modes handed to add(); and it over L. NaN without the modes, and where
    // chi/F falls to 1 or below (far above T_c, where xi is below a spacing
    // and the noise can take the ratio under 1).
    Value correlationLength, correlationLengthOverSize;
    Value acceptance;           // accepted per attempt (attempts = N per sweep)
    // Integrated autocorrelation times in sweeps (NaN for a series that
    // never changes or with fewer than two sweeps).
    double energyTau = NaN, absMagTau = NaN;
    double magSquaredTau = NaN; // of M^2, which the fluctuation quantities average
    double slowestTau = NaN;    // max of the three
    std::int64_t jackknifeBlocks = 0; // blocks of the fluctuation quantities' jackknife
    // The first and last quarter of the measured sweeps differ by more than 4
    // combined errors in the energy or in |m| (a run still relaxing, or stuck).
    bool drift = false;
    Value energyFirstQuarter, energyLastQuarter;
    Value absMagFirstQuarter, absMagLastQuarter;
    // The energy of the last half of the measured sweeps with the error of
    // that half alone: a run still relaxing is told by it, where the whole
    // run's error is inflated by the relaxation itself.
    Value energyLastHalf;
    // Measured sweeps after which M differs from the sweep before, and those
    // after which the number of down spins changed parity (M moved by 2
    // mod 4). Far above the couplings nearly every attempt flips, and a sweep
    // of an even number of flips keeps the parity: then the second count
    // stays small while the first is large.
    std::int64_t changedSweeps = 0, parityChanges = 0;
};

class Accumulator {
public:
    // `sweeps`: the measured sweeps expected (it sizes the first allocation;
    // more or fewer may come). `sites`: N = L * L for any L from 2 to 1024.
    Accumulator(std::int64_t sweeps, std::int64_t sites);

    // Lattice totals after one measured sweep: E in units of the coupling, M
    // in units of one spin, the flip attempts accepted in the sweep; and
    // F, the mean power per site of the two smallest non-zero Fourier modes
    // (engine/fouriermode.h), or NaN when the mode was not measured.
    void add(std::int64_t energy, std::int64_t totalMag, std::int64_t accepted, double mode = NaN)
    {
        if (m_fill == m_width) [[unlikely]]
            nextBin();
        Bin &b = m_bins.back();
        const std::int64_t absMag = totalMag < 0 ? -totalMag : totalMag;
        const std::int64_t magSquared = totalMag * totalMag;
        b.energy += energy;
        b.energySquared += energy * energy;
        b.absMag += absMag;
        b.magSquared += magSquared;
        b.magFourth += static_cast<Int128>(magSquared) * magSquared;
        b.accepted += accepted;
        b.mode += mode;
        const std::int64_t step = m_sweeps > 0 ? totalMag - m_lastMag : 0;
        m_changedSweeps += step != 0;
        m_parityChanges += (step / 2) & 1;
        m_lastMag = totalMag;
        ++m_fill;
        ++m_sweeps;
    }

    // `temperature`: the one the sites run at; NaN leaves the specific heat
    // and both susceptibilities empty.
    Results analyse(double temperature) const;

    // The whole state as 64-bit words (the bins, their width and fill, the
    // sweeps), and back: an accumulator restored from the words of another
    // goes on exactly as that one would. restore() refuses (false, nothing
    // changed) words that no accumulator of this many sites could have made.
    std::vector<std::uint64_t> save() const;
    bool restore(const std::vector<std::uint64_t> &words);

    // Largest number of bins kept; memory stays below MaxBins * binBytes().
    static constexpr std::size_t MaxBins = std::size_t(1) << 16;
    static constexpr std::size_t binBytes() { return sizeof(Bin); }

private:
    __extension__ typedef __int128 Int128;
    // Sums over the sweeps of one bin. The squares stay within 64 bits as
    // long as sweeps * N^2 < 7e22 (6e10 sweeps at L = 1024); M^4 needs 128.
    // The Fourier mode is the one sum that is not an integer.
    struct Bin {
        std::int64_t energy = 0, energySquared = 0, absMag = 0, magSquared = 0, accepted = 0;
        Int128 magFourth = 0;
        double mode = 0;
    };
    void nextBin();

    // The words of save(): a header, then each bin.
    static constexpr std::size_t HeaderWords = 8, BinWords = 8;

    struct Series;
    Series series() const;
    void measureMeans(const Series &series, Results &results) const;
    void measureFluctuations(const Series &series, double temperature, Results &results) const;
    void measureDrift(const Series &series, Results &results) const;

    std::vector<Bin> m_bins;
    std::int64_t m_sites;
    std::int64_t m_width = 1; // sweeps per bin
    std::int64_t m_fill = 1;  // sweeps in the last bin (full: start a new one)
    std::int64_t m_sweeps = 0;
    std::int64_t m_lastMag = 0, m_changedSweeps = 0, m_parityChanges = 0;
};

} // namespace ferro::analysis
