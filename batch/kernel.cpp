#include "batch/kernel.h"

#include "preparation/preparation.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace ferro::batch {

std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index)
{
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

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

void FastLattice::recount()
{
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
    TotalMag = lattice.TotalMag;
    Energy = lattice.Energy;
}

void FastLattice::store(Lattice &lattice) const
{
    if (m_size != Side)
        throw std::logic_error("a window lattice is 20 x 20");
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
        m_stride = 0;
        // The draw (53 bits times 2^-53) is below p exactly when its bits are
        // below p 2^53 rounded up; p 2^53 is exact.
        const double p = -std::expm1(-2.0 / tk);
        m_bondBelow = static_cast<std::uint64_t>(std::ceil(std::ldexp(p, 53)));
    } else {
        m_threshold.assign(std::size_t(m_sites) * 9, 0.0f);
        for (int k = 0; k < m_sites; ++k)
            fillThresholds(&m_threshold[std::size_t(k) * 9], localTemperature(runTemperature, factors[k]));
        m_stride = 9;
        m_bondBelow = 0;
    }
}

std::int64_t FastLattice::wolffCluster(Stream &stream)
{
    if (!equalFactors())
        throw std::logic_error("a Wolff cluster needs the same temperature at every site");
    if (m_stack.empty()) {
        m_stack.resize(std::size_t(m_sites));
        m_onStack.assign(std::size_t(m_sites), 0);
    }
    Xoshiro256 random = stream.engine(); // its state stays in registers
    Spin *const spin = m_spin.data();
    std::uint8_t *const onStack = m_onStack.data();
    std::int32_t *const stack = m_stack.data();
    const int side = m_size;
    const std::uint64_t rowMultiplier = m_rowMultiplier, bondBelow = m_bondBelow;

    const int seed = static_cast<int>(random.draw() * double(m_sites));
    const int s0 = spin[seed];
    std::int64_t added = 1;
    if (s0 != 0) {
        // Spins join when pushed and flip when popped; each flip changes the
        // energy by 2 s0 times the neighbours' sum at that moment, so the sum
        // of these steps is the cluster's exact change.
        int top = 0, energy = Energy;
        stack[top++] = seed;
        onStack[seed] = 1;
        while (top > 0) {
            const int k = stack[--top];
            const int i = static_cast<int>((static_cast<std::uint64_t>(k) * rowMultiplier) >> 32);
            const Neighbours n = torusNeighbours(i, k - side * i, side);
            const int cells[4] = {n.left, n.up, n.right, n.down};
            int field = 0;
            for (const int c : cells) {
                const int sc = spin[c];
                field += sc;
                // One draw for every bond, joined or not: no branch to mispredict.
                const int join = (sc == s0) & (onStack[c] == 0) & ((random.next() >> 11) < bondBelow);
                stack[top] = c;
                top += join;
                onStack[c] = static_cast<std::uint8_t>(onStack[c] | join);
                added += join;
            }
            energy += 2 * s0 * field;
            spin[k] = static_cast<Spin>(-s0);
            onStack[k] = 0;
        }
        Energy = energy;
        TotalMag -= static_cast<int>(2 * s0 * added);
    }
    stream.engine() = random;
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

void sweepTogether(std::span<Chain *const> chains, std::span<int> accepted)
{
    // Measured on this machine: one chain's attempt is bound by its
    // instruction count, not by the generator's latency, and two chains
    // woven into one loop ran slower than one after the other (their
    // generators and lattices no longer fit the registers).
    for (std::size_t c = 0; c < chains.size(); ++c)
        accepted[c] = chains[c]->sweep();
}

} // namespace ferro::batch
