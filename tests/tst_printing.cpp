#include "tests/windowfixture.h"

#include "stdruntime/textconv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace ferro;

namespace {

// The standard output of a program run to its end, empty when it fails.
QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

// What a person reads on the printed page: its text, or a picture of it.
QString pageText(const QString &pdf) { return QString::fromUtf8(run("pdftotext", {"-layout", pdf, "-"})); }

QImage pageImage(const QString &pdf)
{
    run("pdftoppm", {"-r", "60", "-png", "-singlefile", pdf, pdf + "-page"});
    return QImage(pdf + "-page.png");
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
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty() || QStandardPaths::findExecutable("pdftoppm").isEmpty()) {
            QVERIFY2(qgetenv("CI") != "true", "pdftotext and pdftoppm (poppler-utils) are not installed");
            QSKIP("pdftotext and pdftoppm (poppler-utils) are not installed");
        }
    }
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    // Both windows print on a page each, landscape, with the date, the run
    // number and the chart captions: to a PDF file, and on the default
    // printer when it is the cups-pdf queue that FERRO_CUPS_PDF_DIR names the
    // folder of (the page comes out portrait there, its content turned).
    void bothWindowsPrint_data()
    {
        QTest::addColumn<bool>("cups");
        QTest::newRow("pdf-file") << false;
        if (qEnvironmentVariable("FERRO_CUPS_ROW") != "apart") // ctest runs it as tst_printing_cups
            QTest::newRow("cups-default-printer") << true;
    }
    void bothWindowsPrint()
    {
        QFETCH(bool, cups);
        DefaultPrinter printer;
        const QString cupsDir = qEnvironmentVariable("FERRO_CUPS_PDF_DIR");
        if (cups) {
            if (QPrinterInfo::defaultPrinter().isNull()) {
                if (qgetenv("CI") == "true")
                    QFAIL("CI sets up the cups-pdf queue as the default printer, but there is no default printer");
                QSKIP("no default printer (install cups-pdf with tools/setup --print and make its queue the default)");
            }
            if (cupsDir.isEmpty())
                QSKIP("FERRO_CUPS_PDF_DIR is not set: the printer's output cannot be checked, so nothing is printed");
            f.printer.real = &printer;
        }
        // The complete PDF files in cups-pdf's folder, written since the start.
        const QDateTime start = QDateTime::currentDateTime().addSecs(-1); // file times may be whole seconds
        auto written = [&] {
            QStringList done;
            for (const QFileInfo &info : QDir(cupsDir).entryInfoList({"*.pdf"}, QDir::Files)) {
                QFile file(info.filePath());
                if (info.lastModified() >= start && file.open(QIODevice::ReadOnly) && file.read(4) == "%PDF"
                    && file.readAll().contains("%%EOF"))
                    done << info.filePath();
            }
            return done;
        };
        const QStringList old = cups ? written() : QStringList();

        f.prepareOrdered();
        f.box("txtRunNum")->setText("Run 12");
        f.choose("mnuSnapshot");
        f.click("cmdRestart");
        QStringList pages {printTo("snapshots.pdf")};
        f.choose("mnuPrint", &f.w->snapshots());
        QVERIFY(f.w->timersEnabled()); // the run is not touched
        pages.prepend(printTo("main.pdf"));
        f.choose("mnuPrint");
        QVERIFY2(f.boxes.asked.empty(), f.boxes.asked.empty() ? "" : qPrintable(f.boxes.asked[0].prompt));
        QVERIFY(!f.w->timersEnabled());
        if (cups) {
            QTRY_COMPARE_WITH_TIMEOUT(written().size(), old.size() + 2, 60000);
            pages = written();
            pages.removeIf([&](const QString &pdf) { return old.contains(pdf); });
            std::sort(pages.begin(), pages.end(), [](const QString &a, const QString &b) {
                return a.contains("snapshots") < b.contains("snapshots"); // the main window's page first
            });
        }
        QStringList texts;
        for (const QString &pdf : pages) {
            const QImage image = cups ? QImage() : pageImage(pdf);
            QVERIFY(cups || image.width() > image.height()); // landscape
            texts << pageText(pdf);
            if (cups)
                QFile::remove(pdf);
        }
        for (const char *expected : {"03-09-2026", "14:05:07", "Monte Carlo Steps", "Time (Monte Carlo"})
            QVERIFY2(texts[0].contains(QLatin1String(expected)), qPrintable(expected + (":\n" + texts[0])));
        QCOMPARE(texts[0].count("Run 12"), 2); // in its box and under the date
        QVERIFY2(texts[1].contains("03-09-2026") && texts[1].contains("14:05:07"), qPrintable(texts[1]));
        if (cups)
            return;
        f.clock.reading = ClockReading {2026, 12, 31, 23, 59, 58};
        printTo("snapshots.pdf");
        f.choose("mnuPrint", &f.w->snapshots());
        const QString again = pageText(pages[1]);
        QVERIFY(again.contains("12-31-2026") && again.contains("23:59:58") && !again.contains("03-09-2026"));

        // Still copies stand in for the main window's three surfaces: Go alone
        // keeps them, Continue brings the live surfaces back, clearing the
        // chart the live charts but not the date box.
        f.click("cmdRestart");
        QVERIFY(!surface("picMag")->isVisible() && !surface("picDateTime")->isVisible());
        f.choose("mnuContinue");
        QVERIFY(surface("picMag")->isVisible() && surface("picAutoCorrelation")->isVisible()
                && surface("picDateTime")->isVisible());
        f.choose("mnuPrint");
        f.choose("mnuClearChart");
        QVERIFY(surface("picMag")->isVisible() && !surface("picDateTime")->isVisible());
    }

    // Printing during a run pauses it and shows the read-outs of that moment,
    // even when the screen has not caught up with the last ticks.
    void printDuringRunShowsThePausedRun()
    {
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

    // A print leaves still copies of the charts in their places; once the
    // run goes on, the charts lie over them and show the run, not the copy.
    void chartsCoverTheirPrintedCopies()
    {
        printTo("copies.pdf");
        f.prepareOrdered();
        f.click("cmdRestart");
        for (int n = 0; n < 4000; ++n)
            f.w->tmrTime_Timer();
        f.choose("mnuPrint");
        f.choose("mnuClearChart");
        f.click("cmdRestart");
        QWidget *client = f.find<QWidget>(f.w.get(), "client");
        for (const char *name : {"picMag", "picAutoCorrelation"})
            QVERIFY2(client->grab(surface(name)->geometry()).toImage().convertToFormat(QImage::Format_RGB32)
                         == surface(name)->grab().toImage().convertToFormat(QImage::Format_RGB32),
                     name);
    }

    // Paper shows no focus frame and no caret; the focus stays where it was.
    void focusIsNotPrinted()
    {
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
