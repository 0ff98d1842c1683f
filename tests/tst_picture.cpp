// The lattice pictures of ferrogrid-batch (--picture, --frames) as a user
// gets them: the PNG files read back and held against the spins the
// program's own series reports for the same run.
#include "figures/latticepicture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QStringList &args, rlim_t fileSizeLimit = 0)
{
    QProcess p;
    if (fileSizeLimit > 0)
        p.setChildProcessModifier([fileSizeLimit] {
            const rlimit r {fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &r);
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG
        });
    p.start(QStringLiteral(FERROGRID_BATCH), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The spins a picture of an L x L lattice shows (+1 black, -1 white, 0
// silver grey), row after row; none, with the reason, unless it is L squares
// a side of a whole number of pixels each, at least 256 pixels wide with the
// smallest such number, every square of one of the three colours.
std::optional<std::vector<int>> spinsShown(const QImage &image, int size, QString &why)
{
    const int scale = image.width() / size;
    if (image.width() != image.height() || image.width() % size != 0 || image.width() < 256
        || (scale - 1) * size >= 256) {
        why = QStringLiteral("%1 x %2 pixels for L = %3").arg(image.width()).arg(image.height()).arg(size);
        return std::nullopt;
    }
    std::vector<int> spins;
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j) {
            const QRgb colour = image.pixel(j * scale, i * scale);
            for (int y = i * scale; y < (i + 1) * scale; ++y)
                for (int x = j * scale; x < (j + 1) * scale; ++x)
                    if (image.pixel(x, y) != colour) {
                        why = QStringLiteral("site (%1, %2) is not one colour at pixel (%3, %4)").arg(i).arg(j).arg(x).arg(y);
                        return std::nullopt;
                    }
            if (colour == qRgb(0, 0, 0))
                spins.push_back(1);
            else if (colour == qRgb(255, 255, 255))
                spins.push_back(-1);
            else if (colour == qRgb(0xC0, 0xC0, 0xC0))
                spins.push_back(0);
            else {
                why = QStringLiteral("site (%1, %2) has the colour %3").arg(i).arg(j).arg(colour, 8, 16);
                return std::nullopt;
            }
        }
    return spins;
}

// Magnetization and energy per site of L x L spins on the torus.
std::pair<double, double> perSite(const std::vector<int> &s, int size)
{
    long mag = 0, bonds = 0;
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j) {
            const int here = s[std::size_t(i * size + j)];
            mag += here;
            bonds += here * (s[std::size_t(i * size + (j + 1) % size)] + s[std::size_t((i + 1) % size * size + j)]);
        }
    const double n = double(size) * size;
    return {double(mag) / n, -double(bonds) / n};
}

QStringList sortedFiles(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    std::sort(names.begin(), names.end()); // byte order, as a shell's glob
    return names;
}

} // namespace

class TestPicture : public QObject {
    Q_OBJECT
private slots:
    // Every frame and the last picture show the very state the series row
    // of that sweep reports (magnetization and energy), for each update.
    void framesShowTheSeriesStates_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("size");
        QTest::newRow("metropolis-ordered-start") << QStringList {"--start", "zero"} << 8;
        QTest::newRow("metropolis-random-start") << QStringList {"--start", "infinity"} << 8;
        QTest::newRow("wolff") << QStringList {"--start", "infinity", "--algorithm", "wolff"} << 8;
        QTest::newRow("metropolis-L20-260-pixels") << QStringList {"--start", "infinity"} << 20;
    }
    void framesShowTheSeriesStates()
    {
        QFETCH(QStringList, args);
        QFETCH(int, size);
        QTemporaryDir dir;
        args << "--size" << QString::number(size) << "--temperatures" << "2.3" << "--equilibrate" << "4" << "--sweeps"
             << "6" << "--seed" << "7";
        const Run series = run(args + QStringList {"--series", "1"});
        QCOMPARE(series.exitCode, 0);
        const QByteArrayList lines = series.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + 11); // sweeps 0 to 10
        const Run pictures = run(args + QStringList {"--picture", dir.filePath("p.png"), "--frames", "1"});
        QCOMPARE(pictures.exitCode, 0);
        for (int sweep = 0; sweep <= 11; ++sweep) {
            const bool last = sweep == 11; // the last state: sweep 10 again
            const QString name = last ? "p-0.png" : QStringLiteral("p-0-%1.png").arg(sweep, 6, 10, QChar('0'));
            const QImage image(dir.filePath(name));
            QVERIFY2(!image.isNull(), qPrintable(name));
            QString why;
            const std::optional<std::vector<int>> spins = spinsShown(image, size, why);
            QVERIFY2(spins, qPrintable(name + ": " + why));
            const QByteArrayList row = lines[1 + std::min(sweep, 10)].split(',');
            const auto [mag, energy] = perSite(*spins, size);
            QVERIFY2(std::fabs(mag - row[4].toDouble()) < 1e-9 && std::fabs(energy - row[3].toDouble()) < 1e-9,
                     qPrintable(QStringLiteral("%1: m %2 and e %3, the series %4 and %5")
                                    .arg(name).arg(mag).arg(energy).arg(row[4], row[3])));
        }
    }

    // A blank site is silver grey as in the window, beside black and white.
    void blankSiteIsSilver()
    {
        const std::vector<ferro::engine::Spin> spins = {1, -1, 0, 1};
        QString why;
        const auto shown = spinsShown(ferro::batch::latticePicture(spins, 2), 2, why);
        QVERIFY2(shown, qPrintable(why));
        QCOMPARE(*shown, std::vector<int>({1, -1, 0, 1}));
    }

    // The files a run leaves: frames at sweep 0 and every K-th sweep after,
    // zero-padded so that they sort in sweep order, and each point's last.
    void framesNamedAndCounted_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("every-4th-of-15") << QStringList {"--equilibrate", "5", "--sweeps", "10", "--frames", "4"}
                                         << QStringList {"p-0-000000.png", "p-0-000004.png", "p-0-000008.png",
                                                         "p-0-000012.png", "p-0.png"};
        QTest::newRow("last-sweep-a-frame") << QStringList {"--equilibrate", "0", "--sweeps", "10", "--frames", "5"}
                                            << QStringList {"p-0-000000.png", "p-0-000005.png", "p-0-000010.png",
                                                            "p-0.png"};
        QTest::newRow("K-beyond-the-run") << QStringList {"--equilibrate", "1", "--sweeps", "2", "--frames", "4"}
                                          << QStringList {"p-0-000000.png", "p-0.png"};
        QTest::newRow("no-frames") << QStringList {"--sweeps", "3"} << QStringList {"p-0.png"};
        QTest::newRow("two-points-wolff")
            << QStringList {"--temperatures", "2,3", "--algorithm", "wolff", "--equilibrate", "0", "--sweeps", "2",
                            "--frames", "2"}
            << QStringList {"p-0-000000.png", "p-0-000002.png", "p-0.png", "p-1-000000.png", "p-1-000002.png", "p-1.png"};
        QTest::newRow("seven-digit-sweeps")
            << QStringList {"--equilibrate", "999999", "--sweeps", "1", "--frames", "500000"}
            << QStringList {"p-0-0000000.png", "p-0-0500000.png", "p-0-1000000.png", "p-0.png"};
    }
    void framesNamedAndCounted()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        if (!args.contains("--temperatures"))
            args << "--temperatures" << "2.3";
        const Run r = run(args + QStringList {"--size", "8", "--seed", "3", "--picture", dir.filePath("p.png")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(sortedFiles(dir.path()), files);
    }

    // The pictures are those of the points, whatever the number of jobs (one
    // job sweeps the four points together).
    void sameFilesForAnyJobs()
    {
        QTemporaryDir one, three;
        const QStringList args = {"--size", "8", "--temperatures", "1.5,2,2.5,3", "--equilibrate", "3", "--sweeps",
                                  "5", "--frames", "2", "--seed", "11", "--start", "infinity"};
        QCOMPARE(run(args + QStringList {"--jobs", "1", "--picture", one.filePath("p.png")}).exitCode, 0);
        QCOMPARE(run(args + QStringList {"--jobs", "3", "--picture", three.filePath("p.png")}).exitCode, 0);
        const QStringList names = sortedFiles(one.path());
        QCOMPARE(names.size(), 4 * 6);
        QCOMPARE(sortedFiles(three.path()), names);
        for (const QString &name : names) {
            QFile a(one.filePath(name)), b(three.filePath(name));
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY2(a.readAll() == b.readAll(), qPrintable(name));
        }
    }

    // Refused before the run (nothing written), or failed while writing: one
    // line, exit status 2, the run stopped at the first failure, no
    // temporary file left behind.
    void refusedOrFailed_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("frames-without-picture")
            << QStringList {"--frames", "10"}
            << QByteArray("--frames needs --picture FILE, the name the frames are numbered from") << QStringList();
        QTest::newRow("not-png") << QStringList {"--picture", "D/p.gif"}
                                 << QByteArray("--picture: 'D/p.gif' does not end in .png") << QStringList();
        QTest::newRow("missing-folder") << QStringList {"--picture", "D/none/p.png"}
                                        << QByteArray("--picture: cannot write D/none/p.png: No such file or directory")
                                        << QStringList();
        QTest::newRow("folder-a-file") << QStringList {"--picture", "D/f.txt/p.png"}
                                       << QByteArray("--picture: cannot write D/f.txt/p.png: Not a directory")
                                       << QStringList();
        QTest::newRow("last-picture-a-folder")
            << QStringList {"--picture", "D/last.png", "--frames", "2"}
            << QByteArray("cannot write the picture D/last-0.png: Is a directory")
            << QStringList {"last-0-000000.png", "last-0-000002.png", "last-0-000004.png"};
        QTest::newRow("second-frame-a-folder")
            << QStringList {"--picture", "D/early.png", "--frames", "2"}
            << QByteArray("cannot write the picture D/early-0-000002.png: Is a directory")
            << QStringList {"early-0-000000.png"};
        QTest::newRow("disk-full") << QStringList {"--size", "256", "--picture", "D/p.png", "--frames", "2"}
                                   << QByteArray("cannot write the picture D/p-0-000000.png: File too large")
                                   << QStringList();
    }
    void refusedOrFailed()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, said);
        QFETCH(QStringList, kept);
        QTemporaryDir dir;
        QFile(dir.filePath("f.txt")).open(QIODevice::WriteOnly);
        QDir(dir.path()).mkdir("last-0.png");
        QDir(dir.path()).mkdir("early-0-000002.png");
        for (QString &a : args)
            a.replace("D/", dir.path() + '/');
        said.replace("D/", QFile::encodeName(dir.path()) + '/');
        const Run r = run(args + QStringList {"--temperatures", "2", "--start", "infinity", "--equilibrate", "0",
                                              "--sweeps", "5", "--seed", "1"},
                          args.contains("--size") ? 3000 : 0);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, "ferrogrid-batch: " + said + "\n");
        if (said.startsWith("--"))
            QCOMPARE(r.out, QByteArray());
        kept << "f.txt";
        std::sort(kept.begin(), kept.end());
        QCOMPARE(sortedFiles(dir.path()), kept);
    }
};

QTEST_GUILESS_MAIN(TestPicture)
#include "tst_picture.moc"
