// The flip attempt sampled against the exact equilibrium energy of the
// 20 x 20 torus: Kaufman's finite-lattice partition function in the form of
// Ferdinand & Fisher (1969). Units: J = 1, k_B = 1, energies per site.
#include "exactenergy.h"
#include "flip.h"
#include "lattice.h"
#include "random.h"
#include "preparation.h"

#include <QTest>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

using namespace ferro;

namespace {

using Real = long double;

// Mean energy per site of the m x n torus by summing over every state (mn <= 20).
double enumeratedEnergy(int m, int n, double T)
{
    Real weights = 0, energySum = 0;
    for (long state = 0; state < (1L << (m * n)); ++state) {
        auto s = [&](int i, int j) { return (state >> (((i + m) % m) * n + (j + n) % n) & 1) ? 1 : -1; };
        int e = 0;
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                e -= s(i, j) * (s(i + 1, j) + s(i, j + 1));
        const Real w = std::exp(-(e + 2 * m * n) / Real(T)); // shifted by the ground state
        weights += w;
        energySum += w * e;
    }
    return double(energySum / weights / (m * n));
}

// Onsager's energy per site of the infinite lattice.
double onsagerEnergy(double T)
{
    const double K = 1 / T, t = std::tanh(2 * K);
    const double kappa = 2 * std::sinh(2 * K) / std::pow(std::cosh(2 * K), 2);
    return -(1 / t) * (1 + 2 / std::numbers::pi * (2 * t * t - 1) * std::comp_ellint_1(kappa));
}

// The running totals are those of the spins, counted here bond by bond
// without the lattice's own neighbour sum.
bool totalsMatchSpins(const Lattice &lattice)
{
    int bonds = 0, total = 0;
    for (int i = 0; i < Side; ++i)
        for (int j = 0; j < Side; ++j) {
            const int s = lattice.Spin[i][j];
            total += s;
            bonds += s * (lattice.Spin[(i + 1) % Side][j] + lattice.Spin[i][(j + 1) % Side]);
        }
    return lattice.Energy == -bonds && lattice.TotalMag == total;
}

struct Sampled {
    Estimate energy, absMag;
};

// Ordered start, 'equilibration' sweeps, then Energy / 400 and |m| after
// each of 'sweeps' sweeps of 400 attempts, all factors 1. NaN when the totals
// ever leave the spins.
Sampled simulate(double T, std::uint64_t seed, int equilibration, int sweeps)
{
    Random random(seed);
    Lattice lattice;
    orderedState(lattice, random);
    lattice.recount();
    const FactorTable factors;
    std::vector<double> energy, absMag;
    for (int sweep = 0; sweep < equilibration + sweeps; ++sweep) {
        for (int a = 0; a < Sites; ++a)
            AttemptFlip(lattice, random, T, factors.data());
        if (!totalsMatchSpins(lattice))
            return {{NAN, 0}, {NAN, 0}};
        if (sweep >= equilibration) {
            energy.push_back(lattice.Energy / double(Sites));
            absMag.push_back(std::abs(lattice.TotalMag) / double(Sites));
        }
    }
    return {blockAverage(energy, 25), blockAverage(absMag, 25)};
}

} // namespace

class TestPhysics : public QObject {
    Q_OBJECT
private slots:
    void kaufmanMatchesEnumeration()
    {
        for (auto [m, n] : {std::pair{4, 4}, std::pair{3, 5}, std::pair{5, 3}})
            for (double T : {1.0, 2.269, 3.5})
                QVERIFY2(std::fabs(exactEnergy(m, n, T) - enumeratedEnergy(m, n, T)) < 1e-10,
                         qPrintable(QStringLiteral("%1 x %2 at T = %3").arg(m).arg(n).arg(T)));
    }

    void kaufmanLimits()
    {
        // Near-Onsager away from T_c; the finite torus rounds the cusp at T_c.
        QVERIFY(std::fabs(exactEnergy(Side, Side, 2.0) / onsagerEnergy(2.0) - 1) < 0.01);
        QVERIFY(std::fabs(exactEnergy(Side, Side, 3.0) / onsagerEnergy(3.0) - 1) < 0.01);
        QVERIFY(std::fabs(exactEnergy(Side, Side, 2.27) / onsagerEnergy(2.27) - 1) < 0.05);
        // Low T, single and adjacent pairs of flipped spins: -2 + 8 e^(-8K) + 24 e^(-12K).
        QVERIFY(std::fabs(exactEnergy(Side, Side, 0.5) - (-2 + 8 * std::exp(-16.0) + 24 * std::exp(-24.0))) < 1e-11);
        // High T, t = tanh K, squares of bonds: -2t - 4t^3 (1 - t^2).
        const double t = std::tanh(0.01);
        QVERIFY(std::fabs(exactEnergy(Side, Side, 100.0) - (-2 * t - 4 * t * t * t * (1 - t * t))) < 1e-8);
    }

    void sampledEnergyIsExact_data()
    {
        QTest::addColumn<double>("temperature");
        QTest::addColumn<bool>("magnetised");
        QTest::newRow("T2.0-below-Tc") << 2.0 << true;
        QTest::newRow("T3.0-above-Tc") << 3.0 << false;
    }
    void sampledEnergyIsExact()
    {
        QFETCH(double, temperature);
        QFETCH(bool, magnetised);
        const double exact = exactEnergy(Side, Side, temperature);
        // 100000 sweeps: a standard error near 0.0008, while a temperature
        // off by 2 % moves the mean by some 25 of them.
        const Sampled run = simulate(temperature, 20240611, 2000, 100000);
        QVERIFY2(!std::isnan(run.energy.mean), "Energy or TotalMag drifted from the spins");
        qDebug("T = %.2f: <E>/N = %.5f +- %.5f, exact %.5f (%+.1f SE); <|m|> = %.4f +- %.4f", temperature,
               run.energy.mean, run.energy.error, exact, (run.energy.mean - exact) / run.energy.error,
               run.absMag.mean, run.absMag.error);
        QVERIFY(std::fabs(run.energy.mean - exact) < 4.5 * run.energy.error + 0.001);
        QVERIFY(magnetised ? run.absMag.mean > 0.8 : run.absMag.mean < 0.35);
    }
};

QTEST_GUILESS_MAIN(TestPhysics)
#include "tst_physics.moc"
