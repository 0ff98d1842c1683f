// The batch program's updates: its flip attempt against the window's
// AttemptFlip (the same draws must give the same decision and the same
// lattice, attempt by attempt, for any temperature and any factor texts);
// chains swept together against each swept alone; the energies both
// updates visit against the exact Boltzmann weights of a small torus; and
// the Wolff clusters grown with AVX2 against those of the portable code.
#include "core/flip.h"
#include "tests/fakes.h"
#include "engine/chain.h"
#include "engine/checkerboard.h"
#include "engine/fouriermode.h"
#include "core/lattice.h"
#include "stdruntime/random.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

using namespace ferro;
using ferro::engine::Chain;
using ferro::engine::FastLattice;

namespace {

// Spins from the draws: with blanks, neighbour sums take odd values too.
Lattice lattice(Random &random, bool blanks)
{
    Lattice l;
    for (auto &row : l.Spin)
        for (auto &s : row) {
            const double r = random.Rnd();
            s = static_cast<std::int16_t>(blanks && r < 0.1 ? 0 : r < 0.55 ? 1 : -1);
        }
    l.recount();
    return l;
}

FactorTable table(const std::vector<std::string> &texts)
{
    FactorTable t;
    for (int k = 0; k < Sites; ++k)
        t.setText(k, texts[std::size_t(k) % texts.size()]);
    return t;
}

QString sameLattice(const Lattice &window, const FastLattice &fast)
{
    Lattice mine;
    fast.store(mine);
    if (std::memcmp(mine.Spin, window.Spin, sizeof mine.Spin) != 0)
        return QStringLiteral("spins differ");
    if (mine.Energy != window.Energy || mine.TotalMag != window.TotalMag)
        return QStringLiteral("totals differ: E %1 / %2, M %3 / %4")
            .arg(mine.Energy).arg(window.Energy).arg(mine.TotalMag).arg(window.TotalMag);
    return {};
}

// How many states of the L x L torus have each energy (index E + 2 L^2),
// counted exactly row by row: the first row fixed, then each next row with
// its bonds to the row above and along itself, and the last row's bonds to
// the first.
std::vector<double> densityOfStates(int L)
{
    const int rows = 1 << L, offset = 2 * L * L;
    auto spin = [](int row, int j) { return (row >> j & 1) ? 1 : -1; };
    auto along = [&](int a) { int e = 0; for (int j = 0; j < L; ++j) e -= spin(a, j) * spin(a, (j + 1) % L); return e; };
    auto across = [&](int a, int b) { int e = 0; for (int j = 0; j < L; ++j) e -= spin(a, j) * spin(b, j); return e; };
    std::vector<double> g(std::size_t(2 * offset + 1), 0.0);
    for (int first = 0; first < rows; ++first) {
        std::vector<std::map<int, double>> now(static_cast<std::size_t>(rows));
        now[std::size_t(first)][along(first)] = 1;
        for (int r = 1; r < L; ++r) {
            std::vector<std::map<int, double>> next(static_cast<std::size_t>(rows));
            for (int a = 0; a < rows; ++a)
                for (const auto &[e, count] : now[std::size_t(a)])
                    for (int b = 0; b < rows; ++b)
                        next[std::size_t(b)][e + across(a, b) + along(b)] += count;
            now = std::move(next);
        }
        for (int last = 0; last < rows; ++last)
            for (const auto &[e, count] : now[std::size_t(last)])
                g[std::size_t(e + across(last, first) + offset)] += count;
    }
    return g;
}

// Chi-square of observed energy counts against the exact Boltzmann weights
// at temperature T, with neighbouring energies pooled until each bin expects
// at least 5; returns {chi-square, degrees of freedom}.
std::pair<double, int> chiSquare(const std::map<int, long> &seen, int L, double T)
{
    const std::vector<double> g = densityOfStates(L);
    const int offset = 2 * L * L;
    double z = 0, minimum = 1e300;
    for (std::size_t i = 0; i < g.size(); ++i)
        if (g[i] > 0)
            minimum = std::min(minimum, double(int(i) - offset));
    std::vector<double> weight(g.size());
    for (std::size_t i = 0; i < g.size(); ++i)
        z += weight[i] = g[i] * std::exp(-(double(int(i) - offset) - minimum) / T);
    long n = 0;
    for (const auto &[e, count] : seen)
        n += count;
    std::vector<std::pair<double, double>> bins; // expected, observed
    double expected = 0, observed = 0;
    for (std::size_t i = 0; i < g.size(); ++i) {
        if (g[i] == 0) {
            const auto it = seen.find(int(i) - offset);
            if (it != seen.end())
                return {1e300, 1}; // an energy no state has
            continue;
        }
        expected += n * weight[i] / z;
        const auto it = seen.find(int(i) - offset);
        observed += it == seen.end() ? 0 : double(it->second);
        if (expected >= 5) {
            bins.push_back({expected, observed});
            expected = observed = 0;
        }
    }
    if (!bins.empty()) {
        bins.back().first += expected;
        bins.back().second += observed;
    }
    double chi = 0;
    for (const auto &[e, o] : bins)
        chi += (o - e) * (o - e) / e;
    return {chi, int(bins.size()) - 1};
}

// The chi-square value that independent samples exceed with probability
// 0.001 (Wilson-Hilferty's approximation, within 2 % for 3 or more degrees).
double chiSquareLimit(int dof)
{
    const double z = 3.090232, a = 2.0 / (9.0 * dof);
    return dof * std::pow(1 - a + z * std::sqrt(a), 3);
}

std::unique_ptr<Chain> chain(int L, double T, std::uint64_t seed)
{
    auto c = std::make_unique<Chain>(L, seed);
    c->lattice.startRandom(c->stream);
    const std::vector<double> ones(std::size_t(L) * L, 1.0);
    c->lattice.setTemperature(T, ones.data());
    return c;
}

// Scripted 64-bit numbers, for the kernel's decisions on the generator's bits.
struct ScriptedBits {
    std::deque<std::uint64_t> script;
    std::uint64_t next()
    {
        const std::uint64_t x = script.front();
        script.pop_front();
        return x;
    }
    double Rnd() { return double(next() >> 11) * 0x1.0p-53; }
};

// The program's generator seen through its draws only, so that the kernel
// decides on the floats, as AttemptFlip does.
struct DrawsOnly {
    Random random;
    double Rnd() { return random.draw(); }
};

// Blanks every seventh site (the spins written, then recounted).
void blankEverySeventh(FastLattice &l)
{
    const std::span<ferro::engine::Spin> spins = l.spins();
    for (std::size_t k = 0; k < spins.size(); k += 7)
        spins[k] = 0;
    l.recount();
}

QString totalsOf(const FastLattice &l)
{
    return QStringLiteral("E %1, M %2").arg(l.Energy).arg(l.TotalMag);
}

} // namespace

class TestBatchKernel : public QObject {
    Q_OBJECT
private slots:
    void seededRunsAgree_data()
    {
        QTest::addColumn<double>("temperature");
        QTest::addColumn<QStringList>("factorTexts");
        QTest::addColumn<bool>("blanks");
        QTest::newRow("critical-all-ones") << 2.27 << QStringList {""} << false;
        QTest::newRow("hot-saturated") << 1e300 << QStringList {"1e999", ""} << false;
        QTest::newRow("odd-texts") << 1.5
                                   << QStringList {"", "abc", "-2", "0.00005", "2x", " 3", "&H10", "1e-7", "0"}
                                   << false;
        QTest::newRow("blank-sites-odd-sums") << 1.2 << QStringList {"", "0.7"} << true;
    }
    void seededRunsAgree()
    {
        QFETCH(double, temperature);
        QFETCH(QStringList, factorTexts);
        QFETCH(bool, blanks);
        std::vector<std::string> texts;
        for (const QString &t : factorTexts)
            texts.push_back(t.toStdString());
        const FactorTable factors = table(texts);
        Random setup(99);
        Lattice window = lattice(setup, blanks);
        FastLattice fast;
        fast.load(window);
        fast.setTemperature(runTemperature(temperature), factors.data());

        // The window draws through Random, the batch program through its Stream.
        Random windowRandom(2024);
        engine::Stream stream(2024);
        long accepted = 0;
        for (long a = 0; a < 1'000'000; ++a) {
            const FlipOutcome o = AttemptFlip(window, windowRandom, runTemperature(temperature), factors.data());
            const int mine = fast.attempt(stream);
            accepted += mine;
            if (mine != int(o.accepted) || fast.Energy != window.Energy || fast.TotalMag != window.TotalMag)
                QFAIL(qPrintable(QStringLiteral("attempt %1 at cell %2: decided %3, the window %4")
                                     .arg(a).arg(o.k).arg(mine).arg(int(o.accepted))));
            if (a % 4096 == 0) {
                const QString diff = sameLattice(window, fast);
                QVERIFY2(diff.isEmpty(), qPrintable(diff));
            }
        }
        QVERIFY2(sameLattice(window, fast).isEmpty(), "lattices differ at the end");
        QVERIFY(accepted > 0);
    }

    // r2 on and beside the weight of every attempt: the float and double
    // neighbours of exp(-dE / T_k), for temperatures across the whole range.
    void drawsAtTheWeightAgree()
    {
        Random setup(7);
        Lattice window = lattice(setup, true);
        FactorTable factors;
        for (int k = 0; k < Sites; ++k)
            factors.setText(k, std::to_string(std::exp(std::log(1e-5) + setup.Rnd() * std::log(1e9))));
        ScriptedRandom windowRandom, mineRandom;
        long decisions[2] = {0, 0};
        FastLattice fast;
        double T = 1;
        for (long a = 0; a < 1'000'000; ++a) {
            if (a % 1000 == 0) { // a new lattice and temperature, 0.1 to 50000
                window = lattice(setup, a % 2000 == 0);
                T = runTemperature(std::exp(std::log(0.05) + setup.Rnd() * std::log(1e6)));
                fast.load(window);
                fast.setTemperature(T, factors.data());
            }
            const double r1 = setup.Rnd();
            const int k = int(r1 * Sites);
            const int dE = 2 * window.spinOfCell(k) * window.NeighbourSum(rowOf(k), columnOf(k));
            const double w = std::exp(-dE / (T * factors[k]));
            const float f = float(w);
            const double candidates[] = {w, std::nextafter(w, 0.0), std::nextafter(w, 1.0), f,
                                         std::nextafter(f, 0.0f), std::nextafter(f, 1.0f)};
            const double r2 = std::min(candidates[a % 6], std::nextafter(1.0, 0.0));
            windowRandom.script = {r1, r2};
            mineRandom.script = {r1, r2};
            const FlipOutcome o = AttemptFlip(window, windowRandom, T, factors.data());
            const int mine = fast.attempt(mineRandom);
            ++decisions[mine];
            if (mine != int(o.accepted) || fast.Energy != window.Energy || fast.TotalMag != window.TotalMag)
                QFAIL(qPrintable(QStringLiteral("T %1, cell %2, factor %3, dE %4, r2 %5: decided %6, the window %7")
                                     .arg(T, 0, 'g', 17).arg(k).arg(factors[k], 0, 'g', 17).arg(dE)
                                     .arg(r2, 0, 'g', 17).arg(mine).arg(int(o.accepted))));
        }
        // Both outcomes occur often, so the boundary really was probed.
        QVERIFY(decisions[0] > 100'000 && decisions[1] > 100'000);
    }

    // The decision on the generator's integers: r2's 53 bits on and beside
    // the first integer whose float is not below the weight, and beside the
    // weight itself, against AttemptFlip given the same draws as doubles;
    // every site with one factor F (a uniform factor file), F = 1 or not.
    void integerDrawsAtTheWeightAgree()
    {
        Random setup(8);
        Lattice window = lattice(setup, true);
        std::vector<double> uniform(Sites, 1.0);
        ScriptedBits bits;
        ScriptedRandom windowRandom;
        long decisions[2] = {0, 0};
        FastLattice fast;
        double T = 1;
        constexpr std::uint64_t Top = (std::uint64_t(1) << 53) - 1;
        for (long a = 0; a < 600'000; ++a) {
            if (a % 1000 == 0) { // a new lattice and temperature, 0.05 to 50000
                window = lattice(setup, a % 2000 == 0);
                T = runTemperature(std::exp(std::log(0.05) + setup.Rnd() * std::log(1e6)));
                const double factor = a % 3000 == 0 ? 1.0 : std::exp(std::log(1e-3) + setup.Rnd() * std::log(1e5));
                std::fill(uniform.begin(), uniform.end(), factor);
                fast.load(window);
                fast.setTemperature(T, uniform.data());
            }
            const std::uint64_t m1 = setup.next() >> 11;
            const int k = int(double(m1) * 0x1.0p-53 * Sites);
            const int dE = 2 * window.spinOfCell(k) * window.NeighbourSum(rowOf(k), columnOf(k));
            const double w = metropolisWeight(dE, localTemperature(T, uniform[0]));
            float t = float(w);
            if (t < w)
                t = std::nextafter(t, 2.0f);
            const std::uint64_t b = engine::detail::integerThreshold(t);
            const auto scaled = std::uint64_t(std::min(std::ldexp(w, 53), double(Top)));
            const std::uint64_t candidates[] = {b - 1, b, b + 1, scaled - 1, scaled, scaled + 1};
            const std::uint64_t m2 = std::min(candidates[a % 6], Top);
            bits.script = {m1 << 11, m2 << 11 | (a & 0x7FF)}; // the low 11 bits never count
            windowRandom.script = {double(m1) * 0x1.0p-53, double(m2) * 0x1.0p-53};
            const FlipOutcome o = AttemptFlip(window, windowRandom, T, uniform.data());
            const int mine = fast.attempt(bits);
            ++decisions[mine];
            if (mine != int(o.accepted) || fast.Energy != window.Energy || fast.TotalMag != window.TotalMag)
                QFAIL(qPrintable(QStringLiteral("T %1, cell %2, dE %3, m2 %4 (threshold %5): decided %6, the window %7")
                                     .arg(T, 0, 'g', 17).arg(k).arg(dE).arg(m2).arg(b).arg(mine)
                                     .arg(int(o.accepted))));
        }
        QVERIFY(decisions[0] > 100'000 && decisions[1] > 100'000);
    }

    // Sweeps of lattices too large for the neighbour table (one byte of state
    // a site, updated on every flip) make the decisions of single attempts
    // decided on the floats: the same spins, totals, acceptances and draws.
    void largeSweepsAreFloatAttempts_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<bool>("blanks");
        QTest::addColumn<bool>("wolff"); // Wolff clusters between the sweeps
        QTest::newRow("L129-critical") << 129 << 2.27 << false << false;
        QTest::newRow("L300-cold-blanks") << 300 << 1.2 << true << false;
        QTest::newRow("L1024-hot") << 1024 << 4.0 << false << false;
        QTest::newRow("L200-wolff-between") << 200 << 2.27 << false << true;
    }
    void largeSweepsAreFloatAttempts()
    {
        QFETCH(int, size);
        QFETCH(double, temperature);
        QFETCH(bool, blanks);
        QFETCH(bool, wolff);
        auto swept = chain(size, temperature, 31);
        auto single = chain(size, temperature, 31);
        DrawsOnly draws {single->stream};
        for (int sweep = 0; sweep < 4; ++sweep) {
            if (blanks && sweep == 1) // spins written between sweeps, then recounted
                for (FastLattice *l : {&swept->lattice, &single->lattice})
                    blankEverySeventh(*l);
            if (wolff && sweep > 0)
                for (int c = 0; c < 20; ++c)
                    QCOMPARE(swept->lattice.wolffCluster(swept->stream), single->lattice.wolffCluster(draws.random));
            int accepted = 0;
            for (int a = 0; a < size * size; ++a)
                accepted += single->lattice.attempt(draws);
            QCOMPARE(swept->sweep(), accepted);
            QCOMPARE(totalsOf(swept->lattice), totalsOf(single->lattice));
        }
        QVERIFY(std::equal(swept->lattice.spins().begin(), swept->lattice.spins().end(),
                           single->lattice.spins().begin()));
        const QString totals = totalsOf(swept->lattice);
        swept->lattice.recount();
        QCOMPARE(totalsOf(swept->lattice), totals);
        QCOMPARE(swept->stream.next(), draws.random.next());
    }

    // Chains swept together make exactly the decisions each makes swept
    // alone: the same spins, totals, acceptances and next draws.
    void chainsSweptTogetherAreSoloSweeps_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<bool>("siteFactors");
        QTest::addColumn<bool>("blanks");
        QTest::addColumn<bool>("regrouped"); // every other sweep, each chain on its own
        QTest::newRow("two-20") << QList<int> {20, 20} << false << false << false;
        QTest::newRow("three-7-odd-count") << QList<int> {7, 7, 7} << false << false << false;
        QTest::newRow("two-20-site-factors") << QList<int> {20, 20} << true << false << false;
        QTest::newRow("mixed-sizes") << QList<int> {2, 33, 33, 5} << false << false << false;
        QTest::newRow("four-20-and-one") << QList<int> {20, 20, 20, 20, 20} << false << false << false;
        QTest::newRow("four-2-among-others") << QList<int> {2, 5, 2, 2, 7, 2} << false << false << false;
        QTest::newRow("four-20-blanks") << QList<int> {20, 20, 20, 20} << false << true << false;
        QTest::newRow("four-112") << QList<int> {112, 112, 112, 112} << false << false << false;
        QTest::newRow("four-128-bits") << QList<int> {128, 128, 128, 128} << false << false << false;
        QTest::newRow("four-157-bits-regrouped") << QList<int> {157, 157, 157, 157} << false << false << true;
        QTest::newRow("four-200-from-states-blanks") << QList<int> {200, 200, 200, 200} << false << true << false;
        QTest::newRow("four-600-bits-and-one") << QList<int> {600, 600, 600, 600, 600} << false << false << false;
        // The third stream's random start leaves a site blank at these sizes
        // (a draw of exactly 1/2), so a small lattice takes its place.
        QTest::newRow("four-900-bits-fetched-ahead") << QList<int> {900, 900, 5, 900, 900} << false << false << false;
    }
    void chainsSweptTogetherAreSoloSweeps()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(bool, siteFactors);
        QFETCH(bool, blanks);
        QFETCH(bool, regrouped);
        std::vector<std::unique_ptr<Chain>> together, alone;
        std::vector<Chain *> group;
        for (int c = 0; c < int(sizes.size()); ++c) {
            const int L = sizes[c];
            std::vector<double> factors(std::size_t(L) * L, 1.0);
            if (siteFactors)
                for (std::size_t k = 0; k < factors.size(); ++k)
                    factors[k] = 0.5 + double(k % 7) / 4;
            for (auto *list : {&together, &alone}) {
                FastLattice &l = list->emplace_back(std::make_unique<Chain>(L, engine::streamSeed(11, std::uint64_t(c))))->lattice;
                l.startRandom(list->back()->stream);
                if (blanks)
                    blankEverySeventh(l);
                l.setTemperature(2.27 + 0.1 * c, factors.data());
            }
            group.push_back(together.back().get());
        }
        std::vector<int> accepted(group.size(), 0);
        const int sweeps = std::max(4, 80'000 / (sizes[0] * sizes[0]));
        for (int sweep = 0; sweep < sweeps; ++sweep) {
            if (regrouped && sweep % 2 == 1)
                for (std::size_t c = 0; c < group.size(); ++c)
                    engine::sweepTogether(std::span(&group[c], 1), std::span(&accepted[c], 1));
            else
                engine::sweepTogether(group, accepted);
            for (std::size_t c = 0; c < group.size(); ++c)
                QCOMPARE(accepted[c], alone[c]->sweep());
        }
        for (std::size_t c = 0; c < group.size(); ++c) {
            const FastLattice &a = together[c]->lattice, &b = alone[c]->lattice;
            QVERIFY(std::equal(a.spins().begin(), a.spins().end(), b.spins().begin()));
            QCOMPARE(totalsOf(a), totalsOf(b));
            QCOMPARE(together[c]->stream.next(), alone[c]->stream.next());
        }
    }

    // The energies a long run visits, against the exact Boltzmann weights of
    // the torus, sampled far enough apart to be nearly independent.
    void energiesFollowBoltzmann_data()
    {
        QTest::addColumn<bool>("wolff");
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<int>("every"); // clusters or sweeps between samples
        QTest::newRow("wolff-4x4-T2.27") << true << 4 << 2.27 << 5;
        QTest::newRow("wolff-4x4-T3.5") << true << 4 << 3.5 << 5;
        QTest::newRow("wolff-3x3-T1.8") << true << 3 << 1.8 << 5;
        QTest::newRow("metropolis-6x6-T2.27") << false << 6 << 2.27 << 10;
        QTest::newRow("metropolis-5x5-T3") << false << 5 << 3.0 << 10;
    }
    void energiesFollowBoltzmann()
    {
        QFETCH(bool, wolff);
        QFETCH(int, size);
        QFETCH(double, temperature);
        QFETCH(int, every);
        auto c = chain(size, temperature, 4242);
        std::map<int, long> seen;
        for (int sample = -1000; sample < 100'000; ++sample) {
            for (int step = 0; step < every; ++step)
                wolff ? void(c->lattice.wolffCluster(c->stream)) : void(c->sweep());
            if (sample >= 0)
                ++seen[c->lattice.Energy];
        }
        const auto [chi, dof] = chiSquare(seen, size, temperature);
        const double limit = chiSquareLimit(dof);
        qInfo("chi-square %.1f with %d degrees of freedom (limit %.1f at p = 0.001)", chi, dof, limit);
        QVERIFY2(chi < limit, qPrintable(QStringLiteral("chi-square %1 > %2").arg(chi).arg(limit)));
    }

    // Wolff sweeps end at the first cluster that brings the spins added to
    // the next multiple of L^2, and keep E and M equal to a full recount.
    void wolffSweepsKeepLengthAndTotals_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::newRow("L2") << 2 << 2.27;
        QTest::newRow("L3-cold") << 3 << 1.0;
        QTest::newRow("L5") << 5 << 2.27;
        QTest::newRow("L16-hot") << 16 << 5.0;
        QTest::newRow("L32-critical") << 32 << 2.27;
    }
    void wolffSweepsKeepLengthAndTotals()
    {
        QFETCH(int, size);
        QFETCH(double, temperature);
        auto swept = chain(size, temperature, 5), clustered = chain(size, temperature, 5);
        const std::int64_t sites = std::int64_t(size) * size;
        std::int64_t added = 0;
        for (std::int64_t sweep = 1; sweep <= 300; ++sweep) {
            swept->lattice.wolffSweep(swept->stream);
            while (added < sweep * sites)
                added += clustered->lattice.wolffCluster(clustered->stream);
            QCOMPARE(swept->lattice.wolffSpinsAdded(), added);
            const QString totals = totalsOf(swept->lattice);
            swept->lattice.recount();
            QCOMPARE(totals, totalsOf(swept->lattice));
        }
        QVERIFY(std::equal(swept->lattice.spins().begin(), swept->lattice.spins().end(),
                           clustered->lattice.spins().begin()));
    }

    // The AVX2 growth and bond numbers against the portable code: the same
    // clusters, cluster by cluster, and the same exact totals (blank sites
    // included; at T = 0.05 every bond is open).
    void wolffVectorMatchesPortable_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<bool>("blanks");
        QTest::newRow("L3-cold") << 3 << 1.0 << false;
        QTest::newRow("L8-every-bond-open-blanks") << 8 << 0.05 << true;
        QTest::newRow("L16-critical-blanks") << 16 << 2.27 << true;
        QTest::newRow("L64-critical") << 64 << 2.27 << false;
        QTest::newRow("L130-hot-computed-neighbours") << 130 << 5.0 << false;
        QTest::newRow("L200-critical-computed-neighbours-blanks") << 200 << 2.27 << true;
    }
    void wolffVectorMatchesPortable()
    {
        QFETCH(int, size);
        QFETCH(double, temperature);
        QFETCH(bool, blanks);
        auto vector = chain(size, temperature, 31), portable = chain(size, temperature, 31);
        if (blanks)
            for (Chain *c : {vector.get(), portable.get()})
                blankEverySeventh(c->lattice);
        if (!vector->lattice.setWolffVector(true))
            qInfo("no AVX2 on this processor: both chains take the portable path");
        portable->lattice.setWolffVector(false);
        for (int cluster = 0; cluster < 2000; ++cluster)
            QCOMPARE(vector->lattice.wolffCluster(vector->stream), portable->lattice.wolffCluster(portable->stream));
        QVERIFY(std::equal(vector->lattice.spins().begin(), vector->lattice.spins().end(),
                           portable->lattice.spins().begin()));
        const QString totals = totalsOf(portable->lattice);
        QCOMPARE(totalsOf(vector->lattice), totals);
        portable->lattice.recount();
        QCOMPARE(totalsOf(portable->lattice), totals);
    }

    // Bonds decided ahead for one temperature are not used at another: at
    // T = 0.05 every bond is open, so a cluster on a lattice of equal spins
    // takes all of them, even after clusters at T = 5 (where a third are).
    void wolffClusterFollowsNewTemperature()
    {
        auto c = chain(8, 5.0, 17);
        for (int cluster = 0; cluster < 3; ++cluster)
            c->lattice.wolffCluster(c->stream);
        std::fill(c->lattice.spins().begin(), c->lattice.spins().end(), 1);
        c->lattice.recount();
        const std::vector<double> ones(64, 1.0);
        c->lattice.setTemperature(0.05, ones.data());
        QCOMPARE(c->lattice.wolffCluster(c->stream), 64);
        QCOMPARE(totalsOf(c->lattice), QStringLiteral("E -128, M -64"));
    }

    // The mode F of states whose transform is known by hand, as a sweep
    // leaves the lattice (F is read off the form the sweep wrote).
    // Half-lattice stripes: column sums +-L, |sum_j c_j e^(2 pi i j/L)| =
    // 2L / sin(pi/L) and row sums 0, so F = 2 / sin^2(pi/L); one spin down
    // in L^2: each transform is -2 e^(i phase), F = (4 + 4) / (2 L^2);
    // all up: only k = 0 is lit, F = 0.
    void fourierModeOfKnownStates_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("state"); // 0 stripes along the rows, 1 the same turned, 2 one spin down, 3 all up
        QTest::addColumn<double>("mode");
        QTest::newRow("stripes, L = 4 (F = 4)") << 4 << 0 << 4.0;
        QTest::newRow("stripes turned, L = 4") << 4 << 1 << 4.0;
        QTest::newRow("stripes, L = 256 (through the site codes)") << 256 << 0 << 2 / std::pow(std::sin(M_PI / 256), 2);
        QTest::newRow("one spin down, L = 5") << 5 << 2 << 4.0 / 25;
        QTest::newRow("one spin down, L = 1024") << 1024 << 2 << 4.0 / (1024.0 * 1024);
        QTest::newRow("all up, L = 6") << 6 << 3 << 0.0;
    }
    void fourierModeOfKnownStates()
    {
        QFETCH(int, size);
        QFETCH(int, state);
        QFETCH(double, mode);
        auto c = chain(size, 1e-3, 5); // no flip is ever taken: the state stays
        const std::span<ferro::engine::Spin> spins = c->lattice.spins();
        for (int i = 0; i < size; ++i)
            for (int j = 0; j < size; ++j)
                spins[std::size_t(i * size + j)] = state == 0 ? (j < size / 2 ? 1 : -1)
                    : state == 1                          ? (i < size / 2 ? 1 : -1)
                    : state == 2 && i == 2 && j == 3      ? -1
                                                          : 1;
        c->lattice.recount();
        if (state < 2) // stripes are stable at this temperature (the lone spin would turn back)
            c->sweep();
        ferro::engine::FourierMode measure(size);
        const double f = measure(std::as_const(c->lattice).spins());
        QVERIFY2(std::abs(f - mode) <= 1e-9 * std::max(1.0, mode), qPrintable(QStringLiteral("F = %1").arg(f, 0, 'g', 12)));
    }

    // The row and column sums the mode is made of, read off the form a sweep
    // left fresh (the bits of chains swept together, the site codes of a
    // large lattice swept alone, the checkerboard's two colours), against
    // the sums of the same spins read out one by one; and so the same F to
    // the last bit. Random states, rows of fewer bits than a byte, a word and
    // a byte more than a word.
    void modeOfEveryFormIsTheSpins_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("size");
        for (const int L : {2, 4, 6, 62, 66, 130})
            for (const char *form : {"bits", "codes", "checkerboard"})
                QTest::addRow("%s-L%d", form, L) << QString(form) << L;
        QTest::newRow("bits-L67-odd") << "bits" << 67;
        QTest::newRow("bits-L1024") << "bits" << 1024;
        QTest::newRow("codes-L131-blanks") << "codes-blanks" << 131;
        QTest::newRow("checkerboard-L1030") << "checkerboard" << 1030;
        // Nearly every spin up in more than 255 x 16 rows: column counts past a byte's reach.
        QTest::newRow("checkerboard-L4098-ordered") << "checkerboard-ordered" << 4098;
    }
    void modeOfEveryFormIsTheSpins()
    {
        QFETCH(QString, form);
        QFETCH(int, size);
        const std::size_t L = std::size_t(size);
        std::vector<int> rows(L), columns(L), plainRows(L), plainColumns(L);
        std::vector<ferro::engine::Spin> spins(L * L);
        engine::FourierMode mode(size);
        double f = 0;
        if (form.startsWith("checkerboard")) {
            engine::CheckerboardLattice lattice(size);
            if (form == "checkerboard") {
                Random stream(std::uint64_t(size) + 1);
                lattice.startRandom(stream);
                lattice.setTemperature(2.4);
            } else {
                for (std::uint64_t seed = 1; lattice.TotalMag < 0; ++seed) { // the ordered start that is up
                    Random stream(seed);
                    lattice.startOrdered(stream);
                }
                lattice.setTemperature(0.5); // hardly a spin turns
            }
            for (int sweep = 0; sweep < 3; ++sweep)
                lattice.sweep();
            lattice.lineSums(rows, columns);
            f = mode(lattice);
            for (std::size_t k = 0; k < spins.size(); ++k)
                spins[k] = lattice.spin(int(k / L), int(k % L));
        } else {
            // Four chains, swept together (as bits above L = 112), or one
            // swept alone (as site codes above L = 128).
            std::vector<std::unique_ptr<Chain>> chains;
            std::vector<Chain *> group;
            for (int c = 0; c < (form == "bits" ? 4 : 1); ++c) {
                chains.push_back(chain(size, 2.4, engine::streamSeed(std::uint64_t(size), std::uint64_t(c))));
                if (form == "codes-blanks")
                    blankEverySeventh(chains.back()->lattice);
                group.push_back(chains.back().get());
            }
            std::vector<int> accepted(group.size());
            for (int sweep = 0; sweep < 3; ++sweep)
                engine::sweepTogether(group, accepted);
            FastLattice &lattice = chains.back()->lattice;
            if (form == "bits")
                QVERIFY(lattice.bitsToSweep()); // the only fresh form (already so above L = 112)
            else
                lattice.statesToSweep();
            lattice.lineSums(rows, columns);
            f = mode(lattice);
            const std::span<const ferro::engine::Spin> read = std::as_const(lattice).spins();
            std::copy(read.begin(), read.end(), spins.begin());
        }
        engine::lineSums(spins, size, plainRows, plainColumns);
        QCOMPARE(rows, plainRows);
        QCOMPARE(columns, plainColumns);
        const double plain = mode(spins);
        QVERIFY2(f == plain, qPrintable(QStringLiteral("F = %1, from the spins %2").arg(f, 0, 'g', 17).arg(plain, 0, 'g', 17)));
    }
};

QTEST_GUILESS_MAIN(TestBatchKernel)
#include "tst_batchkernel.moc"
