#include "windowfixture.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
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

// What a person reads on the printed page: its text, or a picture of it.
QString pageText(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

QImage pageImage(const QString &pdf)
{
    const QString stem = pdf + QStringLiteral("-page");
    QProcess p;
    p.start(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, stem});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    return QImage(stem + QStringLiteral(".png"));
}

bool hasPopplerTools()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

// The number stands on the page as a word of its own.
bool showsNumber(const QString &page, const QString &number)
{
    const QString n = QRegularExpression::escape(number.trimmed());
    return page.contains(QRegularExpression(QStringLiteral("(^|[^\\d.])") + n + QStringLiteral("($|[^\\d])")));
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

    // Printing during a run pauses it and shows the read-outs of that moment,
    // even when the screen has not caught up with the last ticks.
    void printDuringRunShowsThePausedRun()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        Ising &w = *f.w;
        const QString pdf = dir.filePath("running.pdf");
        setPrintToPdf(pdf);
        w.cmdRandom_Click();
        w.txtTemp->setText("2.27");
        w.cmdGoToTemp_Click();
        QTRY_VERIFY(Val(w.lblLabels->text()) > 200);
        // Ticks that came after the last frame was painted.
        for (int n = 0; n < 5; ++n)
            w.tmrTime_Timer();
        w.mnuPrint_Click();
        QVERIFY(!w.timersEnabled());
        QTest::qWait(50); // the screen catches up; the run stays paused
        const QString page = pageText(pdf);
        for (Caption *c : {w.lblLabels, w.lblInstantaneousMag, w.lblSumMag, w.lblNetMag, w.lblInternalEnergy})
            QVERIFY2(showsNumber(page, c->text()), qPrintable(c->text() + " not on the page:\n" + page));
        // The energy on the page is the energy of the lattice on the page.
        QCOMPARE(w.lblInternalEnergy->text(), QString::fromStdString(Str(double(w.sim.lattice.Energy))));
    }

    // Paper shows no focus frame and no caret; the focus stays where it was.
    void focusIsNotPrinted()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        Ising &w = *f.w;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.txtRunNum->setFocus();
        QTest::keyClicks(w.txtRunNum, "R-42");
        w.txtRunNum->setCursorPosition(2);
        setPrintToPdf(dir.filePath("focused.pdf"));
        w.mnuPrint_Click();
        QCOMPARE(QApplication::focusWidget(), w.txtRunNum);
        QCOMPARE(w.txtRunNum->cursorPosition(), 2);

        w.txtRunNum->clearFocus();
        setPrintToPdf(dir.filePath("unfocused.pdf"));
        w.mnuPrint_Click();
        const QImage focused = pageImage(dir.filePath("focused.pdf"));
        QVERIFY(!focused.isNull());
        QCOMPARE(focused, pageImage(dir.filePath("unfocused.pdf")));
    }

    // The date box has room for three lines: the run number appended by a
    // second print lies wholly below it, on screen and on paper.
    void dateBoxShowsThreeLines()
    {
        Ising &w = *f.w;
        setPrintToPdf(dir.filePath("date.pdf"));
        w.txtRunNum->setText("R-42");
        w.mnuPrint_Click();
        const QRect box = w.picDateTime->geometry();
        const QImage once = w.client->grab(box).toImage();
        w.mnuPrint_Click();
        QCOMPARE(f.textsOf(w.picDateTime), QStringList({"03-09-2026", "14:05:07", "R-42", "R-42"}));
        QCOMPARE(w.client->grab(box).toImage(), once);
        // The third line is there in full: the box's bottom rows hold text.
        const QImage clean = [&] {
            Ising other;
            return other.client->grab(box).toImage();
        }();
        QVERIFY(once != clean);
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
