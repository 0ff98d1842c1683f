#pragma once
// The lattice's slowest Fourier modes, which the second-moment correlation
// length compares with the magnetization: F = |sum_x s_x exp(i k.x)|^2 / N
// at the two smallest non-zero wave vectors k = (2 pi / L, 0) and
// (0, 2 pi / L), averaged. Standard C++ only.
//
// F needs only the L row sums and the L column sums; every form of a
// lattice's spins gives them (lineSums), and they are integers, so F is the
// same number whichever form they come from.

#include "engine/spinforms.h"

#include <span>
#include <vector>

namespace ferro::engine {

class FastLattice;
class CheckerboardLattice;

class FourierMode {
public:
    // For an L x L lattice (any L from 2 up).
    explicit FourierMode(int size);

    // F of spins in row-major order (cell L i + j: row i, column j). One pass
    // sums the rows and the columns; the mode along the columns' index is the
    // column sums' discrete transform, that along the rows' the row sums'.
    double operator()(std::span<const Spin> spins);
    // F of a lattice from the row and column sums it gives (lineSums): the
    // same number as from its spins, without reading them off.
    double operator()(const FastLattice &lattice);
    double operator()(const CheckerboardLattice &lattice);

private:
    // F from m_rowSums and m_columnSums.
    double transform() const;

    int m_size;
    std::vector<double> m_cos, m_sin; // of 2 pi j / L
    std::vector<int> m_rowSums, m_columnSums;
};

} // namespace ferro::engine
