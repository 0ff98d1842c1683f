#include "engine/fourlanes.h"

#include "engine/fourstreams.h"

#include <algorithm>
#include <cstring>

namespace ferro::engine::fourlanes {

#if defined(__x86_64__)

namespace {

// Exactly double(m) for 0 <= m < 2^53: the low 32 bits under the exponent of
// 2^52, the high ones under that of 2^84, both offsets taken off in one exact
// subtraction before the exact sum.
__attribute__((target("avx2"))) inline __m256d toDouble(__m256i m)
{
    const __m256i lowMagic = _mm256_set1_epi64x(0x4330000000000000); // 2^52
    const __m256i highMagic = _mm256_set1_epi64x(0x4530000000000000); // 2^84
    const __m256d offsets = _mm256_set1_pd(0x1.0p84 + 0x1.0p52);
    const __m256d low = _mm256_castsi256_pd(_mm256_blend_epi32(lowMagic, m, 0x55));
    const __m256d high = _mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(m, 32), highMagic));
    return _mm256_add_pd(_mm256_sub_pd(high, offsets), low);
}

// How many iterations (four attempts each, one a lane) ahead of their
// attempts the numbers are drawn (a power of two).
constexpr int Block = 16;

struct Drawn {
    alignas(32) std::uint64_t m2[Block][4];
    alignas(16) std::int32_t k[Block][4];
};

// Draws `count` iterations: per lane r1 then r2, as a solo attempt does.
// Draws the numbers of one iteration into slot b: per lane r1 then r2, as
// a solo attempt does.
__attribute__((target("avx2"), always_inline)) inline void drawInto(FourGenerators &g, Drawn &d, int b, __m256d scaled)
{
    const __m256i m1 = _mm256_srli_epi64(next(g), 11);
    const __m256i m2 = _mm256_srli_epi64(next(g), 11);
    const __m128i k = _mm256_cvttpd_epi32(_mm256_mul_pd(toDouble(m1), scaled));
    _mm_store_si128(reinterpret_cast<__m128i *>(d.k[b]), k);
    _mm256_store_si256(reinterpret_cast<__m256i *>(d.m2[b]), m2);
}

// The four chains' streams in the lanes, lane c holding chain c's; and back.
__attribute__((target("avx2"))) void load(FourGenerators &g, std::span<Chain *const, 4> chains)
{
    alignas(32) std::uint64_t words[16];
    for (int c = 0; c < 4; ++c)
        setLane(words, c, chains[std::size_t(c)]->stream.engine());
    g = loadLanes(words);
}

__attribute__((target("avx2"))) void store(const FourGenerators &g, std::span<Chain *const, 4> chains)
{
    alignas(32) std::uint64_t words[16];
    storeLanes(g, words);
    for (int c = 0; c < 4; ++c)
        chains[std::size_t(c)]->stream.engine() = laneOf(words, c);
}

// What lane c's attempts look up by site code: the integer threshold of its
// chain, and what an accepted attempt adds to the lane's packed sum.
struct LaneTables {
    std::uint64_t below[27];
    std::int64_t change[27];
};

// The packed sum of accepted attempts: their count in bits 0-19, the change
// of the magnetization from bit 20, that of the energy from bit 40 (both
// signed, carried into the field above). Exact for up to 2^16 attempts (a
// sweep up to L = 128; larger lattices empty their sums as often):
// |dM| <= 2^17 and |dE| <= 2^19 fit their fields.
constexpr int MagShift = 20, EnergyShift = 40;
constexpr std::int64_t packed(int accepted, int magnetization, int energy)
{
    return std::int64_t(accepted) + std::int64_t(magnetization) * (std::int64_t(1) << MagShift)
        + std::int64_t(energy) * (std::int64_t(1) << EnergyShift);
}
// One accepted flip of spin s with neighbours' sum h, packed.
constexpr std::int64_t packedFlip(int s, int h)
{
    const FlipChange change = flipChange(s, h);
    return packed(1, change.magnetization, change.energy);
}
struct Totals {
    int accepted, magnetization, energy;
};
constexpr Totals unpacked(std::int64_t sum)
{
    const std::int64_t field = (std::int64_t(1) << MagShift) - 1;
    const std::int64_t accepted = sum & field;
    const std::int64_t rest = (sum - accepted) / (std::int64_t(1) << MagShift);
    const std::int64_t magnetization = ((rest & field) ^ (field + 1) / 2) - (field + 1) / 2;
    return {int(accepted), int(magnetization),
            int((rest - magnetization) / (std::int64_t(1) << (EnergyShift - MagShift)))};
}
// The lanes' totals, taken from their packed sums (which it empties) as
// often as those fill, and handed to the chains at the end of the sweep.
struct LaneTotals {
    Totals lane[4] {};
    void take(std::int64_t &sum0, std::int64_t &sum1, std::int64_t &sum2, std::int64_t &sum3)
    {
        const std::int64_t sums[4] = {sum0, sum1, sum2, sum3};
        for (int c = 0; c < 4; ++c) {
            const Totals t = unpacked(sums[c]);
            lane[c].accepted += t.accepted;
            lane[c].magnetization += t.magnetization;
            lane[c].energy += t.energy;
        }
        sum0 = sum1 = sum2 = sum3 = 0;
    }
    void handTo(std::span<Chain *const, 4> chains, std::span<int, 4> accepted) const
    {
        for (int c = 0; c < 4; ++c) {
            FastLattice &l = chains[std::size_t(c)]->lattice;
            l.TotalMag += lane[c].magnetization;
            l.Energy += lane[c].energy;
            accepted[std::size_t(c)] = lane[c].accepted;
        }
    }
};
static_assert(unpacked(packed(16384, -32768, 131072)).energy == 131072);
static_assert(unpacked(packed(16384, -32768, -131072)).magnetization == -32768);
static_assert(unpacked(packed(3, 32768, -131072)).accepted == 3);

// packedFlip by site code, worked out by the compiler: the tables are made
// for every sweep, which at L = 20 is a few thousand attempts.
constexpr std::array<std::int64_t, SiteCodes> packedFlips()
{
    std::array<std::int64_t, SiteCodes> flips {};
    for (int code = 0; code < SiteCodes; ++code)
        flips[std::size_t(code)] = packedFlip(spinOfCode(code), fieldOfCode(code));
    return flips;
}
constexpr std::array<std::int64_t, SiteCodes> PackedFlips = packedFlips();

LaneTables tablesOf(const std::array<std::uint64_t, SiteCodes> &below)
{
    LaneTables t {};
    for (int code = 0; code < SiteCodes; ++code) {
        t.below[code] = below[std::size_t(code)];
        t.change[code] = PackedFlips[std::size_t(code)];
    }
    return t;
}

// One attempt of lane C: the decision of attemptOnBits, with the new spin
// as (s ^ m) - m (m = 0 or -1, -s when accepted) and the totals' change
// taken from the table under the same mask.
template <int C>
__attribute__((target("avx2"), always_inline)) inline void attemptInLane(Spin *spin, const std::uint64_t *table,
                                                                          const LaneTables *tables, const Drawn &d, int b,
                                                                          std::int64_t &sum)
{
    const std::size_t k = std::uint32_t(d.k[b][C]);
    const auto &t = reinterpret_cast<const std::array<std::uint16_t, 4> *>(table)[k];
    const int field = spin[t[0]] + spin[t[1]] + spin[t[2]] + spin[t[3]];
    const int s = spin[k];
    const std::size_t index = std::size_t(siteCode(s, field));
    const std::int64_t mask = -std::int64_t(acceptedBelow(d.m2[b][C], tables[C].below[index]));
    spin[k] = static_cast<Spin>((s ^ int(mask)) - int(mask));
    sum += tables[C].change[index] & mask;
}

} // namespace

__attribute__((target("avx2"))) void sweepTabled(std::span<Chain *const, 4> chains, std::span<int, 4> accepted)
{
    const FastLattice &first = chains[0]->lattice;
    const int sites = first.sites();
    const auto *const table = reinterpret_cast<const std::uint64_t *>(first.neighbourTable());
    LaneTables tables[4];
    Spin *spins[4];
    for (int c = 0; c < 4; ++c) {
        FastLattice &l = chains[std::size_t(c)]->lattice;
        spins[c] = l.spinsToSweep().data();
        tables[c] = tablesOf(l.integerThresholds());
    }
    Spin *const spin0 = spins[0], *const spin1 = spins[1], *const spin2 = spins[2], *const spin3 = spins[3];
    std::int64_t sum0 = 0, sum1 = 0, sum2 = 0, sum3 = 0;
    FourGenerators g;
    load(g, chains);
    const __m256d scaled = _mm256_set1_pd(double(sites) * 0x1.0p-53);
    // The numbers are drawn Block iterations ahead, in the loop that uses
    // them, so that the vector unit draws while the attempts run: drawn in
    // a loop of their own, the two took the sum of their times.
    Drawn d;
    for (int b = 0; b < std::min(Block, sites); ++b)
        drawInto(g, d, b, scaled);
    for (int a = 0; a < sites; ++a) {
        const int b = a & (Block - 1);
        attemptInLane<0>(spin0, table, tables, d, b, sum0);
        attemptInLane<1>(spin1, table, tables, d, b, sum1);
        attemptInLane<2>(spin2, table, tables, d, b, sum2);
        attemptInLane<3>(spin3, table, tables, d, b, sum3);
        if (a + Block < sites)
            drawInto(g, d, b, scaled);
    }
    store(g, chains);
    LaneTotals totals;
    totals.take(sum0, sum1, sum2, sum3);
    totals.handTo(chains, accepted);
}

namespace {

// Asks for the cache line at this address. Written out: the compiler here
// dropped the prefetches of its builtin from this loop.
inline void fetchLine(std::uintptr_t address)
{
    asm volatile("prefetcht0 (%0)" : : "r"(address));
}

// What every lane's accepted attempt does by the site's code: the site's
// new code (its spin turned) and what every neighbour's code loses (2 s).
// Read from a table: computed, they took more time than the two loads.
struct Turn {
    std::uint8_t state[SiteCodes];
    std::int8_t twice[SiteCodes];
};
constexpr Turn turn()
{
    Turn t {};
    for (int code = 0; code < SiteCodes; ++code) {
        t.state[code] = std::uint8_t(turnedCode(code));
        t.twice[code] = std::int8_t(2 * spinOfCode(code));
    }
    return t;
}
constexpr Turn Turns = turn();

// One attempt of a lane from the site states: the draws and decisions of
// sweepStates; the neighbours from the table up to TabledSize, computed
// above. The neighbours are written out one by one: gathered into an
// array, they went through memory.
template <bool Tabled>
__attribute__((always_inline)) inline void stateAttempt(std::uint8_t *state, const LaneTables &tables, std::int64_t &sum,
                                                       int k, std::uint64_t m2, const NeighbourCells *table,
                                                       const CellRows &rows)
{
    const int index = state[k];
    if (acceptedBelow(m2, tables.below[index])) {
        int left, up, right, down;
        if constexpr (Tabled) {
            const auto &t = table[k];
            left = t[0];
            up = t[1];
            right = t[2];
            down = t[3];
        } else {
            const Neighbours n = rows.neighboursOf(k);
            left = n.left;
            up = n.up;
            right = n.right;
            down = n.down;
        }
        // A blank site (s = 0) keeps its state, and so do its neighbours.
        const int twice = Turns.twice[index];
        state[k] = Turns.state[index];
        state[left] = static_cast<std::uint8_t>(state[left] - twice);
        state[up] = static_cast<std::uint8_t>(state[up] - twice);
        state[right] = static_cast<std::uint8_t>(state[right] - twice);
        state[down] = static_cast<std::uint8_t>(state[down] - twice);
        sum += tables.change[index];
    }
}

template <bool Tabled>
__attribute__((target("avx2"))) void sweepFromStates(std::span<Chain *const, 4> chains, std::span<int, 4> accepted,
                                                     std::uint8_t *const (&states)[4], const LaneTables (&tables)[4],
                                                     const NeighbourCells *table, const CellRows rows)
{
    const int sites = chains[0]->lattice.sites();
    FourGenerators g;
    load(g, chains);
    const __m256d scaled = _mm256_set1_pd(double(sites) * 0x1.0p-53);
    Drawn d;
    // Lattices whose four states outgrow the second-level cache (512 KiB
    // here): the line of a site is fetched when its numbers are drawn,
    // Block iterations before its attempt. Smaller ones ran slower with it.
    const bool far = !Tabled && 4 * std::size_t(sites) > (std::size_t(1) << 19);
    auto fetch = [&](int b) {
        if (far)
            for (int c = 0; c < 4; ++c)
                fetchLine(reinterpret_cast<std::uintptr_t>(states[c]) + std::uintptr_t(d.k[b][c]));
    };
    for (int b = 0; b < std::min(Block, sites); ++b) {
        drawInto(g, d, b, scaled);
        fetch(b);
    }
    LaneTotals totals;
    std::int64_t sum0 = 0, sum1 = 0, sum2 = 0, sum3 = 0;
    for (int a = 0; a < sites; ++a) {
        const int b = a & (Block - 1);
        stateAttempt<Tabled>(states[0], tables[0], sum0, d.k[b][0], d.m2[b][0], table, rows);
        stateAttempt<Tabled>(states[1], tables[1], sum1, d.k[b][1], d.m2[b][1], table, rows);
        stateAttempt<Tabled>(states[2], tables[2], sum2, d.k[b][2], d.m2[b][2], table, rows);
        stateAttempt<Tabled>(states[3], tables[3], sum3, d.k[b][3], d.m2[b][3], table, rows);
        if (a + Block < sites) {
            drawInto(g, d, b, scaled);
            fetch(b);
        }
        if ((a & 0xFFFF) == 0xFFFF) // the packed sums hold 2^16 attempts
            totals.take(sum0, sum1, sum2, sum3);
    }
    totals.take(sum0, sum1, sum2, sum3);
    store(g, chains);
    totals.handTo(chains, accepted);
}

} // namespace

void sweepStates(std::span<Chain *const, 4> chains, std::span<int, 4> accepted)
{
    std::uint8_t *states[4];
    LaneTables tables[4];
    for (int c = 0; c < 4; ++c) {
        FastLattice &l = chains[std::size_t(c)]->lattice;
        states[c] = l.statesToSweep().data();
        tables[c] = tablesOf(l.integerThresholds());
    }
    const FastLattice &first = chains[0]->lattice;
    if (const NeighbourCells *table = first.neighbourTable())
        sweepFromStates<true>(chains, accepted, states, tables, table, first.rows());
    else
        sweepFromStates<false>(chains, accepted, states, tables, nullptr, first.rows());
}

namespace {

// What lane c's attempts look up by the five bits of a site and its
// neighbours (bit 0 the left one, 1 the site, 2 the right one, 3 the one
// above, 4 the one below; 1 for +1): the integer threshold of its chain,
// and what an accepted attempt adds to the lane's packed sum.
struct BitTables {
    std::uint64_t below[32];
    std::int64_t change[32];
};

BitTables bitTablesOf(const std::array<std::uint64_t, SiteCodes> &below)
{
    BitTables t {};
    for (int key = 0; key < 32; ++key) {
        auto spin = [key](int bit) { return (key >> bit) & 1 ? 1 : -1; };
        const int s = spin(1), h = spin(0) + spin(2) + spin(3) + spin(4);
        t.below[key] = below[std::size_t(siteCode(s, h))];
        t.change[key] = packedFlip(s, h);
    }
    return t;
}

inline std::uint32_t load32(std::uintptr_t address)
{
    std::uint32_t w;
    std::memcpy(&w, reinterpret_cast<const void *>(address), sizeof w);
    return w;
}

// What the vector unit works out ahead for an attempt from the bits, one
// lane a column: the generator's r2 bits; the address of the byte that
// holds the bit of the site's left neighbour in its row, and of the same
// byte in the rows above and below; the position of the left neighbour's
// bit in that byte (the site's and its right neighbour's follow it); and
// whether the site is the first (1) or last (2) of its row, whose copy at
// the other end turns with it.
struct BitDrawn {
    alignas(32) std::uint64_t m2[Block][4];
    alignas(32) std::uint64_t here[Block][4];
    alignas(32) std::uint64_t up[Block][4];
    alignas(32) std::uint64_t down[Block][4];
    alignas(16) std::int32_t shift[Block][4];
    alignas(16) std::int32_t end[Block][4];
};

// The lattice's shape, in every lane.
struct BitShape {
    __m256i bases; // the four lattices' bits
    __m256d sites; // L^2 2^-53
    __m256d inverseSide; // 1 / L
    __m128i side, stride, lastRow, lastIndex;
};

// Draws an iteration's numbers into slot b, as drawInto, and works out
// their addresses. The row i = floor((k + 1/2) / L) is exact in doubles:
// (k + 1/2) / L lies at least 1 / (2 L) from an integer, and the product
// by the rounded 1 / L errs by less than k 2^-52 < 2^-32.
__attribute__((target("avx2"), always_inline)) inline void drawBits(FourGenerators &g, BitDrawn &d, int b,
                                                                  const BitShape &shape)
{
    const __m256i m1 = _mm256_srli_epi64(next(g), 11);
    const __m256i m2 = _mm256_srli_epi64(next(g), 11);
    const __m256d k = _mm256_round_pd(_mm256_mul_pd(toDouble(m1), shape.sites), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m128i row = _mm256_cvttpd_epi32(
        _mm256_mul_pd(_mm256_add_pd(k, _mm256_set1_pd(0.5)), shape.inverseSide));
    const __m128i column = _mm_sub_epi32(_mm256_cvttpd_epi32(k), _mm_mullo_epi32(row, shape.side));
    const __m128i here = _mm_add_epi32(_mm_mullo_epi32(row, shape.stride), _mm_srli_epi32(column, 3));
    const __m128i first = _mm_cmpeq_epi32(row, _mm_setzero_si128());
    const __m128i last = _mm_cmpeq_epi32(row, shape.lastIndex);
    const __m128i up = _mm_blendv_epi8(_mm_sub_epi32(here, shape.stride), _mm_add_epi32(here, shape.lastRow), first);
    const __m128i down = _mm_blendv_epi8(_mm_add_epi32(here, shape.stride), _mm_sub_epi32(here, shape.lastRow), last);
    const __m128i one = _mm_set1_epi32(1);
    const __m128i end = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi32(column, _mm_setzero_si128()), one),
                                     _mm_and_si128(_mm_cmpeq_epi32(_mm_add_epi32(column, one), shape.side),
                                                   _mm_set1_epi32(2)));
    _mm256_store_si256(reinterpret_cast<__m256i *>(d.m2[b]), m2);
    _mm256_store_si256(reinterpret_cast<__m256i *>(d.here[b]), _mm256_add_epi64(shape.bases, _mm256_cvtepu32_epi64(here)));
    _mm256_store_si256(reinterpret_cast<__m256i *>(d.up[b]), _mm256_add_epi64(shape.bases, _mm256_cvtepu32_epi64(up)));
    _mm256_store_si256(reinterpret_cast<__m256i *>(d.down[b]), _mm256_add_epi64(shape.bases, _mm256_cvtepu32_epi64(down)));
    _mm_store_si128(reinterpret_cast<__m128i *>(d.shift[b]), _mm_and_si128(column, _mm_set1_epi32(7)));
    _mm_store_si128(reinterpret_cast<__m128i *>(d.end[b]), end);
}

// One attempt of lane C from the bits: the decision of sweepStates. The
// site's bit is turned under the decision's mask, and a site at either end
// of its row also turns its copy at the other end (a branch taken about
// once in 2 L / 5 attempts).
template <int C>
__attribute__((always_inline)) inline void bitAttempt(const BitDrawn &d, int b, const BitTables *tables,
                                                     std::int64_t &sum, int side)
{
    const std::uintptr_t here = d.here[b][C];
    const unsigned shift = unsigned(d.shift[b][C]);
    const std::uint32_t word = load32(here);
    const std::uint32_t key = ((word >> shift) & 7) | (((load32(d.up[b][C]) >> shift) & 2) << 2)
        | (((load32(d.down[b][C]) >> shift) & 2) << 3);
    const std::int64_t mask = -std::int64_t(acceptedBelow(d.m2[b][C], tables[C].below[key]));
    const std::uint32_t turned = word ^ ((std::uint32_t(mask) & 2) << shift);
    std::memcpy(reinterpret_cast<void *>(here), &turned, sizeof turned);
    if (d.end[b][C] != 0 && mask != 0) {
        auto *const bytes = reinterpret_cast<std::uint8_t *>(here);
        if (d.end[b][C] == 1) // the first: its copy is bit L + 1
            bytes[(side + 1) >> 3] = std::uint8_t(bytes[(side + 1) >> 3] ^ (1 << ((side + 1) & 7)));
        else // the last: its copy is bit 0, at the row's first byte
            bytes[-((side - 1) >> 3)] = std::uint8_t(bytes[-((side - 1) >> 3)] ^ 1);
    }
    sum += tables[C].change[key] & mask;
}

} // namespace

__attribute__((target("avx2"))) bool sweepBits(std::span<Chain *const, 4> chains, std::span<int, 4> accepted)
{
    SpinBits *bits[4];
    for (int c = 0; c < 4; ++c)
        if (!(bits[c] = chains[std::size_t(c)]->lattice.bitsToSweep()))
            return false;
    BitTables tables[4];
    alignas(32) std::uint64_t bases[4];
    for (int c = 0; c < 4; ++c) {
        tables[c] = bitTablesOf(chains[std::size_t(c)]->lattice.integerThresholds());
        bases[c] = reinterpret_cast<std::uintptr_t>(bits[c]->data());
    }
    const FastLattice &first = chains[0]->lattice;
    const int sites = first.sites(), side = first.size(), stride = bits[0]->stride();
    const BitShape shape {_mm256_load_si256(reinterpret_cast<const __m256i *>(bases)),
                          _mm256_set1_pd(double(sites) * 0x1.0p-53),
                          _mm256_set1_pd(1.0 / side),
                          _mm_set1_epi32(side),
                          _mm_set1_epi32(stride),
                          _mm_set1_epi32(stride * (side - 1)),
                          _mm_set1_epi32(side - 1)};
    FourGenerators g;
    load(g, chains);
    BitDrawn d;
    // Lattices whose four bit arrays fill more than three quarters of the
    // second-level cache (512 KiB here, from L = 886): the line of a site's
    // word is fetched FetchAhead iterations before its attempt. Measured
    // here at L = 1024: 10 to 15 % faster; fetched 8 or more iterations
    // ahead, or with the lines above and below as well, no faster; at
    // L = 512 and 724, a few per cent slower.
    const bool far = 4 * bits[0]->bytes() > (std::size_t(3) << 17);
    constexpr int FetchAhead = 4;
    for (int b = 0; b < std::min(Block, sites); ++b)
        drawBits(g, d, b, shape);
    LaneTotals totals;
    std::int64_t sum0 = 0, sum1 = 0, sum2 = 0, sum3 = 0;
    for (int a = 0; a < sites; ++a) {
        const int b = a & (Block - 1);
        bitAttempt<0>(d, b, tables, sum0, side);
        bitAttempt<1>(d, b, tables, sum1, side);
        bitAttempt<2>(d, b, tables, sum2, side);
        bitAttempt<3>(d, b, tables, sum3, side);
        if (a + Block < sites)
            drawBits(g, d, b, shape);
        if (far)
            for (int c = 0; c < 4; ++c)
                fetchLine(d.here[(b + FetchAhead) & (Block - 1)][c]);
        if ((a & 0xFFFF) == 0xFFFF) // the packed sums hold 2^16 attempts
            totals.take(sum0, sum1, sum2, sum3);
    }
    totals.take(sum0, sum1, sum2, sum3);
    store(g, chains);
    totals.handTo(chains, accepted);
    return true;
}

#else

void sweepTabled(std::span<Chain *const, 4>, std::span<int, 4>) {}
void sweepStates(std::span<Chain *const, 4>, std::span<int, 4>) {}
bool sweepBits(std::span<Chain *const, 4>, std::span<int, 4>) { return false; }

#endif

} // namespace ferro::engine::fourlanes
