// A run split into shares, as a cluster's array job runs it: the shares'
// tables merged, in any order, are the whole run's table, and the figure of a
// saved table is the run's own figure.
#include "batch/shard.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <numeric>
#include <sys/resource.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// With a file size limit, a write beyond it fails as on a full disk.
Run batch(const QStringList &args, rlim_t fileSizeLimit = 0)
{
    QProcess p;
    if (fileSizeLimit > 0)
        p.setChildProcessModifier([fileSizeLimit] {
            const rlimit r {fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &r);
            std::signal(SIGXFSZ, SIG_IGN);
        });
    p.start(QStringLiteral(FERROGRID_BATCH), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The run the shares split: 2 sizes and 5 temperatures.
const QStringList RunArgs = {"--size", "8,12", "--temperatures", "1.5:2.5:0.25", "--equilibrate", "100", "--sweeps",
                             "1000", "--seed", "31"};
constexpr int Shares = 3;

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// The share of every point, straight from the rule: the points by decreasing
// cost (the lower first among equals), each to the share that costs least so
// far (the lower among equals), looked for among all the shares every time.
std::vector<std::size_t> owners(const std::vector<double> &cost, std::size_t shares)
{
    std::vector<std::size_t> order(cost.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cost[a] > cost[b]; });
    std::vector<double> load(shares, 0.0);
    std::vector<std::size_t> owner(cost.size());
    for (const std::size_t p : order) {
        std::size_t least = 0;
        for (std::size_t k = 1; k < shares; ++k)
            if (load[k] < load[least])
                least = k;
        load[least] += cost[p];
        owner[p] = least;
    }
    return owner;
}

// Whether the process catches `signal` (it has set a handler for it).
bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

} // namespace

class TestShard : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QByteArray m_whole;
    QByteArrayList m_lines; // of the whole run's table, header first
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString share(int k) const { return path(QStringLiteral("share-%1.csv").arg(k)); }
    // The whole table without the row of point `point`, and that point's
    // name as a message gives it ("point 3 of 5").
    QByteArray without(int point) const
    {
        QByteArrayList lines = m_lines;
        lines.removeAt(1 + point);
        return lines.join('\n') + '\n';
    }
    // The whole table with one field of the row of `point` (-1: the header)
    // set to `text`.
    QByteArray withField(int point, const char *column, const QByteArray &text) const
    {
        QByteArrayList lines = m_lines;
        QByteArrayList fields = lines[1 + point].split(',');
        fields[m_lines[0].split(',').indexOf(column)] = text;
        lines[1 + point] = fields.join(',');
        return lines.join('\n') + '\n';
    }
    // The whole table with a factors field of `text` in every row.
    QByteArray withFactors(const QByteArray &text) const
    {
        QByteArray table = m_lines[0] + '\n';
        const qsizetype at = m_lines[0].split(',').indexOf("factors");
        for (const QByteArray &line : m_lines.mid(1)) {
            QByteArrayList fields = line.split(',');
            fields[at] = text;
            table += fields.join(',') + '\n';
        }
        return table;
    }
    QByteArray pointName(int point) const
    {
        return "point " + QByteArray::number(point) + " of " + m_lines.value(1).split(',').value(m_lines.value(0).split(',').indexOf("points"));
    }

private slots:
    void initTestCase()
    {
        const Run whole = batch(RunArgs);
        QCOMPARE(whole.exitCode, 0);
        m_whole = whole.out;
        m_lines = m_whole.trimmed().split('\n');
        QVERIFY(m_lines.size() > Shares + 1);
        for (int k = 0; k < Shares; ++k) {
            const QString kn = QStringLiteral("%1/%2").arg(k).arg(Shares);
            const Run run = batch(RunArgs + QStringList {"--shard", kn, "--output", share(k)});
            QCOMPARE(run.exitCode, 0);
            // No progress bar, one line when the share starts and one when it
            // ends, with its points.
            const QRegularExpression lines("^ferrogrid-batch: share " + kn + ": (\\d+) points? \\([0-9x,]+ T=[0-9.]+\\) started\n"
                                           "(.*\n)*ferrogrid-batch: share " + kn + ": \\1 points? \\([0-9x,]+ T=[0-9.]+\\) "
                                           "finished in 0:\\d\\d\n$");
            const QRegularExpressionMatch said = lines.match(QString::fromUtf8(run.err));
            QVERIFY2(said.hasMatch(), run.err.constData());
            // Its rows are the whole run's, in the whole run's order.
            const QByteArrayList rows = read(share(k)).trimmed().split('\n');
            QCOMPARE(rows.value(0), m_lines[0]);
            QCOMPARE(rows.size() - 1, said.captured(1).toInt());
            qsizetype from = 1;
            for (const QByteArray &row : rows.mid(1)) {
                from = m_lines.indexOf(row, from);
                QVERIFY2(from > 0, row.constData());
            }
        }
    }

    // The split of many points, share by share, as the rule gives it.
    void splitFollowsTheRule_data()
    {
        QTest::addColumn<QList<double>>("costs");
        QTest::addColumn<int>("shares");
        QList<double> sizes; // L = 2 .. 60 at 40 temperatures, as a run of several sizes has them
        for (int side = 2; side <= 60; ++side)
            for (int t = 0; t < 40; ++t)
                sizes.append(ferro::batch::pointCost(side, 1100));
        QTest::newRow("sizes-in-7-shares") << sizes << 7;
        QTest::newRow("sizes-in-1000-shares") << sizes << 1000;
        QTest::newRow("more-shares-than-points") << sizes.mid(0, 300) << 1000;
        QTest::newRow("one-share") << sizes << 1;
        QList<double> ties; // few distinct costs, zeros among them
        for (int p = 0; p < 5000; ++p)
            ties.append(double((p * 7919) % 5));
        QTest::newRow("ties-and-zeros-in-13-shares") << ties << 13;
        QTest::newRow("all-equal-in-64-shares") << QList<double>(3000, 2.5) << 64;
        QList<double> uneven;
        quint64 x = 12345;
        for (int p = 0; p < 20000; ++p) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            uneven.append(double(x >> 11) / 9007199254740992.0 * 1000);
        }
        QTest::newRow("uneven-in-97-shares") << uneven << 97;
    }
    void splitFollowsTheRule()
    {
        QFETCH(QList<double>, costs);
        QFETCH(int, shares);
        const std::vector<double> cost(costs.begin(), costs.end());
        const std::vector<std::size_t> owner = owners(cost, std::size_t(shares));
        std::vector<std::vector<std::size_t>> expected(static_cast<std::size_t>(shares));
        for (std::size_t p = 0; p < owner.size(); ++p)
            expected[owner[p]].push_back(p);
        for (int k = 0; k < shares; ++k)
            QCOMPARE(ferro::batch::sharePoints(cost, {std::size_t(k), std::size_t(shares)}), expected[std::size_t(k)]);
    }

    // A share of a split of very many points into very many shares: the run
    // answers SIGTERM however far it got, in its set-up or its one long point.
    void hugeSplitAnswersSigterm()
    {
        QStringList sizes;
        for (int side = 2; side <= 100; ++side)
            sizes << QString::number(side);
        QProcess p;
        p.start(QStringLiteral(FERROGRID_BATCH),
                {"--size", sizes.join(','), "--temperatures", "0.1:100:0.1", "--sweeps", "1000000000000",
                 "--equilibrate", "0", "--seed", "1", "--shard", "5/1000000", "--output", path("stopped.csv")});
        QVERIFY(p.waitForStarted());
        // Before its handler is set, SIGTERM would end the program outright.
        QTRY_VERIFY_WITH_TIMEOUT(p.state() != QProcess::Running || catches(p.processId(), SIGTERM), 30000);
        QVERIFY2(p.state() == QProcess::Running, p.readAllStandardError().constData());
        p.terminate();
        // A hang check, not a measure of speed.
        QVERIFY2(p.waitForFinished(60000), "SIGTERM left the run going");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 143);
        QVERIFY(p.readAllStandardError().contains("ferrogrid-batch: interrupted"));
        QVERIFY(read(path("stopped.csv")).startsWith("temperature,"));
    }

    void mergeIsTheWholeRun_data()
    {
        QTest::addColumn<QList<int>>("order");
        QList<int> order(Shares);
        std::iota(order.begin(), order.end(), 0);
        do {
            QByteArray name;
            for (int k : order)
                name += QByteArray::number(k);
            QTest::newRow(name.constData()) << order;
        } while (std::next_permutation(order.begin(), order.end()));
    }
    void mergeIsTheWholeRun()
    {
        QFETCH(QList<int>, order);
        QStringList args {"--merge"};
        for (int k : order)
            args << share(k);
        const Run merged = batch(args);
        QCOMPARE(merged.exitCode, 0);
        QCOMPARE(merged.err, QByteArray());
        QCOMPARE(merged.out, m_whole);
    }

    // Shares of other runs with the same seed and settings, whose points
    // happen to fill the gaps: the fingerprint of each row tells them apart.
    // Each share is made by its own run of `args` (F: a factor file, first
    // written as `factors`, rewritten as `refactors` for the shares after
    // the first).
    void otherRunRefused_data()
    {
        QTest::addColumn<QList<QStringList>>("shares");
        QTest::addColumn<QByteArray>("named");
        const QStringList common = {"--sweeps", "200", "--equilibrate", "20", "--seed", "4"};
        const QStringList low = common + QStringList {"--temperatures", "2.0:2.5:0.1", "--size", "8"};
        QTest::newRow("other-temperatures")
            << QList<QStringList> {low + QStringList {"--shard", "0/3"},
                                   common + QStringList {"--temperatures", "3.0:3.5:0.1", "--size", "8", "--shard", "1/3"},
                                   low + QStringList {"--shard", "2/3"}}
            << QByteArray("m1.csv: point 1 (L = 8, T = 3.1): run ");
        const QStringList sizes = common + QStringList {"--temperatures", "2.0:2.5:0.1", "--size", "8,12"};
        QTest::newRow("other-sizes")
            << QList<QStringList> {sizes + QStringList {"--shard", "0/3"},
                                   common + QStringList {"--temperatures", "2.0:2.5:0.1", "--size", "8,16", "--shard", "1/3"},
                                   sizes + QStringList {"--shard", "2/3"}}
            << QByteArray("m1.csv: point 1 (L = 8, T = 2.1): run ");
        QTest::newRow("factor-file-edited")
            << QList<QStringList> {low + QStringList {"--factors", "F", "--shard", "0/3"},
                                   low + QStringList {"--factors", "F", "--shard", "1/3"},
                                   low + QStringList {"--factors", "F", "--shard", "2/3"}}
            << QByteArray("m1.csv: point 1 (L = 8, T = 2.1): run ");
    }
    void otherRunRefused()
    {
        QFETCH(QList<QStringList>, shares);
        QFETCH(QByteArray, named);
        QStringList merge {"--merge"};
        for (qsizetype k = 0; k < shares.size(); ++k) {
            const QString factors = path("f.txt");
            QCOMPARE(batch({"--write-factors", k == 0 ? "uniform:1" : "uniform:3", "--size", "8", "--output", factors}).exitCode, 0);
            QStringList args = shares[k];
            args.replaceInStrings(QRegularExpression("^F$"), factors);
            const QString name = path(QStringLiteral("m%1.csv").arg(k));
            const Run share = batch(args + QStringList {"--output", name});
            QCOMPARE(share.exitCode, 0);
            merge << name;
        }
        QFile::remove(path("o.csv"));
        const Run run = batch(merge + QStringList {"--output", path("o.csv")});
        QCOMPARE(run.exitCode, 2);
        named.replace("DIR", m_dir.path().toUtf8());
        QVERIFY2(run.err.contains(named) && run.err.contains("not the same run"), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY(!QFile::exists(path("o.csv")));
    }

    // A merge onto one of its own inputs: the merged table once all went
    // well, else the input as it was (here a full disk), and never a file
    // left beside it.
    void mergeOntoInput_data()
    {
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("merged") << 0 << 0;
        QTest::newRow("disk-full-keeps-the-input") << 2000 << 2;
    }
    void mergeOntoInput()
    {
        QFETCH(int, fileSizeLimit);
        QFETCH(int, exitCode);
        QTemporaryDir dir;
        const QString first = dir.filePath("first.csv");
        QVERIFY(QFile::copy(share(0), first));
        // The limit lets the input be, and cuts the merged table.
        QVERIFY(fileSizeLimit == 0 || (m_whole.size() > fileSizeLimit && read(first).size() < fileSizeLimit));
        const Run run = batch({"--merge", first, share(1), share(2), "--output", first}, rlim_t(fileSizeLimit));
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(read(first), exitCode == 0 ? m_whole : read(share(0)));
        if (exitCode != 0)
            QCOMPARE(run.err, "ferrogrid-batch: cannot write " + first.toUtf8() + ": File too large (it is left as it was)\n");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"first.csv"});
    }

    void allowMissingSaysWhat()
    {
        write(path("gap.csv"), without(2));
        const Run run = batch({"--merge", path("gap.csv"), "--allow-missing", "--output", path("m.csv")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains(pointName(2) + " is missing"), run.err.constData());
        QCOMPARE(read(path("m.csv")), without(2));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("named");
        const QByteArray why = "is not a share K/N";
        for (const char *bad : {"4/4", "-1/3", "1/0", "x", "1/", "/2"})
            QTest::addRow("shard-%s", bad) << (RunArgs + QStringList {"--shard", bad}) << "--shard: '" + QByteArray(bad) + "' " + why;
        QStringList unseeded = RunArgs;
        unseeded.removeAt(unseeded.indexOf("--seed") + 1);
        unseeded.removeAll("--seed");
        QTest::newRow("shard-without-seed") << (unseeded + QStringList {"--shard", "0/2"})
                                            << QByteArray("--shard needs --seed");
        QTest::newRow("point-missing") << QStringList {"--merge", "GAP"} << QByteArray("--merge: POINT2 is missing");
        QTest::newRow("point-twice") << QStringList {"--merge", "S0", "S1", "S2", "ONE"}
                                     << QByteArray("one.csv: point 1 is also in DIR/share-");
        QTest::newRow("other-seed") << QStringList {"--merge", "S0", "S1", "SEED"}
                                    << QByteArray("seed.csv: point 2: seed 32 where DIR/share-0.csv has seed 31");
        QTest::newRow("other-sweeps") << QStringList {"--merge", "SWEEPS", "S0"}
                                      << QByteArray(": sweeps 1000 where DIR/sweeps.csv has sweeps 999");
        QTest::newRow("old-tables-other-size")
            << QStringList {"--merge", "OLD", "OLDSIZE"}
            << QByteArray("oldsize.csv: point 1 is L = 99, T = 1.75 where DIR/old.csv has L = 8, T = 1.75: not the same run");
        QTest::newRow("other-header") << QStringList {"--merge", "S0", "HEADER"}
                                      << QByteArray("header.csv: its header differs from that of DIR/share-0.csv "
                                                    "(column 5: energy_err where DIR/share-0.csv has energy_error)");
        QTest::newRow("not-a-table") << QStringList {"--merge", "S0", "SERIES"}
                                     << QByteArray("series.csv: its header differs");
        QTest::newRow("merge-nothing") << QStringList {"--merge", "--output", "O"}
                                       << QByteArray("--merge needs the tables");
        QTest::newRow("plot-table-missing-column") << QStringList {"--plot-table", "SERIES", "--plot", "P"}
                                                   << QByteArray("series.csv: no sweeps column");
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, named);
        // Tables of the same run gone wrong, from the whole run's rows.
        QByteArray seed = m_lines[0] + '\n' + m_lines[3] + '\n';
        seed.replace(",31,", ",32,");
        QByteArray sweeps = m_whole;
        sweeps.replace(",1000,31,", ",999,31,");
        write(path("gap.csv"), without(2));
        // Tables of a version before the run column.
        const QByteArray old = QString::fromUtf8(m_whole).replace(QRegularExpression(",(run|[0-9a-f]{16})\n"), "\n").toUtf8();
        QCOMPARE(old.size(), m_whole.size() - 4 - 17 * (m_lines.size() - 1));
        write(path("old.csv"), old);
        QByteArrayList oldLines = old.split('\n');
        QByteArrayList sized = oldLines[2].split(',');
        sized[m_lines[0].split(',').indexOf("size")] = "99";
        write(path("oldsize.csv"), oldLines[0] + '\n' + sized.join(',') + '\n');
        write(path("one.csv"), m_lines[0] + '\n' + m_lines[2] + '\n');
        write(path("seed.csv"), seed);
        write(path("sweeps.csv"), sweeps);
        write(path("header.csv"), QByteArray(m_whole).replace("energy_error", "energy_err"));
        write(path("series.csv"), "temperature,seed,sweep,energy,magnetization\n2,31,0,-2,1\n");
        named.replace("POINT2", pointName(2)).replace("DIR", m_dir.path().toUtf8());
        for (QString &a : args) {
            if (a.size() == 2 && a[0] == 'S' && a[1].isDigit())
                a = share(a[1].digitValue());
            else if (a == "O" || a == "P")
                a = path(a == "O" ? "o.csv" : "p.svg");
            else if (a == a.toUpper() && a[0].isLetter())
                a = path(a.toLower() + ".csv");
        }
        QFile::remove(path("o.csv"));
        QFile::remove(path("p.svg"));
        // A figure's command takes no --output.
        const Run run = batch(args + (args.contains("--plot-table") ? QStringList() : QStringList {"--output", path("o.csv")}));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(named), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(run.out, QByteArray());
        QVERIFY(!QFile::exists(path("o.csv")));
        QVERIFY(!QFile::exists(path("p.svg")));
    }

    // A file that no table can be is refused at its first impossible byte,
    // however long it is, with one line naming the file and the line.
    void impossibleTableRefused_data()
    {
        QTest::addColumn<QString>("command"); // --merge or --plot-table
        QTest::addColumn<QByteArray>("table"); // empty: /dev/zero
        QTest::addColumn<QByteArray>("named");
        const QByteArray name = QByteArray(4097, 'n');
        QTest::newRow("merge-endless-zeros") << "--merge" << QByteArray() << QByteArray("/dev/zero:1: a NUL byte");
        QTest::newRow("plot-endless-zeros") << "--plot-table" << QByteArray() << QByteArray("/dev/zero:1: a NUL byte");
        QTest::newRow("merge-name-a-byte-too-long")
            << "--merge" << withFactors(name) << QByteArray("t.csv:2: the factors field is longer than 4096 bytes");
        QTest::newRow("plot-name-a-byte-too-long")
            << "--plot-table" << withFactors(name) << QByteArray("t.csv:2: the factors field is longer than 4096 bytes");
        QTest::newRow("merge-number-a-byte-too-long")
            << "--merge" << withField(3, "temperature", "2." + QByteArray(31, '0'))
            << QByteArray("t.csv:5: the temperature field is longer than 32 bytes");
        QTest::newRow("merge-field-beyond-header")
            << "--merge" << withField(1, "warnings", "short,x") << QByteArray("t.csv:3: more fields than the 37 of the header");
        QTest::newRow("merge-column-name-too-long")
            << "--merge" << withField(-1, "temperature", QByteArray(65, 't'))
            << QByteArray("t.csv:1: a column name is longer than 64 bytes");
        QTest::newRow("merge-quote-in-number")
            << "--merge" << withField(0, "seed", "3\"1") << QByteArray("t.csv:2: a quote inside the seed field");
        QTest::newRow("merge-ends-in-quotes")
            << "--merge" << m_whole + "\"2" << QByteArray("t.csv:12: the file ends inside a quoted field");
        // A figure draws no number the table does not hold.
        QTest::newRow("plot-temperature-inf")
            << "--plot-table" << withField(2, "temperature", "inf") << QByteArray("t.csv:4: temperature 'inf' is not a finite number");
        QTest::newRow("plot-temperature-nan")
            << "--plot-table" << withField(2, "temperature", "nan") << QByteArray("t.csv:4: temperature 'nan' is not a finite number");
        QTest::newRow("plot-energy-error-inf")
            << "--plot-table" << withField(0, "energy_error", "inf") << QByteArray("t.csv:2: energy_error 'inf'");
        QTest::newRow("plot-binder-minus-inf")
            << "--plot-table" << withField(4, "binder_cumulant", "-inf") << QByteArray("t.csv:6: binder_cumulant '-inf'");
        QTest::newRow("plot-exact-energy-inf")
            << "--plot-table" << withField(1, "exact_energy", "inf") << QByteArray("t.csv:3: exact_energy 'inf'");
        QTest::newRow("merge-point-twice-in-one-file")
            << "--merge" << withField(3, "point", "1") << QByteArray("t.csv: point 1 is also in DIR/t.csv (twice)");
        QTest::newRow("plot-point-twice")
            << "--plot-table" << withField(3, "point", "1") << QByteArray("t.csv:5: point 1 is also on line 3");
    }
    void impossibleTableRefused()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, named);
        named.replace("DIR", m_dir.path().toUtf8());
        const QString file = table.isEmpty() ? QStringLiteral("/dev/zero") : path("t.csv");
        if (!table.isEmpty())
            write(file, table);
        QFile::remove(path("o.csv"));
        QFile::remove(path("p.png"));
        const QStringList args = command == "--merge" ? QStringList {"--merge", file, "--output", path("o.csv")}
                                                      : QStringList {"--plot-table", file, "--plot", path("p.png")};
        const Run run = batch(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("ferrogrid-batch: " + command.toUtf8() + ": ") && run.err.contains(named),
                 run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY(!QFile::exists(path("o.csv")) && !QFile::exists(path("p.png")));
    }

    // The longest fields a table can hold are merged as they are: a factor
    // file's name of 4096 bytes (the limit counts the name, not its quotes
    // and doubled quotes) and a number of 32.
    void longestFieldsMerged()
    {
        QByteArray table = withFactors("\"a,\"\"" + QByteArray(4093, 'n') + "\"");
        const QByteArray temperature = m_lines[1].left(m_lines[1].indexOf(','));
        table.replace('\n' + temperature + ',', '\n' + temperature.leftJustified(32, '0') + ',');
        QVERIFY(table.contains('\n' + temperature.leftJustified(32, '0') + ','));
        write(path("long.csv"), table);
        const Run run = batch({"--merge", path("long.csv")});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, table);
    }

    // A factor file's name with a comma, a quote or a line end is written
    // quoted, and read back as one field.
    void oddFactorNameReadBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("comma-and-quotes") << "odd,\"name\".txt";
        QTest::newRow("line-end") << "odd\nname.txt";
    }
    void oddFactorNameReadBack()
    {
        QFETCH(QString, name);
        const QString factors = path(name);
        QCOMPARE(batch({"--write-factors", "uniform:1", "--size", "8", "--output", factors}).exitCode, 0);
        const Run own = batch({"--size", "8", "--temperatures", "2,2.5", "--sweeps", "200", "--seed", "3",
                               "--factors", factors, "--output", path("named.csv")});
        QCOMPARE(own.exitCode, 0);
        const Run merged = batch({"--merge", path("named.csv")});
        QCOMPARE(merged.err, QByteArray());
        QCOMPARE(merged.out, read(path("named.csv")));
        const Run plot = batch({"--plot-table", path("named.csv"), "--plot", path("named.svg")});
        QCOMPARE(plot.exitCode, 0);
        QVERIFY(read(path("named.svg")).contains("factors from"));
    }

    // Shares saved with CR LF line ends or a byte-order mark (an editor's
    // doing) merge as the shares themselves do, into the program's own table.
    void sharesOfOtherLineEndsMerged_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::newRow("crlf") << QByteArray() << QByteArray("\r\n");
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF") << QByteArray("\n");
        QTest::newRow("bom-and-crlf") << QByteArray("\xEF\xBB\xBF") << QByteArray("\r\n");
        QTest::newRow("cr") << QByteArray() << QByteArray("\r");
    }
    void sharesOfOtherLineEndsMerged()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, lineEnd);
        write(path("edited.csv"), start + read(share(1)).replace("\n", lineEnd));
        const Run run = batch({"--merge", share(0), path("edited.csv"), share(2)});
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, m_whole);
        // Its figure is that of the table as the run wrote it.
        write(path("whole.csv"), m_whole);
        write(path("edited.csv"), start + QByteArray(m_whole).replace("\n", lineEnd));
        QCOMPARE(batch({"--plot-table", path("whole.csv"), "--plot", path("whole.svg")}).exitCode, 0);
        QCOMPARE(batch({"--plot-table", path("edited.csv"), "--plot", path("edited.svg")}).exitCode, 0);
        QCOMPARE(read(path("edited.svg")), read(path("whole.svg")));
    }

    // The figure of a table that lacks points of its run says how many.
    void figureSaysPointsMissing()
    {
        const int lacking = int(read(share(1)).count('\n')) - 1;
        QVERIFY(lacking > 0);
        const Run merged = batch({"--merge", share(0), share(2), "--allow-missing", "--output", path("gap.csv")});
        QCOMPARE(merged.exitCode, 0);
        const Run run = batch({"--plot-table", path("gap.csv"), "--plot", path("gap.svg")});
        QCOMPARE(run.exitCode, 0);
        const QByteArray said = QByteArray::number(lacking) + " of " + QByteArray::number(m_lines.size() - 1)
            + " points missing";
        QVERIFY2(read(path("gap.svg")).contains(said), said.constData());
    }

    // The figure of the merged table is the run's own: the same SVG, the
    // same PNG pixels.
    void plotTableIsTheRunsFigure_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("svg") << "svg";
        QTest::newRow("png") << "png";
    }
    void plotTableIsTheRunsFigure()
    {
        QFETCH(QString, kind);
        const QString own = path("own." + kind), drawn = path("drawn." + kind);
        const Run ownRun = batch(RunArgs + QStringList {"--plot", own});
        QCOMPARE(ownRun.exitCode, 0);
        QStringList merge {"--merge", "--output", path("merged.csv")};
        for (int k = Shares; k-- > 0;)
            merge.insert(1, share(k));
        QCOMPARE(batch(merge).exitCode, 0);
        // The table holds the run's settings: the command takes no run options.
        const Run run = batch({"--plot-table", path("merged.csv"), "--plot", drawn});
        QCOMPARE(run.exitCode, 0);
        // The same crossing of the Binder cumulants, the run's last line.
        QVERIFY2(run.err.startsWith("ferrogrid-batch: the Binder cumulants of L = 8 and 12 cross at T = ")
                     && ownRun.err.endsWith(run.err), ownRun.err.constData());
        if (kind == "svg") {
            QCOMPARE(read(drawn), read(own));
        } else {
            const QImage a(own), b(drawn);
            QVERIFY(!a.isNull());
            QCOMPARE(b, a);
        }
    }
};

QTEST_GUILESS_MAIN(TestShard)
#include "tst_shard.moc"
