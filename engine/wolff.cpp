// The Wolff single-cluster update of the batch kernel, and the numbers that
// decide its bonds.
#include "engine/lattice.h"

#include "engine/cpu.h"
#include "engine/fourstreams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>


namespace ferro::engine {

namespace {

// A spin queued to join the cluster holds s0 + Queued until it is flipped:
// it no longer equals s0, so it cannot join twice, and a neighbour's sum
// counts it as s0 plus Queued. The cluster's sums are added up whole; their
// low 24 bits, read as a signed number, are the sum without the Queued
// parts, since that sum is within 4 L^2 <= 2^22 of zero.
constexpr int QueuedShift = 24;
constexpr Spin Queued = Spin(1) << QueuedShift;

// The bonds of `spins` (even) spins from spins / 2 steps of the four lanes
// (word w of lane l at lanes[4 w + l]): open[e] is -1 when the e-th 32-bit
// number is below `below` (at most 2^32), else 0. Step i gives the numbers
// 8 i to 8 i + 7: lane 0's low half, its high half, lane 1's low half, ...
void decideBondsPortable(std::uint64_t *lanes, std::int32_t *open, int spins, std::uint64_t below)
{
    Xoshiro256 lane[4] = {laneOf(lanes, 0), laneOf(lanes, 1), laneOf(lanes, 2), laneOf(lanes, 3)};
    for (int e = 0; e < 4 * spins; e += 8) {
        for (int l = 0; l < 4; ++l) {
            const std::uint64_t result = lane[l].next();
            open[e + 2 * l] = -static_cast<std::int32_t>((result & 0xFFFFFFFFu) < below);
            open[e + 2 * l + 1] = -static_cast<std::int32_t>((result >> 32) < below);
        }
    }
    for (int l = 0; l < 4; ++l)
        setLane(lanes, l, lane[l]);
}

#if defined(__x86_64__)
// The same bonds, the four lanes in one AVX2 register per state word (the
// multiplications by 5 and 9 as shifts and additions). An unsigned u < b is
// the signed u ^ 2^31 < b ^ 2^31 for b < 2^32; b = 2^32 opens every bond.
__attribute__((target("avx2"))) void decideBondsAvx2(std::uint64_t *lanes, std::int32_t *open, int spins,
                                                     std::uint64_t below)
{
    FourGenerators g = loadLanes(lanes);
    const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i limit = _mm256_xor_si256(_mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(below))), sign);
    const __m256i all = _mm256_set1_epi32(below > 0xFFFFFFFFu ? -1 : 0);
    for (int e = 0; e < 4 * spins; e += 8) {
        const __m256i result = next(g);
        const __m256i below8 = _mm256_cmpgt_epi32(limit, _mm256_xor_si256(result, sign));
        _mm256_store_si256(reinterpret_cast<__m256i *>(open + e), _mm256_or_si256(below8, all));
    }
    storeLanes(g, lanes);
}
#endif

// The queue's spins from `head` on while there are some and head < limit:
// each spin's bonds taken from `open` in turn (four words, left first), its
// neighbours queued by them, the spin flipped (from S0 to -S0). Adds the
// neighbours' sums to `sums`; returns the new head (tail updated).
template <bool Tabled, int S0>
int growCluster(Spin *const spin, std::int32_t *const queue, const NeighbourCells *const table,
                const CellRows rows, const std::int32_t *open,
                const int head, int &tailOut, const int limit, std::uint32_t &sumsOut)
{
    std::ptrdiff_t tail = tailOut, at = head; // full-width indices: no sign extension
    std::uint32_t sums = sumsOut; // only its low 24 bits count: wrapping is harmless
    const std::ptrdiff_t end = limit;
    while (at < tail && at < end) {
        const std::int32_t *const bond = open;
        open += 4;
        const int k = queue[at++];
        // Every neighbour stored, joined or not: no branch to mispredict. A
        // closed bond masks the spin to 0, which never equals S0.
        auto visit = [&](int c, std::int32_t bondOpen) {
            const Spin sc = spin[c];
            sums += static_cast<std::uint32_t>(sc);
            const std::ptrdiff_t join = (sc & bondOpen) == S0;
            queue[tail] = c;
            tail += join;
            spin[c] = static_cast<Spin>(sc + static_cast<Spin>(join << QueuedShift));
        };
        if constexpr (Tabled) {
            std::uint64_t cells; // the four 16-bit neighbours, left lowest: one load
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(&cells, &table[k], sizeof cells);
            } else {
                const auto &t = table[k];
                cells = t[0] | std::uint64_t(t[1]) << 16 | std::uint64_t(t[2]) << 32 | std::uint64_t(t[3]) << 48;
            }
            visit(static_cast<int>(cells & 0xFFFF), bond[0]);
            visit(static_cast<int>((cells >> 16) & 0xFFFF), bond[1]);
            visit(static_cast<int>((cells >> 32) & 0xFFFF), bond[2]);
            visit(static_cast<int>(cells >> 48), bond[3]);
        } else {
            const Neighbours n = rows.neighboursOf(k);
            visit(n.left, bond[0]);
            visit(n.up, bond[1]);
            visit(n.right, bond[2]);
            visit(n.down, bond[3]);
        }
        spin[k] = static_cast<Spin>(-S0);
    }
    tailOut = static_cast<int>(tail);
    sumsOut = sums;
    return static_cast<int>(at);
}

#if defined(__x86_64__)
// For a spin's four join bits J (bit d: neighbour d joins), the pshufb
// controls that put the joined neighbours' cells first, in order, as 32-bit
// numbers: from four 16-bit cells (a table's row) or from four 32-bit ones.
struct PackTable {
    alignas(16) std::uint8_t from16[16][16];
    alignas(16) std::uint8_t from32[16][16];
    std::uint8_t count[16];
};
constexpr PackTable makePackTable()
{
    PackTable t {};
    for (int j = 0; j < 16; ++j) {
        int lane = 0;
        for (int d = 0; d < 4; ++d)
            if (j >> d & 1) {
                for (int b = 0; b < 4; ++b) {
                    t.from16[j][4 * lane + b] = b < 2 ? std::uint8_t(2 * d + b) : std::uint8_t(0x80);
                    t.from32[j][4 * lane + b] = std::uint8_t(4 * d + b);
                }
                ++lane;
            }
        t.count[j] = std::uint8_t(lane);
        for (; lane < 4; ++lane)
            for (int b = 0; b < 4; ++b)
                t.from16[j][4 * lane + b] = t.from32[j][4 * lane + b] = 0x80;
    }
    return t;
}
constexpr PackTable Pack = makePackTable();

// growCluster from L = 3 on (a spin's four neighbours are four cells), the
// four neighbours at once in AVX2 registers: the same joins in the same
// order, so the same clusters. The joined cells go to the queue's tail in
// one 16-byte store (the queue keeps three slots more). The four spins are
// stored back, marked where they joined, at addresses known as soon as the
// neighbours are: a store whose address waits for the join decisions would
// let the next spins' loads run ahead of it and, in a compact cluster, often
// read a neighbour before its mark.
template <bool Tabled, int S0>
__attribute__((target("avx2"))) int growClusterAvx2(Spin *const spin, std::int32_t *const queue,
                                                    const NeighbourCells *const table, const CellRows rows,
                                                    const std::int32_t *open,
                                                    const int head, int &tailOut, const int limit,
                                                    std::uint32_t &sumsOut)
{
    std::ptrdiff_t tail = tailOut, at = head;
    const std::ptrdiff_t end = limit;
    const __m128i s0 = _mm_set1_epi32(S0), queuedMark = _mm_set1_epi32(Queued);
    __m128i sums = _mm_cvtsi32_si128(static_cast<int>(sumsOut));
    while (at < tail && at < end) {
        const __m128i bond = _mm_load_si128(reinterpret_cast<const __m128i *>(open));
        open += 4;
        const int k = queue[at++];
        std::size_t left, up, right, down;
        __m128i cells;
        if constexpr (Tabled) {
            std::uint64_t c;
            std::memcpy(&c, &table[k], sizeof c);
            left = c & 0xFFFF;
            up = (c >> 16) & 0xFFFF;
            right = (c >> 32) & 0xFFFF;
            down = c >> 48;
            cells = _mm_cvtsi64_si128(static_cast<long long>(c));
        } else {
            const Neighbours n = rows.neighboursOf(k);
            left = std::size_t(n.left);
            up = std::size_t(n.up);
            right = std::size_t(n.right);
            down = std::size_t(n.down);
            cells = _mm_setr_epi32(n.left, n.up, n.right, n.down);
        }
        const __m128i sc = _mm_setr_epi32(spin[left], spin[up], spin[right], spin[down]);
        sums = _mm_add_epi32(sums, sc);
        const __m128i join = _mm_cmpeq_epi32(_mm_and_si128(sc, bond), s0);
        const int j = _mm_movemask_ps(_mm_castsi128_ps(join));
        const auto *const control = Tabled ? Pack.from16[j] : Pack.from32[j];
        const __m128i packed = _mm_shuffle_epi8(cells, _mm_load_si128(reinterpret_cast<const __m128i *>(control)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(queue + tail), packed);
        tail += Pack.count[j];
        const __m128i marked = _mm_add_epi32(sc, _mm_and_si128(join, queuedMark));
        const std::uint64_t first = static_cast<std::uint64_t>(_mm_cvtsi128_si64(marked));
        const std::uint64_t second = static_cast<std::uint64_t>(_mm_extract_epi64(marked, 1));
        spin[left] = static_cast<Spin>(first);
        spin[up] = static_cast<Spin>(first >> 32);
        spin[right] = static_cast<Spin>(second);
        spin[down] = static_cast<Spin>(second >> 32);
        spin[k] = static_cast<Spin>(-S0);
    }
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    sumsOut = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
    tailOut = static_cast<int>(tail);
    return static_cast<int>(at);
}
#endif

} // namespace

WolffBonds::WolffBonds()
    : m_vector(hasAvx2())
{
}

bool WolffBonds::setVector(bool on)
{
    m_vector = on && hasAvx2();
    return m_vector;
}

WolffBonds::State WolffBonds::state() const
{
    State s;
    std::copy(std::begin(m_lanes), std::end(m_lanes), s.lanes.begin());
    s.open = m_open;
    s.next = m_next;
    s.madeFor = m_madeFor;
    s.seeded = m_seeded;
    return s;
}

void WolffBonds::restore(const State &s)
{
    std::copy(s.lanes.begin(), s.lanes.end(), std::begin(m_lanes));
    m_open = s.open;
    m_next = std::clamp<std::int32_t>(s.next, 0, Spins);
    m_madeFor = s.madeFor;
    m_seeded = s.seeded;
}

void WolffBonds::seedOnce(Random &stream)
{
    if (m_seeded)
        return;
    for (int l = 0; l < 4; ++l) {
        std::uint64_t x = stream.next();
        for (int w = 0; w < 4; ++w)
            m_lanes[4 * w + l] = splitmix64(x);
    }
    m_seeded = true;
}

void WolffBonds::setBound(std::uint64_t below)
{
    if (m_madeFor != below) { // those decided for another bound are dropped
        m_madeFor = below;
        m_next = Spins;
    }
}

const std::int32_t *WolffBonds::ahead()
{
    if (m_next == Spins) {
        decide();
        m_next = 0;
    }
    return m_open.data() + 4 * m_next;
}

void WolffBonds::decide()
{
#if defined(__x86_64__)
    if (m_vector) {
        decideBondsAvx2(m_lanes, m_open.data(), Spins, m_madeFor);
        return;
    }
#endif
    decideBondsPortable(m_lanes, m_open.data(), Spins, m_madeFor);
}

std::int64_t FastLattice::wolffCluster(Stream &stream)
{
    if (!equalFactors())
        throw std::logic_error("a Wolff cluster needs the same temperature at every site");
    // Four slots beyond L^2: growth stores every neighbour at the queue's
    // tail and advances the tail only for those that join (growClusterAvx2
    // stores four at once), so a cluster of every site still stores up to
    // three past its last entry.
    if (m_stack.size() < std::size_t(m_sites) + 4)
        m_stack.resize(std::size_t(m_sites) + 4);
    Spin *const spin = spinsToWrite().data();
    m_bonds.seedOnce(stream);
    m_bonds.setBound(m_bondBelow);
    std::int32_t *const queue = m_stack.data();
    const CellRows rows = m_rows;

    const int seed = static_cast<int>(stream.draw() * double(m_sites));
    const int s0 = spin[seed];
    std::int64_t added = 1;
    if (s0 != 0) {
        // Spins join when queued (marked s0 + Queued meanwhile) and flip when
        // taken from the queue; each flip changes the energy by 2 s0 times
        // the neighbours' sum at that moment (a queued neighbour counting
        // s0), so the sum of these steps is the cluster's exact change.
        // First in, first out: the next spin taken was queued long before,
        // so taking it waits for no join decision just made. Only a spin
        // still s0 joins (not one queued or flipped), so the queue never
        // holds more than L^2.
        int head = 0, tail = 0;
        std::uint32_t sums = 0;
        queue[tail++] = seed;
        spin[seed] = static_cast<Spin>(s0 + Queued);
        const NeighbourCells *const table = neighbourTable();
        auto grow = table ? (s0 > 0 ? growCluster<true, 1> : growCluster<true, -1>)
                          : (s0 > 0 ? growCluster<false, 1> : growCluster<false, -1>);
#if defined(__x86_64__)
        if (m_bonds.vector() && m_size >= 3)
            grow = table ? (s0 > 0 ? growClusterAvx2<true, 1> : growClusterAvx2<true, -1>)
                         : (s0 > 0 ? growClusterAvx2<false, 1> : growClusterAvx2<false, -1>);
#endif
        for (;;) {
            const std::int32_t *const open = m_bonds.ahead();
            const int from = head;
            head = grow(spin, queue, table, rows, open, head, tail, head + m_bonds.left(), sums);
            m_bonds.use(head - from);
            if (head == tail)
                break;
        }
        added = tail;
        const std::int64_t field =
            static_cast<std::int32_t>(sums << (32 - QueuedShift)) >> (32 - QueuedShift);
        Energy += static_cast<int>(2 * s0 * field);
        TotalMag -= static_cast<int>(2 * s0 * added);
    }
    m_wolffAdded += added;
    return added;
}

std::int64_t FastLattice::wolffSweep(Stream &stream)
{
    const std::int64_t next = (m_wolffAdded / m_sites + 1) * m_sites;
    std::int64_t added = 0;
    while (m_wolffAdded < next)
        added += wolffCluster(stream);
    return added;
}

} // namespace ferro::engine
