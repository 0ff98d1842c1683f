#pragma once
// The engine's rules of a site, each written once: where a cell's row is,
// its neighbours, the one-byte code of a site's spin and neighbours' sum,
// and what an accepted flip does to the lattice's totals. Standard C++.

#include "core/lattice.h"

#include <cstdint>

namespace ferro::engine {

// Row i = k / L of cell k by one multiplication: k / L ==
// (k * multiplier) >> 32 with multiplier = floor(2^32 / L) + 1. The product
// overshoots k / L by less than k / 2^32, which for k < L^2 stays below 1 / L,
// the least gap to the next row, while L^3 <= 2^32 (L <= 1625).
class CellRows {
public:
    explicit CellRows(int side)
        : m_side(side)
        , m_multiplier((std::uint64_t(1) << 32) / std::uint64_t(side) + 1)
    {
    }
    int rowOf(int k) const { return static_cast<int>((static_cast<std::uint64_t>(k) * m_multiplier) >> 32); }
    // torusNeighbours of cell k, its row found by rowOf.
    Neighbours neighboursOf(int k) const
    {
        const int i = rowOf(k);
        return torusNeighbours(i, k - m_side * i, m_side);
    }
    int side() const { return m_side; }

private:
    int m_side;
    std::uint64_t m_multiplier;
};

// A site's code: 9 s + h + 13 for its spin s (-1, 0, 1) and its neighbours'
// sum h (-4 .. 4), 0 .. 26; the sweeps index their thresholds by it.
constexpr int siteCode(int s, int h) { return 9 * s + h + 13; }
constexpr int spinOfCode(int code) { return (code >= 18) - (code < 9); }
constexpr int fieldOfCode(int code) { return code - 13 - 9 * spinOfCode(code); }
// The code of the same site with its spin turned.
constexpr int turnedCode(int code) { return code - 18 * spinOfCode(code); }
constexpr int SiteCodes = 27;

// The Metropolis decision on the generator's integers: the attempt whose r2
// has the 53-bit integer m2 is accepted when m2 is below the integer
// threshold of its site code (integerThreshold in lattice.h), every sweep's
// one test.
constexpr bool acceptedBelow(std::uint64_t m2, std::uint64_t below) { return m2 < below; }

// What an accepted flip of spin s with neighbours' sum h adds to TotalMag
// and to Energy: the spin turns to -s.
struct FlipChange {
    int magnetization, energy;
};
constexpr FlipChange flipChange(int s, int h)
{
    const int magnetization = -2 * s;
    return {magnetization, -magnetization * h};
}

static_assert(spinOfCode(siteCode(-1, 4)) == -1 && spinOfCode(siteCode(0, -4)) == 0 && spinOfCode(siteCode(1, -4)) == 1);
static_assert(fieldOfCode(siteCode(1, -3)) == -3 && turnedCode(siteCode(1, 2)) == siteCode(-1, 2));

} // namespace ferro::engine
