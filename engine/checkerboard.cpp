#include "engine/checkerboard.h"

#include "engine/chain.h"
#include "engine/columncounts.h"
#include "engine/cpu.h"
#include "engine/fourstreams.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>

namespace ferro::engine {

std::uint64_t thresholdBits(double p)
{
    if (!(p > 0))
        return 0;
    // p 2^64 is exact (a power of two moves the exponent only) and below
    // 2^64 - 2^10 for p < 1; ceil leaves it exact, and for an integer u,
    // u < x exactly when u < ceil(x).
    return static_cast<std::uint64_t>(std::ceil(std::ldexp(p, 64)));
}

CheckerThresholds checkerThresholds(double temperature)
{
    CheckerThresholds t;
    const double p4 = std::exp(4 * (-1.0 / temperature)); // metropolisWeight(4, T)
    const double p8 = std::exp(8 * (-1.0 / temperature));
    t.fourAlways = !(p4 < 1);
    t.eightAlways = !(p8 < 1);
    t.four = t.fourAlways ? 0 : thresholdBits(p4);
    t.eight = t.eightAlways ? 0 : thresholdBits(p8);
    return t;
}

namespace {

// Rows of a chunk: scratch for about this many words at a time.
constexpr int ChunkTarget = 1024;

// The even bits of x packed into its low half.
std::uint64_t evenBits(std::uint64_t x)
{
    x &= 0x5555555555555555ULL;
    x = (x | (x >> 1)) & 0x3333333333333333ULL;
    x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0FULL;
    x = (x | (x >> 4)) & 0x00FF00FF00FF00FFULL;
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
    x = (x | (x >> 16)) & 0x00000000FFFFFFFFULL;
    return x;
}

// What a row of one colour reads of its neighbours.
struct Row {
    const std::uint64_t *me, *up, *down, *same; // same: the other colour's row i
    bool next; // the side neighbour is k + 1 (else k - 1)
};

// Bits k - 1 and k + 1 of the other colour's row i at bit k of word w, wrapped
// at the row's ends (the row has `half` bits in `words` words, zero above).
inline std::uint64_t previousBits(const std::uint64_t *o, int w, int words, int half)
{
    return (o[w] << 1) | (w > 0 ? o[w - 1] >> 63 : (o[words - 1] >> ((half - 1) & 63)) & 1);
}
inline std::uint64_t nextBits(const std::uint64_t *o, int w, int words, int half)
{
    return (o[w] >> 1) | (w < words - 1 ? o[w + 1] << 63 : (o[0] & 1) << ((half - 1) & 63));
}

// The classes of a word of spins s with neighbours a, b, c, d: sure (two or
// more antiparallel: dE <= 0), one (one antiparallel: dE = 4), zero (none:
// dE = 8), each within `valid`. Returns the energy the sure flips change:
// 8 - 4 (antiparallel), -4 for three and -8 for four.
inline std::int64_t classify(std::uint64_t s, std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                             std::uint64_t valid, std::uint64_t &sure, std::uint64_t &one, std::uint64_t &zero)
{
    const std::uint64_t x1 = s ^ a, x2 = s ^ b, x3 = s ^ c, x4 = s ^ d;
    const std::uint64_t s1 = x1 ^ x2, c1 = x1 & x2, s2 = x3 ^ x4, c2 = x3 & x4; // two half adders
    sure = (c1 | c2 | (s1 & s2)) & valid;
    one = (s1 ^ s2) & ~(c1 | c2) & valid;
    zero = ~(s1 | s2 | c1 | c2) & valid;
    const std::uint64_t threeOrMore = ((c1 & (s2 | c2)) | (c2 & s1)) & valid, four = c1 & c2 & valid;
    return -4 * std::int64_t(std::popcount(threeOrMore) + std::popcount(four));
}

#if defined(__x86_64__)

__attribute__((target("avx2"), always_inline)) inline __m256i countBytes(__m256i v)
{
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1,
                                           2, 2, 3, 2, 3, 3, 4);
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_and_si256(v, low), hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), low);
    return _mm256_add_epi8(_mm256_shuffle_epi8(table, lo), _mm256_shuffle_epi8(table, hi));
}
// Adds the set bits of v to the four 64-bit counters of sum.
__attribute__((target("avx2"), always_inline)) inline __m256i addCount(__m256i sum, __m256i v)
{
    return _mm256_add_epi64(sum, _mm256_sad_epu8(countBytes(v), _mm256_setzero_si256()));
}
__attribute__((target("avx2"), always_inline)) inline std::int64_t total(__m256i sum)
{
    alignas(32) std::int64_t c[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(c), sum);
    return c[0] + c[1] + c[2] + c[3];
}

__attribute__((target("avx2"), always_inline)) inline __m256i loadAt(const std::uint64_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// classify on four words.
__attribute__((target("avx2"), always_inline)) inline void classify4(__m256i s, __m256i a, __m256i b, __m256i c,
                                                                     __m256i d, __m256i &sure, __m256i &one,
                                                                     __m256i &zero, __m256i &down)
{
    const __m256i x1 = _mm256_xor_si256(s, a), x2 = _mm256_xor_si256(s, b);
    const __m256i x3 = _mm256_xor_si256(s, c), x4 = _mm256_xor_si256(s, d);
    const __m256i s1 = _mm256_xor_si256(x1, x2), c1 = _mm256_and_si256(x1, x2);
    const __m256i s2 = _mm256_xor_si256(x3, x4), c2 = _mm256_and_si256(x3, x4);
    const __m256i carry = _mm256_or_si256(c1, c2);
    sure = _mm256_or_si256(carry, _mm256_and_si256(s1, s2));
    one = _mm256_andnot_si256(carry, _mm256_xor_si256(s1, s2));
    zero = _mm256_andnot_si256(_mm256_or_si256(_mm256_or_si256(s1, s2), carry), _mm256_set1_epi64x(-1));
    const __m256i three = _mm256_or_si256(_mm256_and_si256(c1, _mm256_or_si256(s2, c2)), _mm256_and_si256(c2, s1));
    down = addCount(addCount(down, three), _mm256_and_si256(c1, c2));
}

// The interior words [from, to) of a row (neither its first nor its last
// word: every bit a site, the side neighbours one word away) into the scratch
// at out; returns the energy of the sure flips.
__attribute__((target("avx2"))) std::int64_t classifyRowVector(const Row &r, int from, int to, std::uint64_t *sure,
                                                                std::uint64_t *one, std::uint64_t *zero, int &done)
{
    __m256i down = _mm256_setzero_si256();
    int w = from;
    for (; w + 4 <= to; w += 4) {
        const __m256i same = loadAt(r.same + w);
        const __m256i side = r.next ? _mm256_or_si256(_mm256_srli_epi64(same, 1), _mm256_slli_epi64(loadAt(r.same + w + 1), 63))
                                    : _mm256_or_si256(_mm256_slli_epi64(same, 1), _mm256_srli_epi64(loadAt(r.same + w - 1), 63));
        __m256i s, o, z;
        classify4(loadAt(r.me + w), loadAt(r.up + w), loadAt(r.down + w), same, side, s, o, z, down);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sure + w), s);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(one + w), o);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(zero + w), z);
    }
    done = w;
    return -4 * total(down);
}

// The blocks of a chunk (count words from `spins`, scratch padded to a
// multiple of 4) with the band's lanes: the AVX2 form of decideBlocks.
__attribute__((target("avx2"))) std::int64_t decideVector(std::uint64_t *spins, int count, const std::uint64_t *sure,
                                                           const std::uint64_t *one, const std::uint64_t *zero,
                                                           const CheckerThresholds &t, std::uint64_t *laneWords,
                                                           std::int64_t &mag, std::int64_t &energy)
{
    FourGenerators g = loadLanes(laneWords);
    __m256i flips = _mm256_setzero_si256(), upFlips = _mm256_setzero_si256();
    __m256i ones = _mm256_setzero_si256(), takens = _mm256_setzero_si256();
    for (int n = 0; n < count; n += 4) {
        const __m256i o = _mm256_load_si256(reinterpret_cast<const __m256i *>(one + n));
        const __m256i z = _mm256_load_si256(reinterpret_cast<const __m256i *>(zero + n));
        __m256i open = _mm256_or_si256(o, z), taken = _mm256_setzero_si256();
        for (int b = 63; b >= 0 && !_mm256_testz_si256(open, open); --b) {
            const __m256i r = next(g);
            const __m256i m4 = _mm256_set1_epi64x(std::int64_t(0 - ((t.four >> b) & 1)));
            const __m256i m8 = _mm256_set1_epi64x(std::int64_t(0 - ((t.eight >> b) & 1)));
            const __m256i threshold = _mm256_or_si256(_mm256_and_si256(o, m4), _mm256_and_si256(z, m8));
            taken = _mm256_or_si256(taken, _mm256_andnot_si256(r, _mm256_and_si256(open, threshold)));
            open = _mm256_andnot_si256(_mm256_xor_si256(threshold, r), open);
        }
        const __m256i f = _mm256_or_si256(_mm256_load_si256(reinterpret_cast<const __m256i *>(sure + n)), taken);
        flips = addCount(flips, f);
        ones = addCount(ones, _mm256_and_si256(taken, o));
        takens = addCount(takens, taken);
        if (n + 4 <= count) {
            __m256i *p = reinterpret_cast<__m256i *>(spins + n);
            const __m256i s = _mm256_loadu_si256(p);
            upFlips = addCount(upFlips, _mm256_and_si256(f, s));
            _mm256_storeu_si256(p, _mm256_xor_si256(s, f));
        } else { // the padded last block: its words past count are not this chunk's
            alignas(32) std::uint64_t fw[4];
            _mm256_store_si256(reinterpret_cast<__m256i *>(fw), f);
            for (int l = 0; n + l < count; ++l) {
                upFlips = addCount(upFlips, _mm256_setr_epi64x(std::int64_t(fw[l] & spins[n + l]), 0, 0, 0));
                spins[n + l] ^= fw[l];
            }
        }
    }
    storeLanes(g, laneWords);
    const std::int64_t flipped = total(flips), up = total(upFlips), fourFlips = total(ones);
    mag += 2 * (flipped - 2 * up);
    energy += 4 * fourFlips + 8 * (total(takens) - fourFlips);
    return flipped;
}

#endif

// The portable blocks of a chunk: spins[0 .. count) get their flips.
std::int64_t decidePortable(std::uint64_t *spins, int count, const std::uint64_t *sure, const std::uint64_t *one,
                            const std::uint64_t *zero, const CheckerThresholds &t, std::uint64_t *laneWords,
                            std::int64_t &mag, std::int64_t &energy)
{
    Xoshiro256 lane[4];
    for (int l = 0; l < 4; ++l)
        lane[l] = laneOf(laneWords, l);
    std::int64_t flipped = 0, up = 0, fourFlips = 0, eightFlips = 0;
    for (int n = 0; n < count; n += 4) {
        std::uint64_t taken[4];
        compareBlock(one + n, zero + n, t,
                     [&lane](std::uint64_t *r) {
                         for (int l = 0; l < 4; ++l)
                             r[l] = lane[l].next();
                     },
                     taken);
        for (int l = 0; l < 4 && n + l < count; ++l) {
            const std::uint64_t f = sure[n + l] | taken[l];
            flipped += std::popcount(f);
            up += std::popcount(f & spins[n + l]);
            fourFlips += std::popcount(taken[l] & one[n + l]);
            eightFlips += std::popcount(taken[l] & zero[n + l]);
            spins[n + l] ^= f;
        }
    }
    for (int l = 0; l < 4; ++l)
        setLane(laneWords, l, lane[l]);
    mag += 2 * (flipped - 2 * up);
    energy += 4 * fourFlips + 8 * eightFlips;
    return flipped;
}

} // namespace

CheckerboardLattice::CheckerboardLattice(int size)
    : m_size(size), m_half(size / 2), m_words((size / 2 + 63) / 64), m_bands(1), m_vector(hasAvx2())
{
    if (size < MinimumSize || size > CheckerboardMaximumSize || size % 2 != 0)
        throw std::invalid_argument("a checkerboard lattice has an even side from " + std::to_string(MinimumSize)
                                    + " to " + std::to_string(CheckerboardMaximumSize) + ", not "
                                    + std::to_string(size));
    m_bands = bandsOf(size);
    m_lastMask = m_half % 64 == 0 ? ~std::uint64_t(0) : (std::uint64_t(1) << (m_half % 64)) - 1;
    for (auto &bits : m_bits)
        bits.assign(std::size_t(m_size) * std::size_t(m_words), 0);
    m_laneWords.assign(std::size_t(m_bands) * 16 + 4, 0);
    const auto address = reinterpret_cast<std::uintptr_t>(m_laneWords.data());
    m_laneOffset = ((32 - address % 32) % 32) / 8;
    // Chunk rows: whole blocks of four words except at a band's end.
    const int step = 4 / std::gcd(m_words, 4);
    m_chunkRows = std::max(1, ChunkTarget / m_words);
    m_chunkRows = (m_chunkRows + step - 1) / step * step;
    m_scratch.assign(std::size_t(m_bands) * 3 * std::size_t(m_chunkRows * m_words + 4) + 4, 0);
    recount();
}

int CheckerboardLattice::bandsOf(int size)
{
    return std::clamp(size / 256, 1, 16);
}

std::size_t CheckerboardLattice::bytes() const
{
    return sizeof(*this) + (m_bits[0].capacity() + m_bits[1].capacity() + m_laneWords.capacity()
                            + m_scratch.capacity())
        * sizeof(std::uint64_t);
}

void CheckerboardLattice::startOrdered(Random &stream)
{
    const bool up = static_cast<float>(stream.draw()) < 0.5f;
    for (auto &bits : m_bits)
        for (std::size_t w = 0; w < bits.size(); ++w)
            bits[w] = !up ? 0 : (int(w % std::size_t(m_words)) == m_words - 1 ? m_lastMask : ~std::uint64_t(0));
    recount();
    seedLanes(stream);
}

void CheckerboardLattice::startRandom(Random &stream)
{
    for (auto &bits : m_bits)
        std::fill(bits.begin(), bits.end(), 0);
    for (int i = 0; i < m_size; ++i) {
        // Site j = 2 k + (i + c) % 2: the even sites of the row are colour
        // i % 2, the odd ones the other.
        std::uint64_t *even = m_bits[i & 1].data() + std::size_t(i) * std::size_t(m_words);
        std::uint64_t *odd = m_bits[(i + 1) & 1].data() + std::size_t(i) * std::size_t(m_words);
        for (int m = 0; 64 * m < m_size; ++m) {
            const int n = std::min(64, m_size - 64 * m);
            std::uint64_t x = stream.next();
            if (n < 64)
                x &= (std::uint64_t(1) << n) - 1;
            const int k = 32 * m;
            even[k / 64] |= evenBits(x) << (k % 64);
            odd[k / 64] |= evenBits(x >> 1) << (k % 64);
        }
    }
    recount();
    seedLanes(stream);
}

void CheckerboardLattice::seedLanes(Random &stream)
{
    const std::uint64_t x = stream.next();
    for (int b = 0; b < m_bands; ++b)
        for (int l = 0; l < 4; ++l) {
            std::uint64_t y = streamSeed(x, std::uint64_t(4 * b + l));
            Xoshiro256 g;
            for (auto &word : g.s)
                word = splitmix64(y);
            setLane(m_laneWords.data() + m_laneOffset + 16 * std::size_t(b), l, g);
        }
}

std::array<Xoshiro256, 4> CheckerboardLattice::lanes(int b) const
{
    std::array<Xoshiro256, 4> g;
    for (int l = 0; l < 4; ++l)
        g[std::size_t(l)] = laneOf(m_laneWords.data() + m_laneOffset + 16 * std::size_t(b), l);
    return g;
}

void CheckerboardLattice::setTemperature(double siteTemperature)
{
    m_thresholds = checkerThresholds(siteTemperature);
}

bool CheckerboardLattice::setVector(bool on)
{
    m_vector = on && hasAvx2();
    return m_vector;
}

int CheckerboardLattice::spin(int i, int j) const
{
    const int c = (i + j) & 1, k = j >> 1;
    const std::uint64_t word = m_bits[c][std::size_t(i) * std::size_t(m_words) + std::size_t(k / 64)];
    return (word >> (k % 64)) & 1 ? 1 : -1;
}

void CheckerboardLattice::setSpin(int i, int j, int s)
{
    const int c = (i + j) & 1, k = j >> 1;
    std::uint64_t &word = m_bits[c][std::size_t(i) * std::size_t(m_words) + std::size_t(k / 64)];
    const std::uint64_t bit = std::uint64_t(1) << (k % 64);
    word = s > 0 ? word | bit : word & ~bit;
}

void CheckerboardLattice::recount()
{
    std::int64_t upSpins = 0, antiparallel = 0;
    for (const auto &bits : m_bits)
        for (const std::uint64_t w : bits)
            upSpins += std::popcount(w);
    // Every bond has one end of colour 0.
    const std::uint64_t *me = m_bits[0].data(), *other = m_bits[1].data();
    const std::size_t W = std::size_t(m_words);
    for (int i = 0; i < m_size; ++i) {
        const std::uint64_t *o = other + std::size_t(i) * W;
        const std::uint64_t *up = other + std::size_t((i + m_size - 1) % m_size) * W;
        const std::uint64_t *down = other + std::size_t((i + 1) % m_size) * W;
        for (int w = 0; w < m_words; ++w) {
            const std::uint64_t valid = w == m_words - 1 ? m_lastMask : ~std::uint64_t(0);
            const std::uint64_t s = me[std::size_t(i) * W + std::size_t(w)];
            const std::uint64_t side = (i & 1) ? nextBits(o, w, m_words, m_half) : previousBits(o, w, m_words, m_half);
            antiparallel += std::popcount((s ^ up[w]) & valid) + std::popcount((s ^ down[w]) & valid)
                + std::popcount((s ^ o[w]) & valid) + std::popcount((s ^ side) & valid);
        }
    }
    TotalMag = 2 * upSpins - sites();
    Energy = 2 * antiparallel - 2 * sites();
}

namespace {

// lineSums of the two colours' rows (L rows of `words` words each, `half`
// sites a row), for the portable code and for AVX2.
[[gnu::always_inline]] inline void lineSumsOf(const std::uint64_t *const colour[2], int L, int words, int half,
                                              std::span<int> rows, std::span<int> columns)
{
    const std::size_t W = std::size_t(words);
    for (int i = 0; i < L; ++i) {
        const std::uint64_t *a = colour[0] + std::size_t(i) * W, *b = colour[1] + std::size_t(i) * W;
        int up = 0;
        for (std::size_t w = 0; w < W; ++w)
            up += std::popcount(a[w]) + std::popcount(b[w]);
        rows[std::size_t(i)] = 2 * up - L;
    }
    // Column 2 k + odd of row i is bit k of colour (i + odd) % 2.
    std::vector<int> counts(64 * W);
    for (int odd = 0; odd < 2; ++odd) {
        countColumns(
            L, words,
            [colour, W, odd](int i) { return colour[(i + odd) & 1] + std::size_t(i) * W; },
            counts);
        for (int k = 0; k < half; ++k)
            columns[std::size_t(2 * k + odd)] = 2 * counts[std::size_t(k)] - L;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt"))) void lineSumsVector(const std::uint64_t *const colour[2], int L, int words,
                                                           int half, std::span<int> rows, std::span<int> columns)
{
    lineSumsOf(colour, L, words, half, rows, columns);
}
#endif

} // namespace

void CheckerboardLattice::lineSums(std::span<int> rows, std::span<int> columns) const
{
    const std::uint64_t *const colour[2] = {m_bits[0].data(), m_bits[1].data()};
#if defined(__x86_64__)
    if (m_vector)
        return lineSumsVector(colour, m_size, m_words, m_half, rows, columns);
#endif
    lineSumsOf(colour, m_size, m_words, m_half, rows, columns);
}

std::int64_t CheckerboardLattice::halfSweepBand(int c, int b, std::int64_t &mag, std::int64_t &energy)
{
    const std::size_t W = std::size_t(m_words);
    const std::size_t capacity = std::size_t(m_chunkRows) * W + 4;
    std::uint64_t *sure = m_scratch.data() + std::size_t(b) * 3 * capacity;
    // The scratch starts on a 32-byte boundary where the vector code loads it.
    const std::size_t skew = ((32 - reinterpret_cast<std::uintptr_t>(sure) % 32) % 32) / 8;
    sure += skew;
    std::uint64_t *one = sure + capacity, *zero = one + capacity;
    std::uint64_t *laneWords = m_laneWords.data() + m_laneOffset + 16 * std::size_t(b);
    std::uint64_t *mine = m_bits[c].data();
    const std::uint64_t *other = m_bits[1 - c].data();
    const CheckerThresholds &t = m_thresholds;
    const int lastRow = bandStart(b + 1);
    std::int64_t flipped = 0;
    for (int i0 = bandStart(b); i0 < lastRow; i0 += m_chunkRows) {
        const int i1 = std::min(lastRow, i0 + m_chunkRows);
        const int count = (i1 - i0) * m_words;
        for (int i = i0; i < i1; ++i) {
            const Row r {mine + std::size_t(i) * W, other + std::size_t((i + m_size - 1) % m_size) * W,
                         other + std::size_t((i + 1) % m_size) * W, other + std::size_t(i) * W, ((i + c) & 1) != 0};
            const std::size_t at = std::size_t(i - i0) * W;
            const auto scalar = [&](int w) {
                const std::uint64_t valid = w == m_words - 1 ? m_lastMask : ~std::uint64_t(0);
                const std::uint64_t side = r.next ? nextBits(r.same, w, m_words, m_half)
                                                  : previousBits(r.same, w, m_words, m_half);
                energy += classify(r.me[w], r.up[w], r.down[w], r.same[w], side, valid, sure[at + std::size_t(w)],
                                   one[at + std::size_t(w)], zero[at + std::size_t(w)]);
            };
            int w = 0;
            scalar(w++);
#if defined(__x86_64__)
            if (m_vector && m_words > 5)
                energy += classifyRowVector(r, 1, m_words - 1, sure + at, one + at, zero + at, w);
#endif
            for (; w < m_words; ++w)
                scalar(w);
        }
        const int padded = (count + 3) / 4 * 4;
        for (int n = count; n < padded; ++n)
            sure[n] = one[n] = zero[n] = 0;
        std::uint64_t *spins = mine + std::size_t(i0) * W;
        // dE = 4 or 8 that always flips: sure.
        if (t.fourAlways || t.eightAlways)
            for (int n = 0; n < count; ++n) {
                if (t.fourAlways) {
                    energy += 4 * std::popcount(one[n]);
                    sure[n] |= one[n];
                    one[n] = 0;
                }
                if (t.eightAlways) {
                    energy += 8 * std::popcount(zero[n]);
                    sure[n] |= zero[n];
                    zero[n] = 0;
                }
            }
#if defined(__x86_64__)
        if (m_vector) {
            flipped += decideVector(spins, count, sure, one, zero, t, laneWords, mag, energy);
            continue;
        }
#endif
        flipped += decidePortable(spins, count, sure, one, zero, t, laneWords, mag, energy);
    }
    return flipped;
}

std::int64_t CheckerboardLattice::sweep()
{
    if (m_workers.empty()) {
        std::int64_t flipped = 0, mag = TotalMag, energy = Energy;
        for (int c = 0; c < 2; ++c)
            for (int b = 0; b < m_bands; ++b)
                flipped += halfSweepBand(c, b, mag, energy);
        TotalMag = mag;
        Energy = energy;
        return flipped;
    }
    for (Part &p : m_parts)
        p.flipped = p.mag = p.energy = 0;
    m_barrier->arrive_and_wait(); // the workers start
    sweepPart(0, int(m_parts.size()));
    std::int64_t flipped = 0;
    for (const Part &p : m_parts) {
        flipped += p.flipped;
        TotalMag += p.mag;
        Energy += p.energy;
    }
    return flipped;
}

void CheckerboardLattice::sweepPart(int t, int threads)
{
    Part &part = m_parts[std::size_t(t)];
    for (int c = 0; c < 2; ++c) {
        for (int b = t; b < m_bands; b += threads)
            part.flipped += halfSweepBand(c, b, part.mag, part.energy);
        m_barrier->arrive_and_wait(); // the half-sweep is done everywhere
    }
}

void CheckerboardLattice::setThreads(int threads)
{
    stopWorkers();
    threads = std::clamp(threads, 1, m_bands);
    if (threads == 1)
        return;
    m_parts.assign(std::size_t(threads), Part {});
    m_barrier = std::make_unique<std::barrier<>>(threads);
    m_quit = false;
    for (int t = 1; t < threads; ++t)
        m_workers.emplace_back([this, t, threads] {
            for (;;) {
                m_barrier->arrive_and_wait();
                if (m_quit)
                    return;
                sweepPart(t, threads);
            }
        });
}

void CheckerboardLattice::stopWorkers()
{
    if (m_workers.empty())
        return;
    m_quit = true;
    m_barrier->arrive_and_wait();
    for (std::thread &w : m_workers)
        w.join();
    m_workers.clear();
    m_parts.clear();
    m_barrier.reset();
}

CheckerboardLattice::~CheckerboardLattice()
{
    stopWorkers();
}

} // namespace ferro::engine
