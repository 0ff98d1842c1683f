// The main window as a person sees and uses it: where the controls stand,
// what the lattice and the charts look like, and the run controls.

#include "tests/windowfixture.h"

#include "runtime/drawingsurface.h"
#include "stdruntime/textconv.h"
#include "runtime/reversedscrollbar.h"
#include "runtime/timer.h"
#include "runtime/twips.h"

#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

using namespace ferro;

namespace {

// The colour a widget shows at a point, as &HBBGGRR would name it.
std::uint32_t shown(QWidget *w, QPoint p)
{
    const QImage img = w->grab().toImage();
    const double dpr = img.devicePixelRatio();
    const QRgb c = img.pixel(int(p.x() * dpr), int(p.y() * dpr));
    return std::uint32_t(qRed(c)) | std::uint32_t(qGreen(c)) << 8 | std::uint32_t(qBlue(c)) << 16;
}

// The centre of cell k in client pixels.
QPoint cellCentre(int k)
{
    return QPoint(px(5453 + 240 * columnOf(k) + 127), px(428 + 22 + 240 * rowOf(k) + 127));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    WindowFixture f;

    // Ticks driven by the test while the real timer waits 1.4 s between its own.
    void slowTimer() { f.find<ReversedScrollBar>(f.w.get(), "hsbTimeInterval")->setValueAt(1400); }

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
        QCOMPARE(f.find<QWidget>(f.w.get(), name)->geometry(),
                 twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    }

    void captionsAndAxisTexts()
    {
        QStringList menu;
        for (QAction *a : f.w->menuBar()->actions())
            menu << a->text();
        const QString b(10, ' ');
        QCOMPARE(menu, QStringList({"Temperature Factor", b + "Snapshot", b + "View Snapshots", b + "Continue",
                                    b + "Clear Chart", b + "Reset", b + "Print", b + "Exit"}));
        QCOMPARE(f.text("lblGetTempDefault"), QString("Final Temp (default T = 0.1)"));
        QCOMPARE(f.text("lblRestart"), QString("Go"));
        // The time axis, centred under the grid lines, and the value axis beside each chart.
        const int centres[] = {2693, 4766, 6839, 8912, 10985, 13058};
        for (int k = 0; k < 6; ++k) {
            Caption *label = f.label(QStringLiteral("Label1_%1").arg(k));
            QCOMPARE(label->text(), QString::number(800 * k));
            QVERIFY(std::abs(label->geometry().center().x() - px(centres[k])) <= 1);
            QCOMPARE(label->y(), px(9633));
        }
        QStringList values;
        for (const SurfaceOp &op : f.find<DrawingSurface>(f.w.get(), "surface")->operations())
            values << op.text;
        const QStringList axis {" 1.0", " 0.8", " 0.6", " 0.4", " 0.2", " 0.0"};
        QCOMPARE(values, axis + axis);
    }

    // Cells stand in a 20 x 20 mosaic on the frame: silver until a state is
    // prepared, then black for up and white for down.
    void latticeCells()
    {
        QWidget *client = f.find<QWidget>(f.w.get(), "client");
        for (int k : {0, 19, 20, 399})
            QCOMPARE(shown(client, cellCentre(k)), 0xC0C0C0u);
        QCOMPARE(shown(client, QPoint(px(5213 + 100), px(188 + 100))), 0xE0E0E0u); // the frame's margin
        f.prepareOrdered();
        for (int k : {0, 19, 20, 399})
            QCOMPARE(shown(client, cellCentre(k)), 0x000000u);
        QCOMPARE(f.text("lblInternalEnergy"), QString("-800"));
        QVERIFY(f.text("lblLabels").isEmpty()); // no counter touched
    }

    // The left edge of a chart is black only when it is drawn before 4000
    // ticks were counted since the last clear; the value-0 line is black.
    void chartGrid_data()
    {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<uint>("leftEdge");
        QTest::newRow("fresh") << 0 << 0x000000u;
        QTest::newRow("3999-ticks") << 3999 << 0x000000u;
        QTest::newRow("4000-ticks") << 4000 << 0x808080u;
    }
    void chartGrid()
    {
        QFETCH(int, ticks);
        QFETCH(uint, leftEdge);
        auto *chart = f.find<DrawingSurface>(f.w.get(), "picMag");
        f.w->fastForward(ticks);
        f.choose("mnuClearChart");
        QCOMPARE(shown(chart, QPoint(0, 50)), leftEdge);
        QCOMPARE(shown(chart, QPoint(300, int(chart->height() / 1.015))), 0x000000u);
        QCOMPARE(shown(chart, QPoint(300, 0)), 0x808080u);
        f.choose("mnuClearChart"); // a second clear at once: black again
        QCOMPARE(shown(chart, QPoint(0, 50)), 0x000000u);
    }

    // Ticks plot a point per 400, in blue two pixels wide above and red one
    // pixel wide below, and keep the cells in step with the spins.
    void ticksPlotAndKeepCellsInStep()
    {
        f.random.script.assign(400, 0.3);
        f.click("cmdRandom");
        f.choose("mnuClearChart");
        f.box("txtTemp")->setText("2.27");
        slowTimer();
        for (int n = 0; n < 400; ++n)
            f.w->tmrTime_Timer();
        auto *mag = f.find<DrawingSurface>(f.w.get(), "picMag");
        auto *avg = f.find<DrawingSurface>(f.w.get(), "picAutoCorrelation");
        QCOMPARE(mag->operations().back().width, 2);
        QCOMPARE(mag->operations().back().colour, qRgb(0, 0, 255));
        QCOMPARE(mag->operations().back().a.x(), 1 * mag->width() / 4004.0);
        QCOMPARE(avg->operations().back().width, 1);
        QCOMPARE(avg->operations().back().colour, qRgb(255, 0, 0));
        QWidget *client = f.find<QWidget>(f.w.get(), "client");
        const QImage img = client->grab().toImage();
        for (int k = 0; k < Sites; ++k) {
            const QRgb c = img.pixel(cellCentre(k) * img.devicePixelRatio());
            QCOMPARE(qRed(c) == 0 ? 1 : -1, int(f.w->run().lattice().spinOfCell(k)));
        }
        QTRY_COMPARE(f.text("lblLabels"), QString(" 400"));
        const QString energy = QString::fromStdString(Str(double(f.w->run().lattice().Energy)));
        QCOMPARE(f.text("lblInternalEnergy"), energy);

        // Clear Chart stops the run and empties the counters and read-outs,
        // but not the energy.
        f.choose("mnuClearChart");
        QVERIFY(!f.w->timersEnabled());
        QCOMPARE(f.text("lblTime"), QString("0"));
        QCOMPARE(f.text("lblLabels"), QString("0"));
        for (const char *name : {"lblSumMag", "lblNetMag", "lblInstantaneousMag"})
            QVERIFY2(f.text(name).isEmpty(), name);
        QVERIFY(f.box("txtTemp")->text().isEmpty());
        QCOMPARE(f.text("lblInternalEnergy"), energy);
    }

    void goToTemperature()
    {
        f.prepareOrdered();
        f.choose("mnuClearChart");
        f.box("txtTemp")->setText("2.5K");
        f.click("cmdGoToTemp");
        QCOMPARE(f.box("txtTemp")->text(), QString("2.5K"));
        QVERIFY(f.w->timersEnabled());
        // The direct tick does not count, and after a clear plots at x = 0.
        QCOMPARE(f.text("lblLabels"), QString("0"));
        QVERIFY(f.text("lblNetMag").isEmpty());
        QCOMPARE(f.find<DrawingSurface>(f.w.get(), "picMag")->operations().back().a.x(), 0.0);
    }

    void runStates()
    {
        f.prepareOrdered();
        f.click("cmdRestart");
        QVERIFY(f.w->timersEnabled());
        QTest::keyClicks(f.box("txtTemp"), "1"); // any edit pauses
        QVERIFY(!f.w->timersEnabled());
        // Page complete: Continue does not go on, Go does.
        f.w->fastForward(LastPageTick - 1);
        f.click("cmdRestart");
        f.w->tmrTime_Timer();
        QVERIFY(!f.w->timersEnabled());
        f.choose("mnuContinue");
        QVERIFY(!f.w->timersEnabled());
        QCOMPARE(f.text("lblRestart"), QString("Stop"));
        f.click("cmdRestart");
        QVERIFY(f.w->timersEnabled());
        QCOMPARE(f.text("lblRestart"), QString("Go"));
        // Clear Chart also leaves a complete page, for a paused run.
        f.w->tmrTime_Timer(); // the next page
        f.w->fastForward(LastPageTick - 1);
        f.w->tmrTime_Timer();
        QTRY_COMPARE(f.text("lblRestart"), QString("Stop"));
        f.choose("mnuClearChart");
        QCOMPARE(f.text("lblRestart"), QString("Go"));
        QVERIFY(!f.w->timersEnabled());
    }

    // At a long interval the tick that ends a page still shows its count and
    // the run state.
    void stoppingTickShowsItsCount()
    {
        f.prepareOrdered();
        f.w->fastForward(LastPageTick - 2);
        f.find<ReversedScrollBar>(f.w.get(), "hsbTimeInterval")->setValueAt(60);
        f.click("cmdRestart");
        QTRY_VERIFY(!f.w->timersEnabled());
        QTRY_COMPARE(f.text("lblLabels"), QString(" 1599999"));
        QCOMPARE(f.text("lblRestart"), QString("Stop"));
    }

    void quitQuestion_data()
    {
        QTest::addColumn<bool>("pageComplete");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("timersAfter");
        QTest::newRow("paused-no-runs") << false << int(vbNo) << true;
        QTest::newRow("page-complete-no-stays") << true << int(vbNo) << false;
        QTest::newRow("yes-ends") << false << int(vbYes) << false;
    }
    void quitQuestion()
    {
        QFETCH(bool, pageComplete);
        QFETCH(int, answer);
        QFETCH(bool, timersAfter);
        f.prepareOrdered();
        f.click("cmdRestart");
        if (pageComplete) {
            f.w->fastForward(LastPageTick - 1);
            f.w->tmrTime_Timer();
        }
        f.boxes.answer = answer;
        bool timersWhileAsking = true;
        f.boxes.whileAsking = [&] { timersWhileAsking = f.w->timersEnabled(); };
        f.choose("mnuExit");
        QCOMPARE(f.boxes.asked.size(), size_t(1));
        QCOMPARE(f.boxes.asked[0].prompt, QString(" Quit the program?"));
        QCOMPARE(f.boxes.asked[0].title, QString(" Ferrogrid"));
        QCOMPARE(f.boxes.asked[0].style, 4);
        QVERIFY(!timersWhileAsking);
        QCOMPARE(f.w->timersEnabled(), timersAfter);
        QCOMPARE(f.end.ends, answer == vbYes ? 1 : 0);
    }

    void closingEndsTheProgramWithStatusZero()
    {
        // The real ending, with all three windows open and the run going.
        QuitApplication quit;
        Services services {f.clock, f.random, f.boxes, quit, f.printer};
        Ising w(services);
        w.show();
        f.choose("mnuTemps", &w);
        f.choose("mnuView", &w);
        f.random.script = {0.1};
        f.click("cmdZero", &w);
        f.click("cmdRestart", &w);
        QTimer::singleShot(50, &w, [&w] { w.close(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!w.isVisible() && !w.designTemps().isVisible() && !w.snapshots().isVisible());
        QVERIFY(f.boxes.asked.empty());
    }

    void runNumberLabel()
    {
        f.box("txtRunNum")->setText("Run 7");
        Caption *label = f.label("lblPrintRunNum");
        const int emptyWidth = label->width();
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(label->text(), QString("Run 7"));
        QVERIFY(label->width() > emptyWidth);
        f.box("txtRunNum")->clear();
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(label->text().isEmpty());
    }

    // The interval scroll bar: left is long (1400 ms), right is short (1 ms);
    // the arrows step 10, the trough 40, and the run takes the new interval at
    // its next tick.
    void scrollBarSetsTheIntervalAtTheNextTick()
    {
        QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
        f.prepareOrdered();
        QScrollBar *bar = f.find<QScrollBar>(f.w.get(), "hsbTimeInterval");
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
        Timer *timer = f.find<Timer>(f.w.get(), "tmrTime");
        auto intervalAfterTick = [&] {
            f.w->tmrTime_Timer();
            return timer->Interval();
        };
        QCOMPARE(intervalAfterTick(), 1);
        QVERIFY(part(QStyle::SC_ScrollBarSlider).right() >= part(QStyle::SC_ScrollBarAddPage).left() - 1);

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
        const std::pair<Qt::Key, int> keys[] = {{Qt::Key_Right, 51},   {Qt::Key_Left, 61}, {Qt::Key_PageUp, 101},
                                                {Qt::Key_PageDown, 61}, {Qt::Key_Home, 1400}, {Qt::Key_End, 1}};
        for (auto [key, interval] : keys) {
            QTest::keyClick(bar, key);
            QCOMPARE(intervalAfterTick(), interval);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
