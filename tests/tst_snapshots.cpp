#include "windowfixture.h"

#include "twips.h"

#include <QMenuBar>
#include <QTest>

using namespace ferro;

class TestSnapshots : public QObject {
    Q_OBJECT
    WindowFixture f;

    // k captures of a lattice with the top-right cell white on black.
    void capture(int times)
    {
        for (int n = 0; n < times; ++n)
            f.w->mnuSnapshot_Click();
    }

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void windowLayout()
    {
        Snapshots &s = f.w->snapshots();
        QCOMPARE(s.windowTitle(), QString("Snapshots"));
        QCOMPARE(s.lblLegend->text(), QString("temperature; instantaneous magnetization per site; "
                                              "time-averaged magnetization per site; Monte Carlo steps"));
        const QString b(10, ' ');
        QStringList menu;
        for (QAction *a : s.menuBar()->actions())
            menu << a->text();
        QCOMPARE(menu, QStringList({b + "Clear Snapshots", b + "Return", b + "Print"}));
        QCOMPARE(s.Shape1->count(), 4800);
        // Block 5 is in column 1, row 1; its last cell shows whole at the block's bottom right.
        const QRect first = s.Shape1->cellRect(400 * 5).translated(s.Shape1->pos());
        QCOMPARE(first, twipsRect(4808, 3720, 150, 150));
        const QRect last = s.Shape1->cellRect(400 * 11 + 399).translated(s.Shape1->pos());
        QCOMPARE(last, twipsRect(10328 + 120 * 19, 6480 + 120 * 19, 150, 150));
        QCOMPARE(s.lblSnapshots[10]->pos(), QPoint(px(8783), px(9000)));
        // The date box lies below the designed client height; the window shows it.
        QVERIFY(s.picDateTime->geometry().bottom() < s.client->height());
        for (int k = 0; k < 4800; ++k)
            QVERIFY(!s.Shape1->isCellVisible(k));
        for (Caption *c : s.lblSnapshots)
            QVERIFY(c->isHidden() && c->text().isEmpty());
    }

    void counterTexts_data()
    {
        QTest::addColumn<int>("before"); // -1: empty at start-up, 0: "0" after a clear
        QTest::addColumn<QString>("after");
        QTest::newRow("from-empty") << -1 << " 1";
        QTest::newRow("from-zero") << 0 << " 1";
        QTest::newRow("twelfth-to-thirteenth") << 12 << " 13";
    }
    void counterTexts()
    {
        QFETCH(int, before);
        QFETCH(QString, after);
        Ising &w = *f.w;
        if (before == 0)
            w.sim.record.snapshots.setZero();
        else if (before > 0)
            w.sim.record.snapshots.setNumber(before);
        w.mnuSnapshot_Click();
        QCOMPARE(w.lblSnapshotsCounter->text(), after);
        QVERIFY(w.snapshots().isVisible());
    }

    void captionJoinsTheFourTextsAsTheyStand()
    {
        Ising &w = *f.w;
        w.sim.random.script({0.9}); // all down: m = -1
        w.cmdZero_Click();
        w.txtTemp->setText(" 2.5 K ");
        w.cmdRestart_Click();
        w.sim.random.script({0.0, 0.9999}); // a rejected attempt keeps m = -1
        w.tmrTime_Timer();
        w.mnuSnapshot_Click();
        QCOMPARE(w.snapshots().lblSnapshots[0]->text(), QString(" 2.5 K ; -1;  1;  1"));
        QVERIFY(!w.timersEnabled());

        w.ClearChart(); // empties the temperature and the read-outs
        w.mnuSnapshot_Click();
        QCOMPARE(w.snapshots().lblSnapshots[1]->text(), QString("; ; ; 0"));
        QVERIFY(w.snapshots().lblSnapshots[1]->isVisible());
    }

    void blocksKeepOrientation()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        w.sim.lattice.Spin[0][19] = -1;
        w.Shape1->setBackColor(19, 0xFFFFFF);
        capture(2);
        Snapshots &s = w.snapshots();
        for (int b : {0, 1}) {
            for (int i = 0; i < 400; ++i) {
                const int j = 400 * b + i;
                QVERIFY(s.Shape1->isCellVisible(j));
                QCOMPARE(s.Shape1->BackColor(j), w.Shape1->BackColor(i));
                QCOMPARE(s.Shape1->BorderColor(j), w.Shape1->BackColor(i));
            }
        }
        // Main cell 19 lands top right of its block.
        const QRect topRight = s.Shape1->cellRect(19);
        QCOMPARE(topRight.left(), s.Shape1->cellRect(0).left() + px(2048 + 120 * 19) - px(2048));
        QCOMPARE(s.Shape1->BackColor(19), 0xFFFFFFu);
        QCOMPARE(s.lblSnapshots[0]->text(), s.lblSnapshots[1]->text());
        QVERIFY(!s.Shape1->isCellVisible(800));
    }

    void thirteenthCommandOnlyCounts()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        capture(12);
        Snapshots &s = w.snapshots();
        QVERIFY(s.Shape1->isCellVisible(4799));
        w.cmdRestart_Click();
        s.hide();
        w.mnuSnapshot_Click();
        QCOMPARE(w.lblSnapshotsCounter->text(), QString(" 13"));
        QVERIFY(w.timersEnabled()); // a refused capture leaves the run running
        QVERIFY(s.isVisible());
    }

    void clearSnapshots_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no-changes-nothing") << int(vbNo);
        QTest::newRow("yes-hides-all") << int(vbYes);
    }
    void clearSnapshots()
    {
        QFETCH(int, answer);
        Ising &w = *f.w;
        f.prepareOrdered();
        capture(5);
        w.cmdRestart_Click();
        f.answer = answer;
        Snapshots &s = w.snapshots();
        s.mnuClearSnapshots_Click();
        QCOMPARE(f.asked.size(), size_t(1));
        QCOMPARE(f.asked[0].prompt, QString(" Clear snapshots?"));
        QCOMPARE(f.asked[0].title, QString(" Ferrogrid"));
        QCOMPARE(f.asked[0].style, 4);
        QVERIFY(w.timersEnabled());
        if (answer == vbNo) {
            QCOMPARE(w.lblSnapshotsCounter->text(), QString(" 5"));
            QVERIFY(s.lblSnapshots[4]->isVisible() && s.Shape1->isCellVisible(1999));
            return;
        }
        QCOMPARE(w.lblSnapshotsCounter->text(), QString("0"));
        for (int k = 0; k < 4800; ++k)
            QVERIFY(!s.Shape1->isCellVisible(k));
        for (Caption *c : s.lblSnapshots)
            QVERIFY(!c->isVisible());
        QVERIFY(!s.lblSnapshots[3]->text().isEmpty()); // hidden, not erased
        w.mnuSnapshot_Click();
        QVERIFY(s.lblSnapshots[0]->isVisible() && !s.lblSnapshots[1]->isVisible());
        QVERIFY(s.Shape1->isCellVisible(0) && !s.Shape1->isCellVisible(400));
    }

    void returnBringsTheMainWindowForward()
    {
        Ising &w = *f.w;
        w.show();
        w.mnuView_Click();
        w.snapshots().mnuReturn_Click();
        QVERIFY(w.snapshots().isVisible());
        QVERIFY(w.isVisible());
    }

    void resetAfterCaptures()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        capture(3);
        const QString energy = w.lblInternalEnergy->text();
        w.txtTemp->setText("2");
        w.cmdRestart_Click();
        w.mnuReset_Click();
        Snapshots &s = w.snapshots();
        QCOMPARE(w.lblSnapshotsCounter->text(), QString("0"));
        for (int k = 0; k < 3; ++k)
            QVERIFY(s.lblSnapshots[k]->isVisible() && s.lblSnapshots[k]->text().isEmpty());
        QVERIFY(!s.lblSnapshots[3]->isVisible());
        for (int k = 0; k < 4800; ++k)
            QVERIFY(!s.Shape1->isCellVisible(k));
        for (int k = 0; k < Sites; ++k) {
            QCOMPARE(w.Shape1->BackColor(k), 0xC0C0C0u);
            QCOMPARE(w.sim.lattice.spinOfCell(k), std::int16_t(0));
        }
        QCOMPARE(w.lblInternalEnergy->text(), energy);
        QCOMPARE(int(w.sim.lattice.TotalMag), 400);
        QVERIFY(!w.timersEnabled());
        QVERIFY(w.txtTemp->text().isEmpty());
        QCOMPARE(w.lblLabels->text(), QString("0"));
        w.cmdGoToTemp_Click();
        QVERIFY(!w.timersEnabled()); // blank lattice
        w.mnuSnapshot_Click();
        QVERIFY(s.Shape1->isCellVisible(0));
        QCOMPARE(s.Shape1->BackColor(0), 0xC0C0C0u);
    }

    void resetCreatesTheWindowHidden()
    {
        Ising &w = *f.w;
        w.show();
        QVERIFY(!w.snapshotsExists());
        w.mnuReset_Click();
        QVERIFY(w.snapshotsExists());
        QVERIFY(!w.snapshots().isVisible());
        QCOMPARE(w.lblSnapshotsCounter->text(), QString("0"));
    }
};

QTEST_MAIN(TestSnapshots)
#include "tst_snapshots.moc"
