// The exact energy and specific heat of the L x L torus against every state
// enumerated (L = 2, 3, 4), and at large L against Onsager's infinite
// lattice, the high-temperature series and the ln L growth of the peak.
// Units: J = 1, k_B = 1, quantities per site.
#include "analysis/exactenergy.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace ferro;

namespace {

using Real = long double;

const double Tc = 2 / std::log(1 + std::numbers::sqrt2);

struct Thermal {
    double energy, heat;
};

// <E>/N and (<E^2> - <E>^2)/(N T^2) over all 2^N states of the m x n torus,
// with the program's energy: -sum s(i,j) (s(i,j+1) + s(i+1,j)), periodic,
// 2N bonds (on a side of 2 both bonds join the same two sites).
Thermal enumerated(int m, int n, double T)
{
    const int N = m * n;
    std::vector<long> count(4 * N + 1); // states by energy, E = -2N .. 2N
    for (long state = 0; state < (1L << N); ++state) {
        auto s = [&](int i, int j) { return (state >> ((i % m) * n + j % n) & 1) ? 1 : -1; };
        int e = 0;
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                e -= s(i, j) * (s(i, j + 1) + s(i + 1, j));
        ++count[e + 2 * N];
    }
    Real weights = 0, sum = 0;
    for (int k = 0; k <= 4 * N; ++k) {
        const Real w = count[k] * std::exp(-k / Real(T)); // shifted by the ground state
        weights += w;
        sum += w * (k - 2 * N);
    }
    const Real mean = sum / weights;
    Real spread = 0;
    for (int k = 0; k <= 4 * N; ++k)
        spread += count[k] * std::exp(-k / Real(T)) * (k - 2 * N - mean) * (k - 2 * N - mean);
    return {double(mean / N), double(spread / weights / (N * Real(T) * T))};
}

// Onsager's infinite lattice (modulus kappa = 2 sinh 2K / cosh^2 2K).
Thermal onsager(double T)
{
    const double K = 1 / T, t2 = std::pow(std::tanh(2 * K), 2), c = 1 / std::tanh(2 * K);
    const double kappa = 2 * std::sinh(2 * K) / std::pow(std::cosh(2 * K), 2);
    const double k1 = std::comp_ellint_1(kappa), e1 = std::comp_ellint_2(kappa);
    const double energy = -c * (1 + 2 / std::numbers::pi * (2 * t2 - 1) * k1);
    const double heat = 4 / std::numbers::pi * std::pow(K * c, 2)
                        * (k1 - e1 - (1 - t2) * (std::numbers::pi / 2 + (2 * t2 - 1) * k1));
    return {energy, heat};
}

bool close(double value, double expected, double relative, double absolute)
{
    return std::fabs(value - expected) <= relative * std::fabs(expected) + absolute; // false for NaN
}

} // namespace

class TestExact : public QObject {
    Q_OBJECT
private slots:
    void matchesEnumeration_data()
    {
        QTest::addColumn<int>("m");
        QTest::addColumn<int>("n");
        for (auto [m, n] : {std::pair{2, 2}, std::pair{3, 3}, std::pair{4, 4}, std::pair{3, 5}, std::pair{5, 3}})
            QTest::newRow(qPrintable(QStringLiteral("%1x%2").arg(m).arg(n))) << m << n;
    }
    void matchesEnumeration()
    {
        QFETCH(int, m);
        QFETCH(int, n);
        for (double T : {0.1, 0.5, 1.0, 2.0, 2.269185, 3.0, 10.0, 1e4}) {
            const Thermal brute = enumerated(m, n, T);
            const double e = exactEnergy(m, n, T), c = exactSpecificHeat(m, n, T);
            QVERIFY2(close(e, brute.energy, 1e-10, 1e-12) && close(c, brute.heat, 1e-10, 1e-12),
                     qPrintable(QStringLiteral("T = %1: E/N %2 (states %3), C/N %4 (states %5)")
                                    .arg(T).arg(e, 0, 'g', 16).arg(brute.energy, 0, 'g', 16)
                                    .arg(c, 0, 'g', 16).arg(brute.heat, 0, 'g', 16)));
        }
    }

    // Finite and physical for every size and temperature, and the largest
    // torus on the infinite lattice away from T_c (there the finite-size
    // correction falls like exp(-L / correlation length), far below 1e-10)
    // and on the high-temperature series (-2t - 4t^3 (1 - t^2) for E,
    // K^2 (2 sech^2 K + 12 K^2) for C, both good to 1e-11 at T >= 1000).
    void largeTorus_data()
    {
        QTest::addColumn<int>("L");
        for (int L : {20, 64, 256, 1024})
            QTest::newRow(qPrintable(QStringLiteral("L%1").arg(L))) << L;
    }
    void largeTorus()
    {
        QFETCH(int, L);
        for (double T : {0.1, 0.3, 1.0, 1.5, 2.0, 2.2, Tc, 2.3, 2.5, 3.5, 10.0, 100.0, 1e3, 1e4}) {
            const double e = exactEnergy(L, L, T), c = exactSpecificHeat(L, L, T);
            const QString where = QStringLiteral("T = %1: E/N %2, C/N %3").arg(T).arg(e, 0, 'g', 16).arg(c, 0, 'g', 16);
            QVERIFY2(e >= -2 && e <= 0 && c >= 0 && std::isfinite(c), qPrintable(where));
            if (L == 1024 && T >= 1 && T <= 5 && std::fabs(T - Tc) > 0.2) {
                const Thermal inf = onsager(T);
                QVERIFY2(close(e, inf.energy, 1e-10, 0) && close(c, inf.heat, 1e-10, 0),
                         qPrintable(where + QStringLiteral(" (Onsager %1, %2)").arg(inf.energy, 0, 'g', 16).arg(inf.heat, 0, 'g', 16)));
            }
            if (T >= 1e3) {
                const double K = 1 / T, t = std::tanh(K), sech2 = 1 / std::pow(std::cosh(K), 2);
                QVERIFY2(close(e, -2 * t - 4 * t * t * t * (1 - t * t), 1e-10, 0)
                             && close(c, K * K * (2 * sech2 + 12 * K * K), 1e-10, 0),
                         qPrintable(where));
            }
        }
    }

    // At T_c the peak grows like A ln L with A = (2/pi) ln^2(1 + sqrt 2) =
    // 0.4945 (Onsager; Ferdinand and Fisher 1969); the corrections fall like
    // ln L / L, so the step from L to 2L approaches A ln 2 from above.
    void peakGrowsLikeLnL()
    {
        const double amplitude = 2 / std::numbers::pi * std::pow(std::log(1 + std::numbers::sqrt2), 2);
        for (int L : {32, 128, 512}) {
            const double step = (exactSpecificHeat(2 * L, 2 * L, Tc) - exactSpecificHeat(L, L, Tc)) / std::log(2.0);
            qDebug("L = %d -> %d: (C(2L) - C(L)) / ln 2 = %.6f, amplitude %.6f", L, 2 * L, step, amplitude);
            QVERIFY(std::fabs(step / amplitude - 1) < (L < 100 ? 0.05 : 0.01));
        }
        // Away from T_c the value converges instead.
        QVERIFY(std::fabs(exactSpecificHeat(1024, 1024, 2.5) - exactSpecificHeat(512, 512, 2.5)) < 1e-10);
    }
};

QTEST_GUILESS_MAIN(TestExact)
#include "tst_exact.moc"
