// Whatever a person types, in any box, while a run goes on: nothing crashes,
// nothing hangs, and every read-out stays a number.

#include "tests/windowfixture.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ferro;

namespace {

bool isNumberText(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^( |-)(\\d+(\\.\\d+)?|\\.\\d+)(E[+-]\\d\\d+)?$"));
    return number.match(text).hasMatch();
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    WindowFixture f;
    QTemporaryDir dir;

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void anyTextAnywhere_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("huge-exponent") << "1e999";
        QTest::newRow("huge-negative") << "-1e999";
        QTest::newRow("hex-64-bit") << "&HFFFFFFFFFFFFFFFF";
        QTest::newRow("nan") << "nan";
        QTest::newRow("inf") << "inf";
        QTest::newRow("d-exponent") << "1d308";
        QTest::newRow("tiny") << "1e-320";
        QTest::newRow("control-characters") << QString("1\t2\r\n\x01\x1b[0m\x7f");
        QTest::newRow("right-to-left") << QString::fromUtf8("\u202e3.5\u202c \u05e9\u05dc\u05d5\u05dd \u0661\u0662");
        QTest::newRow("combining") << QString::fromUtf8("2\u0301\u0336.5\u20dd e\u0308");
        QTest::newRow("long-digits") << QString(100000, '9');
        QTest::newRow("long-mixed") << QString("0.").repeated(50000);
        QTest::newRow("nul") << QString(QChar(0)) + "5";
    }
    void anyTextAnywhere()
    {
        QFETCH(QString, text);
        Ising &w = *f.w;
        f.printer.path = dir.filePath("hostile.pdf");
        f.click("cmdRandom");
        f.box("txtTemp")->setText("2.27");
        f.click("cmdGoToTemp");

        f.box("txtTemp")->setText(text);
        f.box("txtRunNum")->setText(text);
        for (int k : {0, 17, 399})
            w.designTemps().setFactorText(k, text);
        f.click("cmdRestart");
        for (int n = 0; n < 2000; ++n)
            w.tmrTime_Timer();
        f.click("cmdGoToTemp");
        QCOMPARE(f.text("lblLabels"), QString(" 2000")); // no tick was lost to the text
        QTest::mouseClick(f.label("lblPrintRunNum"), Qt::LeftButton);
        f.choose("mnuSnapshot");
        f.choose("mnuQuit", &w.designTemps());
        f.click("cmdRestart");
        for (int n = 0; n < 400; ++n)
            w.tmrTime_Timer();
        f.choose("mnuPrint");
        f.choose("mnuPrint", &w.snapshots());
        QVERIFY(f.boxes.asked.empty()); // printing to the file worked
        f.choose("mnuExit");
        f.click("cmdRestart");

        for (const char *name : {"lblInstantaneousMag", "lblSumMag", "lblNetMag", "lblInternalEnergy", "lblLabels"})
            QVERIFY2(isNumberText(f.text(name)), qPrintable(QString(name) + ": " + f.text(name).left(40)));
        Lattice recount = w.run().lattice();
        recount.recount();
        QCOMPARE(recount.Energy, w.run().lattice().Energy);
        QCOMPARE(recount.TotalMag, w.run().lattice().TotalMag);
        // Every factor is usable after the quit check.
        for (int k : {0, 17, 399}) {
            const double factor = w.designTemps().factors()[k];
            QVERIFY(std::isfinite(factor) && factor >= MinimumFactor);
        }
        QVERIFY(f.label("lblSnapshots_0", &w.snapshots())->text().startsWith(f.box("txtTemp")->text().left(100)));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
