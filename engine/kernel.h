#pragma once
// The batch program's updates of an L x L torus (2 <= L <= 1024): the
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
// site for their Metropolis sweeps alone (its spin and neighbours' sum), so
// L = 1024 takes 5 MiB; swept four at a time from L = 113, a lattice keeps
// one bit a site instead (129 KiB at L = 1024); the first Wolff cluster
// adds 4 bytes per site (its queue), and every lattice keeps 4 KiB of Wolff
// bonds decided ahead; a threshold table per site, only when the factors
// differ, 36 bytes per site.

#include "core/flip.h"
#include "core/lattice.h"
#include "stdruntime/random.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace ferro::engine {

struct Chain;

// A batch stream is the program's generator seeded with streamSeed: the
// clock never stirs it, and its draws are the ones Random(seed) gives.
using Stream = Random;

// The seed of the stream of the index-th point of a run with this seed
// (splitmix64 of both), so that every point draws its own numbers whatever
// thread runs it.
std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index);

constexpr int MinimumSize = 2;
constexpr int MaximumSize = 1024;

// A spin, +1, -1 or 0 (blank). Four bytes: measured here, the sweep at L = 20
// ran 10 % faster than with one-byte spins (large lattices sweep from their
// one-byte site states instead, which keeps them in the caches).
using Spin = std::int32_t;

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

// Sweeps of four chains of one size with every factor equal, their
// generators advanced side by side in vector registers (lanes.cpp).
struct FourLanes {
    // The processor runs them (AVX2 on x86-64).
    static bool available();
    // One sweep of each of four chains of one size up to TabledSize, from
    // their spins and the neighbour table.
    static void sweepTabled(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);
    // The same from the site states, whose attempts branch on the decision.
    static void sweepStates(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);
    // The same from one bit a spin, whose attempts do not branch on the
    // decision; false, and nothing swept, when a lattice has a blank site.
    static bool sweepBits(std::span<Chain *const, 4> chains, std::span<int, 4> accepted);
    // The size from which sweepTogether sweeps four chains from their bits.
    // Measured here: from L = 128 to 1024, 20 to 50 % faster than the
    // tabled attempt or the site states; up to L = 100, slower than the
    // tabled attempt (on small lattices, a read of a site's word often waits
    // for a write to the same bytes a few attempts before).
    static constexpr int BitsFrom = 113;
};

// Whether this processor makes the Wolff bonds' numbers with AVX2.
bool wolffVectorAvailable();
} // namespace detail

class FastLattice {
public:
    // An L x L torus of blank spins; L from MinimumSize to MaximumSize.
    explicit FastLattice(int size = Side);

    int size() const { return m_size; }
    int sites() const { return m_sites; }

    // Spins in row-major order (cell L i + j): +1, -1, or 0 for a blank site.
    // After writing them, recount().
    std::span<Spin> spins()
    {
        syncSpins();
        spinsWritten(); // the caller may write them
        return m_spin;
    }
    std::span<const Spin> spins() const
    {
        syncSpins();
        return m_spin;
    }
    void recount();

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
        spinsWritten();
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
    // queue, four 32-bit numbers that decide its four bonds (left, up,
    // right, down): a parallel spin not yet in the cluster joins when its
    // number is below 1 - exp(-2 / (T F)) times 2^32, rounded. Every cluster
    // spin is flipped. TotalMag and Energy stay exact. Returns the spins
    // added (a blank seed adds itself and flips nothing).
    //
    // The bonds' numbers come from four xoshiro256** generators (lanes)
    // advanced side by side, seeded at the lattice's first cluster from four
    // draws of the stream (each spread over a lane's 256 bits by
    // splitmix64). A step of the lanes gives eight 32-bit numbers: lane 0's
    // low half, its high half, lane 1's low half, ..., lane 3's high half;
    // the first four decide one spin's bonds, the next four the next spin's.
    // The spins taken from the queue use them in turn, carrying on from one
    // cluster to the next; they are decided ahead, 256 spins' worth at a
    // time, and those decided before a change of temperature are dropped.
    // The lanes belong to the lattice (a lattice later handed another
    // stream goes on with them); the seed cell still comes from the stream.
    // The same seed thus gives the same clusters.
    std::int64_t wolffCluster(Stream &stream);
    // One Wolff sweep: clusters until the count of spins added since the
    // lattice was made reaches the next multiple of L^2, so that a sweep
    // flips L^2 spins on average. Returns the spins added in this sweep.
    std::int64_t wolffSweep(Stream &stream);
    // Spins added to clusters since the lattice was made.
    std::int64_t wolffSpinsAdded() const { return m_wolffAdded; }
    // Whether clusters are grown, and their bonds decided, with AVX2 (when
    // the processor has it, the default; the clusters are the same either
    // way). Returns whether they now are.
    bool setWolffVector(bool on);

    // Sum of the spins, and minus the sum over the 2 L^2 bonds of the torus of
    // the product of the bond's two spins; kept up to date by every update.
    int TotalMag = 0;
    int Energy = 0;

private:
    friend struct detail::FourLanes;

    // What an attempt needs, copied into locals so that the spin stores
    // cannot make the compiler reload it.
    struct Hot {
        Spin *spin;
        const std::array<std::uint16_t, 4> *neighbours; // null on large lattices
        const float *threshold; // 9 per site, or 9 for every site
        const std::uint64_t *below; // equal factors: integerThreshold, by 9 s + h + 13
        int side;
        int sites;
        double sitesAsDouble;
        double sitesScaled; // L^2 2^-53
        std::uint64_t rowMultiplier; // k / side == (k * rowMultiplier) >> 32 for every cell
    };
    Hot hot()
    {
        syncSpins();
        return hotAsItIs();
    }
    // The same with the spins as they are (stale after sweeps from the site
    // states, which do not read them).
    Hot hotAsItIs()
    {
        return {m_spin.data(),
                m_neighbours.empty() ? nullptr : m_neighbours.data(),
                m_threshold.data(),
                m_below.data(),
                m_size,
                m_sites,
                double(m_sites),
                double(m_sites) * 0x1.0p-53,
                m_rowMultiplier};
    }

    // Tabled: neighbours from the table; PerSite: a threshold table per site.
    template <bool Tabled, bool PerSite, class Source>
    int sweepWith(Source &source)
    {
        if constexpr (!Tabled && !PerSite && std::is_same_v<Source, Random>)
            return sweepStates(source.engine());
        spinsWritten();
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

    // The four neighbours of cell k: from the table, or computed (row i =
    // k / L by one multiplication) where the lattice keeps none.
    template <bool Tabled>
    static Neighbours neighboursOf(const Hot &h, int k)
    {
        if constexpr (Tabled) {
            const auto &t = h.neighbours[k];
            return {t[0], t[1], t[2], t[3]};
        } else {
            const int i = static_cast<int>((static_cast<std::uint64_t>(k) * h.rowMultiplier) >> 32);
            return torusNeighbours(i, k - h.side * i, h.side);
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
        const int change = -2 * s * accepted;
        h.spin[k] = static_cast<Spin>(s + change);
        mag += change;
        energy -= change * field;
        return accepted;
    }

    // The attempt with every factor equal, on the generator's integers: the
    // same decisions as attemptOn's floats. r1 = m1 2^-53 and m1 2^-53 L^2 =
    // m1 (L^2 2^-53) exactly (a power of two only moves the exponent), so
    // one multiplication gives the same rounded product; r2 is decided by
    // m2 < integerThreshold(threshold), indexed by 9 s + h + 13 (s = 0: never
    // below, every draw accepted, as dE = 0 is).
    template <bool Tabled, class Source>
    static int attemptOnBits(const Hot &h, Source &source, int &mag, int &energy)
    {
        const int k = static_cast<int>(static_cast<double>(source.next() >> 11) * h.sitesScaled);
        const Neighbours n = neighboursOf<Tabled>(h, k);
        Spin *const spin = h.spin;
        const int field = spin[n.left] + spin[n.up] + spin[n.right] + spin[n.down];
        const std::uint64_t m2 = source.next() >> 11;
        const int s = spin[k];
        const int accepted = m2 < h.below[9 * s + field + 13];
        const int change = -2 * s * accepted;
        spin[k] = static_cast<Spin>(s + change);
        mag += change;
        energy -= change * field;
        return accepted;
    }

    // The sweep of a large lattice (above TabledSize) with every factor
    // equal, on the generator's integers, from the site states (9 s + h + 13
    // of every site, kept up to date with every flip): the draws and
    // decisions of attemptOnBits, but an attempt that is not accepted reads
    // one byte, one cache line; an accepted one (a branch) computes the
    // neighbours and updates its spin, its state and theirs. Measured here:
    // faster from L = 256 on, slower up to 128, where everything is in the
    // caches and the mispredicted branch costs more than the loads it saves.
    int sweepStates(Xoshiro256 &engine)
    {
        if (!m_statesFresh)
            rebuildStates();
        const Hot h = hotAsItIs();
        std::uint8_t *const state = m_state.data();
        Xoshiro256 random = engine; // its state stays in registers
        int mag = TotalMag, energy = Energy, accepted = 0;
        for (int a = h.sites; a > 0; --a) {
            const int k = static_cast<int>(static_cast<double>(random.next() >> 11) * h.sitesScaled);
            const std::uint64_t m2 = random.next() >> 11;
            const int index = state[k];
            if (m2 < h.below[index]) {
                ++accepted;
                const int s = (index >= 18) - (index < 9); // the state holds the spin: no load
                if (s != 0) {
                    const int i = static_cast<int>((static_cast<std::uint64_t>(k) * h.rowMultiplier) >> 32);
                    const Neighbours n = torusNeighbours(i, k - h.side * i, h.side);
                    const int field = index - 13 - 9 * s;
                    state[k] = static_cast<std::uint8_t>(index - 18 * s);
                    for (const int c : {n.left, n.up, n.right, n.down})
                        state[c] = static_cast<std::uint8_t>(state[c] - 2 * s);
                    mag -= 2 * s;
                    energy += 2 * s * field;
                }
            }
        }
        engine = random;
        TotalMag = mag;
        Energy = energy;
        sweptFrom(Form::States);
        return accepted;
    }
    void rebuildStates();
    // Builds the bits from the spins; false (and no bits) when a site is
    // blank, which one bit cannot hold.
    bool rebuildBits();
    // Whether the bits are fresh, rebuilt if they can be.
    bool bitsReady()
    {
        if (m_bitsState == BitsState::Stale)
            m_bitsState = rebuildBits() ? BitsState::Fresh : BitsState::Blanks;
        return m_bitsState == BitsState::Fresh;
    }

    // The forms the sweeps keep besides the spins.
    enum class Form : std::uint8_t { States, Bits };
    // After sweeps from a form, the spins are read off it when someone needs
    // them: the sweeps write one byte a flip, not five; the other form is
    // stale.
    void sweptFrom(Form form)
    {
        m_spinsStale = true;
        m_staleFrom = form;
        if (form == Form::States)
            m_bitsState = BitsState::Stale;
        else
            m_statesFresh = false;
    }
    void syncSpins() const
    {
        if (m_spinsStale)
            spinsFromForm();
    }
    void spinsFromForm() const;
    // The spins are (or may be) written: neither form is fresh.
    void spinsWritten()
    {
        m_statesFresh = false;
        m_bitsState = BitsState::Stale;
    }

    int m_size;
    int m_sites;
    std::uint64_t m_rowMultiplier;
    // The spins; stale after sweeps from the site states or the bits (the
    // form m_staleFrom, then fresh), until syncSpins.
    mutable std::vector<Spin> m_spin;
    mutable bool m_spinsStale = false;
    Form m_staleFrom = Form::States;
    // 9 s + h + 13 of every site (s its spin, h its neighbours' sum), for
    // sweepStates; rebuilt before a sweep when anything else has written
    // the spins since.
    std::vector<std::uint8_t> m_state;
    bool m_statesFresh = false;
    // One bit a spin, 1 for +1, for FourLanes::sweepBits; rebuilt before a
    // sweep when anything else has written the spins since, and not kept
    // while a site is blank. Row i takes m_bitStride bytes from byte
    // m_bitStride i: bit 0 is a copy of its last spin, bits 1 to L its
    // spins, bit L + 1 a copy of its first, so that the three bits of a
    // site and its left and right neighbours always lie side by side (bit b
    // of a row is bit b % 8 of its byte b / 8). Four bytes to spare after
    // the last row let a site's bits be read as one 32-bit word.
    std::vector<std::uint8_t> m_bits;
    int m_bitStride;
    // Bit b of row i: its byte and its mask.
    struct BitPlace {
        std::size_t byte;
        std::uint8_t mask;
    };
    BitPlace bitPlace(int i, int b) const
    {
        return {std::size_t(m_bitStride) * std::size_t(i) + std::size_t(b / 8), std::uint8_t(1 << (b % 8))};
    }
    enum class BitsState : std::uint8_t { Stale, Fresh, Blanks };
    BitsState m_bitsState = BitsState::Stale;
    // torusNeighbours of every cell, up to TabledSize (8 bytes a site, 128
    // KiB at 128); larger lattices compute them.
public:
    static constexpr int TabledSize = 128;
private:
    std::vector<std::array<std::uint16_t, 4>> m_neighbours;
    // For s h = -4 .. 4 (index s h + 4), the smallest float not below the
    // double metropolisWeight(2 s h, T_k); a float r2 is below the weight
    // exactly when it is below this float. Infinity where dE <= 0.
    std::vector<float> m_threshold;
    // Equal factors: integerThreshold of each threshold, for s = -1, 0, 1
    // and h = -4 .. 4 at 9 s + h + 13.
    std::array<std::uint64_t, 27> m_below {};
    int m_stride = 0;
    // A Wolff bond joins when its 32-bit draw is below this: (1 - exp(-2 /
    // (T F))) 2^32, rounded.
    std::uint64_t m_bondBelow = 0;
    // The Wolff queue; made for the first cluster.
    std::vector<std::int32_t> m_stack;
    std::int64_t m_wolffAdded = 0;
    // The bonds' lanes (word w of lane l at 4 w + l; seeded when
    // m_bondLanesSeeded) and the bonds decided from them ahead of use, for
    // BondSpins spins: m_bondOpen[4 i + d] is -1 when bond d (left, up,
    // right, down) of the i-th spin is open, else 0, every one decided for
    // m_bondMadeFor; m_bondNext is the next spin's i.
    static constexpr int BondSpins = 256;
    alignas(32) std::uint64_t m_bondLanes[16] {};
    alignas(32) std::array<std::int32_t, 4 * BondSpins> m_bondOpen {};
    bool m_bondLanesSeeded = false;
    bool m_bondVector = detail::wolffVectorAvailable();
    int m_bondNext = BondSpins;
    std::uint64_t m_bondMadeFor = 0;
    void decideBonds();
};

// One point of a run: its lattice and its own stream.
struct Chain {
    Chain(int size, std::uint64_t seed) : lattice(size), stream(seed) {}
    // One Metropolis sweep; returns the accepted attempts.
    int sweep() { return lattice.sweep(stream); }
    FastLattice lattice;
    Stream stream;
};

// One Metropolis sweep of every chain (any sizes); accepted[c] receives
// chain c's accepted attempts (accepted.size() == chains.size()). Every chain
// makes exactly the decisions of chain->sweep() alone, whatever chains share
// the call, so a caller with several points can hand them over together and
// the kernel is free to advance them in whatever order runs fastest.
void sweepTogether(std::span<Chain *const> chains, std::span<int> accepted);

} // namespace ferro::engine
