#include "tests/windowfixture.h"

#include "stdruntime/textconv.h"

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

    QWidget *surface(const char *name) { return f.find<QWidget>(f.w.get(), QLatin1String(name)); }
    QString printTo(const char *file)
    {
        f.printer.path = dir.filePath(QLatin1String(file));
        return f.printer.path;
    }

private slots:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void mainWindowPrintsOneLandscapePage()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        const QString pdf = printTo("main.pdf");
        f.prepareOrdered();
        f.box("txtRunNum")->setText("Run 12");
        f.click("cmdGoToTemp");
        f.choose("mnuPrint");
        QVERIFY(f.boxes.asked.empty());
        QVERIFY(!f.w->timersEnabled());
        const QSizeF page = mediaBox(pdf);
        QVERIFY2(page.width() > page.height(), qPrintable(QString("page %1 x %2").arg(page.width()).arg(page.height())));
        const QString text = pageText(pdf);
        for (const char *expected : {"03-09-2026", "14:05:07", "Run 12", "Monte Carlo Steps", "Time (Monte Carlo"})
            QVERIFY2(text.contains(QLatin1String(expected)), expected);

        // Still copies stand in for the three surfaces: Go alone keeps them,
        // Continue brings the live surfaces back.
        f.click("cmdRestart");
        QVERIFY(!surface("picMag")->isVisible() && !surface("picDateTime")->isVisible());
        f.choose("mnuContinue");
        QVERIFY(surface("picMag")->isVisible() && surface("picAutoCorrelation")->isVisible()
                && surface("picDateTime")->isVisible());
        // Clearing the chart shows the live charts again, not the date box.
        f.choose("mnuPrint");
        f.choose("mnuClearChart");
        QVERIFY(surface("picMag")->isVisible() && !surface("picDateTime")->isVisible());
    }

    // Printing during a run pauses it and shows the read-outs of that moment,
    // even when the screen has not caught up with the last ticks.
    void printDuringRunShowsThePausedRun()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        const QString pdf = printTo("running.pdf");
        f.click("cmdRandom");
        f.box("txtTemp")->setText("2.27");
        f.click("cmdGoToTemp");
        QTRY_VERIFY(Val(f.text("lblLabels").toStdString()) > 200);
        // Ticks that came after the last frame was painted.
        for (int n = 0; n < 5; ++n)
            f.w->tmrTime_Timer();
        f.choose("mnuPrint");
        QVERIFY(!f.w->timersEnabled());
        QTest::qWait(50); // the screen catches up; the run stays paused
        const QString page = pageText(pdf);
        for (const char *name : {"lblLabels", "lblInstantaneousMag", "lblSumMag", "lblNetMag", "lblInternalEnergy"})
            QVERIFY2(showsNumber(page, f.text(name)), qPrintable(f.text(name) + " not on the page:\n" + page));
        // The energy on the page is the energy of the lattice on the page.
        QCOMPARE(f.text("lblInternalEnergy"), QString::fromStdString(Str(double(f.w->run().lattice().Energy))));
    }

    // Paper shows no focus frame and no caret; the focus stays where it was.
    void focusIsNotPrinted()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        f.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.w.get()));
        QLineEdit *runNumber = f.box("txtRunNum");
        runNumber->setFocus();
        QTest::keyClicks(runNumber, "R-42");
        runNumber->setCursorPosition(2);
        const QString focused = printTo("focused.pdf");
        f.choose("mnuPrint");
        QCOMPARE(QApplication::focusWidget(), runNumber);
        QCOMPARE(runNumber->cursorPosition(), 2);

        runNumber->clearFocus();
        const QString unfocused = printTo("unfocused.pdf");
        f.choose("mnuPrint");
        const QImage page = pageImage(focused);
        QVERIFY(!page.isNull());
        QCOMPARE(page, pageImage(unfocused));
    }

    // The date box has room for three lines: the run number appended by a
    // second print lies wholly below it.
    void dateBoxShowsThreeLines()
    {
        printTo("date.pdf");
        QWidget *client = f.find<QWidget>(f.w.get(), "client");
        const QRect box = surface("picDateTime")->geometry();
        const QImage before = client->grab(box).toImage();
        f.box("txtRunNum")->setText("R-42");
        f.choose("mnuPrint");
        const QImage once = client->grab(box).toImage();
        QVERIFY(once != before); // the third line shows
        f.choose("mnuPrint");
        QCOMPARE(client->grab(box).toImage(), once);
    }

    void snapshotsWindowPrintsWithTheDate()
    {
        if (!hasPopplerTools())
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        const QString pdf = printTo("snapshots.pdf");
        f.prepareOrdered();
        f.choose("mnuSnapshot");
        f.click("cmdRestart");
        f.choose("mnuPrint", &f.w->snapshots());
        QVERIFY(f.w->timersEnabled()); // the run is not touched
        QVERIFY(mediaBox(pdf).width() > mediaBox(pdf).height());
        QVERIFY(pageText(pdf).contains("03-09-2026"));
        f.clock.reading = ClockReading {2026, 12, 31, 23, 59, 58};
        f.choose("mnuPrint", &f.w->snapshots());
        const QString text = pageText(pdf);
        QVERIFY(text.contains("12-31-2026") && text.contains("23:59:58") && !text.contains("03-09-2026"));
    }

    void failureIsReported()
    {
        f.box("txtRunNum")->setText("7");
        f.choose("mnuPrint"); // no printer at all
        printTo("no/such/folder/page.pdf");
        f.choose("mnuPrint", &f.w->snapshots());
        QCOMPARE(f.boxes.asked.size(), size_t(2));
        QCOMPARE(f.boxes.asked[0].prompt, QString(" Nothing was printed: no default printer is set up on this computer."));
        QCOMPARE(f.boxes.asked[0].title, QString(" Ferrogrid"));
        QVERIFY(f.boxes.asked[1].prompt.startsWith(" Nothing was printed: "));
        QVERIFY(!surface("picMag")->isVisible()); // the rest of the command happened all the same
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
