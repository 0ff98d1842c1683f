// The rules of preparing a run and of the snapshot series, without windows.

#include "tests/fakes.h"
#include "core/flip.h"
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

    // One text, as typed into the temperature box or a factor box: the run
    // temperature it gives, what Go to T = leaves in the temperature box, the
    // site factor, and what the designer's Quit leaves in a factor box.
    void temperatureTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("run");
        QTest::addColumn<QString>("goToBox");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QString>("quitBox");
        const double max = 1.7976931348623157e308;
        const struct { const char *name, *text; double run; const char *goTo; double factor; const char *quit; } rows[] = {
            {"empty", "", 0.1, "0.1", 1, "<kept>"}, {"single-blank", " ", 0.1, "0.1", 0.0001, "0.0001"},
            {"ordinary", "2.5", 2.5, "<kept>", 2.5, "<kept>"},
            {"at-the-run-floor", "0.1", 0.1, "<kept>", 0.1, "<kept>"},
            {"just-above", "0.1000001", 0.1000001, "<kept>", 0.1000001, "<kept>"},
            {"below-the-run-floor", "0.05", 0.1, "0.1", 0.05, "<kept>"},
            {"at-the-factor-floor", "0.0001", 0.1, "0.1", 0.0001, "<kept>"},
            {"leading-number", "2x", 2, "<kept>", 2, "<kept>"}, {"suffix", "3K", 3, "<kept>", 3, "<kept>"},
            {"whole-below-floor", "0.00005", 0.1, "0.1", 0.00005, "0.0001"},
            {"exponent-below-floor", " 1E-5 ", 0.1, "0.1", 1e-5, "0.0001"},
            {"smallest-double", "4.9e-324", 0.1, "0.1", 4.9e-324, "0.0001"},
            {"leading-below-floor", "0.00005x", 0.1, "0.1", 0.0001, "0.0001"},
            {"zero", "0", 0.1, "0.1", 0.0001, "0.0001"}, {"negative", "-3", 0.1, "0.1", 0.0001, "0.0001"},
            {"word", "abc", 0.1, "0.1", 0.0001, "0.0001"}, {"huge-saturates", "1e999", max, "<kept>", max, "<kept>"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.text << r.run << r.goTo << r.factor << r.quit;
    }
    void temperatureTexts()
    {
        QFETCH(QString, text);
        const std::string t = text.toStdString();
        QTEST(runTemperature(Val(t)), "run");
        QTEST(qstr(resumeTemperatureText(t)), "goToBox");
        QTEST(siteFactor(t), "factor");
        QTEST(qstr(designerFloorText(t)), "quitBox");
        QVERIFY(localTemperature(runTemperature(Val(t)), siteFactor(t)) > 0);
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
