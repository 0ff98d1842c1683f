#pragma once
// An L x L torus of the batch program (2 <= L <= 1024) and its updates: the
// window's Metropolis flip attempt (same draws in the same order, same site
// choice, same acceptance) made fast for long headless runs, and the Wolff
// single-cluster update. The Metropolis weights come from core's
// metropolisWeight once per run temperature and are kept as the
// single-precision thresholds the float r2 is compared against: one table of
// 9 when every factor is equal (then also as the 53-bit integers that the
// generator's numbers are compared against), one per site otherwise.
// Standard C++ only.
//
// Memory: four bytes per spin; a neighbour table (8 bytes a site) only up to
// L = 128; larger lattices compute the neighbours and keep one byte more per
// site for their Metropolis sweeps alone (its site code), so L = 1024 takes
// 5 MiB; swept four at a time from L = 113, a lattice keeps one bit a site
// instead (129 KiB at L = 1024); the first Wolff cluster adds 4 bytes per
// site (its queue), and every lattice keeps 4 KiB of Wolff bonds decided
// ahead; a threshold table per site, only when the factors differ, 36 bytes
// per site.

#include "core/flip.h"
#include "core/lattice.h"
#include "engine/sitecode.h"
#include "engine/spinforms.h"
#include "engine/updates.h"
#include "engine/wolffbonds.h"
#include "stdruntime/random.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace ferro::engine {

// A batch stream is the program's generator seeded with streamSeed: the
// clock never stirs it, and its draws are the ones Random(seed) gives.
using Stream = Random;

// A cell's four neighbours (left, up, right, down) as a table keeps them.
using NeighbourCells = std::array<std::uint16_t, 4>;

namespace detail {
inline double draw(Xoshiro256 &engine) { return engine.draw(); }
inline double draw(Random &random) { return random.draw(); }
template <class Source>
double draw(Source &source) { return source.Rnd(); }
// A source whose draws are its 64-bit numbers' top 53 bits times 2^-53 (the
// program's generator): the attempt then decides r2 on the integer bits.
template <class Source>
concept BitSource = requires(Source &source) {
    { source.next() } -> std::same_as<std::uint64_t>;
};

// The 53-bit integer m at and above which float(m 2^-53) is not below the
// float threshold t (2^53 when no m is): float(r2) < t exactly when m < this.
// Proof: m -> double is exact (m < 2^53), times 2^-53 is exact, and rounding
// to float is monotone, so "float(m 2^-53) >= t" is false up to some m and
// true from there on; a binary search over m finds the first true one.
std::uint64_t integerThreshold(float t);
} // namespace detail

class FastLattice {
public:
    // An L x L torus of blank spins; L from MinimumSize to MaximumSize.
    explicit FastLattice(int size = Side);

    int size() const { return m_size; }
    int sites() const { return m_sites; }

    // Spins in row-major order (cell L i + j): +1, -1, or 0 for a blank site.
    // After writing them, recount().
    std::span<Spin> spins() { return spinsToWrite(); }
    std::span<const Spin> spins() const
    {
        syncSpins();
        return m_spin;
    }
    void recount();
    // The sums of the rows and of the columns of the spins (lineSums, L each),
    // read off whichever form holds the lattice as it is, the others left as
    // they are: the bits, else the site codes, else the spins.
    void lineSums(std::span<int> rows, std::span<int> columns) const;

    // The window's T = Zero and T = Infinity rules (orderedSpins, randomSpins)
    // on this lattice, then a recount. At L = 20 the very states of
    // orderedState and randomState for the same draws.
    void startOrdered(RandomSource &random);
    void startRandom(RandomSource &random);

    // Takes over the spins and totals of a window lattice, and gives them
    // back. Size 20 only.
    void load(const Lattice &lattice);
    void store(Lattice &lattice) const;

    // Rebuilds the acceptance thresholds for this run temperature (as
    // runTemperature gives it) and these sites() site factors; with every
    // factor equal, also the Wolff bond probability at T F.
    void setTemperature(double runTemperature, const double *factors);
    // Every factor the same (one threshold table; Wolff allowed).
    bool equalFactors() const { return m_stride == 0; }

    // One Metropolis attempt, decided exactly as AttemptFlip decides it for
    // the same two draws, both in [0, 1): r1 picks cell int(r1 L^2), r2 (as a
    // float) is compared with the weight. Returns 1 when AttemptFlip counts
    // it as accepted (dE <= 0 or r2 below the weight), else 0.
    template <class Source>
    int attempt(Source &source)
    {
        const Hot h = hot();
        if (m_stride)
            return h.neighbours ? attemptOn<true, true>(h, source, TotalMag, Energy)
                                : attemptOn<false, true>(h, source, TotalMag, Energy);
        return h.neighbours ? attemptOn<true, false>(h, source, TotalMag, Energy)
                            : attemptOn<false, false>(h, source, TotalMag, Energy);
    }

    // A Metropolis sweep: L^2 attempts. Returns how many were accepted.
    template <class Source>
    int sweep(Source &source)
    {
        if (m_neighbours.empty())
            return m_stride ? sweepWith<false, true>(source) : sweepWith<false, false>(source);
        return m_stride ? sweepWith<true, true>(source) : sweepWith<true, false>(source);
    }

    // One Wolff cluster at the cluster temperature T F (equal factors only;
    // throws std::logic_error otherwise): a seed cell int(r L^2) (r a draw
    // of the stream), then, for each spin taken from a first-in-first-out
    // queue, four 32-bit numbers (WolffBonds) that decide its four bonds
    // (left, up, right, down): a parallel spin not yet in the cluster joins
    // when its number is below 1 - exp(-2 / (T F)) times 2^32, rounded.
    // Every cluster spin is flipped. TotalMag and Energy stay exact. Returns
    // the spins added (a blank seed adds itself and flips nothing). The bonds'
    // lanes belong to the lattice (a lattice later handed another stream
    // goes on with them); the seed cell still comes from the stream.
    std::int64_t wolffCluster(Stream &stream);
    // One Wolff sweep: clusters until the count of spins added since the
    // lattice was made reaches the next multiple of L^2, so that a sweep
    // flips L^2 spins on average. Returns the spins added in this sweep.
    std::int64_t wolffSweep(Stream &stream);
    // Spins added to clusters since the lattice was made.
    std::int64_t wolffSpinsAdded() const { return m_wolffAdded; }
    // The Wolff part of the chain's state beside the spins and the stream:
    // the spins added so far and the bonds still to come. A lattice given
    // the spins, the stream and this goes on with the very clusters the
    // one it came from would have grown.
    struct WolffState {
        std::int64_t added = 0;
        WolffBonds::State bonds;
    };
    WolffState wolffState() const { return {m_wolffAdded, m_bonds.state()}; }
    void restoreWolff(const WolffState &state)
    {
        m_wolffAdded = state.added;
        m_bonds.restore(state.bonds);
    }
    // Whether clusters are grown, and their bonds decided, with AVX2 (when
    // the processor has it, the default; the clusters are the same either
    // way). Returns whether they now are.
    bool setWolffVector(bool on) { return m_bonds.setVector(on); }

    // For the sweeps of several lattices at once, each of which works on one
    // form of the spins: the form made fresh and taken as the one swept, so
    // that the spins are read off it when next needed and the other form is
    // rebuilt. The spins themselves; the site codes; the bits, or null when
    // a site is blank (nothing is then taken).
    std::span<Spin> spinsToSweep() { return spinsToWrite(); }
    SiteStates &statesToSweep();
    SpinBits *bitsToSweep();
    // What the sweeps look up: the integer thresholds by site code (equal
    // factors), the neighbour table (null above TabledSize), the rows.
    const std::array<std::uint64_t, SiteCodes> &integerThresholds() const { return m_below; }
    const NeighbourCells *neighbourTable() const { return m_neighbours.empty() ? nullptr : m_neighbours.data(); }
    const CellRows &rows() const { return m_rows; }

    // torusNeighbours of every cell are tabled up to this size (8 bytes a
    // site, 128 KiB at 128); larger lattices compute them.
    static constexpr int TabledSize = 128;

    // Sum of the spins, and minus the sum over the 2 L^2 bonds of the torus of
    // the product of the bond's two spins; kept up to date by every update.
    int TotalMag = 0;
    int Energy = 0;

private:
    // What an attempt needs, copied into locals so that the spin stores
    // cannot make the compiler reload it.
    struct Hot {
        Spin *spin;
        const NeighbourCells *neighbours; // null on large lattices
        const float *threshold; // 9 per site, or 9 for every site
        const std::uint64_t *below; // equal factors: integerThreshold, by site code
        CellRows rows;
        int sites;
        double sitesAsDouble;
        double sitesScaled; // L^2 2^-53
    };
    // The spins fresh and about to be written.
    Hot hot()
    {
        return {spinsToWrite().data(), neighbourTable(), m_threshold.data(), m_below.data(),
                m_rows, m_sites, double(m_sites), double(m_sites) * 0x1.0p-53};
    }

    // Tabled: neighbours from the table; PerSite: a threshold table per site.
    template <bool Tabled, bool PerSite, class Source>
    int sweepWith(Source &source)
    {
        if constexpr (!Tabled && !PerSite && std::is_same_v<Source, Random>)
            return sweepStates(source.engine());
        const Hot h = hot();
        int mag = TotalMag, energy = Energy, accepted = 0;
        if constexpr (std::is_same_v<Source, Random>) {
            Xoshiro256 local = source.engine(); // its state stays in registers
            for (int a = h.sites; a > 0; --a)
                accepted += attemptOn<Tabled, PerSite>(h, local, mag, energy);
            source.engine() = local;
        } else {
            for (int a = h.sites; a > 0; --a)
                accepted += attemptOn<Tabled, PerSite>(h, source, mag, energy);
        }
        TotalMag = mag;
        Energy = energy;
        return accepted;
    }

    // The four neighbours of cell k: from the table, or computed where the
    // lattice keeps none.
    template <bool Tabled>
    static Neighbours neighboursOf(const Hot &h, int k)
    {
        if constexpr (Tabled) {
            const auto &t = h.neighbours[k];
            return {t[0], t[1], t[2], t[3]};
        } else {
            return h.rows.neighboursOf(k);
        }
    }

    template <bool Tabled, bool PerSite, class Source>
    static int attemptOn(const Hot &h, Source &source, int &mag, int &energy)
    {
        if constexpr (!PerSite && detail::BitSource<Source>)
            return attemptOnBits<Tabled>(h, source, mag, energy);
        const double r1 = detail::draw(source);
        const int k = static_cast<int>(r1 * h.sitesAsDouble);
        const Neighbours n = neighboursOf<Tabled>(h, k);
        const Spin *spin = h.spin;
        const int field = spin[n.left] + spin[n.up] + spin[n.right] + spin[n.down];
        const float r2 = static_cast<float>(detail::draw(source));
        const int s = spin[k];
        const float *threshold = PerSite ? h.threshold + 9 * k : h.threshold;
        const int accepted = r2 < threshold[s * field + 4];
        const FlipChange change = flipChange(s * accepted, field);
        h.spin[k] = static_cast<Spin>(s + change.magnetization);
        mag += change.magnetization;
        energy += change.energy;
        return accepted;
    }

    // The attempt with every factor equal, on the generator's integers: the
    // same decisions as attemptOn's floats. r1 = m1 2^-53 and m1 2^-53 L^2 =
    // m1 (L^2 2^-53) exactly (a power of two only moves the exponent), so
    // one multiplication gives the same rounded product; r2 is decided by
    // m2 < integerThreshold(threshold), indexed by the site code (s = 0:
    // never below, every draw accepted, as dE = 0 is).
    template <bool Tabled, class Source>
    static int attemptOnBits(const Hot &h, Source &source, int &mag, int &energy)
    {
        const int k = static_cast<int>(static_cast<double>(source.next() >> 11) * h.sitesScaled);
        const Neighbours n = neighboursOf<Tabled>(h, k);
        Spin *const spin = h.spin;
        const int field = spin[n.left] + spin[n.up] + spin[n.right] + spin[n.down];
        const std::uint64_t m2 = source.next() >> 11;
        const int s = spin[k];
        const int accepted = acceptedBelow(m2, h.below[siteCode(s, field)]);
        const FlipChange change = flipChange(s * accepted, field);
        spin[k] = static_cast<Spin>(s + change.magnetization);
        mag += change.magnetization;
        energy += change.energy;
        return accepted;
    }

    // The sweep of a large lattice (above TabledSize) with every factor
    // equal, on the generator's integers, from the site codes (kept up to
    // date with every flip): the draws and decisions of attemptOnBits, but
    // an attempt that is not accepted reads one byte, one cache line; an
    // accepted one (a branch) computes the neighbours and updates its code
    // and theirs. Measured here: faster from L = 256 on, slower up to 128,
    // where everything is in the caches and the mispredicted branch costs
    // more than the loads it saves.
    int sweepStates(Xoshiro256 &engine)
    {
        std::uint8_t *const code = statesToSweep().data();
        const CellRows rows = m_rows;
        const std::uint64_t *const below = m_below.data();
        const int sites = m_sites;
        const double sitesScaled = double(m_sites) * 0x1.0p-53;
        Xoshiro256 random = engine; // its state stays in registers
        int mag = TotalMag, energy = Energy, accepted = 0;
        for (int a = sites; a > 0; --a) {
            const int k = static_cast<int>(static_cast<double>(random.next() >> 11) * sitesScaled);
            const std::uint64_t m2 = random.next() >> 11;
            const int index = code[k];
            if (acceptedBelow(m2, below[index])) {
                ++accepted;
                const int s = spinOfCode(index); // the code holds the spin: no load
                if (s != 0) {
                    const Neighbours n = rows.neighboursOf(k);
                    const FlipChange change = flipChange(s, fieldOfCode(index));
                    code[k] = static_cast<std::uint8_t>(turnedCode(index));
                    for (const int c : {n.left, n.up, n.right, n.down})
                        code[c] = static_cast<std::uint8_t>(code[c] - 2 * s);
                    mag += change.magnetization;
                    energy += change.energy;
                }
            }
        }
        engine = random;
        TotalMag = mag;
        Energy = energy;
        return accepted;
    }

    // Which forms hold the lattice as it is: the spins, the site codes, the
    // bits (one flag each). The form last written is always fresh; reading
    // the spins off a fresh form makes them fresh too.
    enum Form : std::uint8_t { Spins = 1, States = 2, Bits = 4 };
    void syncSpins() const
    {
        if (!(m_fresh & Spins))
            readSpinsOff();
    }
    void readSpinsOff() const;
    // The spins fresh, and from now on the only fresh form.
    std::span<Spin> spinsToWrite()
    {
        syncSpins();
        m_fresh = Spins;
        m_bitsBlank = false;
        return m_spin;
    }

    int m_size;
    int m_sites;
    CellRows m_rows;
    mutable std::vector<Spin> m_spin;
    mutable std::uint8_t m_fresh = Spins;
    SiteStates m_states;
    SpinBits m_bits;
    // The bits could not be built from the spins as they are (a blank site).
    bool m_bitsBlank = false;
    std::vector<NeighbourCells> m_neighbours;
    // For s h = -4 .. 4 (index s h + 4), the smallest float not below the
    // double metropolisWeight(2 s h, T_k); a float r2 is below the weight
    // exactly when it is below this float. Infinity where dE <= 0.
    std::vector<float> m_threshold;
    // Equal factors: integerThreshold of each threshold, by site code.
    std::array<std::uint64_t, SiteCodes> m_below {};
    int m_stride = 0;
    // A Wolff bond joins when its 32-bit draw is below this: (1 - exp(-2 /
    // (T F))) 2^32, rounded.
    std::uint64_t m_bondBelow = 0;
    // The Wolff queue; made for the first cluster.
    std::vector<std::int32_t> m_stack;
    std::int64_t m_wolffAdded = 0;
    WolffBonds m_bonds;
};

} // namespace ferro::engine
