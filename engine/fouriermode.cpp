#include "engine/fouriermode.h"

#include "engine/checkerboard.h"
#include "engine/lattice.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ferro::engine {

FourierMode::FourierMode(int size)
    : m_size(size), m_cos(std::size_t(size)), m_sin(std::size_t(size)), m_rowSums(std::size_t(size)),
      m_columnSums(std::size_t(size))
{
    for (int j = 0; j < size; ++j) {
        const double phase = 2 * std::numbers::pi * j / size;
        m_cos[std::size_t(j)] = std::cos(phase);
        m_sin[std::size_t(j)] = std::sin(phase);
    }
}

double FourierMode::operator()(std::span<const Spin> spins)
{
    lineSums(spins, m_size, m_rowSums, m_columnSums);
    return transform();
}

double FourierMode::operator()(const FastLattice &lattice)
{
    lattice.lineSums(m_rowSums, m_columnSums);
    return transform();
}

double FourierMode::operator()(const CheckerboardLattice &lattice)
{
    lattice.lineSums(m_rowSums, m_columnSums);
    return transform();
}

double FourierMode::transform() const
{
    const int L = m_size;
    // |sum_j c_j e^{i 2 pi j / L}|^2 for the column sums (k along j) and the
    // row sums (k along i).
    const auto power = [&](const std::vector<int> &sums) {
        double re = 0, im = 0;
        for (int j = 0; j < L; ++j) {
            re += sums[std::size_t(j)] * m_cos[std::size_t(j)];
            im += sums[std::size_t(j)] * m_sin[std::size_t(j)];
        }
        return re * re + im * im;
    };
    return (power(m_columnSums) + power(m_rowSums)) / (2.0 * L * L);
}

} // namespace ferro::engine
