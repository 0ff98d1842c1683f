#include "flip.h"

#include <QTest>

#include <cmath>

using namespace ferro;

namespace {

// A lattice of all-up spins whose site (5, 5) has the given number of down
// neighbours, so that its neighbour sum is 4 - 2 downs.
Lattice withDownNeighbours(int spin, int downs)
{
    Lattice l;
    for (auto &row : l.Spin)
        for (auto &s : row)
            s = 1;
    const int around[4][2] = {{4, 5}, {6, 5}, {5, 4}, {5, 6}};
    for (int n = 0; n < downs; ++n)
        l.Spin[around[n][0]][around[n][1]] = -1;
    l.Spin[5][5] = static_cast<std::int16_t>(spin);
    l.recount();
    return l;
}

constexpr double r1Site55 = (5 * 20 + 5 + 0.5) / 400.0; // picks cell 105

} // namespace

class TestFlip : public QObject {
    Q_OBJECT
private slots:
    void metropolisRule_data()
    {
        QTest::addColumn<int>("spin");
        QTest::addColumn<int>("downs");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<double>("r2");
        QTest::addColumn<bool>("flipped");
        // dE = 2 s h with h = 4 - 2 downs.
        QTest::newRow("dE-8-down-accepted") << -1 << 0 << 1.0 << 0.999 << true;
        QTest::newRow("dE-4-down-accepted") << -1 << 1 << 1.0 << 0.999 << true;
        QTest::newRow("dE0-always") << 1 << 2 << 0.1 << 0.999 << true;
        QTest::newRow("dE4-below-w") << 1 << 1 << 1.0 << 0.018 << true;   // w = 0.0183
        QTest::newRow("dE4-above-w") << 1 << 1 << 1.0 << 0.019 << false;
        QTest::newRow("dE8-below-w") << 1 << 0 << 1.0 << 0.0003 << true;  // w = 0.000335
        QTest::newRow("dE8-above-w") << 1 << 0 << 1.0 << 0.00034 << false;
        QTest::newRow("dE8-cold-never") << 1 << 0 << 0.1 << 1e-30 << false; // w = 1.8e-35
        QTest::newRow("dE8-r2-zero-hot") << 1 << 0 << 1e300 << 0.0 << true;
    }
    void metropolisRule()
    {
        QFETCH(int, spin);
        QFETCH(int, downs);
        QFETCH(double, temperature);
        QFETCH(double, r2);
        QFETCH(bool, flipped);
        Lattice l = withDownNeighbours(spin, downs);
        const int mag = l.TotalMag;
        const int energy = l.Energy;
        const int h = l.NeighbourSum(5, 5);
        FactorTable factors;
        Random random(7);
        random.script({r1Site55, r2});
        const FlipOutcome out = AttemptFlip(l, random, temperature, factors.data());
        QVERIFY(random.scriptExhausted()); // r2 is drawn on every attempt
        QCOMPARE(out.k, 105);
        QCOMPARE(out.energyWritten, flipped);
        QCOMPARE(int(l.Spin[5][5]), flipped ? -spin : spin);
        QCOMPARE(int(l.TotalMag), flipped ? mag - 2 * spin : mag);
        QCOMPARE(int(l.Energy), flipped ? energy + 2 * spin * h : energy);
        Lattice recounted = l;
        recounted.recount();
        QCOMPARE(recounted.Energy, l.Energy);
        QCOMPARE(recounted.TotalMag, l.TotalMag);
    }

    void r2EqualToWIsRejected()
    {
        // At the largest temperature w = exp(-4 / T) is exactly 1: a draw
        // equal to it is rejected, one just below it accepted.
        const double hottest = 1.7976931348623157e308;
        FactorTable factors;
        for (double r2 : {1.0, 0.99999}) {
            Lattice l = withDownNeighbours(1, 1);
            Random random(1);
            random.script({r1Site55, r2});
            QCOMPARE(AttemptFlip(l, random, hottest, factors.data()).energyWritten, r2 < 1.0);
        }
    }

    void blankSiteCountsAsAcceptedWithNoChange()
    {
        Lattice l;
        l.TotalMag = 12; // left over from an earlier configuration
        l.Energy = -40;
        FactorTable factors;
        Random random(1);
        random.script({0.0, 0.99});
        const FlipOutcome out = AttemptFlip(l, random, 0.1, factors.data());
        QCOMPARE(out.k, 0);
        QVERIFY(out.energyWritten);
        QCOMPARE(int(l.Spin[0][0]), 0);
        QCOMPARE(int(l.TotalMag), 12);
        QCOMPARE(int(l.Energy), -40);
    }

    void runTemperatureFloor_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("zero") << 0.0 << 0.1;
        QTest::newRow("negative") << -3.0 << 0.1;
        QTest::newRow("below") << 0.05 << 0.1;
        QTest::newRow("exactly") << 0.1 << 0.1;
        QTest::newRow("just-above") << 0.1001 << 0.1001;
        QTest::newRow("ordinary") << 2.5 << 2.5;
    }
    void runTemperatureFloor()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        QCOMPARE(runTemperature(value), expected);
    }

    void siteFactors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("factor");
        QTest::newRow("empty-is-one") << "" << 1.0;
        QTest::newRow("two") << "2" << 2.0;
        QTest::newRow("half") << "0.5" << 0.5;
        QTest::newRow("floor-kept") << "0.0001" << 0.0001;
        QTest::newRow("leading-number") << "2x" << 2.0;
        QTest::newRow("whole-below-floor") << "0.00005" << 0.00005;
        QTest::newRow("exponent-below-floor") << " 1E-5 " << 1e-5;
        QTest::newRow("smallest-double") << "4.9e-324" << 4.9e-324;
        QTest::newRow("leading-below-floor") << "0.00005x" << 0.0001;
        QTest::newRow("zero-floored") << "0" << 0.0001;
        QTest::newRow("negative-floored") << "-2" << 0.0001;
        QTest::newRow("word-floored") << "abc" << 0.0001;
        QTest::newRow("blank-floored") << " " << 0.0001;
        QTest::newRow("huge-saturates") << "1e999" << 1.7976931348623157e308;
    }
    void siteFactors()
    {
        QFETCH(QString, text);
        QFETCH(double, factor);
        QCOMPARE(siteFactor(text.toStdString()), factor);
    }
};

QTEST_GUILESS_MAIN(TestFlip)
#include "tst_flip.moc"
