// ferrogrid --record: the rows against the read-outs through a run, a clear
// and a reset; a file that cannot be written; a program killed mid-run.

#include "recording/recorder.h"
#include "runtime/reversedscrollbar.h"
#include "tests/windowfixture.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace ferro;

class TestRecord : public QObject {
    Q_OBJECT
    WindowFixture f;
    QTemporaryDir dir;
    const QString header = QString::fromStdString(recordHeader()).trimmed();

    QString path() const { return dir.filePath(QStringLiteral("run.csv")); }
    // The file's lines; the last is empty when the file ends with a line break.
    QStringList lines()
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n') : QStringList();
    }
    void tick(int n)
    {
        f.find<ReversedScrollBar>(f.w.get(), "hsbTimeInterval")->setValueAt(1400);
        for (int k = 0; k < n; ++k)
            f.w->tmrTime_Timer();
    }
    // The row of the point just charted, as the read-outs show it.
    QString pointRow(std::int64_t ticks, const QString &steps)
    {
        [&] { QTRY_COMPARE(f.text("lblLabels"), QStringLiteral(" %1").arg(ticks)); }();
        const QString m = f.text("lblInstantaneousMag").trimmed();
        return QStringList {QString::number(ticks), steps, f.box("txtTemp")->text(), m, QString(m).remove('-'),
                            f.text("lblNetMag").trimmed(), f.text("lblInternalEnergy").trimmed(), QString()}
            .join(',');
    }

private slots:
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); } // as the program does when recording
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(), QFile::remove(path()); }

    void rowsFollowTheReadouts()
    {
        QFile old(path()); // a row cut short by an earlier end
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("cut short") == 9 && old.flush());
        Recorder recorder(path().toStdString());
        f.w->startRecording(recorder);
        f.random.script = {0.9}; // all spins down: m < 0
        f.click("cmdZero");
        f.box("txtTemp")->setText(QStringLiteral("1.5"));
        f.click("cmdRestart");
        QStringList expected {"cut short", "", header, "0,,,,,,,recording started 2026-03-09 14:05:07",
                              "0,,,,,,,T = Zero"};
        for (int point = 1; point <= 5; ++point) {
            tick(400);
            expected << pointRow(400 * point, QString::number(point));
        }
        f.w->fastForward(LastPageTick - 1 - 2000);
        tick(1); // the page is full: the run stops
        f.click("cmdRestart");
        tick(1);
        expected << "1600000,,1.5,,,,,new page" << pointRow(PageTicks, QStringLiteral("4000"));
        f.w->designTemps().setFactorText(3, QStringLiteral("2"));
        f.choose("mnuClear", &f.w->designTemps());
        f.choose("mnuSnapshot");
        f.choose("mnuClearChart");
        f.choose("mnuReset");
        expected << "1600000,,1.5,,,,,temperature factors changed" << "1600000,,1.5,,,,,Snapshot 1"
                 << "0,,,,,,,Clear Chart" << "0,,,,,,,Reset" << "";
        QCOMPARE(lines(), expected);
    }

    void unwritableFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("no-such-folder") << dir.filePath(QStringLiteral("none/run.csv"));
        QTest::newRow("disk-full") << QStringLiteral("/dev/full");
        int ends[2];
        QVERIFY(pipe(ends) == 0 && ::close(ends[0]) == 0);
        QTest::newRow("pipe-reader-gone") << QStringLiteral("/proc/self/fd/%1").arg(ends[1]);
    }
    void unwritableFile()
    {
        QFETCH(QString, file);
        Recorder recorder(file.toStdString());
        f.w->startRecording(recorder);
        QCOMPARE(f.boxes.asked.size(), 1u);
        const AskedBox box = f.boxes.asked[0];
        QVERIFY2(box.title == " Ferrogrid" && box.prompt.startsWith(' ') && box.prompt.contains(file),
                 qPrintable(box.prompt));
        f.prepareOrdered();
        f.click("cmdRestart");
        tick(1200);
        QTRY_COMPARE(f.text("lblLabels"), QStringLiteral(" 1200"));
        QCOMPARE(f.boxes.asked.size(), 1u);
    }

    void killedProgramLeavesWholeRows()
    {
        Recorder recorder(path().toStdString());
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);
            f.w->startRecording(recorder);
            f.prepareOrdered();
            f.click("cmdRestart");
            tick(40000);
            raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QStringList all = lines();
        QCOMPARE(all.takeLast(), QString()); // the last row ends with its line break
        QCOMPARE(all.size(), 3 + 40000 / 400);
        for (const QString &line : all)
            QCOMPARE(line.count(','), 7);

        // The program itself, killed while it waits for a click.
        QFile::remove(path());
        QProcess program;
        program.start(QStringLiteral(FERROGRID), {"--record", path(), "-platform", "offscreen"});
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 3, 20000);
        program.kill();
        QVERIFY(program.waitForFinished());
        QCOMPARE(lines().at(0), header);
    }
};

QTEST_MAIN(TestRecord)
#include "tst_record.moc"
