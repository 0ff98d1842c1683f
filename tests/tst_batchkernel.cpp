// The batch program's flip attempt against the window's AttemptFlip: the
// same draws must give the same decision and the same lattice, attempt by
// attempt, for any temperature and any factor texts.
#include "core/flip.h"
#include "tests/fakes.h"
#include "batch/kernel.h"
#include "core/lattice.h"
#include "stdruntime/random.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace ferro;
using ferro::batch::FastLattice;

namespace {

// Spins from the draws: with blanks, neighbour sums take odd values too.
Lattice lattice(Random &random, bool blanks)
{
    Lattice l;
    for (auto &row : l.Spin)
        for (auto &s : row) {
            const double r = random.Rnd();
            s = static_cast<std::int16_t>(blanks && r < 0.1 ? 0 : r < 0.55 ? 1 : -1);
        }
    l.recount();
    return l;
}

FactorTable table(const std::vector<std::string> &texts)
{
    FactorTable t;
    for (int k = 0; k < Sites; ++k)
        t.setText(k, texts[std::size_t(k) % texts.size()]);
    return t;
}

QString sameLattice(const Lattice &window, const FastLattice &fast)
{
    Lattice mine;
    fast.store(mine);
    if (std::memcmp(mine.Spin, window.Spin, sizeof mine.Spin) != 0)
        return QStringLiteral("spins differ");
    if (mine.Energy != window.Energy || mine.TotalMag != window.TotalMag)
        return QStringLiteral("totals differ: E %1 / %2, M %3 / %4")
            .arg(mine.Energy).arg(window.Energy).arg(mine.TotalMag).arg(window.TotalMag);
    return {};
}

} // namespace

class TestBatchKernel : public QObject {
    Q_OBJECT
private slots:
    void seededRunsAgree_data()
    {
        QTest::addColumn<double>("temperature");
        QTest::addColumn<QStringList>("factorTexts");
        QTest::addColumn<bool>("blanks");
        QTest::newRow("critical-all-ones") << 2.27 << QStringList {""} << false;
        QTest::newRow("hot-saturated") << 1e300 << QStringList {"1e999", ""} << false;
        QTest::newRow("odd-texts") << 1.5
                                   << QStringList {"", "abc", "-2", "0.00005", "2x", " 3", "&H10", "1e-7", "0"}
                                   << false;
        QTest::newRow("blank-sites-odd-sums") << 1.2 << QStringList {"", "0.7"} << true;
    }
    void seededRunsAgree()
    {
        QFETCH(double, temperature);
        QFETCH(QStringList, factorTexts);
        QFETCH(bool, blanks);
        std::vector<std::string> texts;
        for (const QString &t : factorTexts)
            texts.push_back(t.toStdString());
        const FactorTable factors = table(texts);
        Random setup(99);
        Lattice window = lattice(setup, blanks);
        FastLattice fast;
        fast.load(window);
        fast.setTemperature(runTemperature(temperature), factors.data());

        // The window draws through Random, the batch program through its Stream.
        Random windowRandom(2024);
        batch::Stream stream(2024);
        long accepted = 0;
        for (long a = 0; a < 1'000'000; ++a) {
            const FlipOutcome o = AttemptFlip(window, windowRandom, runTemperature(temperature), factors.data());
            const int mine = fast.attempt(stream);
            accepted += mine;
            if (mine != int(o.energyWritten) || fast.Energy != window.Energy || fast.TotalMag != window.TotalMag)
                QFAIL(qPrintable(QStringLiteral("attempt %1 at cell %2: decided %3, the window %4")
                                     .arg(a).arg(o.k).arg(mine).arg(int(o.energyWritten))));
            if (a % 4096 == 0) {
                const QString diff = sameLattice(window, fast);
                QVERIFY2(diff.isEmpty(), qPrintable(diff));
            }
        }
        QVERIFY2(sameLattice(window, fast).isEmpty(), "lattices differ at the end");
        QVERIFY(accepted > 0);
    }

    // r2 on and beside the weight of every attempt: the float and double
    // neighbours of exp(-dE / T_k), for temperatures across the whole range.
    void drawsAtTheWeightAgree()
    {
        Random setup(7);
        Lattice window = lattice(setup, true);
        FactorTable factors;
        for (int k = 0; k < Sites; ++k)
            factors.setText(k, std::to_string(std::exp(std::log(1e-5) + setup.Rnd() * std::log(1e9))));
        ScriptedRandom windowRandom, mineRandom;
        long decisions[2] = {0, 0};
        FastLattice fast;
        double T = 1;
        for (long a = 0; a < 1'000'000; ++a) {
            if (a % 1000 == 0) { // a new lattice and temperature, 0.1 to 50000
                window = lattice(setup, a % 2000 == 0);
                T = runTemperature(std::exp(std::log(0.05) + setup.Rnd() * std::log(1e6)));
                fast.load(window);
                fast.setTemperature(T, factors.data());
            }
            const double r1 = setup.Rnd();
            const int k = int(r1 * Sites);
            const int dE = 2 * window.spinOfCell(k) * window.NeighbourSum(rowOf(k), columnOf(k));
            const double w = std::exp(-dE / (T * factors[k]));
            const float f = float(w);
            const double candidates[] = {w, std::nextafter(w, 0.0), std::nextafter(w, 1.0), f,
                                         std::nextafter(f, 0.0f), std::nextafter(f, 1.0f)};
            const double r2 = std::min(candidates[a % 6], std::nextafter(1.0, 0.0));
            windowRandom.script = {r1, r2};
            mineRandom.script = {r1, r2};
            const FlipOutcome o = AttemptFlip(window, windowRandom, T, factors.data());
            const int mine = fast.attempt(mineRandom);
            ++decisions[mine];
            if (mine != int(o.energyWritten) || fast.Energy != window.Energy || fast.TotalMag != window.TotalMag)
                QFAIL(qPrintable(QStringLiteral("T %1, cell %2, factor %3, dE %4, r2 %5: decided %6, the window %7")
                                     .arg(T, 0, 'g', 17).arg(k).arg(factors[k], 0, 'g', 17).arg(dE)
                                     .arg(r2, 0, 'g', 17).arg(mine).arg(int(o.energyWritten))));
        }
        // Both outcomes occur often, so the boundary really was probed.
        QVERIFY(decisions[0] > 100'000 && decisions[1] > 100'000);
    }
};

QTEST_GUILESS_MAIN(TestBatchKernel)
#include "tst_batchkernel.moc"
