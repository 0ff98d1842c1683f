#include "analysis/exactenergy.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace ferro {

namespace {

using Real = long double;

// ln|2 cosh x| and ln|2 sinh x|. Products of n such factors overflow a
// double below T of about 0.6 on the 20 x 20 torus, so Z is summed in logs.
Real lnTwoCosh(Real x) { return std::fabs(x) + std::log1p(std::exp(-2 * std::fabs(x))); }
Real lnTwoSinh(Real x) { return std::fabs(x) + std::log(-std::expm1(-2 * std::fabs(x))); }

} // namespace

// Z = 1/2 (2 sinh 2K)^(mn/2) (Z1 + Z2 + Z3 + Z4), products over r = 0 .. n-1
// of 2 cosh(m g/2) and 2 sinh(m g/2) with g = gamma(2r+1) for Z1, Z2 and
// g = gamma(2r) for Z3, Z4 (Kaufman 1949; Ferdinand and Fisher 1969).
// gamma(0) = 2K + ln tanh K changes sign at T_c, so Z4 is negative above it.
long double lnPartition(int m, int n, long double K)
{
    auto gamma = [&](int l) {
        if (l == 0)
            return 2 * K + std::log(std::tanh(K));
        return std::acosh(std::cosh(2 * K) / std::tanh(2 * K) - std::cos(std::numbers::pi_v<Real> * l / n));
    };
    Real lnZi[4] = {0, 0, 0, 0};
    int sign[4] = {1, 1, 1, 1};
    for (int r = 0; r < n; ++r) {
        const Real odd = m * gamma(2 * r + 1) / 2, even = m * gamma(2 * r) / 2;
        lnZi[0] += lnTwoCosh(odd);
        lnZi[1] += lnTwoSinh(odd);
        lnZi[2] += lnTwoCosh(even);
        lnZi[3] += even == 0 ? 0 : lnTwoSinh(even);
        sign[3] *= even < 0 ? -1 : even == 0 ? 0 : 1;
    }
    // |sinh| < cosh, so Z1 or Z3 is the largest term.
    const Real top = std::max(lnZi[0], lnZi[2]);
    Real sum = 0;
    for (int t = 0; t < 4; ++t)
        sum += sign[t] * std::exp(lnZi[t] - top);
    return -std::log(Real(2)) + Real(m * n) / 2 * std::log(2 * std::sinh(2 * K)) + top + std::log(sum);
}

namespace {

// ln Z and its first two derivatives in K, of one product or of the sum.
struct Derivatives {
    Real value = 0, first = 0, second = 0;
    void add(const Derivatives &d, int times = 1)
    {
        value += times * d.value;
        first += times * d.first;
        second += times * d.second;
    }
};

// One factor of Kaufman's products: gamma = gamma(l) >= 0 (|gamma(0)| for l = 0),
// a = m gamma / 2, and the factor (2 sinh 2K)^(m/2) 2 cosh a or
// (2 sinh 2K)^(m/2) 2 sinh a, which carries its share of the prefactor.
// Written as exp(scale) (1 + q) with scale = (m/2)(gamma + ln sinh 2K) and
// q = +-exp(-2a): at high T gamma and ln sinh 2K grow like ln(1/K) with
// opposite signs and derivatives near 1/K; their sum is taken analytically
// in `scale`, never numerically, and q is of order K^m.
struct Level {
    Derivatives scale;       // (m/2)(gamma + ln sinh 2K) and its derivatives
    Real a, a1, a2;          // m gamma / 2 and its derivatives
    Real sign = 1;           // sign of gamma(0) (l = 0 only)

    Derivatives factor(bool isCosh) const
    {
        const Real p = std::exp(-2 * a), q = isCosh ? p : -p;
        const Real onePlusQ = isCosh ? 1 + p : -std::expm1(-2 * a);
        const Real dq = -2 * a1 * q / onePlusQ, ddq = (4 * a1 * a1 - 2 * a2) * q / onePlusQ;
        return {scale.value + (isCosh ? std::log1p(p) : std::log1p(-p)), scale.first + dq,
                scale.second + ddq - dq * dq};
    }
};

// sinh 2K and cosh 2K, shared by every factor.
struct Coupling {
    Real K, s, C;
    explicit Coupling(Real k) : K(k), s(std::sinh(2 * k)), C(std::cosh(2 * k)) {}
};

// gamma(l) for l >= 1: cosh gamma = cosh 2K coth 2K - cos theta, theta =
// pi l / n. With s = sinh 2K, C = cosh 2K, u = C^2 - s cos theta and
// w = sqrt(u^2 - s^2) = s sinh gamma, gamma + ln s = ln(u + w), split as
//   2 ln C + ln(1 - beta cos theta) + ln(1 + sqrt(1 - rho^2)),
//   beta = s / C^2 <= 1/2, rho = s / u = 1 / cosh gamma,
// whose derivatives are each of the size of the result at every K (no
// terms near 4 and 16 left to cancel at low T, none near 1/K at high T).
// u - s = (s - 1)^2 + 2 s sin^2(theta/2) and u + s = 1 + s^2 + 2 s
// sin^2(theta/2) have no cancellation, and w > 0 for l >= 1 (it vanishes
// only for l = 0 at T_c).
Level level(int m, int l, int n, const Coupling &k)
{
    const Real s = k.s, C = k.C;
    const Real theta = std::numbers::pi_v<Real> * l / n, c = std::cos(theta);
    const Real half = std::sin(theta / 2), sinHalf2 = half * half;
    const Real uMinusS = (s - 1) * (s - 1) + 2 * s * sinHalf2, uPlusS = 1 + s * s + 2 * s * sinHalf2;
    const Real u = C * C - s * c, w = std::sqrt(uMinusS * uPlusS);
    const Real du = 2 * C * (2 * s - c), ddu = 8 * (s * s + C * C) - 4 * s * c;
    // 2 ln C
    Real g1 = 4 * s / C, g2 = 8 / (C * C);
    // ln(1 - beta c)
    const Real beta = s / (C * C), dBeta = 2 * (1 - s * s) / (C * C * C);
    const Real ddBeta = -8 * s / (C * C) - 12 * s * (1 - s * s) / (C * C * C * C);
    const Real d = 1 - beta * c, f1 = -c * dBeta / d;
    g1 += f1;
    g2 += -c * ddBeta / d - f1 * f1;
    // ln(1 + r), r = sqrt(1 - rho^2) = w / u
    const Real rho = s / u, r = w / u, rr = r * (1 + r);
    const Real top = 2 * C * u - s * du, dRho = top / (u * u);
    const Real ddRho = (4 * s * u - s * ddu) / (u * u) - 2 * top * du / (u * u * u);
    const Real phi1 = -rho / rr, phi2 = -1 / rr - rho * rho * (1 + 2 * r) / (r * rr * rr);
    g1 += phi1 * dRho;
    g2 += phi2 * dRho * dRho + phi1 * ddRho;
    const Real x = uMinusS / s; // cosh gamma - 1
    const Real gamma = std::log1p(x + std::sqrt(x * (x + 2)));
    const Real h = Real(m) / 2;
    // gamma' = g1 - (ln s)' = g1 - 2C/s, gamma'' = g2 + 4/s^2.
    return {{h * std::log(u + w), h * g1, h * g2}, h * gamma, h * (g1 - 2 * C / s), h * (g2 + 4 / (s * s))};
}

// gamma(0) = 2K + ln tanh K, which changes sign at T_c: gamma(0)' = 2 + 2/s
// and gamma(0)'' = -4C/s^2 in closed form, smooth through T_c; |gamma(0)| +
// ln s in closed form on either side.
Level levelZero(int m, const Coupling &k)
{
    const Real K = k.K, s = k.s, C = k.C, e = std::exp(-2 * K);
    const Real gamma = 2 * K + std::log1p(-e) - std::log1p(e);
    const Real sign = gamma < 0 ? -1 : 1, h = Real(m) / 2;
    Derivatives scale;
    if (sign < 0) // -gamma + ln s = ln(2 cosh^2 K) - 2K
        scale = {2 * std::log1p(e) - std::numbers::ln2_v<Real>, -4 / (1 / e + 1),
                 2 / (std::cosh(K) * std::cosh(K))};
    else // gamma + ln s = 2K + ln(2 sinh^2 K)
        scale = {2 * K + std::numbers::ln2_v<Real> + 2 * std::log(std::sinh(K)), 2 + 2 / std::tanh(K),
                 -2 / (std::sinh(K) * std::sinh(K))};
    return {{h * scale.value, h * scale.first, h * scale.second}, h * sign * gamma,
            h * sign * (2 + 2 / s), h * sign * (-4 * C / (s * s)), sign};
}

// d ln Z / dK and d^2 ln Z / dK^2 of the m x n torus.
//
// Z = 1/2 2^(mn/2) (Z1 + Z2 + Z3 + Z4) with every factor written as in
// Level. Each Z_i is summed in logs with its derivatives (sums of
// tanh/coth-like terms); the four are combined with weights exp(ln Z_i -
// max), and the second derivative is taken about the mean first derivative
// so that no two large squares are subtracted. Z1 >= Z2 > 0 and Z3 >= |Z4|,
// so the weights sum to at least the largest one.
//
// The one singular factor, 2 sinh(m gamma(0)/2) in Z4, vanishes at T_c,
// where ln|Z4| and coth would diverge; it is kept as a value,
// exp(|a|) h with h = 2 sinh(a) exp(-|a|), h' = 2a' exp(-2|a|) and
// h'' = (2a'' - 4 sign a'^2) exp(-2|a|), all bounded. Z4 < 0 above T_c.
//
// Regimes, all in one formula, no series:
// - high T (K -> 0, T = 1e4): every scale and its derivatives stay of
//   order 1 (no 1/K terms cancel), the q terms are of order K^m, and the
//   four weights sum to about twice the largest;
// - near T_c: the singular factor above; gamma(1) ~ pi/n is small but
//   nonzero, and the factors near it are regular;
// - low T (K large, T = 0.1): ln Z' adds terms of one sign; ln Z'' (near
//   64 N exp(-8K)) is what remains of sums over theta of terms near
//   exp(-2K), so C carries rounding near 1e-25 at T = 0.1, where it is
//   1e-31, and agrees with enumeration to 1e-15 at T = 0.5.
Derivatives lnPartitionDerivatives(int m, int n, Real K)
{
    Derivatives z[3], rest4; // Z1, Z2, Z3 and Z4 without its singular factor
    Real h = 0, h1 = 0, h2 = 0;
    const Coupling k(K);
    // gamma(l) = gamma(2n - l): l from 0 to n, the inner ones twice.
    for (int l = 0; l <= n; ++l) {
        const Level f = l == 0 ? levelZero(m, k) : level(m, l, n, k);
        const int times = l == 0 || l == n ? 1 : 2;
        if (l % 2 == 1) {
            z[0].add(f.factor(true), times);
            z[1].add(f.factor(false), times);
        } else {
            z[2].add(f.factor(true), times);
            if (l > 0) {
                rest4.add(f.factor(false), times);
            } else {
                rest4.add(f.scale);
                const Real e = std::exp(-2 * f.a);
                h = -f.sign * std::expm1(-2 * f.a);
                // Derivatives of the signed a = m gamma(0) / 2.
                const Real a1 = f.sign * f.a1, a2 = f.sign * f.a2;
                h1 = 2 * a1 * e;
                h2 = (2 * a2 - 4 * f.sign * a1 * a1) * e;
            }
        }
    }
    const Real top = std::max({z[0].value, z[1].value, z[2].value, rest4.value});
    Real weight[3], sum = 0, sumFirst = 0;
    for (int i = 0; i < 3; ++i) {
        weight[i] = std::exp(z[i].value - top);
        sum += weight[i];
        sumFirst += weight[i] * z[i].first;
    }
    const Real weight4 = std::exp(rest4.value - top);
    sum += weight4 * h;
    sumFirst += weight4 * (h1 + h * rest4.first);
    const Real mean = sumFirst / sum;
    Real sumSecond = 0;
    for (int i = 0; i < 3; ++i) {
        const Real d = z[i].first - mean;
        sumSecond += weight[i] * (d * d + z[i].second);
    }
    const Real d = rest4.first - mean;
    sumSecond += weight4 * (h2 + 2 * h1 * d + h * (d * d + rest4.second));
    return {0, mean, sumSecond / sum};
}

// The batch table asks for the energy and the specific heat of the same
// point one after the other: the last point is kept, per thread.
Derivatives cachedDerivatives(int m, int n, double T)
{
    thread_local struct {
        int m = 0, n = 0;
        double T = 0;
        Derivatives d;
    } last;
    if (last.m != m || last.n != n || last.T != T)
        last = {m, n, T, lnPartitionDerivatives(m, n, 1 / Real(T))};
    return last.d;
}

} // namespace

namespace {

// The 2 x 2 torus: each neighbouring pair is joined by two bonds, a ring of
// four spins with coupling J = 2K, Z = (2 cosh J)^4 + (2 sinh J)^4, in
// closed form at every temperature. With c, s = cosh J, sinh J the energy
// per site is -2 c s (c^2 + s^2) / (c^4 + s^4); with w = exp(-2J),
// ln Z = 4J + ln 2 + ln(1 + 6w^2 + w^4) and d^2 ln Z / dJ^2 =
// (96 w^2 + 64 w^4 + 96 w^6) / (1 + 6w^2 + w^4)^2, a sum without
// cancellation at any T.
double twoByTwoEnergy(double T)
{
    const Real J = 2 / Real(T), c = std::cosh(J), s = std::sinh(J);
    return double(-2 * c * s * (c * c + s * s) / (c * c * c * c + s * s * s * s));
}

double twoByTwoSpecificHeat(double T)
{
    const Real K = 1 / Real(T), w = std::exp(-4 * K), w2 = w * w, d = 1 + 6 * w2 + w2 * w2;
    return double(K * K * (96 * w2 + 64 * w2 * w2 + 96 * w2 * w2 * w2) / (d * d));
}

// Above this temperature, and for specific heats below LowTemperature, the
// sums over theta lose digits (at T = 1e20 the energy is off by 1e-20, at
// T = 0.15 the specific heat by 1e-24 of 2e-20): series take over there.
constexpr double HighTemperature = 1e8, LowTemperature = 0.2;

// High T, t = tanh K < 1e-8, m, n >= 3: ln Z / mn = ln 2 + 2 ln cosh K +
// t^4 + t^m / m + t^n / n + ... (plaquettes, and the loops that wind round
// the torus, n of length m and m of length n); terms below t^2 relative to
// the first are beyond a double.
double highEnergy(int m, int n, double T)
{
    const Real t = std::tanh(1 / Real(T));
    return double(-2 * t - std::pow(t, m - 1) - std::pow(t, n - 1));
}

double highSpecificHeat(int m, int n, double T)
{
    const Real K = 1 / Real(T), t = std::tanh(K);
    return double(K * K * (2 + (m - 1) * std::pow(t, m - 2) + (n - 1) * std::pow(t, n - 2)));
}

// Low T, u = exp(-4K) < 2e-9, m, n >= 3: ln Z / mn = 2K + u^2 + 2u^3 +
// u^m / m + u^n / n + O(u^4) (one spin turned, two neighbours, a line round
// the torus), so C = K^2 (64 u^2 + 144 (2 + [m = 3]/3 + [n = 3]/3) u^3),
// relative error near 14 u^2.
double lowSpecificHeat(int m, int n, double T)
{
    const Real K = 1 / Real(T), u = std::exp(-4 * K);
    const Real cubic = 2 + (m == 3 ? Real(1) / 3 : 0) + (n == 3 ? Real(1) / 3 : 0);
    return double(K * K * (64 * u * u + 144 * cubic * u * u * u));
}

// A specific heat a double holds as a normal number, else NaN (unknown):
// above T near 7e153 it falls below 2e-308 (it goes like 2/T^2), and an
// exact 0 would be wrong.
double representable(double c)
{
    return std::isnormal(c) ? c : std::numeric_limits<double>::quiet_NaN();
}

} // namespace

double exactEnergy(int m, int n, double T)
{
    if (m == 2 && n == 2)
        return twoByTwoEnergy(T);
    if (m >= 3 && n >= 3 && T > HighTemperature)
        return highEnergy(m, n, T);
    return double(-cachedDerivatives(m, n, T).first / (Real(m) * n));
}

double exactSpecificHeat(int m, int n, double T)
{
    if (m == 2 && n == 2)
        return representable(twoByTwoSpecificHeat(T));
    if (m >= 3 && n >= 3 && T > HighTemperature)
        return representable(highSpecificHeat(m, n, T));
    if (m >= 3 && n >= 3 && T < LowTemperature)
        return lowSpecificHeat(m, n, T);
    // A variance: rounding in the sums over theta could otherwise show as a
    // negative number where it is tiny (m or n = 2, T below 0.15).
    const Real K = 1 / Real(T);
    return double(std::max(Real(0), K * K * cachedDerivatives(m, n, T).second / (Real(m) * n)));
}

Estimate blockAverage(const std::vector<double> &x, int blocks)
{
    const size_t length = x.size() / static_cast<size_t>(blocks);
    double sum = 0, sumSquares = 0;
    for (int b = 0; b < blocks; ++b) {
        double block = 0;
        for (size_t t = b * length; t < (b + 1) * length; ++t)
            block += x[t];
        block /= double(length);
        sum += block;
        sumSquares += block * block;
    }
    const double mean = sum / blocks;
    return {mean, std::sqrt(std::max(0.0, sumSquares / blocks - mean * mean) / (blocks - 1))};
}

} // namespace ferro
