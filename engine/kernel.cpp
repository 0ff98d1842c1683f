#include "engine/kernel.h"

#include "preparation/preparation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace ferro::engine {

std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index)
{
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

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

FastLattice::FastLattice(int size)
    : m_size(size)
    , m_sites(size * size)
    // floor(2^32 / L) + 1 overshoots 2^32 / L by less than L / 2^32 per unit,
    // which k < 2^20 and L <= 2^10 keep below the gap to the next row.
    , m_rowMultiplier((std::uint64_t(1) << 32) / std::uint64_t(size) + 1)
    , m_spin(std::size_t(size) * std::size_t(size), 0)
    , m_bitStride((size + 2 + 7) / 8)
    , m_threshold(9, std::numeric_limits<float>::infinity())
{
    if (size < MinimumSize || size > MaximumSize)
        throw std::invalid_argument("lattice size out of range");
    if (size <= TabledSize) {
        m_neighbours.resize(std::size_t(m_sites));
        for (int k = 0; k < m_sites; ++k) {
            const Neighbours n = torusNeighbours(k / size, k % size, size);
            m_neighbours[std::size_t(k)] = {std::uint16_t(n.left), std::uint16_t(n.up), std::uint16_t(n.right),
                                            std::uint16_t(n.down)};
        }
    }
}

void FastLattice::spinsFromForm() const
{
    if (m_staleFrom == Form::States) {
        for (int k = 0; k < m_sites; ++k) {
            const int index = m_state[std::size_t(k)];
            m_spin[std::size_t(k)] = static_cast<Spin>((index >= 18) - (index < 9));
        }
    } else {
        for (int i = 0; i < m_size; ++i)
            for (int j = 0; j < m_size; ++j) {
                const BitPlace p = bitPlace(i, j + 1);
                m_spin[std::size_t(m_size * i + j)] = (m_bits[p.byte] & p.mask) ? 1 : -1;
            }
    }
    m_spinsStale = false;
}

bool FastLattice::rebuildBits()
{
    syncSpins();
    if (std::find(m_spin.begin(), m_spin.end(), Spin(0)) != m_spin.end()) {
        m_bits = {};
        return false;
    }
    m_bits.assign(std::size_t(m_bitStride) * std::size_t(m_size) + 4, 0);
    auto set = [this](int i, int b) {
        const BitPlace p = bitPlace(i, b);
        m_bits[p.byte] = std::uint8_t(m_bits[p.byte] | p.mask);
    };
    for (int i = 0; i < m_size; ++i)
        for (int j = 0; j < m_size; ++j)
            if (m_spin[std::size_t(m_size * i + j)] > 0) {
                set(i, j + 1);
                if (j == m_size - 1) // the copy before the row's first
                    set(i, 0);
                if (j == 0) // the copy after the row's last
                    set(i, m_size + 1);
            }
    return true;
}

void FastLattice::recount()
{
    syncSpins();
    int total = 0, doubledBonds = 0;
    for (int i = 0; i < m_size; ++i)
        for (int j = 0; j < m_size; ++j) {
            const Neighbours n = torusNeighbours(i, j, m_size);
            const int s = m_spin[std::size_t(m_size * i + j)];
            total += s;
            doubledBonds += s * (m_spin[n.left] + m_spin[n.up] + m_spin[n.right] + m_spin[n.down]);
        }
    TotalMag = total;
    Energy = -doubledBonds / 2;
    spinsWritten(); // the spins may have been written
}

void FastLattice::rebuildStates()
{
    syncSpins();
    m_state.resize(std::size_t(m_sites));
    for (int i = 0; i < m_size; ++i)
        for (int j = 0; j < m_size; ++j) {
            const Neighbours n = torusNeighbours(i, j, m_size);
            const int k = m_size * i + j;
            m_state[std::size_t(k)] =
                static_cast<std::uint8_t>(9 * m_spin[k] + m_spin[n.left] + m_spin[n.up] + m_spin[n.right] + m_spin[n.down] + 13);
        }
    m_statesFresh = true;
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
    for (int k = 0; k < Sites; ++k)
        m_spin[k] = static_cast<Spin>(lattice.spinOfCell(k));
    spinsWritten();
    m_spinsStale = false;
    TotalMag = lattice.TotalMag;
    Energy = lattice.Energy;
}

void FastLattice::store(Lattice &lattice) const
{
    if (m_size != Side)
        throw std::logic_error("a window lattice is 20 x 20");
    syncSpins();
    for (int k = 0; k < Sites; ++k)
        lattice.Spin[rowOf(k)][columnOf(k)] = m_spin[k];
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
                m_below[std::size_t(9 * s + h + 13)] = detail::integerThreshold(m_threshold[std::size_t(s * h + 4)]);
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

// The Wolff update, wolffCluster and wolffSweep, is in batch/wolff.cpp.

void sweepTogether(std::span<Chain *const> chains, std::span<int> accepted)
{
    // Chains of one size with every factor equal go four at a time through
    // the vector lanes where the processor has them (lanes.cpp); the rest
    // one after the other. Two chains woven into one scalar loop ran slower
    // here than one after the other (their generators and lattices no
    // longer fit the registers); four generators in the lanes of vector
    // registers cost about what one costs alone.
    std::vector<bool> done(chains.size(), false);
    if (detail::FourLanes::available()) {
        for (std::size_t c = 0; c < chains.size(); ++c) {
            if (done[c])
                continue;
            std::array<Chain *, 4> four {};
            std::array<std::size_t, 4> index {};
            int found = 0;
            for (std::size_t d = c; d < chains.size() && found < 4; ++d) {
                const FastLattice &l = chains[d]->lattice;
                if (!done[d] && l.equalFactors() && l.size() == chains[c]->lattice.size()) {
                    four[std::size_t(found)] = chains[d];
                    index[std::size_t(found++)] = d;
                }
            }
            if (found < 4)
                continue;
            std::array<int, 4> counts {};
            const int size = four[0]->lattice.size();
            if (size >= detail::FourLanes::BitsFrom && detail::FourLanes::sweepBits(four, counts)) {
                // swept from their bits
            } else if (size > FastLattice::TabledSize)
                detail::FourLanes::sweepStates(four, counts);
            else
                detail::FourLanes::sweepTabled(four, counts);
            for (int f = 0; f < 4; ++f) {
                done[index[std::size_t(f)]] = true;
                accepted[index[std::size_t(f)]] = counts[std::size_t(f)];
            }
        }
    }
    for (std::size_t c = 0; c < chains.size(); ++c)
        if (!done[c])
            accepted[c] = chains[c]->sweep();
}

} // namespace ferro::engine
