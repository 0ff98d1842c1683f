#include "windowfixture.h"

#include "twips.h"

#include <QTest>

using namespace ferro;

class TestDesignTemps : public QObject {
    Q_OBJECT
    WindowFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void windowLayout()
    {
        Design_Temps &d = f.w->designTemps();
        QCOMPARE(d.windowTitle(), QString("Design Temps"));
        QCOMPARE(d.client->size(), QSize(692, 397));
        QCOMPARE(d.mnuQuit->text(), QString("Quit Design Temps"));
        QCOMPARE(d.mnuClear->text(), QString("Clear Text"));
        QCOMPARE(d.Text1[0]->geometry(), twipsRect(2783, 570, 255, 285));
        QCOMPARE(d.Text1[399]->geometry(), twipsRect(2783 + 240 * 19, 570 + 240 * 19, 255, 285));
        QCOMPARE(d.lblFrame->geometry(), twipsRect(2543, 330, 5295, 5295));
        // Tab order follows k.
        QCOMPARE(d.Text1[0]->nextInFocusChain(), static_cast<QWidget *>(d.Text1[1]));
        QCOMPARE(d.Text1[20]->nextInFocusChain(), static_cast<QWidget *>(d.Text1[21]));
    }

    void quitFloorsInvalidFactors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty-stays") << "" << "";
        QTest::newRow("zero") << "0" << "0.0001";
        QTest::newRow("negative") << "-2" << "0.0001";
        QTest::newRow("word") << "abc" << "0.0001";
        QTest::newRow("single-blank") << " " << "0.0001";
        QTest::newRow("below-floor") << "0.00005" << "0.0001";
        QTest::newRow("exponent-below") << "1E-5" << "0.0001";
        QTest::newRow("floor-kept") << "0.0001" << "0.0001";
        QTest::newRow("two-kept") << "2" << "2";
        QTest::newRow("leading-number-kept") << "2x" << "2x";
    }
    void quitFloorsInvalidFactors()
    {
        QFETCH(QString, text);
        QFETCH(QString, after);
        Ising &w = *f.w;
        w.show();
        w.mnuTemps_Click();
        Design_Temps &d = w.designTemps();
        d.Text1[137]->setText(text);
        w.cmdRestart_Click(); // the run may go on while the window is open
        d.mnuQuit_Click();
        QCOMPARE(d.Text1[137]->text(), after);
        QVERIFY(d.isVisible()); // stays open behind the main window
        QVERIFY(w.timersEnabled()); // quitting touches no timer
        QCOMPARE(d.Text1[136]->text(), QString());
    }

    void clearTextEmptiesEveryBox()
    {
        Design_Temps &d = f.w->designTemps();
        for (int k : {0, 199, 399})
            d.Text1[k]->setText("3");
        QCOMPARE(d.factors()[199], 3.0);
        d.mnuClear_Click();
        for (int k = 0; k < Sites; ++k) {
            QVERIFY(d.Text1[k]->text().isEmpty());
            QCOMPARE(d.factors()[k], 1.0);
        }
    }

    void openingPausesTheRun()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        w.cmdRestart_Click();
        w.mnuTemps_Click();
        QVERIFY(!w.timersEnabled());
        QCOMPARE(w.lblRestart->text(), QString("Go"));
        QVERIFY(w.designTemps().isVisible());
    }

    void factorReachesItsSiteAtTheNextAttempt()
    {
        // Box 0 holding 2, temperature 1: an uphill flip of the top-left site
        // is accepted with a draw that would be too high at temperature 1.
        Ising &w = *f.w;
        f.prepareOrdered();
        w.txtTemp->setText("1");
        w.designTemps().Text1[0]->setText("2");
        const double between = (std::exp(-8 / 2.0) + std::exp(-8 / 1.0)) / 2;
        w.sim.random.script({0.5 / 400, between, 210.5 / 400, between});
        w.tmrTime_Timer();
        QCOMPARE(w.sim.lattice.Spin[0][0], std::int16_t(-1));
        w.tmrTime_Timer();
        QCOMPARE(w.sim.lattice.Spin[10][10], std::int16_t(1)); // temperature 1 elsewhere
        QCOMPARE(w.Shape1->BackColor(0), 0xFFFFFFu);
    }

    void firstAttemptCreatesTheWindowHidden()
    {
        Ising &w = *f.w;
        w.show();
        QVERIFY(!w.designTempsExists());
        f.prepareOrdered();
        w.tmrTime_Timer();
        QVERIFY(w.designTempsExists());
        QVERIFY(!w.designTemps().isVisible());
        for (int k = 0; k < Sites; ++k)
            QVERIFY(w.designTemps().Text1[k]->text().isEmpty());
    }

    void closingHidesAndKeepsFactors()
    {
        Ising &w = *f.w;
        w.show();
        w.mnuTemps_Click();
        w.designTemps().Text1[5]->setText("0.5");
        w.designTemps().close();
        QVERIFY(!w.designTemps().isVisible());
        QCOMPARE(f.ends, 0);
        w.mnuTemps_Click();
        QVERIFY(w.designTemps().isVisible());
        QCOMPARE(w.designTemps().Text1[5]->text(), QString("0.5"));
        QCOMPARE(w.designTemps().factors()[5], 0.5);
    }
};

QTEST_MAIN(TestDesignTemps)
#include "tst_designtemps.moc"
