#include "analysis/reweight.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace ferro::analysis {

EnergyHistogram::EnergyHistogram(std::int64_t sites, std::int64_t sweeps)
    : m_sites(sites), m_expected(std::max<std::int64_t>(1, sweeps)),
      m_blocks(int(std::min<std::int64_t>(MaxBlocks, std::max<std::int64_t>(1, sweeps))))
{
}

void EnergyHistogram::add(std::int64_t energy, std::int64_t totalMag, double mode)
{
    const int level = int((energy + 2 * m_sites) / 4);
    if (level < m_first || level >= m_first + m_width) [[unlikely]]
        widen(level);
    const int block = int(std::min<std::int64_t>(m_blocks - 1, m_sweeps * m_blocks / m_expected));
    LevelSums &s = m_sums[std::size_t(block) * std::size_t(m_width) + std::size_t(level - m_first)];
    const double m = double(totalMag) / double(m_sites), m2 = m * m;
    s.count += 1;
    s.absMag += std::fabs(m);
    s.magSquared += m2;
    s.magFourth += m2 * m2;
    s.mode += mode;
    ++m_sweeps;
}

// Holds `level` too, with room to spare on the side that grew (never beyond
// the N + 1 levels a lattice has).
void EnergyHistogram::widen(int level)
{
    const int top = int(m_sites); // the highest level, E = 2N
    int first = m_width == 0 ? level : std::min(m_first, level);
    int last = m_width == 0 ? level : std::max(m_first + m_width - 1, level);
    const int slack = std::max(8, (last - first) / 2);
    if (m_width == 0 || level < m_first)
        first -= slack;
    if (m_width == 0 || level >= m_first + m_width)
        last += slack;
    first = std::max(first, 0);
    last = std::min(last, top);
    const int width = last - first + 1;
    std::vector<LevelSums> sums(std::size_t(m_blocks) * std::size_t(width));
    for (int b = 0; b < m_blocks; ++b)
        for (int k = 0; k < m_width; ++k)
            sums[std::size_t(b) * std::size_t(width) + std::size_t(m_first + k - first)] = at(b, k);
    m_sums = std::move(sums);
    m_first = first;
    m_width = width;
}

namespace {

std::vector<double> totalCounts(const EnergyHistogram &h)
{
    std::vector<double> n(std::size_t(h.levels()), 0.0);
    for (int b = 0; b < h.blocks(); ++b)
        for (int k = 0; k < h.levels(); ++k)
            n[std::size_t(k)] += h.at(b, k).count;
    return n;
}

void addTo(LevelSums &to, const LevelSums &s, double sign)
{
    to.count += sign * s.count;
    to.absMag += sign * s.absMag;
    to.magSquared += sign * s.magSquared;
    to.magFourth += sign * s.magFourth;
    to.mode += sign * s.mode;
}

// ln sum_i exp(x_i), without overflow.
template <typename F>
double logSumExp(std::size_t n, F term)
{
    double top = -INFINITY;
    for (std::size_t i = 0; i < n; ++i)
        top = std::max(top, term(i));
    if (!std::isfinite(top))
        return top;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += std::exp(term(i) - top);
    return top + std::log(sum);
}

} // namespace

double histogramOverlap(const EnergyHistogram &a, const EnergyHistogram &b)
{
    const std::vector<double> na = totalCounts(a), nb = totalCounts(b);
    const double ta = std::accumulate(na.begin(), na.end(), 0.0), tb = std::accumulate(nb.begin(), nb.end(), 0.0);
    if (ta <= 0 || tb <= 0)
        return 0;
    double common = 0;
    for (int k = 0; k < a.levels(); ++k) {
        const std::int64_t e = a.firstEnergy() + 4 * std::int64_t(k);
        const std::int64_t kb = (e - b.firstEnergy()) / 4;
        if (e >= b.firstEnergy() && kb < b.levels())
            common += std::min(na[std::size_t(k)] / ta, nb[std::size_t(kb)] / tb);
    }
    return common;
}

double energySpread(const EnergyHistogram &h)
{
    const std::vector<double> n = totalCounts(h);
    double total = 0, sum = 0;
    for (std::size_t k = 0; k < n.size(); ++k)
        total += n[k], sum += n[k] * 4 * double(k);
    if (total <= 0)
        return NAN;
    const double mean = sum / total;
    double spread = 0;
    for (std::size_t k = 0; k < n.size(); ++k)
        spread += n[k] * (4 * double(k) - mean) * (4 * double(k) - mean);
    return std::sqrt(spread / total);
}

double jackknifeError(const std::vector<double> &x)
{
    const double B = double(x.size());
    if (x.size() < 2)
        return NaN;
    const double mean = std::accumulate(x.begin(), x.end(), 0.0) / B;
    double spread = 0;
    for (double v : x)
        spread += (v - mean) * (v - mean);
    return std::sqrt((B - 1) / B * spread);
}

MultiHistogram::MultiHistogram(const std::vector<const EnergyHistogram *> &points,
                               const std::vector<double> &temperatures, int blocks, double tolerance)
    : m_tolerance(tolerance)
{
    if (points.empty())
        return;
    m_sites = points.front()->sites();
    m_blocks = points.front()->blocks();
    m_hasMode = true;
    std::int64_t first = points.front()->firstEnergy(), last = first;
    for (const EnergyHistogram *h : points) {
        m_blocks = std::min(m_blocks, h->blocks());
        m_hasMode = m_hasMode && h->hasMode();
        first = std::min(first, h->firstEnergy());
        last = std::max(last, h->firstEnergy() + 4 * std::int64_t(h->levels() - 1));
    }
    if (blocks > 0)
        m_blocks = std::min(m_blocks, blocks);
    m_first = first;
    m_levels = int((last - first) / 4 + 1);
    m_reference = 0.5 * double(first + last);
    for (const double T : temperatures)
        m_betas.push_back(1 / T);

    // Per point: its counts by level, all sweeps and each block alone; and
    // the sums of all points by level, all sweeps and each block alone.
    const std::size_t R = points.size(), K = std::size_t(m_levels), B = std::size_t(m_blocks);
    std::vector<std::vector<double>> counts(R, std::vector<double>(K, 0.0));
    std::vector<std::vector<std::vector<double>>> blockCounts(R, std::vector<std::vector<double>>(B, std::vector<double>(K, 0.0)));
    std::vector<LevelSums> sums(K);
    std::vector<std::vector<LevelSums>> blockSums(B, std::vector<LevelSums>(K));
    for (std::size_t i = 0; i < R; ++i) {
        const EnergyHistogram &h = *points[i];
        const std::size_t offset = std::size_t((h.firstEnergy() - first) / 4);
        for (int b = 0; b < h.blocks(); ++b)
            for (int k = 0; k < h.levels(); ++k) {
                const LevelSums &s = h.at(b, k);
                const std::size_t level = offset + std::size_t(k);
                // Runs of neighbouring blocks, as even as the numbers allow.
                const std::size_t into = std::size_t(b) * B / std::size_t(h.blocks());
                counts[i][level] += s.count;
                blockCounts[i][into][level] += s.count;
                addTo(sums[level], s, 1);
                addTo(blockSums[into][level], s, 1);
            }
    }

    // A first guess of ln Z from the mean energies, then the iteration.
    m_full.sums = sums;
    solve(m_full, counts, firstGuess(counts));
    const int fullIterations = m_iterations;
    if (B >= 2) {
        for (std::size_t b = 0; b < B; ++b) {
            Replicate r;
            r.sums = sums;
            for (std::size_t k = 0; k < K; ++k)
                addTo(r.sums[k], blockSums[b][k], -1);
            std::vector<std::vector<double>> left = counts;
            for (std::size_t i = 0; i < R; ++i)
                for (std::size_t k = 0; k < K; ++k)
                    left[i][k] -= blockCounts[i][b][k];
            solve(r, left, m_full.lnZ);
            m_leaveOut.push_back(std::move(r));
        }
    }
    m_iterations = fullIterations;
}

// ln Z of each point from the mean energies, integrated in beta between
// neighbouring points (the trapezoid rule), the first point's 0.
std::vector<double> MultiHistogram::firstGuess(const std::vector<std::vector<double>> &counts) const
{
    const std::size_t R = counts.size(), K = std::size_t(m_levels);
    std::vector<double> guess(R, 0.0), mean(R, 0.0);
    for (std::size_t i = 0; i < R; ++i) {
        double n = 0, e = 0;
        for (std::size_t k = 0; k < K; ++k)
            n += counts[i][k], e += counts[i][k] * (double(m_first) + 4 * double(k) - m_reference);
        mean[i] = n > 0 ? e / n : 0;
    }
    std::vector<std::size_t> order(R);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return m_betas[a] < m_betas[b]; });
    for (std::size_t j = 1; j < R; ++j) {
        const std::size_t a = order[j - 1], b = order[j];
        guess[b] = guess[a] - (m_betas[b] - m_betas[a]) * 0.5 * (mean[a] + mean[b]);
    }
    const double shift = guess[0];
    for (double &g : guess)
        g -= shift;
    return guess;
}

// The Ferrenberg-Swendsen equations, in logarithms:
//   ln g(E) = ln n(E) - ln sum_j N_j exp(-beta_j E - ln Z_j)
//   ln Z_i  = ln sum_E exp(ln g(E) - beta_i E)
// iterated from `lnZStart` until ln Z moves by less than the tolerance.
void MultiHistogram::solve(Replicate &r, const std::vector<std::vector<double>> &counts, const std::vector<double> &lnZStart)
{
    const std::size_t R = counts.size(), K = std::size_t(m_levels);
    std::vector<double> lnN(R, -INFINITY), lnTotal(K, -INFINITY), energy(K);
    for (std::size_t k = 0; k < K; ++k)
        energy[k] = double(m_first) + 4 * double(k) - m_reference;
    std::vector<std::size_t> seen; // the levels visited
    for (std::size_t k = 0; k < K; ++k) {
        double n = 0;
        for (std::size_t i = 0; i < R; ++i)
            n += counts[i][k];
        if (n > 0.5) {
            lnTotal[k] = std::log(n);
            seen.push_back(k);
        }
    }
    std::vector<std::size_t> runs; // the points with sweeps
    for (std::size_t i = 0; i < R; ++i) {
        const double n = std::accumulate(counts[i].begin(), counts[i].end(), 0.0);
        if (n > 0.5) {
            lnN[i] = std::log(n);
            runs.push_back(i);
        }
    }
    r.lnZ = lnZStart;
    r.lnD.assign(K, INFINITY);
    auto computeD = [&] {
        for (const std::size_t k : seen)
            r.lnD[k] = logSumExp(runs.size(), [&](std::size_t j) {
                const std::size_t i = runs[j];
                return lnN[i] - m_betas[i] * energy[k] - r.lnZ[i];
            });
    };
    int iteration = 0;
    bool converged = runs.size() <= 1;
    for (; !converged && iteration < MaxIterations; ++iteration) {
        computeD();
        std::vector<double> next(R, 0.0);
        for (const std::size_t i : runs)
            next[i] = logSumExp(seen.size(), [&](std::size_t s) {
                const std::size_t k = seen[s];
                return lnTotal[k] - r.lnD[k] - m_betas[i] * energy[k];
            });
        const double shift = next[runs.front()];
        double change = 0;
        for (const std::size_t i : runs) {
            next[i] -= shift;
            change = std::max(change, std::fabs(next[i] - r.lnZ[i]));
        }
        r.lnZ = next;
        converged = change < m_tolerance;
    }
    computeD();
    m_iterations = iteration;
    m_converged = m_converged && converged;
}

std::array<double, Quantities> MultiHistogram::evaluate(const Replicate &r, double beta) const
{
    std::array<double, Quantities> out;
    out.fill(NaN);
    const std::size_t K = std::size_t(m_levels);
    std::vector<double> lw(K, -INFINITY);
    double top = -INFINITY;
    for (std::size_t k = 0; k < K; ++k)
        if (r.sums[k].count > 0.5) {
            lw[k] = -beta * (double(m_first) + 4 * double(k) - m_reference) - r.lnD[k];
            top = std::max(top, lw[k]);
        }
    if (!std::isfinite(top))
        return out;
    LevelSums total;
    double energy = 0;
    std::vector<double> w(K, 0.0);
    for (std::size_t k = 0; k < K; ++k) {
        if (!std::isfinite(lw[k]))
            continue;
        w[k] = std::exp(lw[k] - top);
        LevelSums s = r.sums[k];
        s.count *= w[k], s.absMag *= w[k], s.magSquared *= w[k], s.magFourth *= w[k], s.mode *= w[k];
        addTo(total, s, 1);
        energy += s.count * (double(m_first) + 4 * double(k) - m_reference);
    }
    const double W = total.count, meanE = energy / W;
    double variance = 0;
    for (std::size_t k = 0; k < K; ++k)
        if (w[k] > 0) {
            const double d = double(m_first) + 4 * double(k) - m_reference - meanE;
            variance += r.sums[k].count * w[k] * d * d;
        }
    variance /= W;
    const double N = double(m_sites);
    const double absMag = total.absMag / W, m2 = total.magSquared / W, m4 = total.magFourth / W;
    out[Energy] = (meanE + m_reference) / N;
    out[AbsMag] = absMag;
    out[SpecificHeat] = beta * beta * variance / N;
    out[Susceptibility] = N * beta * (m2 - absMag * absMag);
    out[SusceptibilityFull] = N * beta * m2;
    out[Binder] = 1 - m4 / (3 * m2 * m2);
    if (m_hasMode) {
        const double L = std::sqrt(N), mode = total.mode / W;
        out[LengthOverSize] = std::sqrt(N * m2 / mode - 1) / (2 * std::sin(std::numbers::pi / L)) / L;
    }
    return out;
}

CurveValues MultiHistogram::at(double T) const
{
    CurveValues v;
    v.full = evaluate(m_full, 1 / T);
    for (const Replicate &r : m_leaveOut)
        v.leaveOut.push_back(evaluate(r, 1 / T));
    return v;
}

} // namespace ferro::analysis
