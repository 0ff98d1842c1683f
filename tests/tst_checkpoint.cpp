// Runs stopped and carried on from their checkpoints, as a cluster's time
// limit stops them: the finished output is the one of a run never stopped,
// and a checkpoint that is not of the run, or not whole, is refused.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray err;
};

// Runs the program to its end; with `signal`, sends it once `waitFor` exists
// (the run's first checkpoint), so that it is stopped in the middle.
Run batch(const QStringList &args, int signal = 0, const QString &waitFor = {})
{
    QProcess p;
    p.start(QStringLiteral(FERROGRID_BATCH), args);
    if (signal) {
        // Looked for every 2 ms, so that the signal often comes just as a
        // checkpoint is made: the stop's checkpoint then follows at once.
        for (int i = 0; i < 10000 && !QFile::exists(waitFor) && p.state() != QProcess::NotRunning; ++i)
            p.waitForFinished(2);
        if (p.state() == QProcess::Running && p.processId() > 0) // never kill(0): that is our own group
            ::kill(pid_t(p.processId()), signal);
    }
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError()};
}

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// The checksum of a checkpoint's body (64-bit FNV-1a), to make one that is
// whole but of another version.
quint64 fnv1a(const QByteArray &bytes)
{
    quint64 h = 0xcbf29ce484222325ULL;
    for (const char c : bytes)
        h = (h ^ quint8(c)) * 0x100000001b3ULL;
    return h;
}

} // namespace

class TestCheckpoint : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    // Every row starts without the files of the one before.
    void init()
    {
        for (const char *name : {"run.ck", "run.ck.first", "refused.ck", "out.csv", "refused.csv", "figure.svg"})
            QFile::remove(path(name));
    }

    // Stopped twice (SIGTERM, then SIGUSR1) and carried on each time: the
    // table or series, and the figure, byte for byte those of the run never
    // stopped; the stop says where the checkpoint is, and a finished run
    // leaves none behind.
    void resumedRunIsTheUnstoppedRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("resumeArgs");
        const QStringList metropolis = {"--temperatures", "2.0:2.6:0.2", "--size", "24", "--sweeps", "50000",
                                        "--equilibrate", "300", "--seed", "3"};
        const QStringList wolff = {"--algorithm", "wolff", "--temperatures", "2.1,2.4", "--size", "32",
                                   "--sweeps", "60000", "--equilibrate", "300", "--seed", "4"};
        QTest::newRow("metropolis-four-at-once") << metropolis + QStringList {"--jobs", "1", "--size", "64"} << QStringList {};
        QTest::newRow("metropolis-two-jobs-figure")
            << metropolis + QStringList {"--jobs", "2", "--plot", "F"} << QStringList {};
        QTest::newRow("wolff") << wolff + QStringList {"--jobs", "2"} << QStringList {};
        QTest::newRow("series-one-job") << metropolis + QStringList {"--series", "3", "--jobs", "1"} << QStringList {};
        QTest::newRow("wolff-series-two-jobs") << wolff + QStringList {"--series", "2", "--jobs", "2"}
                                               << QStringList {};
        QTest::newRow("series-two-jobs-resumed-with-one")
            << metropolis + QStringList {"--series", "5", "--jobs", "2"} << QStringList {"--jobs", "1"};
    }
    void resumedRunIsTheUnstoppedRun()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, resumeArgs);
        for (QString &a : args)
            a = a == "F" ? path("figure.svg") : a;
        const bool figure = args.contains(path("figure.svg"));
        QVERIFY(batch(args + QStringList {"--output", path("whole.csv")}).exitCode == 0);
        const QByteArray whole = read(path("whole.csv")), wholeFigure = read(path("figure.svg"));
        QFile::remove(path("figure.svg"));

        const QString ck = path("run.ck");
        const QStringList stopped = args + QStringList {"--output", path("out.csv"), "--checkpoint-every", "0.0002"};
        Run r = batch(stopped + QStringList {"--checkpoint", ck}, SIGTERM, ck);
        QCOMPARE(r.exitCode, 143);
        QVERIFY2(r.err.contains("stopped by SIGTERM") && r.err.contains("--resume " + ck.toUtf8()), r.err);
        QVERIFY(!QFile::exists(path("figure.svg")));
        QFile::remove(ck + ".new"); // the second stop waits for a checkpoint of the resumed run
        QFile(ck).rename(ck + ".first");
        r = batch(stopped + resumeArgs + QStringList {"--resume", ck + ".first", "--checkpoint", ck}, SIGUSR1, ck);
        QCOMPARE(r.exitCode, 138);
        // The last part at the usual checkpoint interval: carried on to the end.
        r = batch(args + QStringList {"--output", path("out.csv")} + resumeArgs + QStringList {"--resume", ck});
        QVERIFY2(r.exitCode == 0, r.err);
        QCOMPARE(read(path("out.csv")), whole);
        if (figure)
            QCOMPARE(read(path("figure.svg")), wholeFigure);
        QVERIFY(!QFile::exists(ck) && !QFile::exists(ck + ".new"));
    }

    // A checkpoint of another run, version or factor file, or one that is not
    // whole, is refused with the difference named, and the output is left as
    // it was.
    void foreignCheckpointRefused_data()
    {
        QTest::addColumn<QStringList>("resumeArgs");
        QTest::addColumn<QByteArray>("factors"); // the factor file's contents at the resume
        QTest::addColumn<int>("change");         // 0 none, 1 a byte turned, 2 cut, 3 another version, 4 a CSV
        QTest::addColumn<QByteArray>("said");
        const QByteArray uniform = QByteArray("1,1,1,1,1,1,1,1\n").repeated(8);
        QTest::newRow("other-sweeps") << QStringList {"--sweeps", "9000"} << uniform << 0
                                      << QByteArray("with --sweeps 2000000, and this one has --sweeps 9000");
        QTest::newRow("other-temperatures") << QStringList {"--temperatures", "2.1,2.6"} << uniform << 0
                                            << QByteArray("with --temperatures 2.1000000000000001,2.5");
        QTest::newRow("factor-file-edited") << QStringList {} << QByteArray("2,2,2,2,2,2,2,2\n").repeated(8) << 0
                                            << QByteArray("factor file had other contents");
        QTest::newRow("byte-turned") << QStringList {} << uniform << 1 << QByteArray("damaged: its checksum");
        QTest::newRow("cut") << QStringList {} << uniform << 2 << QByteArray("cut short");
        QTest::newRow("other-version") << QStringList {} << uniform << 3
                                       << QByteArray("written by ferrogrid-batch 0.0, and this is ferrogrid-batch");
        QTest::newRow("a-table") << QStringList {} << uniform << 4 << QByteArray("not a checkpoint");
    }
    void foreignCheckpointRefused()
    {
        QFETCH(QStringList, resumeArgs);
        QFETCH(QByteArray, factors);
        QFETCH(int, change);
        QFETCH(QByteArray, said);
        const QString ck = path("refused.ck"), out = path("refused.csv"), f = path("factors.txt");
        write(f, QByteArray("1,1,1,1,1,1,1,1\n").repeated(8));
        const QStringList args = {"--temperatures", "2.1,2.5", "--size", "8", "--sweeps", "2000000", "--seed", "9",
                                  "--factors", f, "--output", out, "--jobs", "1", "--checkpoint-every", "0.0002"};
        QCOMPARE(batch(args + QStringList {"--checkpoint", ck}, SIGTERM, ck).exitCode, 143);
        QByteArray bytes = read(ck);
        const qsizetype body = bytes.indexOf("format 1\n") + 9 + 8;
        QVERIFY(body > 17 && bytes.size() > body + 100);
        if (change == 1)
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x10);
        if (change == 2)
            bytes.chop(bytes.size() / 3);
        if (change == 3) {
            const qsizetype at = bytes.indexOf("ferrogrid-batch ", body) + 16;
            bytes.replace(at, 3, "0.0");
            const quint64 sum = fnv1a(bytes.mid(body, bytes.size() - body - 8));
            for (int b = 0; b < 8; ++b)
                bytes[bytes.size() - 8 + b] = char(sum >> (8 * b));
        }
        if (change == 4)
            bytes = read(out);
        write(ck, bytes);
        write(f, factors);
        const QByteArray before = read(out);
        QStringList resumed = args;
        for (int a = 0; a + 1 < resumeArgs.size(); a += 2)
            resumed[resumed.indexOf(resumeArgs[a]) + 1] = resumeArgs[a + 1];
        const Run r = batch(resumed + QStringList {"--resume", ck});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(said), r.err);
        QCOMPARE(r.err.count('\n'), 1);
        QCOMPARE(read(out), before);
    }
};

QTEST_GUILESS_MAIN(TestCheckpoint)
#include "tst_checkpoint.moc"
