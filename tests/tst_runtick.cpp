#include "simulation.h"

#include <QTest>

#include <vector>

using namespace ferro;

namespace {

struct Point {
    float x, yMag, yNet;
};

// Records what a tick asks of its window.
class FakeHost : public RunHost {
public:
    bool timers = false;
    int intervalsApplied = 0;
    int chartsPrepared = 0;
    std::vector<int> attempts;
    std::vector<Point> points;
    double temperature = 0.1;
    FactorTable factors;

    void setTimersEnabled(bool on) override { timers = on; }
    void applyTimerInterval() override { ++intervalsApplied; }
    void prepareCharts() override { ++chartsPrepared; }
    double runTemperature() override { return temperature; }
    const double *siteFactors() override { return factors.data(); }
    void showAttempt(int k) override { attempts.push_back(k); }
    void plotPoints(float x, float yMag, float yNet) override { points.push_back({x, yMag, yNet}); }
    void recordChanged() override {}
};

// A cleared run on a blank lattice: every attempt is accepted with no
// change, so TotalMag stays what the test sets.
Simulation clearedBlankRun(int totalMag)
{
    Simulation sim(1);
    sim.lattice.TotalMag = static_cast<std::int16_t>(totalMag);
    sim.record.time.setZero();
    sim.clearReadouts();
    return sim;
}

} // namespace

class TestRunTick : public QObject {
    Q_OBJECT
private slots:
    void firstTickAfterClear()
    {
        Simulation sim = clearedBlankRun(-400);
        FakeHost host;
        sim.tmrTime_Timer(host);
        QCOMPARE(sim.record.time.text(), std::string(" 1"));
        QCOMPARE(sim.record.labels.text(), std::string(" 1"));
        QVERIFY(host.timers);
        QCOMPARE(host.intervalsApplied, 1);
        QCOMPARE(host.chartsPrepared, 0);
        QCOMPARE(host.attempts.size(), size_t(1));
        QVERIFY(host.points.empty());
        QCOMPARE(sim.record.sumMag.text(), std::string(" 1"));
        QCOMPARE(sim.record.netMag.text(), std::string(" 1"));
        QCOMPARE(sim.record.instantaneousMag.text(), std::string("-1"));
    }

    void readoutTexts_data()
    {
        QTest::addColumn<int>("totalMag");
        QTest::addColumn<QString>("instantaneous");
        QTest::addColumn<QString>("sumAfterTwoTicks");
        QTest::newRow("eighth") << 50 << " .125" << " .26"; // 0.125 rounds up to .13 each tick
        QTest::newRow("all-down") << -400 << "-1" << " 2";
        QTest::newRow("zero") << 0 << " 0" << " 0";
        QTest::newRow("one-spin-adds-nothing") << 1 << " .0025" << " 0";
        QTest::newRow("two-spins-round-half-up") << -2 << "-.005" << " .02";
    }
    void readoutTexts()
    {
        QFETCH(int, totalMag);
        QFETCH(QString, instantaneous);
        QFETCH(QString, sumAfterTwoTicks);
        Simulation sim = clearedBlankRun(totalMag);
        FakeHost host;
        sim.tmrTime_Timer(host);
        sim.tmrTime_Timer(host);
        QCOMPARE(QString::fromStdString(sim.record.instantaneousMag.text()), instantaneous);
        QCOMPARE(QString::fromStdString(sim.record.sumMag.text()), sumAfterTwoTicks);
    }

    void averageIsRoundedSumOverTicks()
    {
        Simulation sim = clearedBlankRun(-2); // |m| = 0.005
        FakeHost host;
        for (int n = 0; n < 3; ++n)
            sim.tmrTime_Timer(host);
        QCOMPARE(sim.record.sumMag.text(), std::string(" .03"));
        QCOMPARE(sim.record.netMag.text(), std::string(" .01"));
    }

    void pointEvery400thTick()
    {
        Simulation sim = clearedBlankRun(100);
        FakeHost host;
        for (int n = 0; n < 800; ++n)
            sim.tmrTime_Timer(host);
        QCOMPARE(host.points.size(), size_t(2));
        QCOMPARE(host.points[0].x, 1.0f);
        QCOMPARE(host.points[1].x, 2.0f);
        QCOMPARE(host.points[0].yMag, 0.75f);
        QCOMPARE(host.points[0].yNet, 0.75f);
    }

    void pageEndThenNextPage()
    {
        Simulation sim = clearedBlankRun(400);
        FakeHost host;
        sim.record.time.setNumber(3999 * 400 - 1);
        sim.record.labels.setNumber(3999 * 400 - 1);
        sim.tmrTime_Timer(host);
        QCOMPARE(host.points.size(), size_t(1));
        QCOMPARE(host.points.back().x, 3999.0f); // the last point of the page

        sim.record.time.setNumber(LastPageTick - 1);
        sim.record.labels.setNumber(LastPageTick - 1);
        sim.tmrTime_Timer(host); // tick 1599999 of the page: stop, nothing else
        QVERIFY(!sim.record.go);
        QVERIFY(!host.timers);
        QCOMPARE(sim.record.restartText(), std::string("Stop"));
        QCOMPARE(host.attempts.size(), size_t(1));
        QCOMPARE(host.points.size(), size_t(1));

        sim.MonteCarloTick(host); // a direct tick leaves a complete page complete
        QVERIFY(!sim.record.go);
        QVERIFY(!host.timers);

        sim.record.go = true; // Go
        sim.tmrTime_Timer(host);
        QCOMPARE(host.chartsPrepared, 1);
        QCOMPARE(sim.record.time.text(), std::string("0"));
        QCOMPARE(sim.record.labels.value(), PageTicks);
        QCOMPARE(sim.record.axisLabelText(0), std::string("4000"));
        QCOMPARE(sim.record.axisLabelText(5), std::string("8000"));
        QCOMPARE(host.points.back().x, 0.0f);

        sim.record.time.setNumber(LastPageTick - 1);
        sim.record.labels.setNumber(2 * PageTicks - 2);
        sim.tmrTime_Timer(host);
        QVERIFY(!sim.record.go);
        sim.record.go = true;
        sim.tmrTime_Timer(host);
        QCOMPARE(host.chartsPrepared, 2);
        QCOMPARE(sim.record.axisLabelText(0), std::string("8000"));
        QCOMPARE(sim.record.axisLabelText(5), std::string("12000"));
    }

    void stoppedRunOnlyRearmsTimers()
    {
        Simulation sim = clearedBlankRun(0);
        sim.record.go = false;
        FakeHost host;
        sim.tmrTime_Timer(host);
        QVERIFY(host.timers);
        QCOMPARE(host.intervalsApplied, 1);
        QVERIFY(host.attempts.empty());
        QVERIFY(sim.record.instantaneousMag.isEmpty());
    }

    void directTickAfterClear()
    {
        Simulation sim = clearedBlankRun(200);
        FakeHost host;
        sim.MonteCarloTick(host);
        QCOMPARE(sim.record.time.text(), std::string("0"));
        QCOMPARE(sim.record.labels.text(), std::string("0"));
        QCOMPARE(host.chartsPrepared, 0);
        QCOMPARE(host.attempts.size(), size_t(1));
        QVERIFY(sim.record.netMag.isEmpty());
        QCOMPARE(host.points.size(), size_t(1));
        QCOMPARE(host.points[0].x, 0.0f);
        QCOMPARE(host.points[0].yNet, 1.0f); // empty average reads as 0
        QVERIFY(host.timers);
    }

    void measureLatticeShowsTotalsOnly()
    {
        Simulation sim(1);
        for (auto &row : sim.lattice.Spin)
            for (auto &s : row)
                s = -1;
        sim.record.sumMag.set(3.5);
        sim.MeasureLattice();
        QCOMPARE(int(sim.lattice.TotalMag), -400);
        QCOMPARE(int(sim.lattice.Energy), -800);
        QVERIFY(sim.record.energyShown);
        QCOMPARE(sim.record.instantaneousMag.text(), std::string("-1"));
        QCOMPARE(sim.record.sumMag.text(), std::string(" 3.5"));
        QVERIFY(sim.record.labels.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRunTick)
#include "tst_runtick.moc"
