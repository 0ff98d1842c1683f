#pragma once
// The checkerboard Metropolis update: an L x L torus (L even, 2 to
// CheckerboardMaximumSize) of one bit a spin, swept in sublattice order, 64
// spins a machine word (256 a vector register where the processor has AVX2).
// Standard C++ and, on x86-64, AVX2 intrinsics.
//
// Layout. Site (i, j) has colour (i + j) % 2. Row i of colour c holds its L / 2
// sites j = 2 k + (i + c) % 2 as bits k = 0 .. L/2 - 1 (bit k % 64 of word k /
// 64, words() words a row, the bits past L / 2 kept zero), 1 for spin +1. A
// site's up and down neighbours are bit k of the other colour's rows i - 1
// and i + 1; its left and right ones bits k and k - 1 (when (i + c) is even)
// or k and k + 1 (when odd) of the other colour's row i, wrapped at the row's
// ends. Memory: L^2 / 8 bytes of bits (32 MiB at L = 16384), 24 KiB of
// scratch and 128 bytes of generators per band (16 bands at most).
//
// One sweep: every site of colour 0 ((i + j) even), then every site of colour
// 1; a half-sweep reads only the other colour, so its sites are decided in
// any order. Each spin is flipped with probability exactly min(1, exp(-dE /
// T)) at T = T F (every site factor F equal; differing factors are refused by
// the batch program). The class of dE of every spin in a word comes from its
// four neighbours through bitwise adders: dE <= 0 (two or more neighbours
// antiparallel: always flipped), dE = 4 (one) or dE = 8 (none).
//
// Acceptance. A spin with dE = 4 or 8 flips when its uniform 64-bit number u
// is below the threshold P = ceil(p 2^64) of p = exp(-dE / T) (thresholdBits),
// i.e. exactly when u 2^-64 < p for the double p; the flip probability is P
// 2^-64, equal to p for p >= 2^-11 (p 2^64 is then an integer) and within
// 2^-64 of it below. That is finer than the Metropolis threshold tables of
// FastLattice, which round the weight to a float (24-bit significand, up to
// 2^-25 off) and compare 53-bit integers with it. u is never drawn whole: its
// bits are compared with P's most significant first, one random word per bit
// position serving 64 spins at once (bit l of the word is bit t of lane l's u),
// and the comparison stops as soon as every spin is decided (the first bit
// where u and P differ decides u < P; equal in all 64 bits, u = P, is not
// below). Words are taken four at a time (a block of 256 spins, the width of
// an AVX2 register): word l of a block (l = 0 .. 3) draws from lane l of the
// band's four xoshiro256** generators (fourstreams.h layout), all four lanes
// step once per bit position until all 256 spins of the block are decided,
// about log2(256) + 2 steps per block. Blocks run over the words of a band's
// rows of one colour in memory order (row after row), the last block of a
// band padded with words that need nothing.
//
// Bands. The rows split into bandsOf(L) bands of consecutive rows (a number
// that depends on L only), each with its own four lanes seeded from the
// point's stream and the band's index, so that the bands of a half-sweep may
// run in any order, or side by side, with the same result.

#include "engine/updates.h"
#include "stdruntime/random.h"

#include <array>
#include <barrier>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace ferro::engine {

// ceil(p 2^64) for 0 <= p < 1, the 64-bit integer threshold of a
// probability: for every 64-bit u, u < thresholdBits(p) exactly when
// u 2^-64 < p. (p >= 1 has no such threshold: such a spin always flips.)
std::uint64_t thresholdBits(double p);

// The two thresholds of a temperature, for dE = 4 and dE = 8; `always` where
// the probability is 1.
struct CheckerThresholds {
    std::uint64_t four = 0, eight = 0;
    bool fourAlways = false, eightAlways = false;
};
CheckerThresholds checkerThresholds(double temperature);

// The bit-serial comparison of one block of four words: lanes set in one[l]
// compare their u with t.four, lanes set in zero[l] with t.eight (one and
// zero disjoint, neither `always`). draw(r) fills r[0..3] with the next random
// word of each of the four lanes, most significant bit position first; it is
// called once per bit position until every lane is decided. below[l] gets the
// lanes whose u is below their threshold. Returns the bit positions drawn.
template <class Draw>
int compareBlock(const std::uint64_t *one, const std::uint64_t *zero, const CheckerThresholds &t, Draw &&draw,
                 std::uint64_t *below)
{
    std::uint64_t open[4], taken[4] = {0, 0, 0, 0};
    for (int l = 0; l < 4; ++l)
        open[l] = one[l] | zero[l];
    int drawn = 0;
    for (int b = 63; b >= 0 && (open[0] | open[1] | open[2] | open[3]); --b) {
        std::uint64_t r[4];
        draw(r);
        ++drawn;
        const std::uint64_t m4 = 0 - ((t.four >> b) & 1), m8 = 0 - ((t.eight >> b) & 1);
        for (int l = 0; l < 4; ++l) {
            const std::uint64_t threshold = (one[l] & m4) | (zero[l] & m8);
            taken[l] |= open[l] & threshold & ~r[l]; // u's bit 0 where P's is 1: below
            open[l] &= ~(threshold ^ r[l]); // still equal: undecided
        }
    }
    for (int l = 0; l < 4; ++l)
        below[l] = taken[l];
    return drawn;
}

class CheckerboardLattice {
public:
    // An L x L torus of down spins, L even from MinimumSize to
    // CheckerboardMaximumSize (std::invalid_argument otherwise), its lanes
    // unseeded until a start.
    explicit CheckerboardLattice(int size);
    ~CheckerboardLattice();
    CheckerboardLattice(const CheckerboardLattice &) = delete;
    CheckerboardLattice &operator=(const CheckerboardLattice &) = delete;

    int size() const { return m_size; }
    std::int64_t sites() const { return std::int64_t(m_size) * m_size; }
    // Words of one colour's row.
    int words() const { return m_words; }
    // The bytes the lattice holds (bits, scratch, generators).
    std::size_t bytes() const;

    // The starting states from the point's stream, each followed by the
    // seeding of the bands' lanes (seedLanes). T = 0: one draw r (as a
    // float), every spin up when r < 0.5, else down. T = infinity: each
    // spin one bit of the stream's 64-bit numbers, row after row, 64 sites
    // of a row a number (bit j % 64 of number j / 64 for site j).
    void startOrdered(Random &stream);
    void startRandom(Random &stream);
    // Band b's lane l is seeded from the stream's next number x as
    // splitmix64 of streamSeed(x, 4 b + l) (chain.h), four times.
    void seedLanes(Random &stream);

    // The flip probabilities at this temperature (T F, the site temperature).
    void setTemperature(double siteTemperature);
    const CheckerThresholds &thresholds() const { return m_thresholds; }

    // One sweep: colour 0, then colour 1. Returns the spins flipped.
    std::int64_t sweep();
    // Sweeps on this many threads (the caller's and threads - 1 workers
    // kept until the next call or the end), band b on thread b % threads,
    // with a barrier after each half-sweep; at most bands() are used. The
    // flips are the same for any count.
    void setThreads(int threads);
    // Whether the sweeps use AVX2 (the processor's choice by default; the
    // portable words make the same flips). Returns whether they now do.
    bool setVector(bool on);

    // Spin (i, j), +1 or -1; writing spins needs a recount() after.
    int spin(int i, int j) const;
    void setSpin(int i, int j, int s);
    void recount();
    // The sums of the rows and of the columns of the spins (L each), for the
    // Fourier mode: a row's by counting both colours' bits; the columns by
    // countColumns over one colour of the even rows and the other of the odd
    // ones, the even columns and the odd apart.
    void lineSums(std::span<int> rows, std::span<int> columns) const;

    // The bands: how many for this L, and the first row of band b (band b
    // has rows bandStart(b) .. bandStart(b + 1) - 1).
    static int bandsOf(int size);
    int bands() const { return m_bands; }
    int bandStart(int b) const { return int(std::int64_t(b) * m_size / m_bands); }
    // Band b's four generators (lane l is lane l of fourstreams.h).
    std::array<Xoshiro256, 4> lanes(int b) const;

    // Sum of the spins, and minus the sum over the 2 L^2 bonds of the
    // products of their spins; kept exact by every sweep.
    std::int64_t TotalMag = 0;
    std::int64_t Energy = 0;

private:
    // Colour c's rows of band b, updated from the other colour's. Adds to
    // the totals; returns the flips.
    std::int64_t halfSweepBand(int c, int b, std::int64_t &mag, std::int64_t &energy);

    int m_size;
    int m_half;  // L / 2: bits in a row of one colour
    int m_words; // words in a row of one colour
    int m_bands;
    std::uint64_t m_lastMask; // the bits of a row's last word that are sites
    std::vector<std::uint64_t> m_bits[2];
    CheckerThresholds m_thresholds;
    bool m_vector;
    // Per band: its lanes (16 words, aligned), its scratch.
    std::vector<std::uint64_t> m_laneWords; // 16 per band, from a 32-byte boundary
    std::size_t m_laneOffset = 0;
    std::vector<std::uint64_t> m_scratch;   // per band: 3 ChunkWords
    int m_chunkRows;
    // The workers of setThreads and what each thread adds in a sweep.
    struct Part {
        std::int64_t flipped = 0, mag = 0, energy = 0;
        char pad[40]; // a cache line each
    };
    void sweepPart(int t, int threads);
    void stopWorkers();
    std::vector<std::thread> m_workers;
    std::unique_ptr<std::barrier<>> m_barrier;
    std::vector<Part> m_parts;
    bool m_quit = false;
};

} // namespace ferro::engine
