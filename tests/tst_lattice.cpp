#include "lattice.h"
#include "random.h"
#include "startconfig.h"

#include <QTest>

using namespace ferro;

namespace {

Lattice uniform(int spin)
{
    Lattice l;
    for (auto &row : l.Spin)
        for (auto &s : row)
            s = static_cast<std::int16_t>(spin);
    return l;
}

Lattice checkerboard()
{
    Lattice l;
    for (int i = 0; i < Side; ++i)
        for (int j = 0; j < Side; ++j)
            l.Spin[i][j] = (i + j) % 2 == 0 ? 1 : -1;
    return l;
}

} // namespace

class TestLattice : public QObject {
    Q_OBJECT
private slots:
    void neighbourSumWrapsAtEveryEdge_data()
    {
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("j");
        QTest::addColumn<QList<int>>("neighbours"); // cells that must count
        QTest::newRow("top-left") << 0 << 0 << QList<int> {cellIndex(0, 19), cellIndex(19, 0), 1, 20};
        QTest::newRow("bottom-right") << 19 << 19
                                      << QList<int> {cellIndex(19, 18), cellIndex(18, 19), cellIndex(19, 0), 19};
        QTest::newRow("top-edge") << 0 << 5 << QList<int> {4, 6, 25, cellIndex(19, 5)};
        QTest::newRow("right-edge") << 7 << 19 << QList<int> {cellIndex(7, 18), cellIndex(7, 0), cellIndex(6, 19),
                                                              cellIndex(8, 19)};
        QTest::newRow("interior") << 10 << 10 << QList<int> {cellIndex(9, 10), cellIndex(11, 10), cellIndex(10, 9),
                                                             cellIndex(10, 11)};
    }
    void neighbourSumWrapsAtEveryEdge()
    {
        QFETCH(int, i);
        QFETCH(int, j);
        QFETCH(QList<int>, neighbours);
        // Give each neighbour a distinct weight through the sum: set exactly
        // one neighbour at a time and check it alone is seen.
        for (int n : neighbours) {
            Lattice l;
            l.Spin[rowOf(n)][columnOf(n)] = 1;
            QCOMPARE(l.NeighbourSum(i, j), 1);
        }
        Lattice all = uniform(-1);
        for (int n : neighbours)
            all.Spin[rowOf(n)][columnOf(n)] = 1;
        QCOMPARE(all.NeighbourSum(i, j), 4);
        all.Spin[i][j] = 1; // the site itself never counts
        QCOMPARE(all.NeighbourSum(i, j), 4);
    }

    void totals_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<int>("totalMag");
        QTest::addColumn<int>("energy");
        QTest::newRow("all-up") << 0 << 400 << -800;
        QTest::newRow("all-down") << 1 << -400 << -800;
        QTest::newRow("checkerboard") << 2 << 0 << 800;
        QTest::newRow("single-down-in-up") << 3 << 398 << -792;
        QTest::newRow("blank") << 4 << 0 << 0;
    }
    void totals()
    {
        QFETCH(int, pattern);
        QFETCH(int, totalMag);
        QFETCH(int, energy);
        Lattice l;
        switch (pattern) {
        case 0: l = uniform(1); break;
        case 1: l = uniform(-1); break;
        case 2: l = checkerboard(); break;
        case 3: l = uniform(1); l.Spin[5][7] = -1; break;
        default: break;
        }
        l.recount();
        QCOMPARE(int(l.TotalMag), totalMag);
        QCOMPARE(int(l.Energy), energy);
        if (pattern == 3) {
            QCOMPARE(l.NeighbourSum(5, 7), 4);
            QCOMPARE(l.NeighbourSum(4, 7), 2);
            QCOMPARE(l.NeighbourSum(5, 8), 2);
        }
    }

    void randomStateDrawsOneCoinPerSiteInRowOrder()
    {
        std::vector<double> draws(Sites, 0.9);
        draws[0] = 0.1;   // site (0, 0) up
        draws[19] = 0.1;  // site (0, 19) up
        draws[20] = 0.5;  // site (1, 0) stays blank
        draws[399] = 0.1; // site (19, 19) up
        Lattice l;
        Random random(1);
        random.script(draws);
        randomState(l, random);
        QVERIFY(random.scriptExhausted());
        QCOMPARE(int(l.Spin[0][0]), 1);
        QCOMPARE(int(l.Spin[0][19]), 1);
        QCOMPARE(int(l.Spin[1][0]), 0);
        QCOMPARE(int(l.Spin[19][19]), 1);
        QCOMPARE(int(l.Spin[10][10]), -1);
    }

    void randomizeStirsWithoutRestarting()
    {
        // Two generators in the same state that are re-seeded at the same
        // clock reading must not fall into the same sequence as a fresh one
        // would; above all a generator re-seeded twice in a row keeps moving.
        Random a;
        std::vector<double> seen;
        for (int n = 0; n < 1000; ++n) {
            a.Randomize();
            seen.push_back(a.Rnd());
        }
        std::sort(seen.begin(), seen.end());
        QVERIFY(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
        for (double x : seen)
            QVERIFY(x >= 0.0 && x < 1.0);
    }
};

QTEST_GUILESS_MAIN(TestLattice)
#include "tst_lattice.moc"
