// The flip attempt sampled against the exact equilibrium energy of the
// 20 x 20 torus (tst_exact checks that energy). Units: J = 1, k_B = 1,
// energies per site.
#include "analysis/exactenergy.h"
#include "core/flip.h"
#include "core/lattice.h"
#include "stdruntime/random.h"
#include "preparation/preparation.h"

#include <QTest>

#include <cmath>
#include <cstdlib>
#include <vector>

using namespace ferro;

namespace {

struct Sampled {
    Estimate energy, absMag;
};

// Ordered start, 'equilibration' sweeps, then Energy / 400 and |m| after
// each of 'sweeps' sweeps of 400 attempts, all factors 1.
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
        qDebug("T = %.2f: <E>/N = %.5f +- %.5f, exact %.5f (%+.1f SE); <|m|> = %.4f +- %.4f", temperature,
               run.energy.mean, run.energy.error, exact, (run.energy.mean - exact) / run.energy.error,
               run.absMag.mean, run.absMag.error);
        QVERIFY(std::fabs(run.energy.mean - exact) < 4.5 * run.energy.error + 0.001);
        QVERIFY(magnetised ? run.absMag.mean > 0.8 : run.absMag.mean < 0.35);
    }
};

QTEST_GUILESS_MAIN(TestPhysics)
#include "tst_physics.moc"
