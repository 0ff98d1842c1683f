#include "windowfixture.h"

#include "twips.h"

#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

using namespace ferro;

class TestMainWindow : public QObject {
    Q_OBJECT
    WindowFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void controlGeometry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("lblFrame") << "lblFrame" << QRect(5213, 188, 5295, 5295);
        QTest::newRow("picMag") << "picMag" << QRect(2693, 5828, 10365, 1665);
        QTest::newRow("picAutoCorrelation") << "picAutoCorrelation" << QRect(2693, 7868, 10365, 1665);
        QTest::newRow("picDateTime") << "picDateTime" << QRect(533, 10028, 2535, 615);
        QTest::newRow("txtTemp") << "txtTemp" << QRect(13733, 2108, 975, 255);
        QTest::newRow("txtRunNum") << "txtRunNum" << QRect(13373, 2558, 1695, 285);
        QTest::newRow("cmdZero") << "cmdZero" << QRect(11933, 1028, 615, 285);
        QTest::newRow("cmdRestart") << "cmdRestart" << QRect(14453, 10268, 615, 285);
        QTest::newRow("hsbTimeInterval") << "hsbTimeInterval" << QRect(653, 5108, 4000, 135);
    }
    void controlGeometry()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        const std::map<QString, QWidget *> controls {
            {"lblFrame", f.w->lblFrame},   {"picMag", f.w->picMag},       {"picAutoCorrelation", f.w->picAutoCorrelation},
            {"picDateTime", f.w->picDateTime}, {"txtTemp", f.w->txtTemp}, {"txtRunNum", f.w->txtRunNum},
            {"cmdZero", f.w->cmdZero},     {"cmdRestart", f.w->cmdRestart}, {"hsbTimeInterval", f.w->hsbTimeInterval},
        };
        QCOMPARE(controls.at(name)->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    }

    void cellsFormTheGrid_data()
    {
        QTest::addColumn<int>("k");
        QTest::addColumn<QPoint>("twips"); // the shape's Left, Top
        QTest::newRow("top-left") << 0 << QPoint(5453, 428);
        QTest::newRow("top-right") << 19 << QPoint(10013, 428);
        QTest::newRow("second-row") << 20 << QPoint(5453, 668);
        QTest::newRow("bottom-right") << 399 << QPoint(10013, 4988);
    }
    void cellsFormTheGrid()
    {
        QFETCH(int, k);
        QFETCH(QPoint, twips);
        // The square of 255 twips stands centred in its 255 x 300 shape.
        const QRect cell = f.w->Shape1->cellRect(k).translated(f.w->Shape1->pos());
        QCOMPARE(cell, twipsRect(twips.x(), twips.y() + 22.5, 255, 255));
        QCOMPARE(f.w->Shape1->BackColor(k), 0xC0C0C0u);
        QCOMPARE(f.w->Shape1->BorderColor(k), 0xC0C0C0u);
        QCOMPARE(f.w->Shape1->BorderStyle(k), 6);
    }

    void captionsAndStartValues()
    {
        Ising &w = *f.w;
        QCOMPARE(w.windowTitle(), QString("Ferrogrid"));
        QStringList menu;
        for (QAction *a : w.menuBar()->actions())
            menu << a->text();
        const QString b = QString(10, ' ');
        QCOMPARE(menu, QStringList({"Temperature Factor", b + "Snapshot", b + "View Snapshots", b + "Continue",
                                    b + "Clear Chart", b + "Reset", b + "Print", b + "Exit"}));
        QCOMPARE(w.lblInstant->text(), QString("Instantaneous Magnetization"));
        QCOMPARE(w.lblGetTempDefault->text(), QString("Final Temp (default T = 0.1)"));
        QCOMPARE(w.lblX->text(), QString("Time (Monte Carlo steps per site)"));
        QVERIFY(w.lblGetTemp->font().bold());
        QCOMPARE(w.lblGetTemp->font().pointSizeF(), 9.75);
        QCOMPARE(w.lblInstant->font().pointSizeF(), 8.25);
        QVERIFY(!w.tmrTime->Enabled() && !w.tmrLabels->Enabled());
        QCOMPARE(w.tmrTime->Interval(), 1);
        QCOMPARE(w.lblRestart->text(), QString("Go"));
        QVERIFY(w.lblRestart->isHidden());
        for (Caption *c : {w.lblTime, w.lblLabels, w.lblSumMag, w.lblNetMag, w.lblInstantaneousMag,
                           w.lblInternalEnergy, w.lblSnapshotsCounter, w.lblPrintRunNum})
            QVERIFY(c->text().isEmpty());
        QVERIFY(w.txtTemp->text().isEmpty() && w.txtRunNum->text().isEmpty());
    }

    void startUpDrawsChartsAndDate()
    {
        Ising &w = *f.w;
        QCOMPARE(f.textsOf(w.picDateTime), QStringList({"03-09-2026", "14:05:07"}));
        // Value-axis texts on the window surface, right of each chart, lifted half a line.
        QStringList axis;
        for (const SurfaceOp &op : w.surface->operations()) {
            QCOMPARE(op.a.x(), pxF(13148));
            axis << op.text;
        }
        QCOMPARE(axis.mid(0, 6), QStringList({" 1.0", " 0.8", " 0.6", " 0.4", " 0.2", " 0.0"}));
        QCOMPARE(w.surface->operations()[1].a.y(), pxF(6041));
        QCOMPARE(w.surface->operations()[11].a.y(), pxF(9413));
        w.ClearChart(); // the same texts again, not a second copy
        QCOMPARE(w.surface->operations().size(), size_t(12));
        // Time-axis labels centred under the grid lines.
        const int centres[] = {2693, 4766, 6839, 8912, 10985, 13058};
        const char *captions[] = {"0", "800", "1600", "2400", "3200", "4000"};
        for (int k = 0; k < 6; ++k) {
            QCOMPARE(w.Label1[k]->text(), QString(captions[k]));
            QVERIFY(std::abs(w.Label1[k]->geometry().center().x() - px(centres[k])) <= 1);
            QCOMPARE(w.Label1[k]->y(), px(9633));
        }
    }

    void chartGridColours()
    {
        Ising &w = *f.w;
        const QImage img = w.picMag->backingImage();
        const qreal dpr = img.devicePixelRatio();
        auto at = [&](int x, int y) { return QColor(img.pixel(int(x * dpr), int(y * dpr))).rgb() & 0xFFFFFF; };
        const int valueZeroRow = int(1.0 / 1.015 * w.picMag->height());
        QCOMPARE(at(0, 50), 0x000000u);                // black left edge on a fresh start
        QCOMPARE(at(300, valueZeroRow), 0x000000u);    // black value-0 line
        QCOMPARE(at(300, 0), 0x808080u);               // grey top line
        QCOMPARE(at(int(800 * w.picMag->width() / 4004.0), 50), 0x808080u);

        // A clear after 4000 ticks draws the left edge grey; a second clear black again.
        w.sim.record.labels.setNumber(4000);
        w.ClearChart();
        QCOMPARE(QColor(w.picMag->backingImage().pixel(0, int(50 * dpr))).rgb() & 0xFFFFFF, 0x808080u);
        w.ClearChart();
        QCOMPARE(QColor(w.picMag->backingImage().pixel(0, int(50 * dpr))).rgb() & 0xFFFFFF, 0x000000u);
        QCOMPARE(w.picMag->ForeColor(), QColor(0, 0, 255));
        QCOMPARE(w.picAutoCorrelation->ForeColor(), QColor(255, 0, 0));
    }

    void clearChartStopsAndEmpties()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        w.txtTemp->setText("2");
        w.cmdRestart_Click();
        for (int n = 0; n < 450; ++n)
            w.tmrTime_Timer();
        const QString energy = (w.refreshReadouts(), w.lblInternalEnergy->text());
        w.mnuClearChart_Click();
        QVERIFY(!w.timersEnabled());
        QCOMPARE(w.lblRestart->text(), QString("Go"));
        QCOMPARE(w.lblTime->text(), QString("0"));
        QCOMPARE(w.lblLabels->text(), QString("0"));
        QVERIFY(w.lblSumMag->text().isEmpty() && w.lblNetMag->text().isEmpty() && w.lblInstantaneousMag->text().isEmpty());
        QVERIFY(w.txtTemp->text().isEmpty());
        QCOMPARE(w.lblInternalEnergy->text(), energy);
        QCOMPARE(w.Shape1->BackColor(0), 0x000000u);
    }

    void ticksPlotAndKeepCellsInStep()
    {
        Ising &w = *f.w;
        w.sim.random.script(std::vector<double>(400, 0.3)); // random state: a draw per site
        w.cmdRandom_Click();
        w.txtTemp->setText("2.27");
        w.ClearChart();
        w.txtTemp->setText("2.27");
        const size_t magOps = w.picMag->operations().size();
        for (int n = 0; n < 400; ++n)
            w.tmrTime_Timer();
        QCOMPARE(w.picMag->operations().size(), magOps + 1);
        QCOMPARE(w.picMag->operations().back().width, 2);
        QCOMPARE(w.picMag->operations().back().a.x(), 1 * w.picMag->width() / 4004.0);
        QCOMPARE(w.picAutoCorrelation->operations().back().width, 1);
        for (int k = 0; k < Sites; ++k) {
            QCOMPARE(w.Shape1->BackColor(k), colourOfSpin(w.sim.lattice.spinOfCell(k)));
            QCOMPARE(w.Shape1->BorderColor(k), w.Shape1->BackColor(k));
        }
        w.refreshReadouts();
        QCOMPARE(w.lblLabels->text(), QString(" 400"));
        QCOMPARE(w.lblInternalEnergy->text(), qs(Str(double(w.sim.lattice.Energy))));
    }

    void startingConfigurations()
    {
        Ising &w = *f.w;
        w.sim.random.script({0.75});
        w.cmdZero_Click();
        for (int k = 0; k < Sites; ++k)
            QCOMPARE(w.Shape1->BackColor(k), 0xFFFFFFu);
        QCOMPARE(w.lblInstantaneousMag->text(), QString("-1"));
        QCOMPARE(w.lblInternalEnergy->text(), QString("-800"));

        w.sim.random.script({0.5}); // exactly one half keeps the lattice
        w.cmdZero_Click();
        QCOMPARE(w.Shape1->BackColor(7), 0xFFFFFFu);

        w.sim.random = Random(99);
        w.cmdRandom_Click();
        int black = 0;
        for (int k = 0; k < Sites; ++k)
            black += w.Shape1->BackColor(k) == 0 ? 1 : 0;
        QVERIFY(black > 120 && black < 280);
        QCOMPARE(w.lblInstantaneousMag->text(), qs(Str(RoundTo(w.sim.lattice.TotalMag / 400.0, 4))));
        QVERIFY(!w.timersEnabled());
        QVERIFY(w.lblLabels->text().isEmpty()); // no counter touched
    }

    void runStates()
    {
        Ising &w = *f.w;
        f.prepareOrdered();
        w.cmdRestart_Click();
        QVERIFY(w.timersEnabled());
        w.txtTemp->setText("1"); // any edit pauses
        QVERIFY(!w.timersEnabled());
        QCOMPARE(w.lblRestart->text(), QString("Go"));
        w.cmdRestart_Click();
        w.txtTemp->setText("1.5");
        QVERIFY(!w.timersEnabled());
        // Page complete: Go is the only way on.
        w.sim.record.time.setNumber(LastPageTick - 1);
        w.cmdRestart_Click();
        w.tmrTime_Timer();
        w.refreshReadouts();
        QVERIFY(!w.timersEnabled());
        QCOMPARE(w.lblRestart->text(), QString("Stop"));
        w.ResumeRun();
        QVERIFY(!w.timersEnabled());
        w.cmdRestart_Click();
        QVERIFY(w.timersEnabled());
        QCOMPARE(w.lblRestart->text(), QString("Go"));
    }

    void quitQuestion_data()
    {
        QTest::addColumn<bool>("pageComplete");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("timersAfter");
        QTest::newRow("paused-no-runs") << false << false << int(vbNo) << true;
        QTest::newRow("running-no-runs-on") << false << true << int(vbNo) << true;
        QTest::newRow("page-complete-no-stays") << true << false << int(vbNo) << false;
        QTest::newRow("running-yes-ends") << false << true << int(vbYes) << false;
        QTest::newRow("page-complete-yes-ends") << true << false << int(vbYes) << false;
    }
    void quitQuestion()
    {
        QFETCH(bool, pageComplete);
        QFETCH(bool, running);
        QFETCH(int, answer);
        QFETCH(bool, timersAfter);
        Ising &w = *f.w;
        f.prepareOrdered();
        w.sim.record.go = !pageComplete;
        if (running)
            w.setTimersEnabled(true);
        f.answer = answer;
        bool timersWhileAsking = true;
        setMsgBoxAnswerer([&](const QString &prompt, int style, const QString &title) {
            timersWhileAsking = w.timersEnabled();
            f.asked.push_back({prompt, style, title});
            return answer;
        });
        w.mnuExit_Click();
        QCOMPARE(f.asked.size(), size_t(1));
        QCOMPARE(f.asked[0].prompt, QString(" Quit the program?"));
        QCOMPARE(f.asked[0].title, QString(" Ferrogrid"));
        QCOMPARE(f.asked[0].style, 4);
        QVERIFY(!timersWhileAsking);
        QCOMPARE(w.timersEnabled(), timersAfter);
        QCOMPARE(f.ends, answer == vbYes ? 1 : 0);
    }

    void closingTheWindowEndsAtOnce()
    {
        f.w->show();
        f.w->setTimersEnabled(true);
        f.w->close();
        QCOMPARE(f.ends, 1);
        QVERIFY(f.asked.empty());
    }

    void closingEndsTheProgramWithStatusZero()
    {
        // The real ending, with all three windows open and the run going.
        Ising &w = *f.w;
        w.show();
        w.mnuTemps_Click();
        w.mnuView_Click();
        f.prepareOrdered();
        w.cmdRestart_Click();
        setEndHandler({});
        QTimer::singleShot(50, &w, [&w] { w.close(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!w.isVisible() && !w.designTemps().isVisible() && !w.snapshots().isVisible());
        QVERIFY(f.asked.empty());
    }

    void temperatureCorrections_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty") << "" << "0.1";
        QTest::newRow("word") << "abc" << "0.1";
        QTest::newRow("negative") << "-1" << "0.1";
        QTest::newRow("below") << "0.09" << "0.1";
        QTest::newRow("exactly-kept") << "0.1" << "0.1";
        QTest::newRow("three-kept") << "3" << "3";
        QTest::newRow("leading-number-kept") << "2.5K" << "2.5K";
    }
    void temperatureCorrections()
    {
        QFETCH(QString, typed);
        QFETCH(QString, after);
        Ising &w = *f.w;
        f.prepareOrdered();
        w.ClearChart();
        w.txtTemp->setText(typed);
        w.cmdGoToTemp_Click();
        QCOMPARE(w.txtTemp->text(), after);
        QVERIFY(w.timersEnabled());
        // The direct tick does not count, and after a clear it plots at x = 0.
        QCOMPARE(w.lblLabels->text(), QString("0"));
        QCOMPARE(w.lblTime->text(), QString("0"));
        QVERIFY(w.lblNetMag->text().isEmpty());
        QCOMPARE(w.picMag->operations().back().kind, SurfaceOp::Kind::Dot);
        QCOMPARE(w.picMag->operations().back().a.x(), 0.0);
    }

    void blankLatticeIsRefused()
    {
        Ising &w = *f.w;
        w.cmdRestart_Click();
        w.picMag->hide();
        w.mnuContinue_Click();
        QVERIFY(!w.timersEnabled());
        QVERIFY(w.picMag->isVisibleTo(&w));
        QCOMPARE(w.txtTemp->text(), QString("0.1"));
        QVERIFY(w.lblLabels->text().isEmpty());
    }

    void runNumberLabel()
    {
        Ising &w = *f.w;
        w.txtRunNum->setText("Run 7");
        QVERIFY(w.lblPrintRunNum->text().isEmpty());
        const int emptyWidth = w.lblPrintRunNum->width();
        QTest::mouseClick(w.lblPrintRunNum, Qt::LeftButton);
        QCOMPARE(w.lblPrintRunNum->text(), QString("Run 7"));
        QVERIFY(w.lblPrintRunNum->width() > emptyWidth);
        w.txtRunNum->clear();
        w.lblPrintRunNum_Click();
        QVERIFY(w.lblPrintRunNum->text().isEmpty());
    }

    // The interval scroll bar: left is long (1400 ms), right is short (1 ms);
    // the arrows step 10, the trough 40, and the run takes the new interval at
    // its next tick.
    void scrollBarSetsTheIntervalAtTheNextTick()
    {
        Ising &w = *f.w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        f.prepareOrdered();
        QScrollBar *bar = w.hsbTimeInterval;
        auto part = [bar](QStyle::SubControl sc) {
            QStyleOptionSlider opt;
            opt.initFrom(bar);
            opt.orientation = Qt::Horizontal;
            opt.state |= QStyle::State_Horizontal;
            opt.minimum = bar->minimum();
            opt.maximum = bar->maximum();
            opt.sliderPosition = bar->sliderPosition();
            opt.sliderValue = bar->value();
            opt.singleStep = bar->singleStep();
            opt.pageStep = bar->pageStep();
            opt.upsideDown = bar->invertedAppearance();
            return bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, bar);
        };
        auto intervalAfterTick = [&w] {
            w.tmrTime_Timer();
            return w.tmrTime->Interval();
        };
        QCOMPARE(intervalAfterTick(), 1);
        const int rightEnd = part(QStyle::SC_ScrollBarSlider).right();
        QVERIFY(rightEnd >= part(QStyle::SC_ScrollBarAddPage).left() - 1); // thumb at the right end

        int thumb = part(QStyle::SC_ScrollBarSlider).left();
        for (int n = 0; n < 3; ++n) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, part(QStyle::SC_ScrollBarSubLine).center());
            QVERIFY(part(QStyle::SC_ScrollBarSlider).left() < thumb);
            thumb = part(QStyle::SC_ScrollBarSlider).left();
        }
        QCOMPARE(intervalAfterTick(), 31);
        QTest::mouseClick(bar, Qt::LeftButton, {}, part(QStyle::SC_ScrollBarAddLine).center());
        QVERIFY(part(QStyle::SC_ScrollBarSlider).left() > thumb);
        QCOMPARE(intervalAfterTick(), 21);

        // A trough click left of the thumb moves it left: 40 ms longer.
        thumb = part(QStyle::SC_ScrollBarSlider).left();
        QTest::mouseClick(bar, Qt::LeftButton, {}, part(QStyle::SC_ScrollBarSubPage).center());
        QVERIFY(part(QStyle::SC_ScrollBarSlider).left() < thumb);
        QCOMPARE(intervalAfterTick(), 61);

        // Keys move it the way the arrows do.
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_Right);
        QCOMPARE(intervalAfterTick(), 51);
        QTest::keyClick(bar, Qt::Key_Left);
        QTest::keyClick(bar, Qt::Key_PageUp);
        QCOMPARE(intervalAfterTick(), 101);
        QTest::keyClick(bar, Qt::Key_PageDown);
        QCOMPARE(intervalAfterTick(), 61);
        QTest::keyClick(bar, Qt::Key_Home);
        QCOMPARE(intervalAfterTick(), 1400);
        QTest::keyClick(bar, Qt::Key_End);
        QCOMPARE(intervalAfterTick(), 1);
    }

    // At a long interval the tick that ends a page still shows its count and
    // the run state.
    void stoppingTickShowsItsCount()
    {
        Ising &w = *f.w;
        w.show();
        f.prepareOrdered();
        w.sim.record.time.setNumber(LastPageTick - 2);
        w.sim.record.labels.setNumber(LastPageTick - 2);
        w.hsbTimeInterval->setValueAt(60);
        w.cmdRestart_Click();
        QTRY_VERIFY(!w.timersEnabled());
        QTRY_COMPARE(w.lblLabels->text(), QString(" 1599999"));
        QCOMPARE(w.lblRestart->text(), QString("Stop"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
