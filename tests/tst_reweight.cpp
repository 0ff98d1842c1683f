// Histogram reweighting against answers known exactly: the 4 x 4 torus from
// the enumeration of its 65,536 states, a synthetic two-level histogram, two
// copies of one point; and the program's --curves and --peaks files.

#include "analysis/curves.h"
#include "analysis/exactenergy.h"
#include "analysis/reweight.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>
#include <random>

using namespace ferro;
using namespace ferro::analysis;

namespace {

constexpr int Side = 4, Sites = Side * Side;

struct State {
    int energy, mag;
};

// Every state of the 4 x 4 torus: E = -sum over bonds s s', M = sum s.
std::vector<State> enumerate()
{
    std::vector<State> states;
    for (int bits = 0; bits < (1 << Sites); ++bits) {
        const auto s = [&](int x, int y) { return (bits >> ((y % Side) * Side + x % Side)) & 1 ? 1 : -1; };
        int e = 0, m = 0;
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x) {
                e -= s(x, y) * (s(x + 1, y) + s(x, y + 1));
                m += s(x, y);
            }
        states.push_back({e, m});
    }
    return states;
}

// The exact |m|, chi and U of the 4 x 4 torus at T, from the enumeration.
std::array<double, Quantities> exactAverages(const std::vector<State> &states, double T)
{
    long double z = 0, a = 0, m2 = 0, m4 = 0;
    for (const State &s : states) {
        const long double w = std::exp(-(s.energy + 2 * Sites) / (long double)T);
        const long double m = (long double)s.mag / Sites;
        z += w, a += w * std::fabs(m), m2 += w * m * m, m4 += w * m * m * m * m;
    }
    std::array<double, Quantities> out;
    out.fill(NaN);
    out[Energy] = exactEnergy(Side, Side, T);
    out[SpecificHeat] = exactSpecificHeat(Side, Side, T);
    out[AbsMag] = double(a / z);
    out[Susceptibility] = double(Sites * (m2 / z - (a / z) * (a / z)) / T);
    out[SusceptibilityFull] = double(Sites * m2 / z / T);
    out[Binder] = double(1 - (m4 / z) / (3 * (m2 / z) * (m2 / z)));
    return out;
}

// The states fed as the exact histogram at T0: each once at T0 = infinity
// (all equally likely), or 2^((2N - E) / 4) times at T0 = 4 / ln 2, where
// the Boltzmann weight of every level is a whole power of two.
EnergyHistogram exactHistogram(const std::vector<State> &states, bool doubling)
{
    std::int64_t total = 0;
    for (const State &s : states)
        total += doubling ? std::int64_t(1) << ((2 * Sites - s.energy) / 4) : 1;
    EnergyHistogram h(Sites, total);
    for (const State &s : states)
        for (std::int64_t k = doubling ? std::int64_t(1) << ((2 * Sites - s.energy) / 4) : 1; k > 0; --k)
            h.add(s.energy, s.mag);
    return h;
}

QByteArray runBatch(const QStringList &args, QByteArray *err = nullptr)
{
    QProcess p;
    p.start(QStringLiteral(FERROGRID_BATCH), args);
    p.waitForFinished(120000);
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? QByteArray("ok") : p.readAllStandardError();
}

// A CSV file as rows of named fields.
QList<QMap<QString, QString>> readTable(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QList<QMap<QString, QString>> rows;
    const QStringList header = lines.value(0).split(',');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(',');
        QMap<QString, QString> row;
        for (qsizetype c = 0; c < header.size(); ++c)
            row[header[c]] = fields.value(c);
        rows.push_back(row);
    }
    return rows;
}

} // namespace

class TestReweight : public QObject {
    Q_OBJECT
private slots:
    void exactTorus_data();
    void exactTorus();
    void twoLevels_data();
    void twoLevels();
    void identicalPointsCombineAsOne();
    void peaksAndCrossingsOfKnownCurves_data();
    void peaksAndCrossingsOfKnownCurves();
    void curvesFile();
    void gapBetweenDistantPoints();
    void refusals_data();
    void refusals();
    void sameCurvesForAnyJobs();
};

void TestReweight::exactTorus_data()
{
    QTest::addColumn<bool>("doubling");
    QTest::addColumn<double>("T");
    for (const bool doubling : {false, true})
        for (const double T : {1.5, 2.0, 2.269, 3.0, 8.0})
            QTest::addRow("%s to T = %g", doubling ? "from T0 = 4/ln 2" : "from T0 = infinity", T) << doubling << T;
}

// The exact histogram of the 4 x 4 torus reweighted anywhere gives its exact
// averages: E and C as Kaufman's formula has them, |m|, chi', chi and U as
// the enumeration.
void TestReweight::exactTorus()
{
    QFETCH(bool, doubling);
    QFETCH(double, T);
    static const std::vector<State> states = enumerate();
    static const EnergyHistogram uniform = exactHistogram(states, false), doubled = exactHistogram(states, true);
    const double T0 = doubling ? 4 / std::log(2.0) : INFINITY;
    const MultiHistogram m({doubling ? &doubled : &uniform}, {T0});
    const CurveValues v = m.at(T);
    const std::array<double, Quantities> exact = exactAverages(states, T);
    const char *names[] = {"E", "|m|", "C", "chi'", "chi", "U"};
    for (int q = Energy; q <= Binder; ++q)
        QVERIFY2(std::fabs(v.full[q] - exact[q]) <= 1e-9 * std::max(1.0, std::fabs(exact[q])),
                 qPrintable(QStringLiteral("%1: %2, exact %3").arg(names[q]).arg(v.full[q], 0, 'g', 12).arg(exact[q], 0, 'g', 12)));
}

void TestReweight::twoLevels_data()
{
    QTest::addColumn<double>("T0");
    QTest::addColumn<double>("T");
    QTest::addColumn<int>("ordered");    // sweeps at E = -8 (M = 4)
    QTest::addColumn<int>("disordered"); // sweeps at E = 0 (M = 0)
    QTest::newRow("cooler") << 2.0 << 1.8 << 300 << 700;
    QTest::newRow("hotter") << 2.0 << 2.3 << 300 << 700;
    QTest::newRow("own temperature") << 3.0 << 3.0 << 500 << 500;
    QTest::newRow("far hotter") << 1.0 << 4.0 << 990 << 10;
}

// Two levels on the 2 x 2 torus, E = -8 with |m| = 1 and E = 0 with m = 0:
// the fraction p at the ordered level reweights as a e^{8 dbeta} / (a e^{8 dbeta} + b).
void TestReweight::twoLevels()
{
    QFETCH(double, T0);
    QFETCH(double, T);
    QFETCH(int, ordered);
    QFETCH(int, disordered);
    EnergyHistogram h(4, ordered + disordered);
    for (int k = 0; k < std::max(ordered, disordered); ++k) { // alternating, so that the blocks hold both
        if (k < ordered)
            h.add(-8, 4);
        if (k < disordered)
            h.add(0, 0);
    }
    const MultiHistogram m({&h}, {T0});
    const double a = ordered * std::exp(8 * (1 / T - 1 / T0)), p = a / (a + disordered);
    const CurveValues v = m.at(T);
    QCOMPARE_LE(std::fabs(v.full[Energy] - (-2 * p)), 1e-12);
    QCOMPARE_LE(std::fabs(v.full[AbsMag] - p), 1e-12);
    QCOMPARE_LE(std::fabs(v.full[SpecificHeat] - 16 * p * (1 - p) / (T * T)), 1e-12);
    QCOMPARE_LE(std::fabs(v.full[SusceptibilityFull] - 4 * p / T), 1e-12);
}

// Two copies of one point, combined, give that point's curve and errors.
void TestReweight::identicalPointsCombineAsOne()
{
    const std::vector<State> states = enumerate();
    std::mt19937_64 random(7);
    const double T0 = 2.5;
    std::vector<double> weights;
    for (const State &s : states)
        weights.push_back(std::exp(-(s.energy + 2 * Sites) / T0));
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end()); // Boltzmann's weights
    EnergyHistogram h(Sites, 20000);
    while (h.sweeps() < 20000) {
        const State &s = states[pick(random)];
        h.add(s.energy, s.mag);
    }
    const MultiHistogram one({&h}, {T0}), two({&h, &h}, {T0, T0});
    QVERIFY(two.converged());
    for (const double T : {2.3, 2.45, 2.5, 2.6}) {
        const CurveValues a = one.at(T), b = two.at(T);
        for (int q = Energy; q <= Binder; ++q) {
            QCOMPARE_LE(std::fabs(a.full[q] - b.full[q]), 1e-9 * std::fabs(a.full[q]));
            std::vector<double> la, lb;
            for (std::size_t r = 0; r < a.leaveOut.size(); ++r)
                la.push_back(a.leaveOut[r][q]), lb.push_back(b.leaveOut[r][q]);
            QCOMPARE_LE(std::fabs(jackknifeError(la) - jackknifeError(lb)), 1e-6 * jackknifeError(la));
        }
    }
}

// A curve on the grid 2.2 to 2.4 (step 0.001) made of f(T, r) for the
// values from all sweeps (r = -1) and the 4 leave-outs.
template <typename F>
SizeCurve curveOf(int size, F f)
{
    SizeCurve c;
    c.size = size;
    c.firstStep = 2200;
    for (int i = 0; i <= 200; ++i) {
        const double T = c.temperature(std::size_t(i));
        CurveValues v;
        v.full.fill(f(T, -1));
        for (int r = 0; r < 4; ++r) {
            v.leaveOut.emplace_back();
            v.leaveOut.back().fill(f(T, r));
        }
        c.values.push_back(v);
        c.group.push_back(0);
    }
    c.groupSizes = {3};
    return c;
}

void TestReweight::peaksAndCrossingsOfKnownCurves_data()
{
    QTest::addColumn<double>("peak");     // of 2 - 50 (T - peak)^2
    QTest::addColumn<double>("crossing"); // of 0.6 + 2 (T - crossing) and 0.6 + 5 (T - crossing)
    QTest::newRow("between grid points") << 2.30372 << 2.26914;
    QTest::newRow("on a grid point") << 2.25 << 2.35;
    QTest::newRow("just above one") << 2.3101 << 2.2011;
}

// The peak of a parabola and the crossing of two lines between grid
// points, exact, with the jackknife error of leave-outs shifted by known
// amounts; a maximum at the end of the curve is no peak. The two sizes are
// independent runs: shifting the smaller size's line by s moves the
// crossing by -2s/3, the larger's by 5s/3, and the errors add so.
void TestReweight::peaksAndCrossingsOfKnownCurves()
{
    QFETCH(double, peak);
    QFETCH(double, crossing);
    const double shift[4] = {0.0004, -0.0002, 0.0001, -0.0003}; // mean 0: jackknife error sqrt(3/4 * 30e-8)
    const double error = std::sqrt(0.75 * 30e-8);
    const auto at = [&](double T, int r) { return T - (r < 0 ? 0 : shift[r]); };
    std::string note;
    const auto top = peakOf(curveOf(8, [&](double T, int r) { return 2 - 50 * std::pow(at(T, r) - peak, 2); }), SpecificHeat, note);
    QVERIFY2(top, note.c_str());
    QCOMPARE_LE(std::fabs(top->temperature.mean - peak), 1e-9);
    QCOMPARE_LE(std::fabs(top->value.mean - 2), 1e-9);
    QCOMPARE_LE(std::fabs(top->temperature.error - error), 1e-9);
    const double shiftLarger[4] = {0.0002, 0.0002, -0.0001, -0.0003}; // jackknife error sqrt(3/4 * 18e-8)
    const double errorLarger = std::sqrt(0.75 * 18e-8);
    const SizeCurve a = curveOf(8, [&](double T, int r) { return 0.6 + 2 * (at(T, r) - crossing); });
    const SizeCurve b = curveOf(16, [&](double T, int r) { return 0.6 + 5 * (T - (r < 0 ? 0 : shiftLarger[r]) - crossing); });
    const auto cross = crossingOf(a, b, Binder, note);
    QVERIFY2(cross, note.c_str());
    QCOMPARE_LE(std::fabs(cross->temperature.mean - crossing), 1e-9);
    QCOMPARE_LE(std::fabs(cross->value.mean - 0.6), 1e-9);
    QCOMPARE_LE(std::fabs(cross->temperature.error - std::hypot(2 * error / 3, 5 * errorLarger / 3)), 1e-9);
    // The value there is the smaller size's: 0.6 - 10s/3 and 0.6 + 10s/3.
    QCOMPARE_LE(std::fabs(cross->value.error - std::hypot(10 * error / 3, 10 * errorLarger / 3)), 1e-9);
    QVERIFY(!peakOf(curveOf(8, [&](double T, int) { return T; }), SpecificHeat, note));
    QVERIFY2(QByteArray(note.c_str()).contains("beyond"), note.c_str());
}

// A point alone: its curve through its own temperature holds the table's
// energy and |m| (reweighting by nothing gives the plain averages), and the
// errors of the table's jackknife over the same blocks. Several
// points: the peaks file places the specific-heat peak of L = 8 within 3
// errors of the exact one.
void TestReweight::curvesFile()
{
    QTemporaryDir dir;
    const QString table = dir.filePath("t.csv"), curves = dir.filePath("c.csv"), peaks = dir.filePath("p.csv");
    QCOMPARE(runBatch({"--size", "8", "--temperatures", "2.4", "--sweeps", "5000", "--seed", "5", "--output", table,
                       "--curves", curves}),
             QByteArray("ok"));
    const auto point = readTable(table).value(0);
    bool found = false;
    for (const auto &row : readTable(curves))
        if (row["temperature"] == QLatin1String("2.4")) {
            found = true;
            QCOMPARE(row["energy"], point["energy"]);
            QCOMPARE(row["abs_magnetization"], point["abs_magnetization"]);
        }
    QVERIFY(found);

    // A short Metropolis run, 71 autocorrelation times of |m| long: the table
    // leaves out blocks of 128 sweeps, and so must the curve, else its errors
    // come out as much as a fifth too small.
    QCOMPARE(runBatch({"--size", "16", "--temperatures", "2.3", "--sweeps", "1024", "--seed", "5", "--output", table,
                       "--curves", curves}),
             QByteArray("ok"));
    const auto shortPoint = readTable(table).value(0);
    found = false;
    for (const auto &row : readTable(curves))
        if (row["temperature"] == QLatin1String("2.3")) {
            found = true;
            for (const char *q : {"specific_heat_error", "susceptibility_error", "binder_cumulant_error",
                                  "correlation_length_over_size_error"})
                QCOMPARE(row[q], shortPoint[q]);
        }
    QVERIFY(found);

    QCOMPARE(runBatch({"--size", "8", "--temperatures", "2.2:2.6:0.1", "--algorithm", "wolff", "--sweeps", "20000",
                       "--seed", "5", "--output", table, "--peaks", peaks}),
             QByteArray("ok"));
    const auto peakRows = readTable(peaks);
    QVERIFY(!peakRows.isEmpty());
    const auto &peak = peakRows.front();
    QCOMPARE(peak["quantity"], QStringLiteral("specific_heat_peak"));
    QCOMPARE(peak["size"], QStringLiteral("8"));
    QCOMPARE_LE(std::fabs(peak["temperature"].toDouble() - peak["exact_temperature"].toDouble()), 3 * peak["temperature_error"].toDouble());
    QCOMPARE_LE(std::fabs(peak["value"].toDouble() - peak["exact_value"].toDouble()), 3 * peak["value_error"].toDouble());
}

// Points whose histograms do not overlap: said on standard error, and the
// curve left empty between them.
void TestReweight::gapBetweenDistantPoints()
{
    QTemporaryDir dir;
    const QString curves = dir.filePath("c.csv");
    QByteArray err;
    QCOMPARE(runBatch({"--size", "16", "--temperatures", "1.5,3.5", "--sweeps", "2000", "--seed", "2", "--output",
                       dir.filePath("t.csv"), "--curves", curves, "--curve-step", "0.01"}, &err),
             QByteArray("ok"));
    QVERIFY2(err.contains("hardly overlap"), err.constData());
    int before = 0, gap = 0, after = 0;
    for (const auto &row : readTable(curves)) {
        const double T = row["temperature"].toDouble();
        const bool empty = row["energy"].isEmpty();
        if (T < 2.0)
            before += !empty;
        else if (T < 3.0)
            gap += empty ? 1 : -1000;
        else
            after += !empty;
    }
    QVERIFY(before > 0);
    QCOMPARE(gap, 100);
    QVERIFY(after > 0);
}

void TestReweight::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QStringList run {"--temperatures", "2.2,2.3", "--sweeps", "10"};
    QTest::newRow("step without curves") << run + QStringList {"--curve-step", "0.01"} << "--curve-step goes with --curves or --peaks";
    QTest::newRow("curves of a series") << run + QStringList {"--series", "1", "--curves", "c.csv"} << "does not go with --series";
    QTest::newRow("peaks of a share") << run + QStringList {"--seed", "1", "--shard", "0/2", "--peaks", "p.csv"} << "--peaks combines every point";
    QTest::newRow("step too fine for the range") << QStringList {"--temperatures", "1:3:1", "--curves", "c.csv", "--curve-step", "0.00001"} << "more than 100000 temperatures";
    QTest::newRow("step of 0") << run + QStringList {"--curves", "c.csv", "--curve-step", "0"} << "is not a step";
    QTest::newRow("unwritable curves") << run + QStringList {"--curves", "/nonexistent/c.csv"} << "--curves: cannot write /nonexistent/c.csv";
}

// Refused before anything runs, with a line naming the option.
void TestReweight::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(FERROGRID_BATCH), args);
    QVERIFY(p.waitForFinished(30000));
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitCode(), 2);
    QVERIFY2(err.contains(message.toUtf8()), err.constData());
    QVERIFY(!QFile::exists(dir.filePath("c.csv")) && !QFile::exists(dir.filePath("p.csv")));
}

// Metropolis points run four at a time (one job) or each alone (four jobs)
// keep the same histograms: the same curves file.
void TestReweight::sameCurvesForAnyJobs()
{
    QTemporaryDir dir;
    QByteArray files[2];
    for (int jobs : {1, 4}) {
        const QString curves = dir.filePath(QStringLiteral("c%1.csv").arg(jobs));
        QCOMPARE(runBatch({"--size", "8", "--temperatures", "2.2:2.5:0.1", "--sweeps", "3000", "--seed", "9", "--jobs",
                           QString::number(jobs), "--output", dir.filePath("t.csv"), "--curves", curves}),
                 QByteArray("ok"));
        QFile f(curves);
        QVERIFY(f.open(QIODevice::ReadOnly));
        files[jobs == 4] = f.readAll();
    }
    QVERIFY(files[0].count('\n') > 300);
    QCOMPARE(files[0], files[1]);
}

QTEST_MAIN(TestReweight)
#include "tst_reweight.moc"
