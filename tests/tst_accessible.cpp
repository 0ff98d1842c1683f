// The windows as a screen reader reads them through Qt's accessibility
// interfaces: read-outs as labels with the text on screen, the lattice and the
// charts described in words, the designer's boxes named by their site, the
// snapshot blocks by their captions, and the keyboard path through the main
// window. tools/a11y-check reads the same over the real AT-SPI stack.

#include "tests/windowfixture.h"

#include "runtime/cellarray.h"
#include "runtime/reversedscrollbar.h"
#include "runtime/twips.h"

#include <QAccessible>
#include <QRegularExpression>

#include <set>

using namespace ferro;

namespace {

QAccessibleInterface *reader(QObject *o)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(o);
    if (!iface)
        qFatal("no accessible interface for %s", qPrintable(o->objectName()));
    return iface;
}

// The spins the screen shows: black and white cell centres.
std::pair<int, int> shownSpins(QWidget *client)
{
    const QImage img = client->grab().toImage();
    int black = 0, white = 0;
    for (int k = 0; k < Sites; ++k) {
        const QPoint centre(px(5453 + 240 * columnOf(k) + 127), px(428 + 22 + 240 * rowOf(k) + 127));
        const QRgb c = img.pixel(centre * img.devicePixelRatio());
        black += c == qRgb(0, 0, 0);
        white += c == qRgb(255, 255, 255);
    }
    return {black, white};
}

} // namespace

class TestAccessible : public QObject {
    Q_OBJECT
    WindowFixture f;

    // Ticks driven by the test while the real timer waits 1.4 s between its own.
    void ticks(int n)
    {
        f.find<ReversedScrollBar>(f.w.get(), "hsbTimeInterval")->setValueAt(1400);
        for (int k = 0; k < n; ++k)
            f.w->tmrTime_Timer();
    }

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // Every caption and read-out reads as a label whose name and text are
    // what it paints, leading blanks dropped.
    void labelsReadTheirText()
    {
        f.prepareOrdered();
        f.box("txtTemp")->setText("2");
        f.click("cmdGoToTemp");
        ticks(400);
        QTRY_VERIFY(!f.text("lblLabels").isEmpty());
        int labels = 0;
        for (Caption *c : f.w->findChildren<Caption *>()) {
            QAccessibleInterface *iface = reader(c);
            const QString shown = c->text().remove(QRegularExpression("^\\s+"));
            QCOMPARE(iface->role(), QAccessible::StaticText);
            QCOMPARE(iface->text(QAccessible::Name), shown);
            QAccessibleTextInterface *text = iface->textInterface();
            QVERIFY(text);
            QCOMPARE(text->text(0, text->characterCount()), shown);
            ++labels;
        }
        QVERIFY(labels >= 30);
    }

    // The lattice says in words what the screen shows.
    void latticeDescription_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("at start") << QStringList();
        QTest::newRow("T = Zero") << QStringList({"cmdZero"});
        QTest::newRow("T = Infinity") << QStringList({"cmdRandom"});
        QTest::newRow("Reset") << QStringList({"cmdZero", "mnuReset"});
    }
    void latticeDescription()
    {
        QFETCH(QStringList, commands);
        for (int k = 0; k < 400; ++k) // two thirds of the spins of T = Infinity down
            f.random.script.push_back(k % 3 ? 0.8 : 0.2);
        for (const QString &command : commands) {
            if (command.startsWith("cmd"))
                f.click(qPrintable(command));
            else
                f.choose(qPrintable(command));
        }
        QAccessibleInterface *lattice = reader(f.find<CellArray>(f.w.get(), "Shape1"));
        QCOMPARE(lattice->role(), QAccessible::Graphic);
        QCOMPARE(lattice->text(QAccessible::Name), QString("Lattice"));
        const auto [black, white] = shownSpins(f.find<QWidget>(f.w.get(), "client"));
        const QString expected = black + white == 0
            ? QString("blank")
            : QString("20 by 20 spins: %1 up (black), %2 down (white)").arg(black).arg(white);
        QCOMPARE(lattice->text(QAccessible::Description), expected);
    }

    // Each chart: named by its caption, described with the page's time
    // range and its last point.
    void chartDescriptions()
    {
        f.prepareOrdered();
        f.choose("mnuClearChart");
        const QString early = "Time 0 to 4000 Monte Carlo steps per site; no points yet";
        QCOMPARE(reader(f.find<QWidget>(f.w.get(), "picMag"))->text(QAccessible::Description), early);
        f.click("cmdRestart");
        ticks(800);
        for (auto [name, caption] : {std::pair("picMag", "Magnetization"), {"picAutoCorrelation", "Avg Magnetization"}}) {
            QAccessibleInterface *chart = reader(f.find<QWidget>(f.w.get(), name));
            QCOMPARE(chart->role(), QAccessible::Graphic);
            QCOMPARE(chart->text(QAccessible::Name), QString(caption));
            QCOMPARE(chart->text(QAccessible::Description),
                     QString("Time 0 to 4000 Monte Carlo steps per site; last point 1.0000 at 2"));
        }
    }

    // Each box of the designer is named by the row and column (from 1) where
    // it stands on screen.
    void designerBoxesNamedBySite()
    {
        Design_Temps &d = f.w->designTemps();
        std::set<int> xs, ys;
        const QList<QLineEdit *> boxes = d.findChildren<QLineEdit *>();
        QCOMPARE(boxes.size(), Sites);
        for (QLineEdit *b : boxes) {
            xs.insert(b->x());
            ys.insert(b->y());
        }
        for (QLineEdit *b : boxes) {
            const auto row = std::distance(ys.begin(), ys.find(b->y())) + 1;
            const auto column = std::distance(xs.begin(), xs.find(b->x())) + 1;
            QCOMPARE(reader(b)->text(QAccessible::Name),
                     QString("Site factor, row %1, column %2").arg(row).arg(column));
        }
    }

    // A snapshot block reads as a picture described by its caption; empty
    // blocks are not shown.
    void snapshotBlocks()
    {
        f.prepareOrdered();
        f.choose("mnuSnapshot");
        Snapshots &s = f.w->snapshots();
        QAccessibleInterface *blocks = reader(f.find<CellArray>(&s, "Shape1"));
        QCOMPARE(blocks->childCount(), Snapshots::Blocks);
        QAccessibleInterface *first = blocks->child(0);
        QCOMPARE(first->role(), QAccessible::Graphic);
        QCOMPARE(first->text(QAccessible::Name), QString("Snapshot 1"));
        QCOMPARE(first->text(QAccessible::Description), f.label("lblSnapshots_0", &s)->text().trimmed());
        QVERIFY(!f.label("lblSnapshots_0", &s)->text().trimmed().isEmpty());
        QVERIFY(!first->state().invisible);
        QVERIFY(blocks->child(1)->state().invisible);
        QCOMPARE(blocks->indexOfChild(first), 0);
    }

    // Tab walks the controls top to bottom, left to right; the run-number
    // label takes Space as a click.
    void keyboardPath()
    {
        f.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.w.get()));
        f.box("txtRunNum")->setText("Run 7");
        QWidget *first = f.find<QWidget>(f.w.get(), "cmdZero");
        first->setFocus();
        QStringList path;
        for (int k = 0; k < 8; ++k) {
            path << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(path, QStringList({"cmdZero", "cmdRandom", "cmdGoToTemp", "txtTemp", "txtRunNum", "hsbTimeInterval",
                                    "lblPrintRunNum", "cmdRestart"}));
        QCOMPARE(QApplication::focusWidget(), first);
        QTest::keyClick(f.label("lblPrintRunNum"), Qt::Key_Space);
        QCOMPARE(f.text("lblPrintRunNum"), QString("Run 7"));
    }
};

QTEST_MAIN(TestAccessible)
#include "tst_accessible.moc"
