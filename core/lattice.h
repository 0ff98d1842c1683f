#pragma once
// The 20 x 20 periodic lattice of spins and its two totals. No widgets.

#include <cstdint>

namespace ferro {

// Every size derives from the largest row or column index.
constexpr int LastIndex = 19;
constexpr int Side = LastIndex + 1;
constexpr int Sites = Side * Side;

// Site (i, j), row i and column j, is cell k = 20 i + j.
constexpr int cellIndex(int i, int j) { return Side * i + j; }
constexpr int rowOf(int k) { return k / Side; }
constexpr int columnOf(int k) { return k - Side * (k / Side); }

// The row or column before and after x on a periodic side of `side` cells:
// the first and the last are neighbours. Every lattice of the program, the
// window's 20 x 20 and the batch program's L x L, wraps with these two.
constexpr int wrapBefore(int x, int side) { return x == 0 ? side - 1 : x - 1; }
constexpr int wrapAfter(int x, int side) { return x == side - 1 ? 0 : x + 1; }

// The four nearest neighbours of site (i, j) on the side x side torus, as cells
// side i + j in row-major order.
struct Neighbours {
    int left, up, right, down;
};
constexpr Neighbours torusNeighbours(int i, int j, int side)
{
    const int row = side * i;
    return {row + wrapBefore(j, side), side * wrapBefore(i, side) + j, row + wrapAfter(j, side),
            side * wrapAfter(i, side) + j};
}

// Cell colours, 24-bit with red in the low byte.
constexpr std::uint32_t SpinUpColour = 0x000000;   // black
constexpr std::uint32_t SpinDownColour = 0xFFFFFF; // white
constexpr std::uint32_t BlankColour = 0xC0C0C0;    // silver grey

struct Lattice {
    // +1 up, -1 down, 0 blank (no configuration prepared).
    std::int16_t Spin[Side][Side] {};
    // Sum of all spins, -400 to 400.
    std::int16_t TotalMag = 0;
    // Minus the sum over the 800 bonds of the torus of the product of the
    // bond's two spins, -800 to 800, in units of the coupling.
    std::int16_t Energy = 0;

    // Sum of the four nearest neighbours' spins, wrapping at every edge; -4 to 4.
    int NeighbourSum(int i, int j) const
    {
        const int up = wrapBefore(i, Side), down = wrapAfter(i, Side);
        const int left = wrapBefore(j, Side), right = wrapAfter(j, Side);
        return Spin[i][left] + Spin[up][j] + Spin[i][right] + Spin[down][j];
    }

    std::int16_t spinOfCell(int k) const { return Spin[rowOf(k)][columnOf(k)]; }

    // Full recount of TotalMag and Energy from the spins.
    void recount();
};

// Fill colour of a cell showing this spin.
constexpr std::uint32_t colourOfSpin(int spin)
{
    return spin > 0 ? SpinUpColour : spin < 0 ? SpinDownColour : BlankColour;
}

} // namespace ferro
