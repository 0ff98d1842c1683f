// ferrogrid-batch as a user runs it: arguments in, CSV, plot, messages and
// exit status out.
#include "analysis/exactenergy.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cmath>
#include <sys/resource.h>

namespace {

struct Run {
    int exitCode = -1; // -1: ended by a signal
    QByteArray out, err;
};

struct How {
    QString stdoutFile;         // where standard output goes; empty: read back
    int signal = 0;             // sent once the first output is out
    rlim_t fileSizeLimit = 0;   // > 0: writes beyond it fail, as on a full disk
    QString program = QStringLiteral(FERROGRID_BATCH);
};

Run run(const QStringList &args, const How &how = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    if (!how.stdoutFile.isEmpty())
        p.setStandardOutputFile(how.stdoutFile);
    if (how.fileSizeLimit > 0)
        p.setChildProcessModifier([limit = how.fileSizeLimit] {
            const rlimit r {limit, limit};
            setrlimit(RLIMIT_FSIZE, &r);
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG
        });
    p.start(how.program, args);
    if (how.signal) {
        p.waitForReadyRead(20000);
        QTest::qWait(300);
        ::kill(pid_t(p.processId()), how.signal);
    }
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QList<QByteArrayList> rows(const QByteArray &csv)
{
    QList<QByteArrayList> out;
    for (const QByteArray &line : csv.split('\n'))
        if (!line.isEmpty())
            out.append(line.split(','));
    return out;
}

// Significant digits of a number's text ("-0.00123" has 3, "1.5e-05" 2).
int digits(const QByteArray &number)
{
    QByteArray mantissa = number.split('e').value(0);
    mantissa.replace('-', "").replace('.', "");
    while (mantissa.startsWith('0'))
        mantissa.remove(0, 1);
    return int(mantissa.size());
}

const QByteArray Header = "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
                          "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,"
                          "acceptance_error,energy_autocorrelation_time,exact_energy,point,points";

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString path(const char *name) const { return path(QLatin1String(name)); }
    // Empties the folder between the rows of a table.
    void clean() const
    {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files | QDir::System))
            QFile::remove(path(name));
    }

private slots:
    void sweepGivesTableAndPlot()
    {
        const Run r = run({"--temperatures", "2.0, 3.0", "--equilibrate", "500", "--sweeps", "20000", "--seed", "5",
                           "--output", path("t.csv"), "--plot", path("t.png")});
        QCOMPARE(r.exitCode, 0);
        QFile file(path("t.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArrayList> table = rows(file.readAll());
        QCOMPARE(table.value(0).join(','), Header);
        QCOMPARE(table.size(), 3);
        for (int i = 1; i <= 2; ++i) {
            const QByteArrayList &row = table[i];
            QCOMPARE(row.size(), 17);
            QCOMPARE(row.mid(15), QByteArrayList({QByteArray::number(i - 1), "2"}));
            const double T = row[0].toDouble();
            QCOMPARE(T, i == 1 ? 2.0 : 3.0);
            QCOMPARE(row[1], QByteArray("20000"));
            QCOMPARE(row[2], QByteArray("5"));
            const double energy = row[3].toDouble(), error = row[4].toDouble(), exact = row[14].toDouble();
            QVERIFY(std::fabs(exact - ferro::exactEnergy(20, 20, T)) < 1e-9);
            // Errors that account for the autocorrelation: the exact energy
            // and specific heat (dE/dT) lie within four of them.
            QVERIFY2(error > 0 && std::fabs(energy - exact) < 4 * error, row.join(',').constData());
            const double h = 1e-4;
            const double heat = (ferro::exactEnergy(20, 20, T + h) - ferro::exactEnergy(20, 20, T - h)) / (2 * h);
            QVERIFY2(std::fabs(row[7].toDouble() - heat) < 4 * row[8].toDouble(), row.join(',').constData());
            const double absMag = row[5].toDouble();
            QVERIFY(T == 2.0 ? absMag > 0.85 : absMag < 0.3);
            for (int c = 6; c < 14; ++c)
                QVERIFY2(row[c].toDouble() > 0, row.join(',').constData());
            QVERIFY(row[11].toDouble() < 1);
            // Readable numbers: values to 10 digits, errors to 3, tau to 4.
            for (int c = 3; c < 15; ++c)
                QVERIFY2(digits(row[c]) <= (c == 13 ? 4 : c % 2 == 0 && c < 13 ? 3 : 10), row[c].constData());
        }
        QCOMPARE(QImage(path("t.png")).isNull(), false);
    }

    // A factor of 2 everywhere at T = 1 is the uniform lattice at T = 2; no
    // exact column, as not every factor is 1.
    void factorFileDoublesTemperature()
    {
        QCOMPARE(run({"--write-factors", "uniform:2", "--output", path("two.txt")}).exitCode, 0);
        const Run r = run({"--temperatures", "1", "--factors", path("two.txt"), "--equilibrate", "500", "--sweeps",
                           "20000", "--seed", "9"});
        QCOMPARE(r.exitCode, 0);
        const QByteArrayList row = rows(r.out).value(1);
        QCOMPARE(row.size(), 17);
        QCOMPARE(row[14], QByteArray());
        QVERIFY2(std::fabs(row[3].toDouble() - ferro::exactEnergy(20, 20, 2.0)) < 4 * row[4].toDouble() + 0.002,
                 row.join(',').constData());
    }

    void sameSeedSameOutputForAnyJobs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("lines");
        QTest::newRow("table") << QStringList {"--sweeps", "3000"} << 4;
        QTest::newRow("series") << QStringList {"--sweeps", "30000", "--series", "7"} << 1 + 3 * (1 + 31000 / 7);
    }
    void sameSeedSameOutputForAnyJobs()
    {
        QFETCH(QStringList, args);
        QFETCH(int, lines);
        args << "--temperatures" << "1.5:2.5:0.5" << "--start" << "infinity";
        const Run one = run(args + QStringList {"--seed", "77", "--jobs", "1"});
        const Run three = run(args + QStringList {"--seed", "77", "--jobs", "3"});
        const Run other = run(args + QStringList {"--seed", "78", "--jobs", "3"});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(rows(one.out).size(), lines);
        QCOMPARE(three.out, one.out);
        QVERIFY(other.out != one.out);
    }

    // A series has no error bars: no warning about them.
    void seriesEveryKSweeps()
    {
        // Near the transition, where a table would warn about short blocks.
        const Run r = run({"--temperatures", "2.27", "--equilibrate", "0", "--sweeps", "2000", "--series", "100",
                           "--seed", "3"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        const QList<QByteArrayList> table = rows(r.out);
        QCOMPARE(table.value(0).join(','), QByteArray("temperature,seed,sweep,energy,magnetization"));
        QCOMPARE(table.size(), 1 + 21); // sweeps 0, 100, ..., 2000
        QCOMPARE(table[1].mid(0, 4), QByteArrayList({"2.27", "3", "0", "-2"})); // the aligned start
        QCOMPARE(std::fabs(table[1][4].toDouble()), 1.0);
        QCOMPARE(table.last()[2], QByteArray("2000"));
    }

    void versionAndHelp()
    {
        const Run version = run({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("ferrogrid-batch " FERROGRID_VERSION "\n"));
        QVERIFY(run({"--help"}).out.contains("--version"));
    }

    // Stopped by a signal: the rows (or series) finished are kept, whole, and
    // no figure is left behind.
    void stopped_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("minimumRows");
        QTest::addColumn<QByteArray>("said");
        const QStringList table = {"--temperatures", "2,3", "--sweeps", "1000000000", "--jobs", "1"};
        QTest::newRow("ctrl-c") << table << SIGINT << 130 << 1 << QByteArray("interrupted: 0 of 2 temperatures finished");
        QTest::newRow("sigterm") << table << SIGTERM << 143 << 1 << QByteArray("interrupted: 0 of 2");
        QTest::newRow("ctrl-c-keeps-series") << table + QStringList {"--series", "1", "--jobs", "2"} << SIGINT << 130
                                             << 100 << QByteArray("interrupted: 0 of 2");
        QTest::newRow("sigpipe-leaves-no-figure") << table + QStringList {"--plot", "P"} << SIGPIPE << -1 << 1
                                                  << QByteArray();
    }
    void stopped()
    {
        QFETCH(QStringList, args);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(int, minimumRows);
        QFETCH(QByteArray, said);
        clean();
        for (QString &a : args)
            a = a == "P" ? path("p.png") : a;
        How how;
        how.signal = signal;
        const Run r = run(args, how);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(said), r.err.constData());
        const QList<QByteArrayList> lines = rows(r.out);
        QVERIFY(lines.size() >= minimumRows);
        QVERIFY(r.out.endsWith('\n'));
        for (const QByteArrayList &line : lines)
            QCOMPARE(line.size(), lines[0].size());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList());
    }

    // A full disk: the table keeps whole rows only, the figure is not left
    // at all; one line of ours says so, exit 2.
    void fullDisk_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("table-row-cut") << QStringList {"--temperatures", "2:3:0.02", "--sweeps", "200", "--output", "O"}
                                       << "o.csv" << QByteArray("cannot write O: File too large");
        QTest::newRow("series-row-cut")
            << QStringList {"--temperatures", "2", "--sweeps", "5000", "--series", "1", "--output", "O"} << "o.csv"
            << QByteArray("cannot write O: File too large");
        for (const char *kind : {"png", "svg", "pdf"})
            QTest::newRow(qPrintable(QStringLiteral("figure-%1").arg(kind)))
                << QStringList {"--temperatures", "3", "--sweeps", "5000", "--plot", QStringLiteral("P.%1").arg(kind)}
                << QString() << QByteArray("cannot write the plot P: File too large");
    }
    void fullDisk()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, kept);
        QFETCH(QByteArray, said);
        clean();
        for (QString &a : args) {
            if (a == "O")
                a = path("o.csv");
            if (a.startsWith("P."))
                said.replace("P", QFile::encodeName(path("p." + a.mid(2)))), a = path("p." + a.mid(2));
        }
        said.replace("O", QFile::encodeName(path("o.csv")));
        How how;
        how.fileSizeLimit = 3000;
        const Run r = run(args, how);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, "ferrogrid-batch: " + said + "\n");
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), kept.isEmpty() ? QStringList() : QStringList {kept});
        if (!kept.isEmpty()) {
            QFile file(path(kept));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            QVERIFY(text.endsWith('\n'));
            const QList<QByteArrayList> lines = rows(text);
            for (const QByteArrayList &line : lines)
                QCOMPARE(line.size(), lines[0].size());
        }
    }

    // Every mistake: one line naming it, exit 2, nothing written, and no
    // file given touched.
    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fileText");
        QTest::addColumn<QByteArray>("named");
        const QString good = (QString(19, ',') + '\n').repeated(20);
        const QStringList two = {"--temperatures", "2"};
        QTest::newRow("temperature-zero") << QStringList {"--temperatures", "0"} << "" << QByteArray("--temperatures: '0'");
        QTest::newRow("temperature-negative-in-list")
            << QStringList {"--temperatures", "2, -1"} << "" << QByteArray("--temperatures: '-1'");
        QTest::newRow("temperature-not-a-number")
            << QStringList {"--temperatures", "2.x"} << "" << QByteArray("--temperatures: '2.x' is not a number");
        QTest::newRow("range-step-zero")
            << QStringList {"--temperatures", "1.5:3.5:0"} << "" << QByteArray("has a step of 0");
        QTest::newRow("range-step-wrong-sign")
            << QStringList {"--temperatures", "3.5:1.5:0.1"} << "" << QByteArray("the step must be negative");
        QTest::newRow("range-step-too-fine")
            << QStringList {"--temperatures", "1:1.00000000000001:1e-15"} << "" << QByteArray("it gives 1 twice");
        QTest::newRow("sweeps-zero") << two + QStringList {"--sweeps", "0"} << "" << QByteArray("--sweeps: '0'");
        QTest::newRow("unknown-option") << two + QStringList {"--sweep", "5"} << "" << QByteArray("unknown option '--sweep'");
        QTest::newRow("factor-file-1-line") << two + QStringList {"--factors", "F"} << good.left(20)
                                            << QByteArray("f.txt:2:1: the file ends after 1 line;");
        QTest::newRow("factor-file-19-lines") << two + QStringList {"--factors", "F"} << good.left(good.size() - 20)
                                              << QByteArray("f.txt:20:1: ");
        QString extra = good;
        extra.insert(2 * 20 + 19, QStringLiteral(",2"));
        QTest::newRow("factor-file-21-fields") << two + QStringList {"--factors", "F"} << extra
                                               << QByteArray("f.txt:3:21: ");
        QTest::newRow("factor-file-missing") << two + QStringList {"--factors", "F", "--output", "O"} << QString()
                                             << QByteArray("nothing.txt: cannot be read: No such file or directory");
        QTest::newRow("factor-file-in-window") << QStringList {"window", "--factors", "F"} << good.left(good.size() - 20)
                                               << QByteArray("f.txt:20:1: the file ends after 19 lines");
        QTest::newRow("unwritable-output") << two + QStringList {"--output", "/nonexistent/o.csv"} << ""
                                           << QByteArray("--output: cannot write /nonexistent/o.csv");
        QTest::newRow("unwritable-plot") << two + QStringList {"--plot", "/nonexistent/p.png", "--output", "O"} << ""
                                         << QByteArray("--plot: cannot write /nonexistent/p.png");
        QTest::newRow("plot-unknown-kind") << two + QStringList {"--plot", "p.gif"} << "" << QByteArray("--plot: 'p.gif'");
        QTest::newRow("write-factors-bad-pattern") << QStringList {"--write-factors", "gradient:1"} << ""
                                                   << QByteArray("--write-factors: 'gradient' takes two factors");
        QTest::newRow("same-output-and-plot") << two + QStringList {"--output", "S", "--plot", "S"} << ""
                                              << QByteArray("--output and --plot name the same file");
        QTest::newRow("same-factors-and-output") << two + QStringList {"--factors", "F", "--output", "F"} << good
                                                 << QByteArray("--output and --factors name the same file");
        QTest::newRow("same-factors-and-plot-by-link") << two + QStringList {"--factors", "F", "--plot", "L"} << good
                                                       << QByteArray("--plot and --factors name the same file");
        QTest::newRow("help-into-full-device") << QStringList {"--help", ">", "/dev/full"} << ""
                                               << QByteArray("cannot write standard output: No space left on device");
        QTest::newRow("version-into-full-device") << QStringList {"--version", ">", "/dev/full"} << ""
                                                  << QByteArray("cannot write standard output");
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, fileText);
        QFETCH(QByteArray, named);
        clean();
        const QString factors = path(fileText.isNull() ? "nothing.txt" : "f.txt");
        if (!fileText.isNull()) {
            QFile f(factors);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(fileText.toUtf8());
        }
        QFile::link(factors, path("link.png"));
        How how;
        if (args.value(0) == "window")
            how.program = QStringLiteral(FERROGRID), args.removeFirst();
        if (args.size() >= 2 && args[args.size() - 2] == ">")
            how.stdoutFile = args.takeLast(), args.removeLast();
        for (QString &a : args)
            a = a == "F" ? factors : a == "O" ? path("o.csv") : a == "S" ? path("same.png") : a == "L" ? path("link.png") : a;
        const Run r = run(args, how);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(named), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(!QFile::exists(path("o.csv")) && !QFile::exists(path("same.png"))); // no partial table or figure
        if (!fileText.isNull()) {
            QFile f(factors);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(f.readAll()), fileText);
        }
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
