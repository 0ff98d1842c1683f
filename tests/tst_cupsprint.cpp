// Printing through the real default printer. Meant for a CUPS queue of the
// cups-pdf virtual printer: FERRO_CUPS_PDF_DIR names the folder it writes its
// PDF files to (.ci/run sets both up). Without them the test skips, except on
// CI, where a missing default printer is a failure.

#include "tests/fakes.h"
#include "mainwindow/ising.h"
#include "snapshots/snapshotswindow.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QPrinterInfo>
#include <QTest>

using namespace ferro;

class TestCupsPrint : public QObject {
    Q_OBJECT
private slots:
    void printsBothWindowsOnTheDefaultPrinter()
    {
        const QString dirName = qEnvironmentVariable("FERRO_CUPS_PDF_DIR");
        if (QPrinterInfo::defaultPrinter().isNull()) {
            if (qgetenv("CI") == "true")
                QFAIL("CI sets up the cups-pdf queue as the default printer, but there is no default printer");
            QSKIP("no default printer (install cups-pdf with tools/setup --print and make its queue the default)");
        }
        if (dirName.isEmpty())
            QSKIP("FERRO_CUPS_PDF_DIR is not set: the printer's output cannot be checked, so nothing is printed");

        // Whole seconds: file times may be rounded down to them.
        const QDateTime start = QDateTime::currentDateTime().addSecs(-1);
        auto newPdfs = [&] {
            QStringList done;
            for (const QFileInfo &f : QDir(dirName).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
                if (f.lastModified() >= start && f.size() > 0) {
                    QFile file(f.absoluteFilePath());
                    if (file.open(QIODevice::ReadOnly) && file.read(4) == "%PDF" && file.readAll().contains("%%EOF"))
                        done << f.absoluteFilePath();
                }
            return done;
        };
        const int before = int(newPdfs().size());

        SystemClock clock;
        Random random;
        AnsweringBoxes boxes;
        CountingEnd end;
        DefaultPrinter printer;
        Services services {clock, random, boxes, end, printer};
        Ising window(services);
        window.show();
        window.findChild<QAction *>(QStringLiteral("mnuPrint"))->trigger();
        window.snapshots().findChild<QAction *>(QStringLiteral("mnuPrint"))->trigger();
        QVERIFY2(boxes.asked.empty(), boxes.asked.empty() ? "" : qPrintable(boxes.asked[0].prompt));

        // Both pages arrive as complete PDF files.
        QTRY_COMPARE_WITH_TIMEOUT(int(newPdfs().size()), before + 2, 60000);
        for (const QString &path : newPdfs())
            QFile::remove(path);
    }
};

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
