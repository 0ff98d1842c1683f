// The temperature-factor designer: its boxes, its two menus, and factors
// reaching their sites.

#include "tests/windowfixture.h"

#include <cmath>

using namespace ferro;

class TestDesignTemps : public QObject {
    Q_OBJECT
    WindowFixture f;

    QLineEdit *factorBox(int k) { return f.box(QStringLiteral("Text1_%1").arg(k), &f.w->designTemps()); }

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // Quit writes the floor into boxes without a usable factor, leaves the
    // window open behind the main window and touches no timer.
    void quitFloorsInvalidFactors()
    {
        f.choose("mnuTemps");
        f.prepareOrdered();
        for (const auto &[k, text] : {std::pair {3, "0"}, {4, "abc"}, {5, "2x"}, {6, ""}, {7, "1E-5"}})
            factorBox(k)->setText(text);
        f.click("cmdRestart"); // the run may go on while the window is open
        f.choose("mnuQuit", &f.w->designTemps());
        const QStringList after {factorBox(3)->text(), factorBox(4)->text(), factorBox(5)->text(),
                                 factorBox(6)->text(), factorBox(7)->text()};
        QCOMPARE(after, QStringList({"0.0001", "0.0001", "2x", "", "0.0001"}));
        QVERIFY(f.w->designTemps().isVisible());
        QVERIFY(f.w->timersEnabled());
    }

    void clearTextEmptiesEveryBox()
    {
        for (int k : {0, 199, 399})
            factorBox(k)->setText("3");
        f.choose("mnuClear", &f.w->designTemps());
        for (int k = 0; k < Sites; ++k)
            QVERIFY(factorBox(k)->text().isEmpty());
        QCOMPARE(f.w->designTemps().factors()[199], 1.0);
    }

    void openingPausesTheRun()
    {
        f.prepareOrdered();
        f.click("cmdRestart");
        f.choose("mnuTemps");
        QVERIFY(!f.w->timersEnabled());
        QCOMPARE(f.text("lblRestart"), QString("Go"));
        QVERIFY(f.w->designTemps().isVisible());
    }

    void factorReachesItsSiteAtTheNextAttempt()
    {
        // Box 0 holding 2, temperature 1: an uphill flip of the top-left site
        // is accepted with a draw that would be too high at temperature 1.
        f.prepareOrdered();
        f.box("txtTemp")->setText("1");
        factorBox(0)->setText("2");
        const double between = (std::exp(-8 / 2.0) + std::exp(-8 / 1.0)) / 2;
        f.random.script = {0.5 / 400, between, 210.5 / 400, between};
        f.w->tmrTime_Timer();
        f.w->tmrTime_Timer();
        QCOMPARE(int(f.w->run().lattice().Spin[0][0]), -1);
        QCOMPARE(int(f.w->run().lattice().Spin[10][10]), 1); // temperature 1 elsewhere
    }

    void closingHidesAndKeepsFactors()
    {
        f.choose("mnuTemps");
        factorBox(5)->setText("0.5");
        f.w->designTemps().close();
        QVERIFY(!f.w->designTemps().isVisible());
        QCOMPARE(f.end.ends, 0);
        f.choose("mnuTemps");
        QVERIFY(f.w->designTemps().isVisible());
        QCOMPARE(factorBox(5)->text(), QString("0.5"));
    }
};

QTEST_MAIN(TestDesignTemps)
#include "tst_designtemps.moc"
