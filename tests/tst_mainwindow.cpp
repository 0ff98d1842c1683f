// The main window as a person sees and uses it: where the controls stand,
// what the lattice and the charts look like, and the run controls.

#include "tests/windowfixture.h"

#include "runtime/drawingsurface.h"
#include "stdruntime/textconv.h"
#include "runtime/reversedscrollbar.h"
#include "runtime/stillimage.h"
#include "runtime/timer.h"
#include "runtime/twips.h"

#include <algorithm>

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

// The centres of the cells as the window shows them, in row order: the
// mosaic is what shows of the frame other than its light grey, 20 cells by 20.
QList<QPoint> cellCentres(QWidget *client)
{
    const QRect frame = client->findChild<QWidget *>("lblFrame")->geometry();
    const QImage img = client->grab(frame).toImage();
    QList<bool> column(img.width()), row(img.height());
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) != 0xE0E0E0)
                column[x] = row[y] = true;
    const QRectF mosaic(QPointF(column.indexOf(true), row.indexOf(true)) / img.devicePixelRatio(),
                        QPointF(column.lastIndexOf(true) + 1, row.lastIndexOf(true) + 1) / img.devicePixelRatio());
    QList<QPoint> centres;
    for (int k = 0; k < Sites; ++k)
        centres << frame.topLeft() + (mosaic.topLeft() + QPointF((columnOf(k) + 0.5) * mosaic.width() / Side,
                                                                  (rowOf(k) + 0.5) * mosaic.height() / Side)).toPoint();
    return centres;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    WindowFixture f;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // Where controls stand as a person sees them: every control inside its
    // window and clear of the others (but for the window's surface, the
    // cells' frame and the still copies behind them), captions level with
    // their buttons, boxes and charts, read-outs under the middle of their
    // captions, the designer's boxes in rows and columns in Tab order.
    void layout_data()
    {
        QTest::addColumn<int>("window"); // main, snapshots, designer
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("relation");
        QTest::addColumn<QString>("b");
        const struct { int window; const char *a, *relation, *b; } rows[] = {
            {0, "", "apart", ""}, {1, "", "apart", ""},
            {0, "cmdZero", "beside", "lblZero"}, {0, "cmdRandom", "beside", "lblInfinity"},
            {0, "cmdGoToTemp", "beside", "lblGoToTemp"}, {0, "lblGoToTemp", "beside", "txtTemp"},
            {0, "lblRunNum", "beside", "txtRunNum"}, {0, "lblInstant", "under", "lblInstantaneousMag"},
            {0, "lblSteps", "under", "lblLabels"}, {0, "lblSum", "under", "lblSumMag"},
            {0, "lblNet", "under", "lblNetMag"}, {0, "lblEnergy", "under", "lblInternalEnergy"},
            {0, "lblLong", "column", "hsbTimeInterval"}, {0, "cmdZero", "tab", "cmdRandom"},
            {0, "lblY", "level", "picMag"}, {0, "lblAuto", "level", "picAutoCorrelation"},
            {0, "cmdZero", "column", "cmdRandom"}, {0, "cmdRandom", "column", "cmdGoToTemp"},
            {0, "lblPrintRunNum", "column", "picDateTime"}, {0, "picMag", "column", "picAutoCorrelation"},
            {1, "lblSnapshots_8", "level", "lblSnapshots_9"}, {1, "lblSnapshots_9", "level", "lblSnapshots_10"},
            {1, "lblSnapshots_10", "level", "lblSnapshots_11"}, {1, "lblSnapshots_0", "column", "lblSnapshots_4"},
            {1, "lblSnapshots_6", "column", "lblSnapshots_10"}, {1, "lblSnapshots_7", "column", "lblSnapshots_11"},
            {2, "Text1_0", "beside", "Text1_1"}, {2, "Text1_18", "beside", "Text1_19"},
            {2, "Text1_0", "column", "Text1_20"}, {2, "Text1_379", "column", "Text1_399"},
            {2, "Text1_20", "tab", "Text1_21"}, {2, "Text1_399", "inside", ""},
        };
        for (const auto &r : rows)
            QTest::addRow("%s-%s-%s-%s", r.window == 0 ? "main" : r.window == 1 ? "snapshots" : "designer", r.a,
                          r.relation, r.b) << r.window << r.a << r.relation << r.b;
    }
    void layout()
    {
        QFETCH(int, window);
        QFETCH(QString, relation);
        f.prepareOrdered();
        for (int n = 0; n < Snapshots::Blocks; ++n)
            f.choose("mnuSnapshot"); // every block caption shows
        f.choose("mnuTemps");
        QMainWindow *const windows[] = {f.w.get(), &f.w->snapshots(), &f.w->designTemps()};
        QWidget *client = windows[window]->centralWidget();
        if (relation == "apart") { // what lies wholly behind another may overlap it
            const QList<QWidget *> controls = client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
            for (QWidget *c : controls)
                for (QWidget *o : controls) {
                    const QRect r = c->geometry(), s = o->geometry();
                    if (c->isVisible() && o->isVisible() && !qobject_cast<StillImage *>(c) && !qobject_cast<StillImage *>(o))
                        QVERIFY2(client->rect().contains(r) && (r.contains(s) || s.contains(r) || !r.intersects(s)),
                                 qPrintable(c->objectName() + " outside or on " + o->objectName()));
                }
            return;
        }
        QFETCH(QString, a);
        QFETCH(QString, b);
        QWidget *first = f.find<QWidget>(client, a);
        const QRect r = first->geometry(), s = b.isEmpty() ? client->rect() : f.find<QWidget>(client, b)->geometry();
        if (relation == "beside") // on one line, a narrow gap between
            QVERIFY(s.left() - r.right() >= 0 && s.left() - r.right() <= 10 && std::abs(s.center().y() - r.center().y()) <= 2);
        else if (relation == "level") // on one line, further apart
            QVERIFY(s.left() > r.right() && std::abs(s.center().y() - r.center().y()) <= 2);
        else if (relation == "under") // a read-out about a line below its caption, from under its middle
            QVERIFY(s.top() - r.bottom() >= r.height() * 2 / 3 && s.top() - r.bottom() <= r.height()
                    && std::abs(s.left() - r.center().x()) <= 4);
        else if (relation == "column") // lower down, left edges in line
            QVERIFY(s.top() > r.center().y() && std::abs(s.left() - r.left()) <= 1);
        else if (relation == "tab")
            QCOMPARE(first->nextInFocusChain(), f.find<QWidget>(client, b));
        else
            QVERIFY(s.contains(r));
    }

    void captionsAndAxisTexts()
    {
        auto menu = [](QMainWindow *w) {
            QStringList captions {w->windowTitle()};
            for (QAction *a : w->menuBar()->actions())
                captions << a->text();
            return captions;
        };
        const QString b(10, ' ');
        QCOMPARE(menu(f.w.get()), QStringList({"Ferrogrid", "Temperature Factor", b + "Snapshot", b + "View Snapshots",
                                               b + "Continue", b + "Clear Chart", b + "Reset", b + "Print", b + "Exit"}));
        QCOMPARE(menu(&f.w->snapshots()), QStringList({"Snapshots", b + "Clear Snapshots", b + "Return", b + "Print"}));
        QCOMPARE(f.w->designTemps().windowTitle(), QString("Design Temps"));
        QCOMPARE(f.label("lblLegend", &f.w->snapshots())->text(),
                 QString("temperature; instantaneous magnetization per site; "
                         "time-averaged magnetization per site; Monte Carlo steps"));
        QCOMPARE(f.text("lblGetTempDefault"), QString("Final Temp (default T = 0.1)"));
        QCOMPARE(f.text("lblRestart"), QString("Go"));
        // The time axis under the lower chart, centred under its six grid
        // lines from edge to edge, and the value axis beside each chart.
        const QRect chart = f.find<QWidget>(f.w.get(), "picAutoCorrelation")->geometry();
        for (int k = 0; k < 6; ++k) {
            Caption *label = f.label(QStringLiteral("Label1_%1").arg(k));
            QCOMPARE(label->text(), QString::number(800 * k));
            QVERIFY(std::abs(label->x() + label->width() / 2.0 - (chart.left() + k * chart.width() / 5.0)) <= 1);
            QVERIFY(label->y() > chart.bottom() && label->y() - chart.bottom() <= 10);
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
        const QList<QPoint> cells = cellCentres(client);
        // The mosaic stands in the middle of its frame, its margin light grey.
        const QRect frame = f.find<QWidget>(client, "lblFrame")->geometry();
        QVERIFY(std::abs((cells[0].x() - frame.left()) - (frame.right() - cells[399].x())) <= 2);
        QVERIFY(std::abs((cells[0].y() - frame.top()) - (frame.bottom() - cells[399].y())) <= 4);
        QCOMPARE(shown(client, frame.topLeft() + QPoint(3, 3)), 0xE0E0E0u);
        auto all = [&](QRgb colour) {
            const QImage img = client->grab().toImage();
            return std::all_of(cells.begin(), cells.end(), [&](QPoint p) {
                return (img.pixel(p * img.devicePixelRatio()) & 0xFFFFFF) == colour;
            });
        };
        QVERIFY(all(0xC0C0C0));
        f.prepareOrdered();
        QVERIFY(all(0x000000));
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
        f.random.script[19] = 0.9; // the top-right site down
        f.click("cmdRandom");
        f.choose("mnuClearChart");
        f.box("txtTemp")->setText("2.27");
        f.slowTimer();
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
        const QList<QPoint> cells = cellCentres(client);
        for (int k = 0; k < Sites; ++k) {
            const QRgb c = img.pixel(cells[k] * img.devicePixelRatio());
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
        f.slowTimer(60);
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
