// The error analysis on synthetic series whose answers are known: AR(1)
// processes x_t = a x_{t-1} + sqrt(1 - a^2) e_t (unit variance, integrated
// autocorrelation time tau = (1 + a) / (2 (1 - a))), fed through `add` as
// integers (1000 x) on one site at T = 1, so that the means, variances and
// autocorrelation times are those of the process.

#include "analysis/analysis.h"

#include <QTest>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

using namespace ferro::analysis;

namespace {

constexpr double Scale = 1000;

struct Ar1 {
    explicit Ar1(double tau) : a((2 * tau - 1) / (2 * tau + 1)) {}
    double next(std::mt19937_64 &g)
    {
        x = started ? a * x + std::sqrt(1 - a * a) * normal(g) : normal(g); // starts in equilibrium
        started = true;
        return x;
    }
    double a, x = 0;
    bool started = false;
    std::normal_distribution<double> normal;
};

std::int64_t scaled(double x)
{
    return std::llround(Scale * x);
}

// Energy from one process, M = 10 + another (so |M| = M), acceptance a third.
Results run(double tauE, double tauM, std::int64_t sweeps, std::mt19937_64 &g, double (*offset)(double, int) = nullptr)
{
    Accumulator acc(sweeps, 1);
    Ar1 e(tauE), m(tauM), a(tauE);
    for (std::int64_t t = 0; t < sweeps; ++t) {
        const double f = double(t) / double(sweeps);
        acc.add(scaled(e.next(g) + (offset ? offset(f, 0) : 0)), scaled(10 + m.next(g) + (offset ? offset(f, 1) : 0)),
                scaled(5 + a.next(g)));
    }
    return acc.analyse(1);
}

struct Sample {
    std::vector<double> values, errors;
    void add(Value v) { values.push_back(v.mean), errors.push_back(v.error); }
    double mean() const
    {
        double s = 0;
        for (double v : values)
            s += v;
        return s / double(values.size());
    }
    // Spread of the values over their root-mean-square reported error, and
    // the standard error of that ratio (from the values' kurtosis).
    std::pair<double, double> spreadOverError() const
    {
        const double mu = mean(), n = double(values.size());
        double m2 = 0, m4 = 0, e2 = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double d = values[i] - mu;
            m2 += d * d, m4 += d * d * d * d, e2 += errors[i] * errors[i];
        }
        m2 /= n, m4 /= n, e2 /= n;
        return {std::sqrt(m2 * n / (n - 1) / e2), std::sqrt((m4 / (m2 * m2) - 1) / (4 * n))};
    }
    double standardError() const
    {
        const double mu = mean();
        double s = 0;
        for (double v : values)
            s += (v - mu) * (v - mu);
        return std::sqrt(s / double(values.size() - 1) / double(values.size()));
    }
};

#define VERIFY_HONEST(sample, what)                                                                              \
    do {                                                                                                         \
        const auto [ratio, se] = (sample).spreadOverError();                                                     \
        QVERIFY2(std::abs(ratio - 1) < 3 * se,                                                                   \
                 qPrintable(QStringLiteral("%1: spread / error %2 +- %3").arg(what).arg(ratio).arg(se)));         \
    } while (0)

} // namespace

class TestAnalysis : public QObject {
    Q_OBJECT
private slots:
    // Autocorrelation times within 10 % and errors of the means that match
    // the spread of the means over independent series.
    void meansAndTheirErrors_data()
    {
        QTest::addColumn<double>("tauE");
        QTest::addColumn<double>("tauM");
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<int>("series");
        QTest::newRow("tau 1") << 1.0 << 1.0 << 4000 << 200;
        QTest::newRow("tau 10") << 10.0 << 10.0 << 20000 << 200;
        QTest::newRow("tau 50, longer than the bins hold") << 50.0 << 50.0 << 100000 << 200;
        QTest::newRow("|m| five times slower than the energy") << 10.0 << 50.0 << 20000 << 200;
        QTest::newRow("640 sweeps at tau 30") << 30.0 << 30.0 << 640 << 1000;
    }
    void meansAndTheirErrors()
    {
        QFETCH(double, tauE);
        QFETCH(double, tauM);
        QFETCH(int, sweeps);
        QFETCH(int, series);
        std::mt19937_64 g(42);
        Sample energy, absMag, acceptance, tE, tM;
        int drifts = 0;
        for (int s = 0; s < series; ++s) {
            const Results r = run(tauE, tauM, sweeps, g);
            energy.add(r.energy), absMag.add(r.absMag), acceptance.add(r.acceptance);
            tE.add({r.energyTau, 0}), tM.add({r.absMagTau, 0});
            drifts += r.drift;
        }
        qInfo("tau E %.3f +- %.3f (%.1f), tau |m| %.3f +- %.3f (%.1f); drift %d", tE.mean(), tE.standardError(), tauE,
              tM.mean(), tM.standardError(), tauM, drifts);
        if (sweeps >= 100 * std::max(tauE, tauM)) { // shorter runs are warned about
            VERIFY_HONEST(energy, "energy");
            VERIFY_HONEST(absMag, "|m|");
            VERIFY_HONEST(acceptance, "acceptance");
        }
        QVERIFY2(std::abs(tE.mean() / tauE - 1) < 0.1, qPrintable(QString::number(tE.mean())));
        QVERIFY2(std::abs(tM.mean() / tauM - 1) < 0.1, qPrintable(QString::number(tM.mean())));
    }

    // Specific heat and susceptibilities: no bias (the jackknife's
    // correction; uncorrected they are 2 tau / sweeps low) and errors that
    // match the spread over independent series.
    void fluctuations_data()
    {
        QTest::addColumn<double>("tauE");
        QTest::addColumn<double>("tauM");
        QTest::addColumn<int>("sweeps");
        QTest::addColumn<int>("series");
        QTest::newRow("runs of 100 tau") << 10.0 << 10.0 << 1000 << 2000;
        QTest::newRow("|m| fifty times slower than the energy") << 1.0 << 50.0 << 16000 << 800;
        QTest::newRow("tau 20, longer than the bins hold") << 20.0 << 20.0 << 70001 << 200;
    }
    void fluctuations()
    {
        QFETCH(double, tauE);
        QFETCH(double, tauM);
        QFETCH(int, sweeps);
        QFETCH(int, series);
        std::mt19937_64 g(7);
        Sample heat, chi, chiFull;
        for (int s = 0; s < series; ++s) {
            const Results r = run(tauE, tauM, sweeps, g);
            heat.add(r.specificHeat), chi.add(r.susceptibility), chiFull.add(r.susceptibilityFull);
        }
        const double variance = Scale * Scale + 1.0 / 12; // of the rounded process
        for (const auto &[sample, truth, name] : {std::tuple{&heat, variance, "C"}, std::tuple{&chi, variance, "chi'"},
                                                 std::tuple{&chiFull, 100 * Scale * Scale + variance, "chi"}}) {
            QVERIFY2(std::abs(sample->mean() - truth) < 3 * sample->standardError(),
                     qPrintable(QStringLiteral("%1: %2 +- %3 against %4")
                                    .arg(name).arg(sample->mean()).arg(sample->standardError()).arg(truth)));
            if (sweeps >= 320 * std::max(tauE, tauM)) // 16 blocks of 20 tau
                VERIFY_HONEST(*sample, name);
        }
    }

    // U = 1 - <m^4> / (3 <m^2>^2): 2/3 for an ordered lattice, 0 for Gaussian m.
    void binder_data()
    {
        QTest::addColumn<bool>("ordered");
        QTest::addColumn<double>("expected");
        QTest::newRow("all spins up") << true << 2.0 / 3;
        QTest::newRow("Gaussian m") << false << 0.0;
    }
    void binder()
    {
        QFETCH(bool, ordered);
        QFETCH(double, expected);
        constexpr int L = 1024, N = L * L; // the largest lattice: M^4 beyond 64 bits
        Accumulator acc(100000, N);
        std::mt19937_64 g(3);
        Ar1 m(2);
        for (int t = 0; t < 100000; ++t)
            acc.add(-2 * N, ordered ? N : std::llround(N / 8 * m.next(g)), 0);
        const Value u = acc.analyse(2.27).binder;
        if (ordered)
            QCOMPARE(u.mean, expected);
        else
            QVERIFY2(std::abs(u.mean - expected) < 3 * u.error, qPrintable(QStringLiteral("%1 +- %2").arg(u.mean).arg(u.error)));
    }

    // The first and last quarter compared: a change there is drift, one in
    // the middle half is not.
    void drift_data()
    {
        QTest::addColumn<int>("observable"); // 0 energy, 1 |m|
        QTest::addColumn<int>("shape");      // 0 none, 1 a step at half time, 2 a steady trend, 3 a middle-half bump
        QTest::addColumn<bool>("drift");
        QTest::newRow("stationary") << 0 << 0 << false;
        QTest::newRow("energy leaving a state halfway") << 0 << 1 << true;
        QTest::newRow("|m| drifting steadily") << 1 << 2 << true;
        QTest::newRow("energy changing only in the middle half") << 0 << 3 << false;
    }
    void drift()
    {
        QFETCH(int, observable);
        QFETCH(int, shape);
        QFETCH(bool, drift);
        static int s_observable, s_shape;
        s_observable = observable, s_shape = shape;
        std::mt19937_64 g(11);
        const Results r = run(10, 10, 40000, g, [](double f, int which) {
            if (which != s_observable)
                return 0.0;
            switch (s_shape) {
            case 1: return f < 0.5 ? 1.0 : 0.0;
            case 2: return 1 - 2 * f;
            case 3: return f >= 0.25 && f < 0.75 ? 1.0 : 0.0;
            default: return 0.0;
            }
        });
        QCOMPARE(r.drift, drift);
    }

    // xi = (chi/F - 1)^(1/2) / (2 sin(pi/L)), chi = <M^2>/N: from one state
    // held every sweep (one spin down on 8 x 8: M = 62, F = 8/64, exact and
    // without spread), and from fluctuating M and F, whose jackknife errors
    // must match the spread over independent series (L = 2: sin(pi/2) = 1).
    void correlationLength_data()
    {
        QTest::addColumn<bool>("fluctuating");
        QTest::newRow("one state held") << false;
        QTest::newRow("fluctuating M and F") << true;
    }
    void correlationLength()
    {
        QFETCH(bool, fluctuating);
        if (!fluctuating) {
            Accumulator acc(1000, 64);
            for (int t = 0; t < 1000; ++t)
                acc.add(-120, 62, 0, 8.0 / 64);
            const Results r = acc.analyse(1);
            const double xi = std::sqrt(62.0 * 62 / 64 / (8.0 / 64) - 1) / (2 * std::sin(M_PI / 8));
            QCOMPARE(r.correlationLength.mean, xi);
            QCOMPARE(r.correlationLengthOverSize.mean, xi / 8);
            QCOMPARE(r.correlationLength.error, 0.0);
            return;
        }
        std::mt19937_64 g(5);
        Sample xi, xiOverL;
        for (int s = 0; s < 400; ++s) {
            Accumulator acc(4000, 4);
            Ar1 m(4), f(4);
            for (int t = 0; t < 4000; ++t) // M = 10 + m, F = 5 + f: chi/F = (100 + 1)/(4 * 5)
                acc.add(0, std::llround(Scale * (10 + m.next(g))), 0, Scale * Scale * (5 + f.next(g)));
            const Results r = acc.analyse(1);
            xi.add(r.correlationLength), xiOverL.add(r.correlationLengthOverSize);
        }
        const double truth = std::sqrt((100 + 1) / 20.0 - 1) / 2; // the rounding of M adds 1e-7: far below the errors
        QVERIFY2(std::abs(xi.mean() - truth) < 3 * xi.standardError(),
                 qPrintable(QStringLiteral("xi %1 +- %2 against %3").arg(xi.mean()).arg(xi.standardError()).arg(truth)));
        QVERIFY2(std::abs(xiOverL.mean() - truth / 2) < 3 * xiOverL.standardError(), "xi / L");
        VERIFY_HONEST(xi, "xi");
    }
};

QTEST_GUILESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"
