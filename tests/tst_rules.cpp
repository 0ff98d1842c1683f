// The rules of preparing a run, the factor-file reader and the snapshot
// series, without windows.

#include "tests/fakes.h"
#include "core/flip.h"
#include "preparation/factorfile.h"
#include "preparation/preparation.h"
#include "snapshots/series.h"
#include "stdruntime/textconv.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ferro;

namespace {
QString qstr(const std::optional<std::string> &s) { return s ? QString::fromStdString(*s) : QStringLiteral("<kept>"); }

// What a user is told of a factor file: the error, or the first and last
// texts and the warnings. Read in a child with 10 s and (outside the
// sanitizer build) 1 GB of address space, so that a reader that will not
// stop fails the row instead of the machine.
QString readGuarded(const QString &path, int side)
{
    int ends[2];
    if (pipe(ends) != 0)
        return QStringLiteral("<no pipe>");
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
#ifndef __SANITIZE_ADDRESS__
        const rlimit limit {1L << 30, 1L << 30};
        setrlimit(RLIMIT_AS, &limit);
#endif
        const FactorFileResult r = readFactorFile(path.toStdString(), side);
        std::string shown = r.error;
        if (r.ok()) {
            shown = r.texts.front() + "|" + r.texts.back();
            for (const std::string &warning : r.warnings)
                shown += "|" + warning;
        }
        const bool written = write(ends[1], shown.data(), shown.size()) == ssize_t(shown.size());
        _exit(written ? 0 : 1);
    }
    ::close(ends[1]);
    QByteArray shown;
    char piece[4096];
    for (ssize_t n; (n = read(ends[0], piece, sizeof piece)) > 0;)
        shown.append(piece, n);
    ::close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<the reader ran out of time or memory>");
    return QString::fromUtf8(shown).replace(path, QStringLiteral("F"));
}
} // namespace

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void startingStates_data()
    {
        QTest::addColumn<double>("draw");
        QTest::addColumn<int>("spin");
        QTest::newRow("low-draw-up") << 0.1 << 1;
        QTest::newRow("high-draw-down") << 0.9 << -1;
        QTest::newRow("half-keeps-blank") << 0.5 << 0;
    }
    void startingStates()
    {
        QFETCH(double, draw);
        QFETCH(int, spin);
        ScriptedRandom random;
        Run run(random);
        random.script = {draw};
        prepareZero(run);
        QCOMPARE(random.randomizes, 1);
        QVERIFY(random.script.empty()); // one draw for the whole lattice
        for (int k : {0, 19, 20, 399})
            QCOMPARE(int(run.lattice().spinOfCell(k)), spin);
        QCOMPARE(int(run.lattice().TotalMag), 400 * spin);
        QCOMPARE(QString::fromStdString(run.record().instantaneousMag.text()),
                 QString::fromStdString(Str(double(spin))));
    }

    void randomStateDrawsOneCoinPerSiteInRowOrder()
    {
        ScriptedRandom random;
        Run run(random);
        random.script.assign(Sites, 0.9);
        random.script[19] = 0.1; // site (0, 19) up
        random.script[20] = 0.5; // site (1, 0) stays blank
        prepareInfinity(run);
        QVERIFY(random.script.empty());
        QCOMPARE(int(run.lattice().Spin[0][19]), 1);
        QCOMPARE(int(run.lattice().Spin[1][0]), 0);
        QCOMPARE(int(run.lattice().Spin[19][19]), -1);
        QCOMPARE(int(run.lattice().TotalMag), -397);
        QVERIFY(canResume(run.lattice()));
    }

    void resetBlanksAndKeepsTotals()
    {
        ScriptedRandom random;
        Run run(random);
        QVERIFY(!canResume(run.lattice()));
        random.script = {0.9};
        prepareZero(run);
        QVERIFY(canResume(run.lattice()));
        blankLattice(run.lattice());
        QVERIFY(!canResume(run.lattice()));
        QCOMPARE(int(run.lattice().spinOfCell(399)), 0);
        QCOMPARE(int(run.lattice().TotalMag), -400);
    }

    void clockStirsWithoutRestarting()
    {
        Random a;
        std::vector<double> seen;
        for (int n = 0; n < 1000; ++n) {
            a.Randomize();
            seen.push_back(a.Rnd());
        }
        std::sort(seen.begin(), seen.end());
        QVERIFY(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
    }

    // One text, as typed into the temperature box or a factor box: the run
    // temperature it gives, what Go to T = leaves in the temperature box, the
    // site factor, and what the designer's Quit leaves in a factor box.
    void temperatureTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("run");
        QTest::addColumn<QString>("goToBox");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QString>("quitBox");
        const double max = 1.7976931348623157e308;
        const struct { const char *name, *text; double run; const char *goTo; double factor; const char *quit; } rows[] = {
            {"empty", "", 0.1, "0.1", 1, "<kept>"}, {"single-blank", " ", 0.1, "0.1", 0.0001, "0.0001"},
            {"ordinary", "2.5", 2.5, "<kept>", 2.5, "<kept>"},
            {"at-the-run-floor", "0.1", 0.1, "<kept>", 0.1, "<kept>"},
            {"just-above", "0.1000001", 0.1000001, "<kept>", 0.1000001, "<kept>"},
            {"below-the-run-floor", "0.05", 0.1, "0.1", 0.05, "<kept>"},
            {"at-the-factor-floor", "0.0001", 0.1, "0.1", 0.0001, "<kept>"},
            {"leading-number", "2x", 2, "<kept>", 2, "<kept>"}, {"suffix", "3K", 3, "<kept>", 3, "<kept>"},
            {"whole-below-floor", "0.00005", 0.1, "0.1", 0.00005, "0.0001"},
            {"exponent-below-floor", " 1E-5 ", 0.1, "0.1", 1e-5, "0.0001"},
            {"smallest-double", "4.9e-324", 0.1, "0.1", 4.9e-324, "0.0001"},
            {"leading-below-floor", "0.00005x", 0.1, "0.1", 0.0001, "0.0001"},
            {"zero", "0", 0.1, "0.1", 0.0001, "0.0001"}, {"negative", "-3", 0.1, "0.1", 0.0001, "0.0001"},
            {"word", "abc", 0.1, "0.1", 0.0001, "0.0001"}, {"huge-saturates", "1e999", max, "<kept>", max, "<kept>"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.text << r.run << r.goTo << r.factor << r.quit;
    }
    void temperatureTexts()
    {
        QFETCH(QString, text);
        const std::string t = text.toStdString();
        QTEST(runTemperature(Val(t)), "run");
        QTEST(qstr(resumeTemperatureText(t)), "goToBox");
        QTEST(siteFactor(t), "factor");
        QTEST(qstr(designerFloorText(t)), "quitBox");
        QVERIFY(localTemperature(runTemperature(Val(t)), siteFactor(t)) > 0);
    }

    void factorFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("path"); // a file of that content when empty
        QTest::addColumn<int>("side");
        QTest::addColumn<QString>("shown");
        const QString expected = QStringLiteral("; a factor file has 20 lines of 20 comma-separated factors");
        const QByteArray line(19, ',');
        const auto file = [&](const char *end) {
            QByteArray text = "1" + line + end;
            for (int i = 1; i < 19; ++i)
                text += line + end;
            return text + line + "3" + end;
        };
        QTest::newRow("lf") << file("\n") << "" << 20 << "1|3";
        QTest::newRow("crlf") << file("\r\n") << "" << 20 << "1|3";
        QTest::newRow("cr-only") << file("\r") << "" << 20 << "1|3";
        QTest::newRow("byte-order-mark-skipped") << "\xEF\xBB\xBF" + file("\n") << "" << 20 << "1|3";
        QTest::newRow("last-line-end-missing") << file("\n").chopped(1) << "" << 20 << "1|3";
        QTest::newRow("blank-lines-after") << file("\n") + "\n\r\n\r" << "" << 20 << "1|3";
        QTest::newRow("longest-text") << QByteArray(32767, '7') + file("\n").mid(1) << "" << 20 << QString(32767, '7') + "|3";
        QTest::newRow("warnings") << "2x" + file("\n").mid(1).chopped(2) + "0\n" << "" << 20
                                  << "2x|0|F:1:1: '2x' is not a complete number; the site's factor becomes 2"
                                     "|F:20:20: '0' is not above 0; the site's factor becomes 0.0001";
        QTest::newRow("side-3") << QByteArray("1,2,3\n4,5,6\n7,8,9\n") << "" << 3 << "1|9";
        QTest::newRow("empty") << QByteArray() << "" << 20 << "F:1:1: the file ends after 0 lines" + expected;
        QTest::newRow("one-line") << line + "\n" << "" << 20 << "F:2:1: the file ends after 1 line" + expected;
        QTest::newRow("one-field") << QByteArray("\n") << "" << 20 << "F:1:1: the line ends after 1 field" + expected;
        QTest::newRow("19-lines") << file("\n").left(19 * 20) << "" << 20 << "F:20:1: the file ends after 19 lines" + expected;
        QTest::newRow("21-fields") << file("\n").insert(21 + 20 + 19, ",2") << "" << 20 << "F:3:21: a 21st field" + expected;
        QTest::newRow("21-lines") << file("\n") + "\n\nx" << "" << 20 << "F:23:1: a line after the 20th" + expected;
        QTest::newRow("side-3-fourth-field") << QByteArray("1,2,3,4\n") << "" << 3
                                             << "F:1:7: a 4th field; a factor file has 3 lines of 3 comma-separated factors";
        QTest::newRow("text-too-long") << line + "\n" + QByteArray(32768, '7') << "" << 20
                                       << "F:2:32768: a factor text of more than 32767 characters; a box holds at most 32767";
        // The longest factor file has 13,107,223 bytes.
        QTest::newRow("longer-than-any") << file("\n") + QByteArray(14 << 20, '\n') << "" << 20
                                         << "F:13106842:1: the file is longer than any factor file can be "
                                            "(20 lines of 20 texts of at most 32767 characters)";
        const QString tooLong = QStringLiteral(":1:32768: a factor text of more than 32767 characters; a box holds at most 32767");
        QTest::newRow("endless-device") << QByteArray() << "/dev/zero" << 20 << "F" + tooLong;
        QTest::newRow("sparse-2-GB") << QByteArray() << "<sparse>" << 20 << "F" + tooLong;
        QTest::newRow("directory") << QByteArray() << "<directory>" << 20 << "F: is a directory, not a factor file";
        QTest::newRow("missing") << QByteArray() << "<missing>" << 20 << "F: cannot be read: No such file or directory";
    }
    void factorFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, path);
        QFETCH(int, side);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("f.txt"));
        if (path == "<directory>") {
            QVERIFY(QDir(dir.path()).mkdir("f.txt"));
        } else if (path.isEmpty() || path == "<sparse>") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
            QVERIFY(path.isEmpty() || f.resize(qint64(2) << 30));
        }
        QCOMPARE(readGuarded(path.startsWith('/') ? path : file, side), shown);
    }

    void seriesFillsTwelveBlocks()
    {
        SnapshotSeries series;
        QVERIFY(series.countText().empty());
        for (int n = 0; n < 12; ++n)
            QCOMPARE(series.capture(), std::optional<int>(n));
        QCOMPARE(series.capture(), std::nullopt); // the 13th fills nothing but counts
        QCOMPARE(QString::fromStdString(series.countText()), QString(" 13"));
        series.clear();
        QCOMPARE(QString::fromStdString(series.countText()), QString("0"));
        QCOMPARE(series.capture(), std::optional<int>(0));
    }

    void captionJoinsTheTextsAsTheyStand()
    {
        ScriptedRandom random;
        Run run(random);
        random.script = {0.9};
        prepareZero(run);
        run.startClear();
        run.finishClear();
        run.tick(0.1, FactorTable().data());
        QCOMPARE(QString::fromStdString(snapshotCaption("2.270", run.record())), QString("2.270; -1;  1;  1"));
        QCOMPARE(QString::fromStdString(snapshotCaption("", RunRecord())), QString("; ; ; "));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
