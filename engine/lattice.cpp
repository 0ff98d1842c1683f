#include "engine/lattice.h"

#include "preparation/preparation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace ferro::engine {

namespace detail {

std::uint64_t integerThreshold(float t)
{
    std::uint64_t low = 0, high = std::uint64_t(1) << 53; // the answer is in [low, high]
    while (low < high) {
        const std::uint64_t m = low + (high - low) / 2;
        if (static_cast<float>(static_cast<double>(m) * 0x1.0p-53) >= t)
            high = m;
        else
            low = m + 1;
    }
    return low;
}

} // namespace detail

namespace {

// The smallest float not below the double weight: a float r2 is below the
// weight exactly when it is below this float.
float thresholdOf(int deltaE, double tk)
{
    if (deltaE <= 0)
        return std::numeric_limits<float>::infinity();
    const double weight = metropolisWeight(deltaE, tk);
    float threshold = static_cast<float>(weight);
    if (threshold < weight)
        threshold = std::nextafter(threshold, std::numeric_limits<float>::infinity());
    return threshold;
}

void fillThresholds(float *table, double tk)
{
    for (int sh = -4; sh <= 4; ++sh)
        table[sh + 4] = thresholdOf(2 * sh, tk);
}

} // namespace

namespace {

int checkedSize(int size)
{
    if (size < MinimumSize || size > MaximumSize)
        throw std::invalid_argument("lattice size out of range");
    return size;
}

} // namespace

FastLattice::FastLattice(int size)
    : m_size(checkedSize(size))
    , m_sites(size * size)
    , m_rows(size)
    , m_spin(std::size_t(size) * std::size_t(size), 0)
    , m_bits(size)
    , m_threshold(9, std::numeric_limits<float>::infinity())
{
    if (size <= TabledSize) {
        m_neighbours.resize(std::size_t(m_sites));
        for (int k = 0; k < m_sites; ++k) {
            const Neighbours n = torusNeighbours(k / size, k % size, size);
            m_neighbours[std::size_t(k)] = {std::uint16_t(n.left), std::uint16_t(n.up), std::uint16_t(n.right),
                                            std::uint16_t(n.down)};
        }
    }
}

void FastLattice::readSpinsOff() const
{
    if (m_fresh & States)
        m_states.readSpins(m_spin);
    else
        m_bits.readSpins(m_spin);
    m_fresh |= Spins;
}

void FastLattice::lineSums(std::span<int> rows, std::span<int> columns) const
{
    if (m_fresh & Bits)
        m_bits.lineSums(rows, columns);
    else if (m_fresh & States)
        m_states.lineSums(m_size, rows, columns);
    else
        engine::lineSums(m_spin, m_size, rows, columns);
}

SiteStates &FastLattice::statesToSweep()
{
    if (!(m_fresh & States)) {
        syncSpins();
        m_states.rebuild(m_spin, m_size);
    }
    m_fresh = States;
    return m_states;
}

SpinBits *FastLattice::bitsToSweep()
{
    if (!(m_fresh & Bits)) {
        if (m_bitsBlank)
            return nullptr;
        syncSpins();
        if (!m_bits.rebuild(m_spin)) {
            m_bitsBlank = true;
            return nullptr;
        }
    }
    m_fresh = Bits;
    return &m_bits;
}

void FastLattice::recount()
{
    const std::span<const Spin> spin = spinsToWrite(); // the caller may have written them
    int total = 0, doubledBonds = 0;
    for (int i = 0; i < m_size; ++i)
        for (int j = 0; j < m_size; ++j) {
            const Neighbours n = torusNeighbours(i, j, m_size);
            const int s = spin[std::size_t(m_size * i + j)];
            total += s;
            doubledBonds += s * (spin[n.left] + spin[n.up] + spin[n.right] + spin[n.down]);
        }
    TotalMag = total;
    Energy = -doubledBonds / 2;
}

void FastLattice::startOrdered(RandomSource &random)
{
    orderedSpins(spins(), random);
    recount();
}

void FastLattice::startRandom(RandomSource &random)
{
    randomSpins(spins(), random);
    recount();
}

void FastLattice::load(const Lattice &lattice)
{
    if (m_size != Side)
        throw std::logic_error("a window lattice is 20 x 20");
    const std::span<Spin> spin = spinsToWrite();
    for (int k = 0; k < Sites; ++k)
        spin[k] = static_cast<Spin>(lattice.spinOfCell(k));
    TotalMag = lattice.TotalMag;
    Energy = lattice.Energy;
}

void FastLattice::store(Lattice &lattice) const
{
    if (m_size != Side)
        throw std::logic_error("a window lattice is 20 x 20");
    const std::span<const Spin> spin = spins();
    for (int k = 0; k < Sites; ++k)
        lattice.Spin[rowOf(k)][columnOf(k)] = spin[k];
    lattice.TotalMag = static_cast<std::int16_t>(TotalMag);
    lattice.Energy = static_cast<std::int16_t>(Energy);
}

void FastLattice::setTemperature(double runTemperature, const double *factors)
{
    bool equal = true;
    for (int k = 1; k < m_sites && equal; ++k)
        equal = factors[k] == factors[0];
    if (equal) {
        const double tk = localTemperature(runTemperature, factors[0]);
        m_threshold.assign(9, 0.0f);
        m_threshold.shrink_to_fit();
        fillThresholds(m_threshold.data(), tk);
        for (int s = -1; s <= 1; ++s)
            for (int h = -4; h <= 4; ++h)
                m_below[std::size_t(siteCode(s, h))] = detail::integerThreshold(m_threshold[std::size_t(s * h + 4)]);
        m_stride = 0;
        // A bond's 32-bit draw u joins when u < p 2^32 rounded to the nearest
        // integer: a probability within 2^-33 of p.
        const double p = -std::expm1(-2.0 / tk);
        m_bondBelow = static_cast<std::uint64_t>(std::llround(std::ldexp(p, 32)));
    } else {
        m_threshold.assign(std::size_t(m_sites) * 9, 0.0f);
        for (int k = 0; k < m_sites; ++k)
            fillThresholds(&m_threshold[std::size_t(k) * 9], localTemperature(runTemperature, factors[k]));
        m_stride = 9;
        m_bondBelow = 0;
    }
}

} // namespace ferro::engine
