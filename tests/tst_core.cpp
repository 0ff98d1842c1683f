// The simulation core without a window: the lattice and its neighbour sums,
// the flip attempt, and the rules of a tick, a page and the read-outs.

#include "tests/fakes.h"
#include "core/flip.h"
#include "core/lattice.h"
#include "core/run.h"
#include "stdruntime/textconv.h"

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

// All up except site (5, 5), which has `downs` down neighbours: its
// neighbour sum is 4 - 2 downs.
Lattice withDownNeighbours(int spin, int downs)
{
    Lattice l = uniform(1);
    const int around[4][2] = {{4, 5}, {6, 5}, {5, 4}, {5, 6}};
    for (int n = 0; n < downs; ++n)
        l.Spin[around[n][0]][around[n][1]] = -1;
    l.Spin[5][5] = static_cast<std::int16_t>(spin);
    l.recount();
    return l;
}

constexpr double r1Site55 = (5 * 20 + 5 + 0.5) / 400.0; // picks cell 105

// A run on a blank lattice whose totals are left over from an earlier
// configuration: every attempt is accepted with no change, so the
// magnetization stays what the test says.
struct BlankRun {
    ScriptedRandom random;
    Run run {random};
    explicit BlankRun(int totalMag)
    {
        run.lattice().TotalMag = static_cast<std::int16_t>(totalMag);
        run.startClear();
        run.finishClear();
    }
    TickResult tick() { return run.tick(0.1, FactorTable().data()); }
};

QString qstr(const std::string &s) { return QString::fromStdString(s); }

} // namespace

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void neighbourSumWrapsAtEveryEdge_data()
    {
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("j");
        QTest::addColumn<QList<int>>("neighbours");
        QTest::newRow("top-left") << 0 << 0 << QList<int> {cellIndex(0, 19), cellIndex(19, 0), 1, 20};
        QTest::newRow("bottom-right") << 19 << 19
                                      << QList<int> {cellIndex(19, 18), cellIndex(18, 19), cellIndex(19, 0), 19};
        QTest::newRow("interior") << 10 << 10 << QList<int> {cellIndex(9, 10), cellIndex(11, 10), cellIndex(10, 9),
                                                             cellIndex(10, 11)};
    }
    void neighbourSumWrapsAtEveryEdge()
    {
        QFETCH(int, i);
        QFETCH(int, j);
        QFETCH(QList<int>, neighbours);
        for (int n : neighbours) {
            Lattice l;
            l.Spin[rowOf(n)][columnOf(n)] = 1;
            QCOMPARE(l.NeighbourSum(i, j), 1);
        }
        Lattice all = uniform(-1);
        for (int n : neighbours)
            all.Spin[rowOf(n)][columnOf(n)] = 1;
        all.Spin[i][j] = 1; // the site itself never counts
        QCOMPARE(all.NeighbourSum(i, j), 4);
    }

    void metropolisRule_data()
    {
        QTest::addColumn<int>("spin");
        QTest::addColumn<int>("downs");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<double>("r2");
        QTest::addColumn<bool>("flipped");
        // dE = 2 s h with h = 4 - 2 downs.
        QTest::newRow("dE-8-accepted") << -1 << 0 << 1.0 << 0.999 << true;
        QTest::newRow("dE0-always") << 1 << 2 << 0.1 << 0.999 << true;
        QTest::newRow("dE0-even-top-draw") << 1 << 2 << 0.1 << 0.99999999 << true; // r2 rounds to 1.0f
        QTest::newRow("dE4-below-w") << 1 << 1 << 1.0 << 0.018 << true; // w = 0.0183
        QTest::newRow("dE4-above-w") << 1 << 1 << 1.0 << 0.019 << false;
        QTest::newRow("dE8-below-w") << 1 << 0 << 1.0 << 0.0003 << true; // w = 0.000335
        QTest::newRow("dE8-above-w") << 1 << 0 << 1.0 << 0.00034 << false;
        QTest::newRow("r2-equal-to-w-rejected") << 1 << 1 << 1.7976931348623157e308 << 1.0 << false; // w = 1
    }
    void metropolisRule()
    {
        QFETCH(int, spin);
        QFETCH(int, downs);
        QFETCH(double, temperature);
        QFETCH(double, r2);
        QFETCH(bool, flipped);
        Lattice l = withDownNeighbours(spin, downs);
        const Lattice before = l;
        ScriptedRandom random;
        random.script = {r1Site55, r2};
        const FlipOutcome out = AttemptFlip(l, random, temperature, FactorTable().data());
        QVERIFY(random.script.empty()); // r2 is drawn on every attempt
        QCOMPARE(out.k, 105);
        QCOMPARE(out.accepted, flipped);
        QCOMPARE(int(l.Spin[5][5]), flipped ? -spin : spin);
        Lattice recounted = l;
        recounted.recount();
        QCOMPARE(l.Energy, recounted.Energy);
        QCOMPARE(l.TotalMag, recounted.TotalMag);
        QCOMPARE(l.Energy != before.Energy || l.TotalMag != before.TotalMag, flipped);
    }

    void blankSiteCountsAsAcceptedWithNoChange()
    {
        Lattice l;
        l.TotalMag = 12; // left over from an earlier configuration
        ScriptedRandom random;
        random.script = {0.0, 0.99};
        const FlipOutcome out = AttemptFlip(l, random, 0.1, FactorTable().data());
        QVERIFY(out.accepted);
        QCOMPARE(int(l.Spin[0][0]), 0);
        QCOMPARE(int(l.TotalMag), 12);
    }

    void firstTickAfterClear()
    {
        BlankRun b(-400);
        const TickResult t = b.tick();
        const RunRecord &r = b.run.record();
        QCOMPARE(qstr(r.ticksThisPage.text()), QString(" 1"));
        QCOMPARE(qstr(r.ticksSinceClear.text()), QString(" 1"));
        QVERIFY(t.timersOn && !t.newPage && !t.plotted);
        QVERIFY(t.cell >= 0 && t.cell < Sites);
        QCOMPARE(qstr(r.instantaneousMag.text()), QString("-1"));
        QCOMPARE(qstr(r.sumMag.text()), QString(" 1"));
        QCOMPARE(qstr(r.netMag.text()), QString(" 1"));
        QCOMPARE(b.random.randomizes, 1);
    }

    void readoutTexts_data()
    {
        QTest::addColumn<int>("totalMag");
        QTest::addColumn<QString>("instantaneous");
        QTest::addColumn<QString>("sumAfterThree");
        QTest::addColumn<QString>("averageAfterThree");
        QTest::newRow("eighth") << 50 << " .125" << " .39" << " .13"; // .125 rounds up to .13 each tick
        QTest::newRow("all-down") << -400 << "-1" << " 3" << " 1";
        QTest::newRow("zero") << 0 << " 0" << " 0" << " 0";
        QTest::newRow("one-spin-adds-nothing") << 1 << " .0025" << " 0" << " 0";
        QTest::newRow("two-spins-round-half-up") << -2 << "-.005" << " .03" << " .01";
    }
    void readoutTexts()
    {
        QFETCH(int, totalMag);
        QFETCH(QString, instantaneous);
        QFETCH(QString, sumAfterThree);
        QFETCH(QString, averageAfterThree);
        BlankRun b(totalMag);
        for (int n = 0; n < 3; ++n)
            b.tick();
        const RunRecord &r = b.run.record();
        QCOMPARE(qstr(r.instantaneousMag.text()), instantaneous);
        QCOMPARE(qstr(r.sumMag.text()), sumAfterThree);
        QCOMPARE(qstr(r.netMag.text()), averageAfterThree);
    }

    void pointEvery400thTick()
    {
        BlankRun b(100);
        std::vector<TickResult> points;
        for (int n = 0; n < 800; ++n)
            if (const TickResult t = b.tick(); t.plotted)
                points.push_back(t);
        QCOMPARE(points.size(), size_t(2));
        QCOMPARE(points[0].x, 1.0f);
        QCOMPARE(points[1].x, 2.0f);
        QCOMPARE(points[0].yMag, 0.75f);
        QCOMPARE(points[0].yNet, 0.75f);
    }

    void pageEndThenNextPage()
    {
        BlankRun b(400);
        b.run.fastForward(3999 * 400 - 1);
        QCOMPARE(b.tick().x, 3999.0f); // the last point of the page

        b.run.fastForward(LastPageTick - 3999 * 400 - 1);
        TickResult t = b.tick(); // tick 1599999 of the page: stop, nothing else
        QVERIFY(!t.timersOn && t.cell < 0 && !t.plotted);
        QCOMPARE(qstr(b.run.record().restartText()), QString("Stop"));
        // A direct tick, as Continue makes, leaves a complete page complete.
        QVERIFY(!b.run.MonteCarloTick(0.1, FactorTable().data()).timersOn);

        b.run.setGo();
        t = b.tick();
        QVERIFY(t.newPage && t.timersOn && t.plotted);
        QCOMPARE(t.x, 0.0f);
        const RunRecord &r = b.run.record();
        QCOMPARE(qstr(r.ticksThisPage.text()), QString("0"));
        QCOMPARE(r.ticksSinceClear.value(), PageTicks);
        QCOMPARE(qstr(r.axisLabelText(0)), QString("4000"));
        QCOMPARE(qstr(r.axisLabelText(5)), QString("8000"));
        QVERIFY(!r.chartsEarly());

        b.run.fastForward(LastPageTick - 1);
        QVERIFY(!b.tick().timersOn);
        b.run.setGo();
        QVERIFY(b.tick().newPage);
        QCOMPARE(qstr(r.axisLabelText(5)), QString("12000"));
    }

    void directTickAfterClear()
    {
        BlankRun b(200);
        const TickResult t = b.run.MonteCarloTick(0.1, FactorTable().data());
        const RunRecord &r = b.run.record();
        QCOMPARE(qstr(r.ticksSinceClear.text()), QString("0"));
        QVERIFY(!t.newPage && t.timersOn && t.plotted);
        QVERIFY(r.netMag.isEmpty());
        QCOMPARE(t.x, 0.0f);
        QCOMPARE(t.yNet, 1.0f); // the empty average reads as 0
    }

};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
