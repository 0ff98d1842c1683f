// Printing through the real default printer. Meant for a CUPS queue of the
// cups-pdf virtual printer: FERRO_CUPS_PDF_DIR names the folder it writes its
// PDF files to (.ci/run sets both up). Without them the test skips, except on
// CI, where a missing default printer is a failure.

#include "ising.h"
#include "fakes.h"
#include "snapshotswindow.h"

#include <QAction>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPrinterInfo>
#include <QTest>

#include <algorithm>

using namespace ferro;

namespace {

// The PDF files in dir with their modification times.
QMap<QString, QDateTime> pdfFiles(const QDir &dir)
{
    QMap<QString, QDateTime> files;
    for (const QFileInfo &info : dir.entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
        files.insert(info.absoluteFilePath(), info.lastModified());
    return files;
}

QStringList newFiles(const QMap<QString, QDateTime> &before, const QMap<QString, QDateTime> &now)
{
    QStringList added;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (!before.contains(it.key()) || before.value(it.key()) != it.value())
            added << it.key();
    return added;
}

// Whole: cups-pdf writes the file while the job runs.
bool isCompletePdf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 8)
        return false;
    const QByteArray head = file.read(4);
    file.seek(std::max<qint64>(0, file.size() - 64));
    return head == "%PDF" && file.readAll().contains("%%EOF");
}

} // namespace

class TestCupsPrint : public QObject {
    Q_OBJECT
private slots:
    void printsBothWindowsOnTheDefaultPrinter()
    {
        const bool onCi = qgetenv("CI") == "true";
        const QString dirName = qEnvironmentVariable("FERRO_CUPS_PDF_DIR");
        if (QPrinterInfo::defaultPrinter().isNull()) {
            if (onCi)
                QFAIL("CI sets up the cups-pdf queue as the default printer, but there is no default printer");
            QSKIP("no default printer (install cups-pdf with tools/setup --print and make its queue the default)");
        }
        if (dirName.isEmpty())
            QSKIP("FERRO_CUPS_PDF_DIR is not set: the default printer's output cannot be checked, so nothing is "
                  "printed (set it to the cups-pdf output folder)");

        const QDir dir(dirName);
        const auto before = pdfFiles(dir);

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

        QStringList added;
        QTRY_VERIFY_WITH_TIMEOUT((added = newFiles(before, pdfFiles(dir))).size() >= 2
                                     && std::all_of(added.begin(), added.end(), isCompletePdf),
                                 60000);
        QCOMPARE(added.size(), 2);
        for (const QString &path : added) {
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            QVERIFY2(file.size() > 0, qPrintable(path));
            QCOMPARE(file.read(4), QByteArray("%PDF"));
        }
        for (const QString &path : added)
            QFile::remove(path);
    }
};

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
