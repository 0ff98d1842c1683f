// ferrogrid-batch as a user runs it: arguments in, CSV, plot, messages and
// exit status out.
#include "analysis/exactenergy.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cmath>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run batch(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FERROGRID_BATCH), args);
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

const QByteArray Header = "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
                          "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,"
                          "acceptance_error,energy_autocorrelation_time,exact_energy,point,points";

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    // Run as under cron or Slurm, without XDG_RUNTIME_DIR: nothing of the
    // toolkit's own on standard error.
    void sweepGivesTableAndPlot()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        const Run run = batch({"--temperatures", "2.0,3.0", "--equilibrate", "500", "--sweeps", "20000", "--seed",
                               "5", "--output", path("t.csv"), "--plot", path("t.png")},
                              env);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray());
        QFile file(path("t.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArrayList> table = rows(file.readAll());
        QCOMPARE(table.value(0).join(','), Header);
        QCOMPARE(table.size(), 3);
        for (int r = 1; r <= 2; ++r) {
            const QByteArrayList &row = table[r];
            QCOMPARE(row.size(), 17);
            QCOMPARE(row.mid(15), QByteArrayList({QByteArray::number(r - 1), "2"}));
            const double T = row[0].toDouble();
            QCOMPARE(T, r == 1 ? 2.0 : 3.0);
            QCOMPARE(row[1], QByteArray("20000"));
            QCOMPARE(row[2], QByteArray("5"));
            const double energy = row[3].toDouble(), error = row[4].toDouble(), exact = row[14].toDouble();
            QVERIFY(std::fabs(exact - ferro::exactEnergy(20, 20, T)) < 1e-12);
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
        }
        QImage plot(path("t.png"));
        QCOMPARE(plot.isNull(), false);
    }

    // A factor of 2 everywhere at T = 1 is the uniform lattice at T = 2; no
    // exact column, as not every factor is 1.
    void factorFileDoublesTemperature()
    {
        QCOMPARE(batch({"--write-factors", "uniform:2", "--output", path("two.txt")}).exitCode, 0);
        const Run run = batch({"--temperatures", "1", "--factors", path("two.txt"), "--equilibrate", "500",
                               "--sweeps", "20000", "--seed", "9"});
        QCOMPARE(run.exitCode, 0);
        const QByteArrayList row = rows(run.out).value(1);
        QCOMPARE(row.size(), 17);
        QCOMPARE(row[14], QByteArray());
        QVERIFY2(std::fabs(row[3].toDouble() - ferro::exactEnergy(20, 20, 2.0)) < 4 * row[4].toDouble() + 0.002,
                 row.join(',').constData());
    }

    void sameSeedSameOutputForAnyJobs()
    {
        const QStringList args = {"--temperatures", "1.5:2.5:0.5", "--sweeps", "3000", "--start", "infinity"};
        const Run one = batch(args + QStringList {"--seed", "77", "--jobs", "1"});
        const Run two = batch(args + QStringList {"--seed", "77", "--jobs", "2"});
        const Run other = batch(args + QStringList {"--seed", "78", "--jobs", "2"});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(rows(one.out).size(), 4);
        QCOMPARE(two.out, one.out);
        QVERIFY(other.out != one.out);
    }

    void seriesEveryKSweeps()
    {
        const Run run = batch({"--temperatures", "2.5", "--equilibrate", "50", "--sweeps", "100", "--series", "10",
                               "--seed", "3"});
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArrayList> table = rows(run.out);
        QCOMPARE(table.value(0).join(','), QByteArray("temperature,seed,sweep,energy,magnetization"));
        QCOMPARE(table.size(), 1 + 16); // sweeps 0, 10, ..., 150
        QCOMPARE(table[1].mid(0, 4), QByteArrayList({"2.5", "3", "0", "-2"})); // the aligned start
        QCOMPARE(std::fabs(table[1][4].toDouble()), 1.0);
        QCOMPARE(table.last()[2], QByteArray("150"));
    }

    void interruptedRunSaysSo()
    {
        QProcess p;
        p.start(QStringLiteral(FERROGRID_BATCH),
                {"--temperatures", "2,3", "--sweeps", "1000000000", "--seed", "1", "--jobs", "1"});
        QVERIFY(p.waitForReadyRead(20000)); // the header: the run has begun
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 130);
        QCOMPARE(p.readAllStandardOutput().trimmed(), Header);
        QVERIFY(p.readAllStandardError().contains("interrupted: 0 of 2 temperatures finished"));
    }

    // The window program reads the same files, and refuses a bad one
    // before opening any window.
    void windowRefusesBadFactorFile()
    {
        QFile f(path("w.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(",,,,,,,,,,,,,,,,,,,\n").repeated(19));
        f.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(FERROGRID), {"--factors", path("w.txt")});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("w.txt:20:1: the file ends after 19 lines"));
    }

    // Both programs read factor files with one reader: a byte-order mark is
    // skipped (every factor 1: the exact column is there), and a text that
    // is not a number gets the same warning from each.
    void bothProgramsReadFactorFilesAlike()
    {
        const QByteArray line = QByteArray(19, ',') + "\n";
        QFile ones(path("bom.txt"));
        QVERIFY(ones.open(QIODevice::WriteOnly) && ones.write("\xEF\xBB\xBF" "1" + line.repeated(20)) > 0);
        ones.close();
        const Run uniform = batch({"--temperatures", "2", "--sweeps", "100", "--factors", path("bom.txt")});
        QCOMPARE(uniform.err, QByteArray());
        QVERIFY(!rows(uniform.out).value(1).value(14).isEmpty());

        QFile words(path("words.txt"));
        QVERIFY(words.open(QIODevice::WriteOnly) && words.write("\xEF\xBB\xBF" "1,2x" + line.repeated(20).mid(1)) > 0);
        words.close();
        const QByteArray warning = "warning: " + path("words.txt").toUtf8()
                                   + ":1:3: '2x' is not a complete number; the site's factor becomes 2\n";
        const Run run = batch({"--temperatures", "2", "--sweeps", "100", "--factors", path("words.txt")});
        QCOMPARE(run.err, "ferrogrid-batch: " + warning);
        QProcess window;
        window.setProcessChannelMode(QProcess::MergedChannels);
        window.start(QStringLiteral(FERROGRID), {"--factors", path("words.txt"), "-platform", "offscreen"});
        QByteArray said = "\n";
        while (!said.contains("\nferrogrid: " + warning) && window.waitForReadyRead(20000))
            said += window.readAll();
        window.kill();
        window.waitForFinished();
        QVERIFY2(said.contains("\nferrogrid: " + warning), said.constData());
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("fileText");
        QTest::addColumn<QByteArray>("named");
        const QString good = (QString(19, ',') + '\n').repeated(20);
        QTest::newRow("temperature-zero") << QStringList {"--temperatures", "0"} << "" << QByteArray("--temperatures: '0'");
        QTest::newRow("temperature-negative-in-list")
            << QStringList {"--temperatures", "2,-1"} << "" << QByteArray("--temperatures: '-1'");
        QTest::newRow("temperature-not-a-number")
            << QStringList {"--temperatures", "2.x"} << "" << QByteArray("--temperatures: '2.x' is not a number");
        QTest::newRow("range-step-zero")
            << QStringList {"--temperatures", "1.5:3.5:0"} << "" << QByteArray("has a step of 0");
        QTest::newRow("range-step-wrong-sign")
            << QStringList {"--temperatures", "3.5:1.5:0.1"} << "" << QByteArray("the step must be negative");
        QTest::newRow("sweeps-zero") << QStringList {"--temperatures", "2", "--sweeps", "0"} << ""
                                     << QByteArray("--sweeps: '0'");
        QTest::newRow("unknown-option") << QStringList {"--temperatures", "2", "--sweep", "5"} << ""
                                        << QByteArray("unknown option '--sweep'");
        QTest::newRow("factor-file-19-lines") << QStringList {"--temperatures", "2", "--factors", "F"}
                                              << good.left(good.size() - 20) << QByteArray("f.txt:20:1: ");
        QString extra = good;
        extra.insert(2 * 20 + 19, QStringLiteral(",2"));
        QTest::newRow("factor-file-21-fields")
            << QStringList {"--temperatures", "2", "--factors", "F"} << extra << QByteArray("f.txt:3:21: ");
        QTest::newRow("factor-file-missing")
            << QStringList {"--temperatures", "2", "--factors", "F", "--output", "O"} << QString()
            << QByteArray("nothing.txt: cannot be read");
        QTest::newRow("unwritable-output") << QStringList {"--temperatures", "2", "--output", "/nonexistent/o.csv"}
                                           << "" << QByteArray("--output: cannot write /nonexistent/o.csv");
        QTest::newRow("unwritable-plot")
            << QStringList {"--temperatures", "2", "--plot", "/nonexistent/p.png", "--output", "O"}
                                         << "" << QByteArray("--plot: cannot write /nonexistent/p.png");
        QTest::newRow("plot-unknown-kind") << QStringList {"--temperatures", "2", "--plot", "p.gif"} << ""
                                           << QByteArray("--plot: 'p.gif'");
        QTest::newRow("write-factors-bad-pattern") << QStringList {"--write-factors", "gradient:1"} << ""
                                                   << QByteArray("--write-factors: 'gradient' takes two factors");
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, fileText);
        QFETCH(QByteArray, named);
        const QString factors = path(fileText.isNull() ? "nothing.txt" : "f.txt");
        QFile::remove(path("f.txt"));
        QFile::remove(path("o.csv"));
        if (!fileText.isNull()) {
            QFile f(factors);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(fileText.toUtf8());
        }
        for (QString &a : args)
            a = a == "F" ? factors : a == "O" ? path("o.csv") : a;
        const Run run = batch(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(named), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(run.out, QByteArray());
        QVERIFY(!QFile::exists(path("o.csv"))); // no partial table
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
