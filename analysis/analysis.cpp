#include "analysis/analysis.h"

#include <algorithm>
#include <bit>
#include <numbers>

namespace ferro::analysis {

namespace {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

// Sokal's window constant: the window W is the smallest lag with W >= c tau(W).
constexpr double WindowConstant = 6;
// Longest window summed on one series; a longer one coarsens the series first.
constexpr std::size_t MaxLag = 32;

// 2 tau sigma^2 of a stationary series whose values are means over `width`
// sweeps each: the variance of its mean times the number of sweeps, which is
// what the error of a mean needs. Sokal's automatic window on the series; as
// long as the window would be longer than MaxLag, neighbouring pairs merge
// first (which keeps the sum over the window while shortening it). The sum
// over the window is corrected for the mean subtracted from every term
// (each lag is low by the variance of the mean, Var = sum / n). NaN for
// fewer than two values.
double longRunVariance(std::vector<double> x, double width)
{
    for (;;) {
        const std::size_t n = x.size();
        if (n < 2)
            return NaN;
        long double total = 0;
        for (double v : x)
            total += v;
        const double mean = double(total / n);
        for (double &v : x)
            v -= mean;
        double gamma0 = 0;
        for (double v : x)
            gamma0 += v * v;
        gamma0 /= double(n);
        if (gamma0 == 0)
            return 0;
        const std::size_t limit = n / 4, lags = std::min(MaxLag, limit);
        double sum = gamma0; // Gamma(0) + 2 sum_{t=1}^{W} Gamma(t)
        std::size_t window = 0;
        for (std::size_t t = 1; t <= lags; ++t) {
            double part[4] = {0, 0, 0, 0};
            const std::size_t m = n - t;
            std::size_t i = 0;
            for (; i + 4 <= m; i += 4)
                for (int k = 0; k < 4; ++k)
                    part[k] += x[i + k] * x[i + k + t];
            for (; i < m; ++i)
                part[0] += x[i] * x[i + t];
            sum += 2 * ((part[0] + part[1]) + (part[2] + part[3])) / double(m);
            if (double(t) >= WindowConstant * sum / (2 * gamma0)) {
                window = t;
                break;
            }
        }
        if (window == 0 && lags < limit) { // the window lies further out
            for (std::size_t k = 0; k < n / 2; ++k)
                x[k] = 0.5 * (x[2 * k] + x[2 * k + 1]);
            x.resize(n / 2);
            width *= 2;
            continue;
        }
        if (window == 0) // too short a series for the window: the best it allows
            window = lags;
        double c = sum / (1 - double(2 * window + 1) / double(n));
        if (!(c > 0))
            c = gamma0;
        return width * c;
    }
}

struct Sums {
    std::int64_t sweeps = 0;
    Int128 energy = 0, energySquared = 0, absMag = 0, magSquared = 0, magFourth = 0;
    long double mode = 0;
    Sums &operator+=(const Sums &o)
    {
        sweeps += o.sweeps;
        energy += o.energy, energySquared += o.energySquared, absMag += o.absMag;
        magSquared += o.magSquared, magFourth += o.magFourth, mode += o.mode;
        return *this;
    }
    Sums operator-(const Sums &o) const
    {
        return {sweeps - o.sweeps, energy - o.energy, energySquared - o.energySquared, absMag - o.absMag,
                magSquared - o.magSquared, magFourth - o.magFourth, mode - o.mode};
    }
};

// n sum x^2 - (sum x)^2, exact, over n^2: the variance of the sweeps.
long double variance(std::int64_t n, Int128 sum, Int128 sumSquares)
{
    const Int128 numerator = Int128(n) * sumSquares - sum * sum;
    return static_cast<long double>(numerator) / (static_cast<long double>(n) * n);
}

constexpr int Quantities = 6; // specific heat, chi', chi, U, xi, xi / L

struct Fluctuations {
    double v[Quantities];
};

Fluctuations fluctuations(const Sums &s, double T, double N)
{
    const long double n = s.sweeps;
    const long double m2 = static_cast<long double>(s.magSquared);
    // xi from chi / F = <M^2> / (N <F>); empty where the ratio is not above 1.
    const double L = std::sqrt(N), ratio = double(m2 / N / s.mode);
    double xi = std::sqrt(ratio - 1) / (2 * std::sin(std::numbers::pi / L));
    if (!std::isfinite(xi))
        xi = NaN;
    return {{double(variance(s.sweeps, s.energy, s.energySquared) / (N * T * T)),
             double(variance(s.sweeps, s.absMag, s.magSquared) / (N * T)), double(m2 / n / (N * T)),
             double(1 - n * static_cast<long double>(s.magFourth) / (3 * m2 * m2)), xi, xi / L}};
}

// Integrated autocorrelation time in sweeps from 2 tau sigma^2 and the raw
// variance of the n sweeps (low by the variance of the mean, added back).
double tauOf(double longRun, long double rawVariance, std::int64_t n)
{
    const double sigma2 = double(rawVariance) + longRun / double(n);
    return sigma2 > 0 && longRun > 0 ? longRun / (2 * sigma2) : NaN;
}

// Jackknife blocks of at least 20 tau of the slowest observable, 16 to 64 of
// them; a shorter run gets 8 to 16 blocks of at least 10 tau where it can,
// else 8 shorter ones; never more than the bins.
std::int64_t jackknifeBlocks(std::int64_t n, double slowestTau, std::size_t bins)
{
    const double tau = std::isnan(slowestTau) ? 0.5 : std::max(slowestTau, 0.5);
    std::int64_t blocks = static_cast<std::int64_t>(double(n) / (20 * tau));
    if (blocks >= 16)
        blocks = std::min<std::int64_t>(blocks, 64);
    else
        blocks = std::clamp<std::int64_t>(static_cast<std::int64_t>(double(n) / (10 * tau)), 8, 16);
    return std::min<std::int64_t>(blocks, std::int64_t(bins));
}

// The bias-corrected estimates and errors from the whole run's values and
// those with each block left out.
void jackknife(const Fluctuations &all, const std::vector<Fluctuations> &leaveOut, double estimate[Quantities],
               double error[Quantities])
{
    const double B = double(leaveOut.size());
    for (int q = 0; q < Quantities; ++q) {
        double mean = 0, spread = 0;
        for (const Fluctuations &f : leaveOut)
            mean += f.v[q];
        mean /= B;
        for (const Fluctuations &f : leaveOut)
            spread += (f.v[q] - mean) * (f.v[q] - mean);
        estimate[q] = B * all.v[q] - (B - 1) * mean; // removes the bias of order 1/n
        error[q] = std::sqrt((B - 1) / B * spread);
    }
}

} // namespace

Accumulator::Accumulator(std::int64_t sweeps, std::int64_t sites)
    : m_sites(sites)
{
    m_bins.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(sweeps, 1, MaxBins)));
}

void Accumulator::nextBin()
{
    if (m_bins.size() == MaxBins) { // every bin is full: pairs merge
        for (std::size_t k = 0; k < MaxBins / 2; ++k) {
            const Bin &a = m_bins[2 * k], &b = m_bins[2 * k + 1];
            m_bins[k] = {a.energy + b.energy,         a.energySquared + b.energySquared, a.absMag + b.absMag,
                         a.magSquared + b.magSquared, a.accepted + b.accepted,           a.magFourth + b.magFourth,
                         a.mode + b.mode};
        }
        m_bins.resize(MaxBins / 2);
        m_width *= 2;
    } else if (m_bins.size() == m_bins.capacity()) { // more sweeps than announced: never beyond MaxBins
        m_bins.reserve(std::min(2 * m_bins.size(), MaxBins));
    }
    m_bins.emplace_back();
    m_fill = 0;
}

std::vector<std::uint64_t> Accumulator::save() const
{
    std::vector<std::uint64_t> w {std::uint64_t(m_sites),      std::uint64_t(m_width),
                                  std::uint64_t(m_fill),       std::uint64_t(m_sweeps),
                                  m_bins.size(),               std::uint64_t(m_lastMag),
                                  std::uint64_t(m_changedSweeps), std::uint64_t(m_parityChanges)};
    w.reserve(HeaderWords + BinWords * m_bins.size());
    for (const Bin &b : m_bins) {
        const auto fourth = static_cast<UInt128>(b.magFourth);
        w.insert(w.end(), {std::uint64_t(b.energy), std::uint64_t(b.energySquared), std::uint64_t(b.absMag),
                           std::uint64_t(b.magSquared), std::uint64_t(b.accepted), std::uint64_t(fourth),
                           std::uint64_t(fourth >> 64), std::bit_cast<std::uint64_t>(b.mode)});
    }
    return w;
}

bool Accumulator::restore(const std::vector<std::uint64_t> &w)
{
    if (w.size() < HeaderWords || std::int64_t(w[0]) != m_sites || w[4] > MaxBins
        || w.size() != HeaderWords + BinWords * w[4])
        return false;
    const auto width = std::int64_t(w[1]), fill = std::int64_t(w[2]), sweeps = std::int64_t(w[3]);
    if (width < 1 || fill < 0 || fill > width || sweeps < 0 || (w[4] == 0 && sweeps != 0))
        return false;
    std::vector<Bin> bins(w[4]);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const std::uint64_t *b = &w[HeaderWords + BinWords * k];
        const auto fourth = static_cast<UInt128>(b[6]) << 64 | b[5];
        bins[k] = {std::int64_t(b[0]), std::int64_t(b[1]), std::int64_t(b[2]), std::int64_t(b[3]),
                   std::int64_t(b[4]), static_cast<Int128>(fourth), std::bit_cast<double>(b[7])};
    }
    bins.reserve(std::max(m_bins.capacity(), bins.size()));
    m_bins = std::move(bins);
    m_width = width;
    m_fill = m_bins.empty() ? 1 : fill; // no bin yet: the first add starts one
    m_sweeps = sweeps;
    m_lastMag = std::int64_t(w[5]);
    m_changedSweeps = std::int64_t(w[6]);
    m_parityChanges = std::int64_t(w[7]);
    return true;
}

// The complete bins as series of means per sweep, one value a bin (the last
// bin may be partial, and is only in the sums), and the sums over every sweep.
struct Accumulator::Series {
    std::vector<double> energy, absMag, magSquared, acceptance;
    std::size_t complete = 0; // bins in the series
    double width = 1;         // sweeps per value
    Sums total;
    std::int64_t accepted = 0;
};

Accumulator::Series Accumulator::series() const
{
    Series s;
    s.complete = m_fill == m_width ? m_bins.size() : m_bins.size() - 1;
    s.width = double(m_width);
    s.energy.resize(s.complete);
    s.absMag.resize(s.complete);
    s.magSquared.resize(s.complete);
    s.acceptance.resize(s.complete);
    const double w = s.width;
    for (std::size_t k = 0; k < m_bins.size(); ++k) {
        const Bin &b = m_bins[k];
        s.total += {0, b.energy, b.energySquared, b.absMag, b.magSquared, b.magFourth, b.mode};
        s.accepted += b.accepted;
        if (k < s.complete) {
            s.energy[k] = double(b.energy) / w;
            s.absMag[k] = double(b.absMag) / w;
            s.magSquared[k] = double(b.magSquared) / w;
            s.acceptance[k] = double(b.accepted) / w;
        }
    }
    s.total.sweeps = m_sweeps;
    return s;
}

Results Accumulator::analyse(double T) const
{
    Results r;
    r.sweeps = m_sweeps;
    r.changedSweeps = m_changedSweeps;
    r.parityChanges = m_parityChanges;
    if (m_sweeps == 0)
        return r;
    const Series s = series();
    measureMeans(s, r);
    measureFluctuations(s, T, r);
    measureDrift(s, r);
    return r;
}

// Means, and their errors from each series' own autocorrelation.
void Accumulator::measureMeans(const Series &s, Results &r) const
{
    const std::int64_t n = m_sweeps;
    const double N = double(m_sites), w = s.width;
    const long double sweeps = n;
    const double longRunE = longRunVariance(s.energy, w), longRunA = longRunVariance(s.absMag, w);
    const double longRunM2 = longRunVariance(s.magSquared, w), longRunAcc = longRunVariance(s.acceptance, w);
    auto errorOf = [&](double longRun) { return std::sqrt(longRun / double(n)) / N; };
    r.energy = {double(static_cast<long double>(s.total.energy) / sweeps / N), errorOf(longRunE)};
    r.absMag = {double(static_cast<long double>(s.total.absMag) / sweeps / N), errorOf(longRunA)};
    r.acceptance = {double(s.accepted / sweeps / N), errorOf(longRunAcc)};
    r.energyTau = tauOf(longRunE, variance(n, s.total.energy, s.total.energySquared), n);
    r.absMagTau = tauOf(longRunA, variance(n, s.total.absMag, s.total.magSquared), n);
    const long double meanM2 = static_cast<long double>(s.total.magSquared) / sweeps;
    r.magSquaredTau = tauOf(longRunM2, static_cast<long double>(s.total.magFourth) / sweeps - meanM2 * meanM2, n);
    r.slowestTau = std::fmax(r.energyTau, std::fmax(r.absMagTau, r.magSquaredTau));
}

// The specific heat, susceptibilities and Binder cumulant, with a jackknife
// over blocks of the bins; empty heat and susceptibilities without a
// temperature.
void Accumulator::measureFluctuations(const Series &s, double T, Results &r) const
{
    const double N = double(m_sites);
    const std::int64_t blocks = jackknifeBlocks(m_sweeps, r.slowestTau, m_bins.size());
    r.jackknifeBlocks = blocks;
    const Fluctuations all = fluctuations(s.total, T, N);
    double estimate[Quantities], error[Quantities];
    for (int q = 0; q < Quantities; ++q)
        estimate[q] = all.v[q], error[q] = NaN;
    if (blocks >= 2) {
        std::vector<Fluctuations> leaveOut;
        const std::size_t bins = m_bins.size();
        for (std::int64_t k = 0; k < blocks; ++k) {
            Sums block;
            const std::size_t first = bins * std::size_t(k) / std::size_t(blocks);
            const std::size_t last = bins * std::size_t(k + 1) / std::size_t(blocks);
            for (std::size_t j = first; j < last; ++j) {
                const Bin &b = m_bins[j];
                const std::int64_t width = j < s.complete ? m_width : m_fill;
                block += {width, b.energy, b.energySquared, b.absMag, b.magSquared, b.magFourth, b.mode};
            }
            leaveOut.push_back(fluctuations(s.total - block, T, N));
        }
        jackknife(all, leaveOut, estimate, error);
    }
    Value *values[Quantities] = {&r.specificHeat,         &r.susceptibility,    &r.susceptibilityFull,
                                 &r.binder,               &r.correlationLength, &r.correlationLengthOverSize};
    for (int q = 0; q < Quantities; ++q)
        *values[q] = {estimate[q], error[q]};
    if (std::isnan(T))
        r.specificHeat = r.susceptibility = r.susceptibilityFull = {};
}

// Drift: the first and last quarter of the complete bins; and the last half.
void Accumulator::measureDrift(const Series &s, Results &r) const
{
    const std::size_t quarter = s.complete / 4;
    if (quarter == 0)
        return;
    const double N = double(m_sites), w = s.width;
    auto part = [&](const std::vector<double> &series, std::size_t from, std::size_t length = 0) {
        length = length ? length : quarter;
        const std::vector<double> piece(series.begin() + std::ptrdiff_t(from),
                                        series.begin() + std::ptrdiff_t(from + length));
        long double sum = 0;
        for (double v : piece)
            sum += v;
        return Value{double(sum / length / N), std::sqrt(longRunVariance(piece, w) / (double(length) * w)) / N};
    };
    const std::size_t half = s.complete / 2;
    r.energyLastHalf = part(s.energy, s.complete - half, half);
    r.energyFirstQuarter = part(s.energy, 0);
    r.energyLastQuarter = part(s.energy, s.complete - quarter);
    r.absMagFirstQuarter = part(s.absMag, 0);
    r.absMagLastQuarter = part(s.absMag, s.complete - quarter);
    auto differ = [](const Value &a, const Value &b) {
        return std::abs(a.mean - b.mean) > 4 * std::hypot(a.error, b.error);
    };
    r.drift = differ(r.energyFirstQuarter, r.energyLastQuarter) || differ(r.absMagFirstQuarter, r.absMagLastQuarter);
}

} // namespace ferro::analysis
