// A run split into shares, as a cluster's array job runs it: the shares'
// tables merged, in any order, are the whole run's table, and the figure of a
// saved table is the run's own figure.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <numeric>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run batch(const QStringList &args)
{
    QProcess p;
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
        QTest::newRow("other-header") << QStringList {"--merge", "S0", "HEADER"}
                                      << QByteArray("header.csv: its header differs from that of");
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
