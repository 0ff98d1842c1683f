#include "windowfixture.h"

#include <QFile>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ferro;

namespace {

// The page size a PDF declares, in points.
QSizeF mediaBox(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray pdf = file.readAll();
    const QRegularExpression box(QStringLiteral("/MediaBox \\[\\s*0 0 ([0-9.]+) ([0-9.]+)\\s*\\]"));
    const QRegularExpressionMatch m = box.match(QString::fromLatin1(pdf));
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

} // namespace

class TestPrinting : public QObject {
    Q_OBJECT
    WindowFixture f;
    QTemporaryDir dir;

private slots:
    void init()
    {
        f.setUp();
        f.w->show();
    }
    void cleanup() { f.tearDown(); }

    void mainWindowPrintsOneLandscapePage()
    {
        Ising &w = *f.w;
        const QString pdf = dir.filePath("main.pdf");
        setPrintToPdf(pdf);
        f.prepareOrdered();
        w.txtRunNum->setText("Run 12");
        w.cmdGoToTemp_Click();
        QVERIFY(w.timersEnabled());
        w.mnuPrint_Click();
        QVERIFY(f.asked.empty());
        QVERIFY(!w.timersEnabled());
        const QSizeF page = mediaBox(pdf);
        QVERIFY2(page.width() > page.height(), qPrintable(QString("page %1 x %2").arg(page.width()).arg(page.height())));
        QVERIFY(QFileInfo(pdf).size() > 2000);

        // Still copies stand in for the three surfaces.
        QVERIFY(!w.picMag->isVisible() && !w.picAutoCorrelation->isVisible() && !w.picDateTime->isVisible());
        QVERIFY(w.imgPicMag->isVisible() && w.imgAutoCorrelation->isVisible() && w.imgpicDateTime->isVisible());
        QCOMPARE(w.imgpicDateTime->geometry(), w.picDateTime->geometry());
        QCOMPARE(w.imgPicMag->Picture().ops.size(), w.picMag->operations().size());
        QCOMPARE(f.textsOf(w.picDateTime), QStringList({"03-09-2026", "14:05:07", "Run 12"}));

        // Go alone keeps the still images; Continue brings the live surfaces back.
        w.cmdRestart_Click();
        QVERIFY(!w.picMag->isVisible());
        w.mnuContinue_Click();
        QVERIFY(w.picMag->isVisible() && w.picAutoCorrelation->isVisible() && w.picDateTime->isVisible());

        // A second print appends another line, also an empty one.
        w.txtRunNum->clear();
        w.mnuPrint_Click();
        QCOMPARE(f.textsOf(w.picDateTime), QStringList({"03-09-2026", "14:05:07", "Run 12", ""}));
        // Clearing the chart shows the live charts again, not the date box.
        w.mnuClearChart_Click();
        QVERIFY(w.picMag->isVisible() && !w.picDateTime->isVisible());
    }

    void snapshotsWindowPrintsWithTheDate()
    {
        Ising &w = *f.w;
        const QString pdf = dir.filePath("snapshots.pdf");
        setPrintToPdf(pdf);
        f.prepareOrdered();
        w.mnuSnapshot_Click();
        w.cmdRestart_Click();
        Snapshots &s = w.snapshots();
        s.mnuPrint_Click();
        QVERIFY(w.timersEnabled()); // the run is not touched
        QCOMPARE(f.textsOf(s.picDateTime), QStringList({"03-09-2026", "14:05:07"}));
        const QSizeF page = mediaBox(pdf);
        QVERIFY(page.width() > page.height());
        setFixedClock(ClockReading {2026, 12, 31, 23, 59, 58});
        s.mnuPrint_Click();
        QCOMPARE(f.textsOf(s.picDateTime), QStringList({"12-31-2026", "23:59:58"}));
    }

    void failureIsReported()
    {
        Ising &w = *f.w;
        setPrintToPdf(dir.filePath("no/such/folder/page.pdf"));
        w.txtRunNum->setText("7");
        w.mnuPrint_Click();
        QCOMPARE(f.asked.size(), size_t(1));
        QCOMPARE(f.asked[0].title, QString(" Ferrogrid"));
        QVERIFY(f.asked[0].prompt.startsWith(" Nothing was printed: "));
        // The rest of the command happened all the same.
        QVERIFY(w.imgPicMag->isVisible());
        QCOMPARE(f.textsOf(w.picDateTime).last(), QString("7"));

        w.snapshots().mnuPrint_Click();
        QCOMPARE(f.asked.size(), size_t(2));
    }

    void noDefaultPrinterIsReported()
    {
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("this machine has a default printer");
        f.w->mnuPrint_Click();
        QCOMPARE(f.asked.size(), size_t(1));
        QVERIFY(f.asked[0].prompt.contains("no default printer"));
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
