// The snapshots window: capturing the lattice into twelve blocks, clearing
// them, Reset, and Return.

#include "tests/windowfixture.h"

#include "runtime/twips.h"

using namespace ferro;

namespace {

// The colour shown at the centre of cell i of block b, as &HBBGGRR, or
// &H010101 where the window shows no cell there.
std::uint32_t blockCell(QWidget *client, int b, int i)
{
    const int left = 2048 + 2760 * (b % 4) + 120 * (i % 20) + 75;
    const int top = 960 + 2760 * (b / 4) + 120 * (i / 20) + 75;
    const QImage img = client->grab().toImage();
    const QRgb c = img.pixel(QPoint(px(left), px(top)) * img.devicePixelRatio());
    if (qRed(c) == 0xE0) // the frame's light grey behind a hidden cell
        return 0x010101;
    return std::uint32_t(qRed(c)) | std::uint32_t(qGreen(c)) << 8 | std::uint32_t(qBlue(c)) << 16;
}

} // namespace

class TestSnapshots : public QObject {
    Q_OBJECT
    WindowFixture f;

    Snapshots &s() { return f.w->snapshots(); }
    QWidget *client() { return s().centralWidget(); }
    Caption *caption(int b) { return f.label(QStringLiteral("lblSnapshots_%1").arg(b), &s()); }
    void capture(int times)
    {
        for (int n = 0; n < times; ++n)
            f.choose("mnuSnapshot");
    }
    // All up but the top-right site, through a rejected run of ticks.
    void prepareCornerDown()
    {
        f.random.script.assign(400, 0.1);
        f.random.script[19] = 0.9;
        f.click("cmdRandom");
    }

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // Each capture fills the next block with the lattice as it stands, the
    // top-right site top right, and a caption of the read-outs; the run pauses.
    void captureFillsTheNextBlock()
    {
        prepareCornerDown();
        f.box("txtTemp")->setText(" 2.5 K ");
        f.click("cmdRestart");
        f.choose("mnuSnapshot");
        QVERIFY(!f.w->timersEnabled());
        QVERIFY(s().isVisible());
        QCOMPARE(f.text("lblSnapshotsCounter"), QString(" 1"));
        QCOMPARE(caption(0)->text(), QString(" 2.5 K ;  .995; ; "));
        QCOMPARE(blockCell(client(), 0, 0), 0x000000u);
        QCOMPARE(blockCell(client(), 0, 19), 0xFFFFFFu);
        QCOMPARE(blockCell(client(), 1, 0), 0x010101u);

        capture(11);
        QCOMPARE(blockCell(client(), 11, 399), 0x000000u);
        QCOMPARE(blockCell(client(), 5, 19), 0xFFFFFFu);
        // The 13th command only counts: the run goes on.
        f.click("cmdRestart");
        f.choose("mnuSnapshot");
        QCOMPARE(f.text("lblSnapshotsCounter"), QString(" 13"));
        QVERIFY(f.w->timersEnabled());
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
        f.prepareOrdered();
        capture(5);
        f.click("cmdRestart");
        f.boxes.answer = answer;
        f.choose("mnuClearSnapshots", &s());
        QCOMPARE(f.boxes.asked.size(), size_t(1));
        QCOMPARE(f.boxes.asked[0].prompt, QString(" Clear snapshots?"));
        QCOMPARE(f.boxes.asked[0].title, QString(" Ferrogrid"));
        QCOMPARE(f.boxes.asked[0].style, 4);
        QVERIFY(f.w->timersEnabled()); // the run is not touched
        if (answer == vbNo) {
            QCOMPARE(f.text("lblSnapshotsCounter"), QString(" 5"));
            QVERIFY(caption(4)->isVisible());
            QCOMPARE(blockCell(client(), 4, 399), 0x000000u);
            return;
        }
        QCOMPARE(f.text("lblSnapshotsCounter"), QString("0"));
        QCOMPARE(blockCell(client(), 4, 399), 0x010101u);
        QVERIFY(!caption(0)->isVisible());
        f.choose("mnuSnapshot"); // the next capture fills block 0 again
        QVERIFY(caption(0)->isVisible() && !caption(1)->isVisible());
        QCOMPARE(blockCell(client(), 0, 0), 0x000000u);
        QCOMPARE(blockCell(client(), 1, 0), 0x010101u);
    }

    void resetAfterCaptures()
    {
        f.prepareOrdered();
        capture(3);
        const QString energy = f.text("lblInternalEnergy");
        f.click("cmdRestart");
        f.choose("mnuReset");
        QCOMPARE(f.text("lblSnapshotsCounter"), QString("0"));
        QVERIFY(caption(2)->isVisible() && caption(2)->text().isEmpty()); // emptied, still shown
        QVERIFY(!caption(3)->isVisible());
        QCOMPARE(blockCell(client(), 0, 0), 0x010101u);
        QCOMPARE(f.text("lblInternalEnergy"), energy); // the totals are not recounted
        QVERIFY(!f.w->timersEnabled());
        QCOMPARE(f.text("lblLabels"), QString("0"));
        f.click("cmdGoToTemp");
        QVERIFY(!f.w->timersEnabled()); // a blank lattice
        f.choose("mnuSnapshot");
        QCOMPARE(blockCell(client(), 0, 0), 0xC0C0C0u);
    }

    void returnBringsTheMainWindowForward()
    {
        f.choose("mnuView");
        f.choose("mnuReturn", &s());
        QVERIFY(s().isVisible() && f.w->isVisible());
    }
};

QTEST_MAIN(TestSnapshots)
#include "tst_snapshots.moc"
