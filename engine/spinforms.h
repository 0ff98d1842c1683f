#pragma once
// The two forms a lattice's spins take besides the spins themselves, each
// with its own layout, built from the spins and read back into them. The
// lattice keeps track of which forms are fresh; a sweep works on one form
// and sees only it. Standard C++.

#include "engine/sitecode.h"

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace ferro::engine {

// A spin, +1, -1 or 0 (blank). Four bytes: measured here, the sweep at L = 20
// ran 10 % faster than with one-byte spins (large lattices sweep from their
// one-byte site codes instead, which keeps them in the caches).
using Spin = std::int32_t;

// A lattice's spins a row at a time, for whoever reads a whole lattice (a
// picture) without every spin at once: fills `row` (L spins) with row i.
using SpinRows = std::function<void(int i, std::span<Spin> row)>;
// The rows of L x L spins held in row-major order (cell L i + j).
inline SpinRows rowsOf(std::span<const Spin> spins, int side)
{
    return [spins, side](int i, std::span<Spin> row) {
        const auto first = spins.begin() + std::ptrdiff_t(i) * side;
        std::copy(first, first + side, row.begin());
    };
}

// The sums of the rows (rows[i], row i) and of the columns (columns[j]) of
// L x L spins in row-major order: the Fourier mode's input. The lattice forms
// below give the same sums from their own layouts.
void lineSums(std::span<const Spin> spins, int side, std::span<int> rows, std::span<int> columns);

// The site code (siteCode: 9 s + h + 13) of every site, one byte each: an
// attempt that is not accepted reads one byte, one cache line.
class SiteStates {
public:
    // The codes of these spins of an L x L torus.
    void rebuild(std::span<const Spin> spins, int side);
    // The spins the codes hold.
    void readSpins(std::span<Spin> spins) const;
    // lineSums of the spins the codes hold, the side given.
    void lineSums(int side, std::span<int> rows, std::span<int> columns) const;
    std::uint8_t *data() { return m_code.data(); }

private:
    std::vector<std::uint8_t> m_code;
};

// One bit a spin, 1 for +1. Row i takes stride() bytes from byte stride() i:
// bit 0 is a copy of its last spin, bits 1 to L its spins, bit L + 1 a copy
// of its first, so that the three bits of a site and its left and right
// neighbours always lie side by side (bit b of a row is bit b % 8 of its byte
// b / 8). Four bytes to spare after the last row let a site's bits be read
// as one 32-bit word.
class SpinBits {
public:
    explicit SpinBits(int side);
    // The bits of these spins; false (and no bits) when a site is blank,
    // which one bit cannot hold.
    bool rebuild(std::span<const Spin> spins);
    void readSpins(std::span<Spin> spins) const;
    // lineSums of the spins the bits hold: a row's by counting its bits, the
    // columns 64 at a time (countColumns).
    void lineSums(std::span<int> rows, std::span<int> columns) const;

    int stride() const { return m_stride; }
    std::uint8_t *data() { return m_bits.data(); }
    std::size_t bytes() const { return m_bits.size(); }

    // Bit b of row i: its byte and its mask.
    struct Place {
        std::size_t byte;
        std::uint8_t mask;
    };
    Place place(int i, int b) const
    {
        return {std::size_t(m_stride) * std::size_t(i) + std::size_t(b / 8), std::uint8_t(1 << (b % 8))};
    }

private:
    int m_side;
    int m_stride;
    std::vector<std::uint8_t> m_bits;
};

} // namespace ferro::engine
