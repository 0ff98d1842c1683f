// ferrogrid --record: the rows against the read-outs through a run, a clear
// and a reset; a file that cannot be had or written; a reader that stops
// reading; a program killed mid-run; the program's command line around it.

#include "recording/recorder.h"
#include "recording/recordsession.h"
#include "runtime/reversedscrollbar.h"
#include "tests/windowfixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    QStringList lines(const QByteArray &name = {})
    {
        const int fd = ::open(name.isEmpty() ? QFile::encodeName(path()).constData() : name.constData(), O_RDONLY);
        QByteArray text;
        char piece[4096];
        for (ssize_t n; fd >= 0 && (n = read(fd, piece, sizeof piece)) > 0;)
            text.append(piece, n);
        return fd >= 0 && ::close(fd) == 0 ? QString::fromUtf8(text).split('\n') : QStringList();
    }
    // Starts a program and waits until the record file `name` holds its
    // header and start row: the window is up. Empty then, else what the
    // program said when it ended.
    QString startsRecording(const QStringList &arguments, const QByteArray &name = {},
                            const QString &program = QStringLiteral(FERROGRID))
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        QDeadlineTimer deadline(20000);
        while (lines(name).size() < 3 && !deadline.hasExpired() && !p.waitForFinished(50)) {
        }
        const bool started = p.state() == QProcess::Running && lines(name).size() == 3;
        p.kill();
        p.waitForFinished();
        return started ? QString() : QStringLiteral("ended with %1: %2").arg(p.exitCode()).arg(p.readAll());
    }
    void record(const QString &file, std::size_t maxBehind = RecordSession::DefaultMaxBehind)
    {
        f.w->startRecording(std::make_unique<RecordSession>(file.toStdString(), maxBehind));
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
        record(path());
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
        QTRY_COMPARE(lines(), expected); // the writer's thread has caught up
    }

    // The message appears (at once, or from the writer when the first row
    // fails), and the run goes on unrecorded without another.
    void unwritableFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no-such-folder") << dir.filePath(QStringLiteral("none/run.csv")) << "No such file";
        QTest::newRow("disk-full") << QStringLiteral("/dev/full") << "No space left";
        int ends[2];
        QVERIFY(pipe(ends) == 0 && ::close(ends[0]) == 0);
        QTest::newRow("pipe-reader-gone") << QStringLiteral("/proc/self/fd/%1").arg(ends[1]) << "Broken pipe";
        const QString fifo = dir.filePath(QStringLiteral("unread.fifo"));
        QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        QTest::newRow("fifo-no-reader") << fifo << "Nothing reads the pipe";
    }
    void unwritableFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        record(file);
        QTRY_COMPARE(f.boxes.asked.size(), 1u);
        const AskedBox box = f.boxes.asked[0];
        QVERIFY2(box.title == " Ferrogrid" && box.prompt.startsWith(' ') && box.prompt.contains(file)
                     && box.prompt.contains(reason) && box.prompt.endsWith("The program runs on without recording."),
                 qPrintable(box.prompt));
        f.prepareOrdered();
        f.click("cmdRestart");
        tick(1200);
        QTRY_COMPARE(f.text("lblLabels"), QStringLiteral(" 1200"));
        QCOMPARE(f.boxes.asked.size(), 1u);
    }

    // Locks another program holds on the file, each on a description of its
    // own: a reader's shared flock (`flock -s FILE ...`) keeps nothing out; a
    // lock that does is named for what it is.
    void lockHeldByAnother_data()
    {
        QTest::addColumn<int>("access");
        QTest::addColumn<int>("lock");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("reader-shared-flock") << O_RDONLY << -LOCK_SH << QString();
        QTest::newRow("reader-exclusive-flock") << O_RDONLY << -LOCK_EX << QString();
        QTest::newRow("reader-read-lock") << O_RDONLY << int(F_RDLCK) << "Another program holds a read lock on ";
        QTest::newRow("recorder-write-lock") << O_WRONLY << int(F_WRLCK) << "Another program holds a write lock on ";
    }
    void lockHeldByAnother()
    {
        QFETCH(int, access);
        QFETCH(int, lock);
        QFETCH(QString, refusal);
        QFile made(path());
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.close();
        const int other = ::open(QFile::encodeName(path()).constData(), access | O_CLOEXEC);
        QVERIFY(other >= 0);
        struct flock range {};
        range.l_type = static_cast<short>(lock);
        range.l_whence = SEEK_SET;
        QVERIFY(lock < 0 ? flock(other, -lock | LOCK_NB) == 0 : fcntl(other, F_OFD_SETLK, &range) == 0);
        record(path());
        if (refusal.isEmpty()) {
            QTRY_COMPARE(lines().size(), 3);
            QCOMPARE(lines().at(0), header);
            QVERIFY(f.boxes.asked.empty());
        } else {
            QTRY_COMPARE(f.boxes.asked.size(), 1u);
            QVERIFY2(f.boxes.asked[0].prompt.contains(refusal + path()), qPrintable(f.boxes.asked[0].prompt));
            QCOMPARE(lines(), QStringList {QString()});
        }
        ::close(other);
    }

    // A reader far behind on rows of 32 KB (a temperature text of 32004
    // characters): recording stops while a row is half written. The row is
    // finished and the file closed: the reader reads whole rows up to the
    // end of the file while the program runs on.
    void stoppedRecordingEndsOnAWholeRow()
    {
        const QString fifo = dir.filePath(QStringLiteral("slow.fifo"));
        QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        fcntl(reader, F_SETPIPE_SZ, 4096);
        record(fifo, 100000);
        f.prepareOrdered();
        f.box("txtTemp")->setText(QStringLiteral("2.27") + QString(32000, '0'));
        f.click("cmdRestart");
        for (int n = 0; n < 20 && f.boxes.asked.empty(); ++n) {
            tick(400);
            QCoreApplication::processEvents();
        }
        QCOMPARE(f.boxes.asked.size(), 1u);
        QByteArray text;
        bool ended = false;
        for (QDeadlineTimer deadline(10000); !ended && !deadline.hasExpired();) {
            pollfd ready {reader, POLLIN, 0};
            ::poll(&ready, 1, 100);
            char piece[4096];
            const ssize_t n = read(reader, piece, sizeof piece);
            text.append(piece, std::max<ssize_t>(n, 0));
            ended = n == 0;
        }
        ::close(reader);
        QVERIFY2(ended, "the reader never saw the end of the file");
        QVERIFY(text.endsWith('\n'));
        QList<QByteArray> rows = text.split('\n');
        rows.removeLast();
        QVERIFY(rows.size() >= 3);
        QCOMPARE(QString::fromUtf8(rows.takeFirst()), header);
        for (const QByteArray &row : rows)
            QVERIFY2(row.count(',') == 7 && (row.startsWith("0,,,") || row.size() > 32000), row.left(80).constData());
    }

    // A reader that holds the pipe open and never reads: the window never
    // waits for it; once the rows it has not taken pass the bound, recording
    // stops with a message and the window goes on (Exit still asks and ends).
    void stalledReaderStopsRecording()
    {
        const QString fifo = dir.filePath(QStringLiteral("stalled.fifo"));
        QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        fcntl(reader, F_SETPIPE_SZ, 4096); // the smallest pipe: full after a few dozen rows
        record(fifo, 8192);
        f.prepareOrdered();
        f.click("cmdRestart");
        for (int n = 0; n < 1000 && f.boxes.asked.empty(); ++n) {
            tick(400);
            QCoreApplication::processEvents();
        }
        QCOMPARE(f.boxes.asked.size(), 1u);
        QVERIFY2(f.boxes.asked[0].prompt.contains("its reader has fallen more than 8192 bytes behind"),
                 qPrintable(f.boxes.asked[0].prompt));
        const QString before = f.text("lblLabels");
        tick(4000);
        QTRY_VERIFY(f.text("lblLabels") != before);
        f.boxes.answer = vbYes;
        f.choose("mnuExit");
        QCOMPARE(f.end.ends, 1);
        QCOMPARE(f.boxes.asked.size(), 2u);
        f.tearDown(); // the session ends without waiting for the reader
        ::close(reader);
    }

    // Killed while its writer writes: the file holds whole rows. Killed while
    // it waits for a click: everything written; a second program meanwhile
    // finds the file locked.
    void killedProgramLeavesWholeRows()
    {
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);
            record(path());
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
        QVERIFY(all.size() <= 3 + 40000 / 400);
        for (const QString &line : all)
            QCOMPARE(line.count(','), 7);

        QFile::remove(path());
        QProcess program;
        program.start(QStringLiteral(FERROGRID), {"--record", path(), "-platform", "offscreen"});
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 3, 20000);
        record(path());
        QTRY_COMPARE(f.boxes.asked.size(), 1u);
        QVERIFY2(f.boxes.asked[0].prompt.contains("Another program holds a write lock on " + path()),
                 qPrintable(f.boxes.asked[0].prompt));
        program.kill();
        QVERIFY(program.waitForFinished());
        QCOMPARE(lines().at(0), header);
        QCOMPARE(lines().size(), 3);
    }

    // The toolkit's own options, which it takes out of the arguments or
    // leaves for the platform that reads them, start the window as usual.
    void toolkitOptionsStartTheWindow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("title") << QStringList {"-title", "Foo"};
        QTest::newRow("name") << QStringList {"-name", "fooclass"};
        QTest::newRow("icon") << QStringList {"-icon", "x.png"};
        QTest::newRow("visual") << QStringList {"-visual", "TrueColor"};
        QTest::newRow("sync") << QStringList {"-sync"};
        QTest::newRow("nograb") << QStringList {"-nograb"};
        QTest::newRow("dograb") << QStringList {"-dograb"};
        QTest::newRow("testability") << QStringList {"-testability"};
        QTest::newRow("style") << QStringList {"-style", "Windows"};
        QTest::newRow("reverse") << QStringList {"-reverse"};
        QTest::newRow("style-joined") << QStringList {"-style=Windows"};
        QTest::newRow("stylesheet") << QStringList {"-stylesheet", "none.qss"};
        QTest::newRow("widgetcount") << QStringList {"-widgetcount"};
        QTest::newRow("platformtheme") << QStringList {"-platformtheme", "none"};
        QTest::newRow("qwindowtitle") << QStringList {"-qwindowtitle", "Foo", "-qwindowgeometry", "100x100+0+0"};
    }
    void toolkitOptionsStartTheWindow()
    {
        QFETCH(QStringList, options);
        QCOMPARE(startsRecording(QStringList {"--record", path(), "-platform", "offscreen"} + options), QString());
    }

    // File names are bytes: names that are not UTF-8 are used as they stand.
    void namesThatAreNotUtf8()
    {
        const QByteArray folder = QFile::encodeName(dir.path());
        const int fd = ::open(folder + "/factors\xfe.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const QByteArray text = QByteArray(19, ',').append('\n').repeated(20);
        QVERIFY(fd >= 0 && write(fd, text.constData(), text.size()) == text.size() && ::close(fd) == 0);
        // QProcess passes arguments as UTF-8: the shell makes the bytes.
        const QString script = QStringLiteral("exec \"$0\" -platform offscreen --record \"$(printf '%s/bad\\377.csv' \"$1\")\" "
                                              "--factors \"$(printf '%s/factors\\376.txt' \"$1\")\"");
        QCOMPARE(startsRecording({"-c", script, QStringLiteral(FERROGRID), dir.path()}, folder + "/bad\xff.csv",
                                 QStringLiteral("/bin/sh")),
                 QString());
        QVERIFY(unlink(folder + "/bad\xff.csv") == 0 && unlink(folder + "/factors\xfe.txt") == 0);
    }
};

QTEST_MAIN(TestRecord)
#include "tst_record.moc"
