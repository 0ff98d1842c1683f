#include "batch/kernel.h"

#include <cmath>
#include <limits>

namespace ferro::batch {

std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index)
{
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

FastLattice::FastLattice()
{
    for (int k = 0; k < Sites; ++k) {
        const int i = rowOf(k), j = columnOf(k);
        const int up = i == 0 ? LastIndex : i - 1, down = i == LastIndex ? 0 : i + 1;
        const int left = j == 0 ? LastIndex : j - 1, right = j == LastIndex ? 0 : j + 1;
        m_neighbours[k] = {static_cast<std::uint16_t>(cellIndex(i, left)), static_cast<std::uint16_t>(cellIndex(up, j)),
                           static_cast<std::uint16_t>(cellIndex(i, right)), static_cast<std::uint16_t>(cellIndex(down, j))};
    }
}

void FastLattice::load(const Lattice &lattice)
{
    for (int k = 0; k < Sites; ++k)
        m_spin[k] = lattice.spinOfCell(k);
    TotalMag = lattice.TotalMag;
    Energy = lattice.Energy;
}

void FastLattice::store(Lattice &lattice) const
{
    for (int k = 0; k < Sites; ++k)
        lattice.Spin[rowOf(k)][columnOf(k)] = static_cast<std::int16_t>(m_spin[k]);
    lattice.TotalMag = static_cast<std::int16_t>(TotalMag);
    lattice.Energy = static_cast<std::int16_t>(Energy);
}

void FastLattice::setTemperature(double runTemperature, const double *factors)
{
    for (int k = 0; k < Sites; ++k) {
        const double tk = localTemperature(runTemperature, factors[k]);
        for (int sh = -4; sh <= 4; ++sh) {
            float threshold = std::numeric_limits<float>::infinity();
            const int deltaE = 2 * sh;
            if (deltaE > 0) {
                // The window's expression, word for word.
                const double weight = std::exp(deltaE * (-1.0 / tk));
                threshold = static_cast<float>(weight);
                if (threshold < weight)
                    threshold = std::nextafter(threshold, std::numeric_limits<float>::infinity());
            }
            m_threshold[k][sh + 4] = threshold;
        }
    }
}

} // namespace ferro::batch
