#include "analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ferro::batch {

Accumulator::Accumulator(std::int64_t sweeps, int blocks)
    : m_blocks(static_cast<std::size_t>(std::clamp<std::int64_t>(sweeps, 1, blocks)))
    , m_total(sweeps)
{
    m_blockEnd = m_total / static_cast<std::int64_t>(m_blocks.size());
}

void Accumulator::add(int energy, int totalMag, int accepted)
{
    // Block b holds sweeps [b n / B, (b + 1) n / B).
    while (m_done >= m_blockEnd && m_current + 1 < m_blocks.size()) {
        ++m_current;
        m_blockEnd = m_total * static_cast<std::int64_t>(m_current + 1) / static_cast<std::int64_t>(m_blocks.size());
    }
    Block &b = m_blocks[m_current];
    ++b.sweeps;
    b.energy += energy;
    b.energySquared += std::int64_t(energy) * energy;
    b.absMag += std::abs(totalMag);
    b.magSquared += std::int64_t(totalMag) * totalMag;
    b.accepted += accepted;
    ++m_done;
}

namespace {

Block combined(const Block &a, const Block &b, int sign)
{
    return {a.sweeps + sign * b.sweeps, a.energy + sign * b.energy, a.energySquared + sign * b.energySquared,
            a.absMag + sign * b.absMag, a.magSquared + sign * b.magSquared, a.accepted + sign * b.accepted};
}

struct Estimates {
    double v[5];
};

Estimates estimate(const Block &s, double T, int sites)
{
    const double n = double(s.sweeps), N = sites;
    const double e = s.energy / n, e2 = s.energySquared / n, m = s.absMag / n, m2 = s.magSquared / n;
    return {{e / N, m / N, (e2 - e * e) / (N * T * T), (m2 - m * m) / (N * T), s.accepted / (n * N)}};
}

} // namespace

Results analyse(const std::vector<Block> &blocks, double T, int sites)
{
    Block total;
    for (const Block &b : blocks)
        total = combined(total, b, 1);
    const Estimates all = estimate(total, T, sites);
    const std::size_t B = blocks.size();
    double error[5] = {NAN, NAN, NAN, NAN, NAN};
    if (B >= 2) {
        std::vector<Estimates> leaveOut;
        for (const Block &b : blocks)
            leaveOut.push_back(estimate(combined(total, b, -1), T, sites));
        for (int q = 0; q < 5; ++q) {
            double mean = 0, spread = 0;
            for (const Estimates &x : leaveOut)
                mean += x.v[q];
            mean /= double(B);
            for (const Estimates &x : leaveOut)
                spread += (x.v[q] - mean) * (x.v[q] - mean);
            error[q] = std::sqrt(double(B - 1) / double(B) * spread);
        }
    }
    Results r;
    Value *values[5] = {&r.energy, &r.absMag, &r.specificHeat, &r.susceptibility, &r.acceptance};
    for (int q = 0; q < 5; ++q)
        *values[q] = {all.v[q], error[q]};
    // The squared error of a mean of n correlated sweeps is 2 tau var / n.
    const double n = double(total.sweeps);
    const double meanE = double(total.energy) / n;
    const double variance = (double(total.energySquared) / n - meanE * meanE) / (double(sites) * sites); // of E / N
    r.energyTau = variance > 0 ? n * r.energy.error * r.energy.error / (2 * variance) : NAN;
    r.blockSweeps = n / double(B);
    return r;
}

} // namespace ferro::batch
