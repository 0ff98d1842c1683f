// Whatever a person types, in any box, while a run goes on: nothing crashes,
// nothing hangs, and every read-out stays a number.

#include "windowfixture.h"

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
        w.show();
        setPrintToPdf(dir.filePath("hostile.pdf"));
        w.cmdRandom_Click();
        w.txtTemp->setText("2.27");
        w.cmdGoToTemp_Click();

        w.txtTemp->setText(text);
        w.txtRunNum->setText(text);
        for (int k : {0, 17, 399})
            w.designTemps().Text1[k]->setText(text);
        w.cmdRestart_Click();
        for (int n = 0; n < 2000; ++n)
            w.tmrTime_Timer();
        w.refreshReadouts();
        QCOMPARE(w.lblLabels->text(), QString(" 2000")); // no tick was lost to the text
        w.cmdGoToTemp_Click();
        w.lblPrintRunNum_Click();
        w.mnuSnapshot_Click();
        w.designTemps().mnuQuit_Click();
        w.cmdRestart_Click();
        for (int n = 0; n < 400; ++n)
            w.tmrTime_Timer();
        w.mnuPrint_Click();
        w.snapshots().mnuPrint_Click();
        QVERIFY(f.asked.empty()); // printing to the file worked
        f.answer = vbNo;
        w.mnuExit_Click();
        QCoreApplication::processEvents();

        w.refreshReadouts();
        for (Caption *c : {w.lblInstantaneousMag, w.lblSumMag, w.lblNetMag, w.lblInternalEnergy, w.lblLabels})
            QVERIFY2(isNumberText(c->text()), qPrintable(c->objectName() + ": " + c->text().left(40)));
        Lattice recount = w.sim.lattice;
        recount.recount();
        QCOMPARE(recount.Energy, w.sim.lattice.Energy);
        QCOMPARE(recount.TotalMag, w.sim.lattice.TotalMag);
        // Every factor box is a usable factor after the quit check.
        for (int k : {0, 17, 399}) {
            const double factor = w.designTemps().factors()[k];
            QVERIFY(std::isfinite(factor) && factor >= MinimumFactor);
        }
        QVERIFY(w.snapshots().lblSnapshots[0]->text().startsWith(w.txtTemp->text().left(100)));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
