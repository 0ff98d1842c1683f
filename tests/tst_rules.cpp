// The rules of preparing a run and of the snapshot series, without windows.

#include "tests/fakes.h"
#include "preparation/preparation.h"
#include "snapshots/series.h"
#include "stdruntime/textconv.h"

#include <QTest>

using namespace ferro;

namespace {
QString qstr(const std::optional<std::string> &s) { return s ? QString::fromStdString(*s) : QStringLiteral("<kept>"); }
} // namespace

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void startingStates_data()
    {
        QTest::addColumn<double>("draw");
        QTest::addColumn<int>("spin");
        QTest::newRow("low-draw-up") << 0.1 << 1;
        QTest::newRow("high-draw-down") << 0.9 << -1;
        QTest::newRow("half-keeps-blank") << 0.5 << 0;
    }
    void startingStates()
    {
        QFETCH(double, draw);
        QFETCH(int, spin);
        ScriptedRandom random;
        Run run(random);
        random.script = {draw};
        prepareZero(run);
        QCOMPARE(random.randomizes, 1);
        QVERIFY(random.script.empty()); // one draw for the whole lattice
        for (int k : {0, 19, 20, 399})
            QCOMPARE(int(run.lattice().spinOfCell(k)), spin);
        QCOMPARE(int(run.lattice().TotalMag), 400 * spin);
        QCOMPARE(QString::fromStdString(run.record().instantaneousMag.text()),
                 QString::fromStdString(Str(double(spin))));
    }

    void randomStateDrawsOneCoinPerSiteInRowOrder()
    {
        ScriptedRandom random;
        Run run(random);
        random.script.assign(Sites, 0.9);
        random.script[19] = 0.1; // site (0, 19) up
        random.script[20] = 0.5; // site (1, 0) stays blank
        prepareInfinity(run);
        QVERIFY(random.script.empty());
        QCOMPARE(int(run.lattice().Spin[0][19]), 1);
        QCOMPARE(int(run.lattice().Spin[1][0]), 0);
        QCOMPARE(int(run.lattice().Spin[19][19]), -1);
        QCOMPARE(int(run.lattice().TotalMag), -397);
        QVERIFY(canResume(run.lattice()));
    }

    void resetBlanksAndKeepsTotals()
    {
        ScriptedRandom random;
        Run run(random);
        QVERIFY(!canResume(run.lattice()));
        random.script = {0.9};
        prepareZero(run);
        QVERIFY(canResume(run.lattice()));
        blankLattice(run.lattice());
        QVERIFY(!canResume(run.lattice()));
        QCOMPARE(int(run.lattice().spinOfCell(399)), 0);
        QCOMPARE(int(run.lattice().TotalMag), -400);
    }

    void clockStirsWithoutRestarting()
    {
        Random a;
        std::vector<double> seen;
        for (int n = 0; n < 1000; ++n) {
            a.Randomize();
            seen.push_back(a.Rnd());
        }
        std::sort(seen.begin(), seen.end());
        QVERIFY(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
    }

    void resumeTemperature_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("becomes");
        QTest::newRow("empty") << "" << "0.1";
        QTest::newRow("below") << "0.05" << "0.1";
        QTest::newRow("negative") << "-3" << "0.1";
        QTest::newRow("exactly-the-floor") << "0.1" << "<kept>";
        QTest::newRow("above") << "2.27" << "<kept>";
        QTest::newRow("leading-number") << "3K" << "<kept>";
    }
    void resumeTemperature()
    {
        QFETCH(QString, text);
        QFETCH(QString, becomes);
        QCOMPARE(qstr(resumeTemperatureText(text.toStdString())), becomes);
    }

    void designerFloor_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("becomes");
        QTest::newRow("empty-stays") << "" << "<kept>";
        QTest::newRow("zero") << "0" << "0.0001";
        QTest::newRow("word") << "abc" << "0.0001";
        QTest::newRow("single-blank") << " " << "0.0001";
        QTest::newRow("below-floor") << "0.00005" << "0.0001";
        QTest::newRow("floor-kept") << "0.0001" << "<kept>";
        QTest::newRow("two") << "2" << "<kept>";
    }
    void designerFloor()
    {
        QFETCH(QString, text);
        QFETCH(QString, becomes);
        QCOMPARE(qstr(designerFloorText(text.toStdString())), becomes);
    }

    void seriesFillsTwelveBlocks()
    {
        SnapshotSeries series;
        QVERIFY(series.countText().empty());
        for (int n = 0; n < 12; ++n)
            QCOMPARE(series.capture(), std::optional<int>(n));
        QCOMPARE(series.capture(), std::nullopt); // the 13th fills nothing but counts
        QCOMPARE(QString::fromStdString(series.countText()), QString(" 13"));
        series.clear();
        QCOMPARE(QString::fromStdString(series.countText()), QString("0"));
        QCOMPARE(series.capture(), std::optional<int>(0));
    }

    void captionJoinsTheTextsAsTheyStand()
    {
        ScriptedRandom random;
        Run run(random);
        random.script = {0.9};
        prepareZero(run);
        run.startClear();
        run.finishClear();
        run.tick(0.1, FactorTable().data());
        QCOMPARE(QString::fromStdString(snapshotCaption("2.270", run.record())), QString("2.270; -1;  1;  1"));
        QCOMPARE(QString::fromStdString(snapshotCaption("", RunRecord())), QString("; ; ; "));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
