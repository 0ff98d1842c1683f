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
        const int up = i == 0 ? LastIndex : i - 1;
        const int down = i == LastIndex ? 0 : i + 1;
        const int left = j == 0 ? LastIndex : j - 1;
        const int right = j == LastIndex ? 0 : j + 1;
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
