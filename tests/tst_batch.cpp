// ferrogrid-batch as a user runs it: arguments in, CSV, plot, messages and
// exit status out.
#include "analysis/exactenergy.h"
#include "batch/run.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cmath>
#include <cstring>
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
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // as under cron or Slurm
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
                          "acceptance_error,energy_autocorrelation_time,exact_energy,size,algorithm,"
                          "susceptibility_full,susceptibility_full_error,binder_cumulant,binder_cumulant_error,"
                          "abs_magnetization_autocorrelation_time,exact_specific_heat,mean_cluster_size,equilibrate,"
                          "start,factors,version,stream,point,points,warnings,correlation_length,correlation_length_error,"
                          "correlation_length_over_size,correlation_length_over_size_error,run";

// The entry of `option` in --help ("--sweeps"), its lines joined by blanks.
QByteArray helpEntry(const QByteArray &option)
{
    static const QByteArrayList lines = run({"--help"}).out.split('\n');
    QByteArray entry;
    for (const QByteArray &line : lines) {
        if (!entry.isEmpty() && !line.startsWith("   "))
            return entry;
        if (!entry.isEmpty())
            entry += ' ' + line.trimmed();
        else if (line.startsWith("  " + option + " "))
            entry = line.trimmed();
    }
    return entry;
}

// Columns of the table by name.
int col(const char *name)
{
    return int(Header.split(',').indexOf(name));
}

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
    // Run as under cron or Slurm, without XDG_RUNTIME_DIR: nothing of the
    // toolkit's own on standard error.
    void sweepGivesTableAndPlot()
    {
        const Run r = run({"--temperatures", "2.0, 3.0", "--equilibrate", "500", "--sweeps", "20000", "--seed", "5",
                           "--output", path("t.csv"), "--plot", path("t.png")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        QFile file(path("t.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArrayList> table = rows(file.readAll());
        QCOMPARE(table.value(0).join(','), Header);
        QCOMPARE(table.size(), 3);
        for (int i = 1; i <= 2; ++i) {
            const QByteArrayList &row = table[i];
            QCOMPARE(row.size(), 37);
            QCOMPARE(row.mid(col("point"), 2), QByteArrayList({QByteArray::number(i - 1), "2"}));
            QCOMPARE(row.mid(col("size"), 2), QByteArrayList({"20", "metropolis"}));
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

    // A factor of 2 everywhere at T = 1 is the uniform lattice at T = 2: the
    // same stream makes the same moves, so every measured column is the same,
    // the specific heat and susceptibilities taken at T F, the exact columns
    // those of T F. Factors that differ have no single temperature: C and chi
    // stay empty, as does the exact energy.
    void factorRunIsTheRunAtTF()
    {
        QCOMPARE(run({"--write-factors", "uniform:2", "--output", path("two.txt")}).exitCode, 0);
        QCOMPARE(run({"--write-factors", "stripe:2", "--output", path("stripe.txt")}).exitCode, 0);
        const QStringList common = {"--equilibrate", "200", "--sweeps", "3000", "--seed", "9"};
        const Run factored = run(common + QStringList {"--temperatures", "1", "--factors", path("two.txt")});
        const Run plain = run(common + QStringList {"--temperatures", "2"});
        const Run striped = run(common + QStringList {"--temperatures", "1", "--factors", path("stripe.txt")});
        QCOMPARE(factored.exitCode, 0);
        const QByteArrayList f = rows(factored.out).value(1), p = rows(plain.out).value(1),
                             s = rows(striped.out).value(1);
        for (const char *c : {"energy", "specific_heat", "specific_heat_error", "susceptibility", "susceptibility_full",
                              "binder_cumulant", "exact_energy", "exact_specific_heat"}) {
            QVERIFY2(!p[col(c)].isEmpty() && f[col(c)] == p[col(c)], c);
            QCOMPARE(s[col(c)].isEmpty(), QByteArray(c) != "energy" && QByteArray(c) != "binder_cumulant");
        }
        QVERIFY(std::fabs(p[col("exact_energy")].toDouble() - ferro::exactEnergy(20, 20, 2.0)) < 1e-9);
        QCOMPARE(f[col("factors")], QFile::encodeName(path("two.txt")));
    }

    // Runs from T = Infinity at T = 0.4 either reach the ground state (E =
    // -2) or stick in stripes near -1.8: every stuck run, and only those,
    // says so on standard error and in its warnings field.
    void stuckRunWarns()
    {
        const Run r = run({"--temperatures", "0.4,0.4,0.4,0.4,0.4,0.4,0.4,0.4", "--start", "infinity", "--equilibrate",
                           "1000", "--sweeps", "1000", "--seed", "11"});
        QCOMPARE(r.exitCode, 0);
        int stuck = 0;
        for (const QByteArrayList &row : rows(r.out).mid(1)) {
            const bool isStuck = row[col("energy")].toDouble() > -1.99;
            stuck += isStuck;
            QCOMPARE(row[col("warnings")].contains("off-exact"), isStuck);
        }
        QVERIFY2(stuck > 0 && stuck < 8, r.out.constData());
        QCOMPARE(r.err.count("metastable"), stuck);
    }

    // --stream runs a point of a list alone and gives its row: the same in
    // every column but point, points and run, which say it is the one point
    // of its own run.
    void streamRepeatsARowAlone_data()
    {
        QTest::addColumn<QString>("algorithm");
        QTest::newRow("metropolis") << "metropolis";
        QTest::newRow("checkerboard") << "checkerboard";
    }
    void streamRepeatsARowAlone()
    {
        QFETCH(QString, algorithm);
        const Run list = run({"--size", "8,12", "--temperatures", "2.2, 2.6", "--sweeps", "2000", "--seed", "5",
                              "--algorithm", algorithm});
        QCOMPARE(list.exitCode, 0);
        QByteArrayList row = rows(list.out).value(1 + 3);
        QCOMPARE(row.mid(col("size"), 1), QByteArrayList {"12"});
        const Run alone = run({"--size", "12", "--temperatures", "2.6", "--sweeps", "2000", "--seed", "5", "--stream",
                               row[col("stream")], "--algorithm", algorithm});
        QCOMPARE(alone.exitCode, 0);
        row[col("point")] = "0";
        row[col("points")] = "1";
        const QByteArray own = alone.out.split('\n').value(1);
        QVERIFY(own.split(',').value(col("run")) != row[col("run")]);
        row[col("run")] = own.split(',').value(col("run"));
        QCOMPARE(own, row.join(','));
    }

    // Other sizes against their exact answer, with either update: the
    // energy and specific heat within 3 errors of the exact columns, which
    // hold the values of the row's size; the Binder cumulant near 2/3 when
    // ordered and near 0 when disordered; a sweep flips L^2 spins (on
    // average, for Wolff), so its autocorrelation times stay a few sweeps.
    void otherSizes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("size");
        QTest::newRow("metropolis-8") << QStringList {"--size", "8", "--temperatures", "2.0,2.4"} << 8;
        QTest::newRow("wolff-8") << QStringList {"--size", "8", "--temperatures", "2.0,2.4", "--algorithm", "wolff"} << 8;
        QTest::newRow("wolff-16-binder") << QStringList {"--size", "16", "--temperatures", "1.5,2.27,5", "--algorithm", "wolff"} << 16;
        QTest::newRow("metropolis-8-hot") << QStringList {"--size", "8", "--temperatures", "1000"} << 8;
        QTest::newRow("wolff-32-hot") << QStringList {"--size", "32", "--temperatures", "1000", "--algorithm", "wolff"} << 32;
        QTest::newRow("checkerboard-8") << QStringList {"--size", "8", "--temperatures", "2.0,2.4", "--algorithm", "checkerboard"} << 8;
        QTest::newRow("checkerboard-66") << QStringList {"--size", "66", "--temperatures", "1.5,2.27,5", "--algorithm", "checkerboard"} << 66;
    }
    void otherSizes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, size);
        const Run r = run(args + QStringList {"--sweeps", "20000", "--seed", "3"});
        QCOMPARE(r.exitCode, 0);
        const bool wolff = args.contains("wolff");
        for (const QByteArrayList &row : rows(r.out).mid(1)) {
            const double T = row[0].toDouble();
            const auto near = [&](const char *c, const char *e, double exact) {
                QVERIFY2(std::fabs(row[col(e)].toDouble() - exact) < 1e-9 * std::fabs(exact), e);
                QVERIFY2(std::fabs(row[col(c)].toDouble() - exact) < 3 * row[col(c) + 1].toDouble(), row.join(',').constData());
            };
            near("energy", "exact_energy", ferro::exactEnergy(size, size, T));
            near("specific_heat", "exact_specific_heat", ferro::exactSpecificHeat(size, size, T));
            QCOMPARE(row[col("acceptance")].isEmpty(), wolff);
            QCOMPARE(row[col("mean_cluster_size")].isEmpty(), !wolff);
            const double binder = row[col("binder_cumulant")].toDouble();
            if (T < 2)
                QVERIFY2(std::fabs(binder - 2.0 / 3) < 0.01, row.join(',').constData());
            if (T > 4)
                QVERIFY2(std::fabs(binder) < 0.1, row.join(',').constData());
            if (wolff)
                QVERIFY2(row[col("energy_autocorrelation_time")].toDouble() < 5, row.join(',').constData());
            // Far above the coupling nearly every attempt flips (clusters are
            // single spins): a sweep of L^2 flips at random sites keeps e^-4
            // of the energy's correlation, tau = 1/2 + e^-4 / (1 - e^-4).
            if (T > 100 && !args.contains("checkerboard")) {
                QVERIFY2(wolff || std::fabs(row[col("acceptance")].toDouble() - 1) < 0.01, row.join(',').constData());
                const double tau = 0.5 + std::exp(-4.0) / (1 - std::exp(-4.0));
                QVERIFY2(std::fabs(row[col("energy_autocorrelation_time")].toDouble() - tau) < 0.05, row.join(',').constData());
            }
        }
    }

    // The checkerboard update measures the Fourier mode too: its correlation
    // length and xi/L agree with Metropolis' at the same size and
    // temperature within three times the errors both report, combined; its curves file
    // carries xi/L. Rows of less than a word of one colour and of a word and
    // one bit (the Metropolis one read off its site codes).
    void checkerboardCorrelationLengthIsMetropolis_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::newRow("L16-T2.27") << 16 << 2.27;
        QTest::newRow("L34-T2.4") << 34 << 2.4;
        QTest::newRow("L130-T2.35") << 130 << 2.35;
    }
    void checkerboardCorrelationLengthIsMetropolis()
    {
        QFETCH(int, size);
        QFETCH(double, temperature);
        QTemporaryDir dir;
        const QString curves = dir.filePath("c.csv");
        const QStringList args {"--size", QString::number(size), "--temperatures", QString::number(temperature),
                                "--sweeps", "20000", "--seed", "9"};
        const Run metropolis = run(args);
        const Run checkerboard = run(args + QStringList {"--algorithm", "checkerboard", "--curves", curves});
        QCOMPARE(metropolis.exitCode, 0);
        QCOMPARE(checkerboard.exitCode, 0);
        const QByteArrayList m = rows(metropolis.out).value(1), c = rows(checkerboard.out).value(1);
        for (const char *column : {"correlation_length", "correlation_length_over_size"}) {
            const int at = col(column);
            QVERIFY2(!c.value(at).isEmpty() && !c.value(at + 1).isEmpty(), c.join(',').constData());
            const double error = std::hypot(m.value(at + 1).toDouble(), c.value(at + 1).toDouble());
            QVERIFY2(std::fabs(m.value(at).toDouble() - c.value(at).toDouble()) < 3 * error,
                     (m.join(',') + "\n" + c.join(',')).constData());
        }
        QFile file(curves);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArrayList> curveRows = rows(file.readAll());
        const int xi = int(curveRows.value(0).indexOf("correlation_length_over_size"));
        QVERIFY(xi >= 0 && curveRows.size() > 1);
        bool own = false;
        for (const QByteArrayList &row : curveRows.mid(1)) {
            QVERIFY2(!row.value(xi).isEmpty(), row.join(',').constData());
            // Reweighted to its own temperature: the table's value, up to the histogram's binning.
            if (std::fabs(row.value(1).toDouble() - temperature) < 1e-9) {
                own = true;
                const int at = col("correlation_length_over_size");
                QVERIFY2(std::fabs(row.value(xi).toDouble() - c.value(at).toDouble()) < 0.5 * c.value(at + 1).toDouble(),
                         (row.join(',') + "\n" + c.join(',')).constData());
            }
        }
        QVERIFY(own);
    }

    void sameSeedSameOutputForAnyJobs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("lines");
        QTest::newRow("table") << QStringList {"--sweeps", "3000"} << 4;
        QTest::newRow("two-sizes") << QStringList {"--sweeps", "2000", "--size", "8,12"} << 7;
        QTest::newRow("wolff") << QStringList {"--sweeps", "2000", "--size", "8", "--algorithm", "wolff"} << 4;
        QTest::newRow("checkerboard") << QStringList {"--sweeps", "2000", "--size", "6,130", "--algorithm", "checkerboard"} << 7;
        // One point of four bands: its bands on one, two and three threads.
        QTest::newRow("checkerboard-one-point-threads")
            << QStringList {"--sweeps", "300", "--size", "1024", "--algorithm", "checkerboard", "--temperatures", "2.27"} << 2;
        QTest::newRow("series") << QStringList {"--sweeps", "30000", "--series", "7"} << 1 + 3 * (1 + 31000 / 7);
    }
    void sameSeedSameOutputForAnyJobs()
    {
        QFETCH(QStringList, args);
        QFETCH(int, lines);
        if (!args.contains("--temperatures"))
            args << "--temperatures" << "1.5:2.5:0.5";
        args << "--start" << "infinity";
        // One job sweeps two points together; two and three sweep them alone.
        const Run one = run(args + QStringList {"--seed", "77", "--jobs", "1"});
        const Run two = run(args + QStringList {"--seed", "77", "--jobs", "2"});
        const Run three = run(args + QStringList {"--seed", "77", "--jobs", "3"});
        const Run other = run(args + QStringList {"--seed", "78", "--jobs", "3"});
        QCOMPARE(one.exitCode, 0);
        QCOMPARE(rows(one.out).size(), lines);
        QCOMPARE(two.out, one.out);
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
        QCOMPARE(table.value(0).join(','), QByteArray("temperature,seed,sweep,energy,magnetization,size,point,stream"));
        QVERIFY2(helpEntry("--series").contains("columns " + table.value(0).join(", ") + " "),
                 helpEntry("--series").constData());
        QCOMPARE(table.size(), 1 + 21); // sweeps 0, 100, ..., 2000
        QCOMPARE(table[1].mid(0, 4), QByteArrayList({"2.27", "3", "0", "-2"})); // the aligned start
        QCOMPARE(table[1].value(5), QByteArray("20"));
        QCOMPARE(std::fabs(table[1][4].toDouble()), 1.0);
        QCOMPARE(table.last()[2], QByteArray("2000"));
    }

    // Each series row names the point, size and stream that made it, as the
    // table of the same run names them, whatever order the points finish
    // in; and a .npy series holds the very rows of the CSV one, read back by
    // the reader below (written from NumPy's description of format 1.0).
    void seriesRowsNameTheirPoint()
    {
        const QStringList args {"--size", "4,6", "--temperatures", "1.5,3", "--equilibrate", "10", "--sweeps",
                                "40", "--seed", "9", "--jobs", "2"};
        const Run series = run(args + QStringList {"--series", "5", "--output", path("s.csv")});
        const Run numpy = run(args + QStringList {"--series", "5", "--output", path("s.npy")});
        const Run table = run(args);
        QCOMPARE(series.exitCode, 0);
        QCOMPARE(numpy.exitCode, 0);
        QFile csvFile(path("s.csv")), npyFile(path("s.npy"));
        QVERIFY(csvFile.open(QIODevice::ReadOnly) && npyFile.open(QIODevice::ReadOnly));
        const QList<QByteArrayList> rowsOut = rows(csvFile.readAll()), tableRows = rows(table.out);
        const QByteArrayList names = rowsOut.value(0);
        QCOMPARE(rowsOut.size(), 1 + 4 * 11);
        QSet<QByteArray> points;
        for (const QByteArrayList &row : rowsOut.mid(1)) {
            const QByteArray point = row.value(names.indexOf("point"));
            points.insert(point);
            const QByteArrayList &made = tableRows.value(1 + point.toInt());
            for (const char *column : {"temperature", "size", "stream"})
                QCOMPARE(row.value(names.indexOf(column)), made.value(col(column)));
        }
        QCOMPARE(points.size(), 4);

        // Format 1.0: "\x93NUMPY", 1, 0, a little-endian 16-bit header length,
        // the header (a dict literal), the records packed.
        const QByteArray npy = npyFile.readAll();
        QVERIFY(npy.startsWith("\x93NUMPY\x01\x00"));
        const int headerLength = quint8(npy[8]) | quint8(npy[9]) << 8;
        const QByteArray header = npy.mid(10, headerLength);
        QCOMPARE((10 + headerLength) % 64, 0);
        QVERIFY(header.endsWith('\n'));
        const QRegularExpression field("\\('(\\w+)', '<([fiu])8'\\)");
        QStringList fieldNames, kinds;
        for (const QRegularExpressionMatch &m : field.globalMatch(QString::fromLatin1(header)))
            fieldNames << m.captured(1), kinds << m.captured(2);
        QCOMPARE(fieldNames.join(',').toLatin1(), names.join(','));
        QVERIFY(header.contains("'fortran_order': False"));
        const QRegularExpressionMatch shape = QRegularExpression("'shape': \\((\\d+),\\)").match(QString::fromLatin1(header));
        QCOMPARE(shape.captured(1).toInt(), rowsOut.size() - 1);
        const QByteArray records = npy.mid(10 + headerLength);
        QCOMPARE(records.size(), (rowsOut.size() - 1) * 8 * fieldNames.size());
        for (qsizetype r = 1; r < rowsOut.size(); ++r)
            for (qsizetype c = 0; c < fieldNames.size(); ++c) {
                quint64 bits = 0;
                for (int b = 0; b < 8; ++b)
                    bits |= quint64(quint8(records[((r - 1) * fieldNames.size() + c) * 8 + b])) << (8 * b);
                double asDouble;
                std::memcpy(&asDouble, &bits, 8);
                const QByteArray text = rowsOut[r][c];
                if (kinds[c] == "f")
                    QCOMPARE(asDouble, text.toDouble());
                else if (kinds[c] == "u")
                    QCOMPARE(bits, text.toULongLong());
                else
                    QCOMPARE(qint64(bits), text.toLongLong());
            }
    }

    // A measured Wolff sweep flips L^2 spins on average whatever the seed and
    // the equilibration, so the autocorrelation times in sweeps agree (with
    // a whole number of clusters per sweep from the equilibration's mean
    // they fell into 0.93-0.98 and 1.63-1.79 here).
    void wolffSweepsAlikeForEverySeed()
    {
        double shortest = 1e300, longest = 0;
        for (const char *equilibrate : {"2", "20", "200"})
            for (const char *seed : {"1", "2", "3", "4"}) {
                const Run r = run({"--algorithm", "wolff", "--size", "8", "--temperatures", "2.269185314", "--sweeps",
                                   "20000", "--equilibrate", equilibrate, "--seed", seed});
                QCOMPARE(r.exitCode, 0);
                const double tau = rows(r.out).value(1).value(col("energy_autocorrelation_time")).toDouble();
                shortest = std::min(shortest, tau), longest = std::max(longest, tau);
            }
        QVERIFY2(longest < 1.15 * shortest, qPrintable(QStringLiteral("tau %1 to %2").arg(shortest).arg(longest)));
    }

    void versionAndHelp()
    {
        const Run version = run({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("ferrogrid-batch " FERROGRID_VERSION "\n"));
        const Run help = run({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--version"));
        for (const QByteArray &line : help.out.split('\n'))
            QVERIFY2(line.size() <= 80, line.constData());
        const Run h = run({"-h"});
        QCOMPARE(h.exitCode, 0);
        QCOMPARE(h.out, help.out);
    }

    // --help names every option the program takes, and no other: each
    // option of its entries, given alone, is known, and needs a value when
    // the entry shows one; every "--name" in the program's own bytes that
    // it takes has an entry.
    void helpNamesEveryOption()
    {
        const QString help = QString::fromUtf8(run({"--help"}).out);
        QMap<QString, bool> entries; // option: takes a value
        static const QRegularExpression entry(QStringLiteral("^  (?:(-[a-z]), )?(--[a-z][a-z-]*)( \\S)?"),
                                              QRegularExpression::MultilineOption);
        for (const QRegularExpressionMatch &m : entry.globalMatch(help)) {
            entries[m.captured(2)] = m.hasCaptured(3);
            if (m.hasCaptured(1))
                entries[m.captured(1)] = false;
        }
        QVERIFY(entries.size() >= 15);
        QFile program(QStringLiteral(FERROGRID_BATCH));
        QVERIFY(program.open(QIODevice::ReadOnly));
        QSet<QString> names(entries.keyBegin(), entries.keyEnd());
        static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*[a-z]"));
        for (const QRegularExpressionMatch &m : option.globalMatch(QString::fromLatin1(program.readAll())))
            names.insert(m.captured());
        for (const QString &name : names) {
            const Run r = run({name});
            const bool known = r.exitCode == 0 || !r.err.contains("unknown option");
            QVERIFY2(known == entries.contains(name), qPrintable(name + ": " + r.err));
            if (known)
                QVERIFY2(r.err.contains(name.toUtf8() + " needs ") == entries[name], qPrintable(name + ": " + r.err));
        }
    }

    // The defaults --help states are those a run takes: a run without these
    // options writes them in its columns.
    void defaultsAreThoseHelpStates_data()
    {
        QTest::addColumn<QByteArray>("option");
        for (const char *option : {"equilibrate", "sweeps", "size", "start", "algorithm"})
            QTest::newRow(option) << QByteArray(option);
    }
    void defaultsAreThoseHelpStates()
    {
        QFETCH(QByteArray, option);
        static const Run plain = run({"--temperatures", "2.5", "--seed", "1"});
        QCOMPARE(plain.exitCode, 0);
        const QByteArray entry = helpEntry("--" + option);
        static const QRegularExpression stated(QStringLiteral("\\(default ([^)]+)\\)"));
        const QRegularExpressionMatch m = stated.match(QString::fromUtf8(entry));
        QVERIFY2(m.hasMatch(), entry.constData());
        QCOMPARE(rows(plain.out).value(1).value(col(option)), m.captured(1).toUtf8());
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
        QTest::newRow("ctrl-c") << table << SIGINT << 130 << 1 << QByteArray("interrupted: 0 of 2 points finished");
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

    // With several jobs the series of the first point not yet finished is
    // on disk while the run still works (the first point's, or, once that
    // is finished, the next one's); a stop keeps it (SIGTERM: with the later
    // ones' so far), and the temporary files of the later points are never
    // seen in TMPDIR, nor left there.
    void seriesOnDiskWhileRunning_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("mark"); // seen `marks` times on disk while running
        QTest::addColumn<int>("marks");
        QTest::addColumn<int>("signal");
        const QStringList four = {"--temperatures", "2.0,2.2,2.4,2.6", "--size", "64", "--sweeps", "1000000000",
                                  "--series", "1"};
        QTest::newRow("first-point-sigterm") << four << QByteArray("\n2,1,") << 1000 << SIGTERM;
        QTest::newRow("first-point-sigkill") << four << QByteArray("\n2,1,") << 1000 << SIGKILL;
        // The small lattice is done in moments, the large one runs on.
        QTest::newRow("next-point-sigterm")
            << QStringList {"--temperatures", "2.0", "--size", "2,256", "--sweeps", "100000", "--series", "1"}
            << QByteArray(",256,1,") << 10 << SIGTERM;
    }
    void seriesOnDiskWhileRunning()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, mark);
        QFETCH(int, marks);
        QFETCH(int, signal);
        clean();
        QTemporaryDir tmp;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(FERROGRID_BATCH), args + QStringList {"--seed", "1", "--jobs", "2", "--output", path("ser.csv")});
        QVERIFY(p.waitForStarted());
        QFile file(path("ser.csv"));
        QByteArray seen;
        // A bound, not a measure of speed: the rows come within moments.
        for (QDeadlineTimer bound(60000); seen.count(mark) < marks && !bound.hasExpired(); QTest::qWait(50)) {
            QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
            if (file.open(QIODevice::ReadOnly))
                seen = file.readAll(), file.close();
            QVERIFY2(p.state() == QProcess::Running, p.readAllStandardError().constData());
        }
        QVERIFY2(seen.count(mark) >= marks, seen.right(200).constData());
        QVERIFY(p.processId() > 0);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY(seen.startsWith("temperature,seed,sweep,energy,magnetization,size,point,stream\n2,1,0,-2,"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll();
        QVERIFY(kept.startsWith(seen.left(seen.lastIndexOf('\n'))));
        // Stopped by the signal, not finished before it.
        QCOMPARE(p.exitStatus(), signal == SIGKILL ? QProcess::CrashExit : QProcess::NormalExit);
        if (signal == SIGTERM) {
            QCOMPARE(p.exitCode(), 143);
            QVERIFY(kept.endsWith('\n'));
            QVERIFY(kept.contains("\n2.2,1,0,") || kept.contains("\n2,1,100000,"));
        }
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // A series that cannot be kept aside says where it tried.
    void seriesAsideFolderNamed()
    {
        clean();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), path("missing"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(FERROGRID_BATCH), {"--series", "1", "--temperatures", "2.0,2.2", "--sweeps", "20000",
                                                  "--seed", "1", "--jobs", "2", "--output", path("ser.csv")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardError(), "ferrogrid-batch: cannot keep a series aside in a temporary file in "
                                               + QFile::encodeName(path("missing")) + ": No such file or directory\n");
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
        const Run uniform = run({"--temperatures", "2", "--sweeps", "2000", "--seed", "1", "--factors", path("bom.txt")});
        QCOMPARE(uniform.err, QByteArray());
        QVERIFY(!rows(uniform.out).value(1).value(14).isEmpty());

        QFile words(path("words.txt"));
        QVERIFY(words.open(QIODevice::WriteOnly) && words.write("\xEF\xBB\xBF" "1,2x" + line.repeated(20).mid(1)) > 0);
        words.close();
        const QByteArray warning = "warning: " + path("words.txt").toUtf8()
                                   + ":1:3: '2x' is not a complete number; the site's factor becomes 2\n";
        const Run r = run({"--temperatures", "2", "--sweeps", "2000", "--seed", "1", "--factors", path("words.txt")});
        QCOMPARE(r.err, "ferrogrid-batch: " + warning);
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
                said.replace("plot P:", "plot " + QFile::encodeName(path("p." + a.mid(2))) + ":"), a = path("p." + a.mid(2));
        }
        said.replace("write O:", "write " + QFile::encodeName(path("o.csv")) + ":");
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
        QTest::newRow("size-1") << two + QStringList {"--size", "1"} << "" << QByteArray("--size: '1' is not a whole number from 2 to 16384");
        QTest::newRow("size-1025") << two + QStringList {"--size", "1025"} << "" << QByteArray("--size 1025 is more than 1024");
        QTest::newRow("size-list-with-word") << two + QStringList {"--size", "8,x"} << "" << QByteArray("--size: 'x'");
        QTest::newRow("checkerboard-odd-size")
            << two + QStringList {"--algorithm", "checkerboard", "--size", "8,5"} << ""
            << QByteArray("--size 5 is odd, and a torus with odd L has no checkerboard");
        QTest::newRow("size-above-1024-without-checkerboard")
            << two + QStringList {"--size", "2048"} << "" << QByteArray("only with --algorithm checkerboard");
        QTest::newRow("checkerboard-size-above-16384")
            << two + QStringList {"--algorithm", "checkerboard", "--size", "16386"} << "" << QByteArray("--size: '16386'");
        QTest::newRow("checkerboard-with-differing-factors")
            << two + QStringList {"--algorithm", "checkerboard", "--factors", "F"} << QString(good).replace(0, 1, "2,")
            << QByteArray("--algorithm checkerboard: the factors of");
        QTest::newRow("wolff-with-differing-factors")
            << two + QStringList {"--algorithm", "wolff", "--factors", "F"} << QString(good).replace(0, 1, "2,")
            << QByteArray("no single cluster temperature exists");
        QTest::newRow("factor-file-of-20-for-size-8") << two + QStringList {"--size", "8", "--factors", "F"} << good
                                                      << QByteArray("f.txt:1:9: a 9th field; a factor file has 8 lines of 8");
        QTest::newRow("factors-with-sizes") << two + QStringList {"--size", "8,16", "--factors", "F"} << good
                                            << QByteArray("--factors: a factor file is for one size");
        QTest::newRow("stream-with-two-points") << QStringList {"--temperatures", "2,3", "--stream", "5"} << ""
                                                << QByteArray("--stream runs one point alone");
        // Whole numbers in decimal digits alone, for every option that takes one.
        const QList<std::pair<const char *, const char *>> notWhole = {
            {"--size", "1e2"}, {"--size", "8.0"}, {"--equilibrate", "+5"}, {"--sweeps", "1e3"}, {"--series", "1e1"},
            {"--jobs", "2.0"}, {"--seed", "1e3"}, {"--stream", "1e3"}};
        for (const auto &[option, value] : notWhole)
            QTest::addRow("%s-%s", option + 2, value) << two + QStringList {option, value} << ""
                                                      << QByteArray(option) + ": '" + value + "' is not a whole number";
        QTest::newRow("plot-table-with-run-options")
            << QStringList {"--plot-table", "t.csv", "--plot", "S", "--seed", "99", "--algorithm", "wolff"} << ""
            << QByteArray("--seed has no effect with --plot-table");
        QTest::newRow("plot-table-with-output") << QStringList {"--plot-table", "t.csv", "--plot", "S", "--output", "O"}
                                                << "" << QByteArray("--output has no effect with --plot-table");
        QTest::newRow("merge-with-sweeps") << QStringList {"--merge", "a.csv", "b.csv", "--sweeps", "5"} << ""
                                           << QByteArray("--sweeps has no effect with --merge");
        QTest::newRow("merge-with-size") << QStringList {"--size", "8", "--merge", "a.csv", "--output", "O"} << ""
                                         << QByteArray("--size has no effect with --merge");
        QTest::newRow("write-factors-with-temperatures") << two + QStringList {"--write-factors", "uniform:2"} << ""
                                                         << QByteArray("--temperatures has no effect with --write-factors");
        QTest::newRow("write-factors-with-plot") << QStringList {"--write-factors", "uniform:2", "--plot", "S"} << ""
                                                 << QByteArray("--plot has no effect with --write-factors");
        QTest::newRow("two-commands") << QStringList {"--merge", "a.csv", "--write-factors", "uniform:2"} << ""
                                      << QByteArray("--write-factors and --merge go in separate runs");
        QTest::newRow("flag-with-value") << QStringList {"--merge", "a.csv", "--allow-missing=yes"} << ""
                                         << QByteArray("--allow-missing takes no value");
        QTest::newRow("points-over-the-limit")
            << QStringList {"--size", "2,3,4,5,6,7,8,9,10,11,12", "--temperatures", "1:1000.9:0.1"} << ""
            << QByteArray("--size and --temperatures give 11 x 10000 = 110000 points, more than the 100000");
        // At the limit the run goes on, to its first use of a file.
        QTest::newRow("points-at-the-limit")
            << QStringList {"--size", "2,3,4,5,6,7,8,9,10,11", "--temperatures", "1:1000.9:0.1", "--output",
                            "/nonexistent/o.csv"}
            << "" << QByteArray("--output: cannot write /nonexistent/o.csv");
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
        Run r = run(args, how);
        // The toolkit's word on a root shell's missing XDG_RUNTIME_DIR is not ours.
        if (r.err.startsWith("QStandardPaths: "))
            r.err.remove(0, r.err.indexOf('\n') + 1);
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
    // The thresholds of the warnings, each met from both sides: a run of 100
    // autocorrelation times is long enough, one sweep less is short; an
    // energy 5 errors from the exact one is fine, a little more is off (the
    // error never below that of independent sweeps).
    // Started at infinity and measured while the domains still coarsen: the
    // drift inflates the whole run's error, which then hides the distance
    // from the exact energy; the last half's own error does not.
    void relaxingRunIsTold()
    {
        for (const char *seed : {"1", "2", "3"}) {
            const Run r = run({"--size", "128", "--temperatures", "2.0", "--start", "infinity", "--equilibrate", "20",
                               "--sweeps", "300", "--seed", seed});
            QCOMPARE(r.exitCode, 0);
            const QByteArray words = rows(r.out).value(1).value(col("warnings"));
            QVERIFY2(words.contains("off-exact") || words.contains("unequilibrated"), words.constData());
        }
    }

    // Far above the couplings nearly every attempt flips and a sweep of an
    // even number of flips keeps the parity of the down spins: |m| came out
    // 0.254 +- 0.003 at L = 2 where it is 0.375, without a word. The exact
    // columns are filled at any temperature, and a specific heat too small
    // for a double is left empty rather than written 0.
    void extremeTemperatures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("parity"); // said in the warnings column
        QTest::addColumn<QByteArray>("exactEnergy");
        QTest::addColumn<QByteArray>("exactHeat");
        const QStringList hot {"--temperatures", "1e6", "--sweeps", "20000", "--seed", "1"};
        QTest::newRow("L = 2 at T = 1e6") << QStringList {"--size", "2"} + hot << true << QByteArray("-4e-06")
                                          << QByteArray("4e-12");
        QTest::newRow("Wolff, L = 6 at T = 1e6") << QStringList {"--size", "6", "--algorithm", "wolff"} + hot << true
                                                 << QByteArray("-2e-06") << QByteArray("2e-12");
        QTest::newRow("L = 3 at T = 1e6: a sweep flips the parity") << QStringList {"--size", "3"} + hot << false
                                                                    << QByteArray("-2.000002e-06")
                                                                    << QByteArray("2.000004e-12");
        QTest::newRow("L = 16 at T = 0.1: C near 1e-31, not 0")
            << QStringList {"--size", "16", "--temperatures", "0.1", "--sweeps", "200"} << false << QByteArray("-2")
            << QByteArray("1.155104888e-31");
        QTest::newRow("L = 16 at T = 1e300: C below a double") << QStringList {"--size", "16", "--temperatures", "1e300",
                                                                               "--sweeps", "2000"}
                                                               << true << QByteArray("-2e-300") << QByteArray();
    }
    void extremeTemperatures()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, parity);
        QFETCH(QByteArray, exactEnergy);
        QFETCH(QByteArray, exactHeat);
        const Run r = run(args);
        QCOMPARE(r.exitCode, 0);
        const QByteArrayList row = rows(r.out).value(1);
        QCOMPARE(row.value(col("warnings")).split(';').contains("parity"), parity);
        QCOMPARE(r.err.contains("changed parity"), parity);
        QCOMPARE(row.value(col("exact_energy")), exactEnergy);
        QCOMPARE(row.value(col("exact_specific_heat")), exactHeat);
    }

    void warningThresholds_data()
    {
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<double>("tau");
        QTest::addColumn<double>("errors"); // the energy's distance from the exact one, in errors
        QTest::addColumn<bool>("independentOnly"); // the run's own error below that of independent sweeps
        QTest::addColumn<bool>("exactKnown");
        QTest::addColumn<QByteArray>("words");
        // Rows without it leave the last half's energy unknown.
        QTest::addColumn<double>("lateErrors"); // the last half's distance in its own errors
        QTest::newRow("one-sweep-under-100-tau") << 999 << 10.0 << 0.0 << false << true << QByteArray("short") << qQNaN();
        QTest::newRow("exactly-100-tau") << 1000 << 10.0 << 0.0 << false << true << QByteArray() << qQNaN();
        QTest::newRow("just-inside-5-errors") << 1000 << 1.0 << 4.99 << false << true << QByteArray() << qQNaN();
        QTest::newRow("just-outside-5-errors") << 1000 << 1.0 << 5.01 << false << true << QByteArray("off-exact") << qQNaN();
        QTest::newRow("just-outside-5-errors-below") << 1000 << 1.0 << -5.01 << false << true
                                                     << QByteArray("off-exact") << qQNaN();
        QTest::newRow("inside-5-independent-errors") << 1000 << 1.0 << 4.9 << true << true << QByteArray() << qQNaN();
        QTest::newRow("outside-5-independent-errors") << 1000 << 1.0 << 5.1 << true << true
                                                      << QByteArray("off-exact") << qQNaN();
        QTest::newRow("no-exact-energy") << 1000 << 1.0 << 50.0 << false << false << QByteArray() << qQNaN();
        QTest::newRow("last-half-inside-5-of-its-errors") << 1000 << 1.0 << 3.0 << false << true << QByteArray() << 4.9;
        QTest::newRow("last-half-outside-5-of-its-errors") << 1000 << 1.0 << 3.0 << false << true
                                                           << QByteArray("unequilibrated") << 5.1;
        QTest::newRow("last-half-outside-5-of-its-errors-below") << 1000 << 1.0 << -3.0 << false << true
                                                 << QByteArray("unequilibrated") << -5.1;
        QTest::newRow("off-exact-said-once") << 1000 << 1.0 << 6.0 << false << true << QByteArray("off-exact") << 20.0;
        QTest::newRow("short-and-off") << 500 << 10.0 << 6.0 << false << true << QByteArray("short;off-exact") << qQNaN();
    }
    void warningThresholds()
    {
        QFETCH(int, sweeps);
        QFETCH(double, tau);
        QFETCH(double, errors);
        QFETCH(bool, independentOnly);
        QFETCH(bool, exactKnown);
        QFETCH(QByteArray, words);
        QFETCH(double, lateErrors);
        // L = 8 at T = 2 with C = 0.64: independent sweeps give an error of
        // sqrt(C T^2 / (L^2 sweeps)) in the energy per site.
        const ferro::batch::ExactAnswers exact {2.0, -1.5, 0.64};
        const double independent = std::sqrt(0.64 * 4 / (64.0 * sweeps));
        ferro::batch::Results r;
        r.sweeps = sweeps;
        r.slowestTau = tau;
        r.energy.error = independentOnly ? independent / 10 : 0.01;
        r.energy.mean = exact.energy + errors * (independentOnly ? independent : r.energy.error);
        if (!std::isnan(lateErrors))
            r.energyLastHalf = {exact.energy + lateErrors * 0.02, 0.02}; // above the half's independent error
        const ferro::batch::PointWarnings w = ferro::batch::pointWarnings(8, 2.5, r, exactKnown ? std::optional(exact) : std::nullopt);
        QCOMPARE(QByteArray::fromStdString(w.words), words);
        QCOMPARE(qsizetype(w.lines.size()), words.isEmpty() ? 0 : words.count(';') + 1);
        for (const std::string &line : w.lines)
            QVERIFY2(line.starts_with("ferrogrid-batch: warning: L = 8, T = 2.5: "), line.c_str());
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
