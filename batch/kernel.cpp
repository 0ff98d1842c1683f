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

void FastLattice::spinsFromStates() const
{
    for (int k = 0; k < m_sites; ++k) {
        const int index = m_state[std::size_t(k)];
        m_spin[std::size_t(k)] = static_cast<Spin>((index >= 18) - (index < 9));
    }
    m_spinsStale = false;
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
    m_statesFresh = false; // the spins may have been written
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
    m_statesFresh = false;
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

std::int64_t FastLattice::wolffCluster(Stream &stream)
{
    if (!equalFactors())
        throw std::logic_error("a Wolff cluster needs the same temperature at every site");
    // One slot beyond L^2: growth stores every neighbour at the queue's tail
    // and advances the tail only for those that join, so a cluster of every
    // site still stores once past its last entry.
    if (m_stack.size() < std::size_t(m_sites) + 1)
        m_stack.resize(std::size_t(m_sites) + 1);
    syncSpins();
    m_statesFresh = false;
    Xoshiro256 random = stream.engine(); // its state stays in registers
    Spin *const spin = m_spin.data();
    std::int32_t *const queue = m_stack.data();
    const int side = m_size;
    const std::uint64_t rowMultiplier = m_rowMultiplier, bondBelow = m_bondBelow;

    const int seed = static_cast<int>(random.draw() * double(m_sites));
    const int s0 = spin[seed];
    std::int64_t added = 1;
    if (s0 != 0) {
        // Spins join when queued (their spin marked 2 s0 meanwhile) and flip
        // when taken from the queue; each flip changes the energy by 2 s0
        // times the neighbours' sum at that moment (a queued neighbour
        // counting s0), so the sum of these steps is the cluster's exact
        // change. First in, first out: the next spin taken was queued long
        // before, so taking it waits for no join decision just made. Only a
        // spin still s0 joins (not one queued or flipped), so the queue never
        // holds more than L^2.
        int head = 0, tail = 0, energy = Energy;
        queue[tail++] = seed;
        const int queued = 2 * s0; // the spin of a queued site, not yet flipped
        spin[seed] = static_cast<Spin>(queued);
        const auto *const table = m_neighbours.empty() ? nullptr : m_neighbours.data();
        auto grow = [&](auto neighboursOf) {
            while (head < tail) {
                const int k = queue[head++];
                const std::array<int, 4> cells = neighboursOf(k);
                // Two 64-bit numbers, four 32-bit halves: one for every bond, in
                // the order left, up, right, down, low half first.
                const std::uint64_t a = random.next(), b = random.next();
                const std::uint64_t halves[4] = {a & 0xFFFFFFFFu, a >> 32, b & 0xFFFFFFFFu, b >> 32};
                int field = 0, queuedNeighbours = 0;
                for (int d = 0; d < 4; ++d) {
                    const int c = cells[d];
                    const int sc = spin[c];
                    field += sc;
                    queuedNeighbours += sc == queued;
                    // A draw for every bond, joined or not: no branch to mispredict.
                    const int join = (sc == s0) & (halves[d] < bondBelow);
                    queue[tail] = c;
                    tail += join;
                    spin[c] = static_cast<Spin>(join ? queued : sc);
                }
                // A queued neighbour counts as s0, not 2 s0.
                energy += 2 * s0 * field - 2 * queuedNeighbours;
                spin[k] = static_cast<Spin>(-s0);
            }
        };
        if (table)
            grow([table](int k) {
                const auto &t = table[k];
                return std::array<int, 4> {t[0], t[1], t[2], t[3]};
            });
        else
            grow([side, rowMultiplier](int k) {
                const int i = static_cast<int>((static_cast<std::uint64_t>(k) * rowMultiplier) >> 32);
                const Neighbours n = torusNeighbours(i, k - side * i, side);
                return std::array<int, 4> {n.left, n.up, n.right, n.down};
            });
        added = tail;
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
            if (four[0]->lattice.size() > FastLattice::TabledSize)
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

} // namespace ferro::batch
