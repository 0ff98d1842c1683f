// The checkerboard update: its bit-serial acceptance against a plain u < p,
// its word-parallel sweep (portable and AVX2) against a one-spin-at-a-time
// sweep that reads the same random bits, and the energies and magnetizations
// a long run on the 4 x 4 torus visits against the exact Boltzmann weights of
// its 65,536 states.
#include "engine/checkerboard.h"
#include "engine/cpu.h"
#include "stdruntime/random.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

using namespace ferro;
using engine::CheckerboardLattice;
using engine::CheckerThresholds;

namespace {

// u 2^-64 < p, computed in long double (64-bit significand: u and p 2^64 exact).
bool plainBelow(std::uint64_t u, double p)
{
    return static_cast<long double>(u) < std::ldexp(static_cast<long double>(p), 64);
}

// A plain L x L spin array.
struct Plain {
    int L;
    std::vector<int> s;
    int &at(int i, int j) { return s[std::size_t(((i + L) % L) * L + (j + L) % L)]; }
    std::int64_t energy()
    {
        std::int64_t e = 0;
        for (int i = 0; i < L; ++i)
            for (int j = 0; j < L; ++j)
                e -= at(i, j) * (at(i, j + 1) + at(i + 1, j));
        return e;
    }
    std::int64_t magnetization()
    {
        std::int64_t m = 0;
        for (int v : s)
            m += v;
        return m;
    }
};

Plain plainOf(const CheckerboardLattice &lattice)
{
    Plain p {lattice.size(), std::vector<int>(std::size_t(lattice.sites()))};
    for (int i = 0; i < p.L; ++i)
        for (int j = 0; j < p.L; ++j)
            p.at(i, j) = lattice.spin(i, j);
    return p;
}

// One sweep, one spin at a time: colour 0 then 1, band by band, each band's
// sites of that colour in the order of their words (row after row, 64 bit
// places a word, places past L / 2 empty), four words a block. A spin with
// two or more antiparallel neighbours flips; one with one or none compares
// its u with the threshold bit by bit, where bit b of its u is bit (its
// place) of the block's b-th draw of its word's lane.
void plainSweep(Plain &p, const CheckerThresholds &t, int bands, std::vector<std::array<Xoshiro256, 4>> &lanes)
{
    const int L = p.L, H = L / 2, W = (H + 63) / 64;
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < bands; ++b) {
            const int r0 = int(std::int64_t(b) * L / bands), r1 = int(std::int64_t(b + 1) * L / bands);
            const int words = (r1 - r0) * W;
            for (int n = 0; n < words; n += 4) {
                struct Site {
                    int i, j, lane, place;
                    std::uint64_t threshold;
                    bool open, flip;
                };
                std::vector<Site> sites;
                for (int l = 0; l < 4 && n + l < words; ++l) {
                    const int i = r0 + (n + l) / W, w = (n + l) % W;
                    for (int place = 0; place < 64; ++place) {
                        const int k = 64 * w + place;
                        if (k >= H)
                            break;
                        const int j = 2 * k + ((i + c) & 1);
                        const int s = p.at(i, j);
                        int anti = 0;
                        for (const int nb : {p.at(i - 1, j), p.at(i + 1, j), p.at(i, j - 1), p.at(i, j + 1)})
                            anti += nb != s;
                        Site site {i, j, l, place, 0, false, false};
                        if (anti >= 2 || (anti == 1 && t.fourAlways) || (anti == 0 && t.eightAlways))
                            site.flip = true;
                        else {
                            site.open = true;
                            site.threshold = anti == 1 ? t.four : t.eight;
                        }
                        sites.push_back(site);
                    }
                }
                auto anyOpen = [&] {
                    for (const Site &s : sites)
                        if (s.open)
                            return true;
                    return false;
                };
                for (int bit = 63; bit >= 0 && anyOpen(); --bit) {
                    std::uint64_t r[4];
                    for (int l = 0; l < 4; ++l)
                        r[l] = lanes[std::size_t(b)][std::size_t(l)].next();
                    for (Site &s : sites) {
                        if (!s.open)
                            continue;
                        const int ubit = int(r[s.lane] >> s.place & 1), pbit = int(s.threshold >> bit & 1);
                        if (ubit != pbit) {
                            s.open = false;
                            s.flip = ubit < pbit;
                        }
                    }
                }
                for (const Site &s : sites)
                    if (s.flip)
                        p.at(s.i, s.j) = -p.at(s.i, s.j);
            }
        }
}

// Pools bins (in order) until each expects at least 5; returns chi-square
// and degrees of freedom.
std::pair<double, int> chiSquare(const std::map<int, double> &expected, const std::map<int, long> &seen)
{
    std::vector<std::pair<double, double>> bins;
    double e = 0, o = 0;
    for (const auto &[key, value] : expected) {
        e += value;
        const auto it = seen.find(key);
        o += it == seen.end() ? 0 : double(it->second);
        if (e >= 5) {
            bins.push_back({e, o});
            e = o = 0;
        }
    }
    bins.back().first += e;
    bins.back().second += o;
    for (const auto &[key, count] : seen)
        if (!expected.count(key))
            return {1e300, 1}; // a value no state has
    double chi = 0;
    for (const auto &[ex, ob] : bins)
        chi += (ob - ex) * (ob - ex) / ex;
    return {chi, int(bins.size()) - 1};
}

// Exceeded with probability 0.001 (Wilson-Hilferty).
double chiSquareLimit(int dof)
{
    const double z = 3.090232, a = 2.0 / (9.0 * dof);
    return dof * std::pow(1 - a + z * std::sqrt(a), 3);
}

} // namespace

class TestCheckerboard : public QObject {
    Q_OBJECT

private slots:
    // 256 lanes compare their u with p bit by bit, most significant first;
    // each must come out as the plain u 2^-64 < p. Half the lanes take p,
    // half q (the two thresholds of a block); the u are random, and P - 1,
    // P, P + 1 and P with one bit turned.
    void bitSerialIsPlainComparison_data()
    {
        QTest::addColumn<double>("p");
        QTest::addColumn<double>("q");
        QTest::newRow("random middle") << 0.3679 << 0.1353;
        QTest::newRow("within 2^-53 below and above 1/2") << 0.5 - 0x1p-54 << 0.5 + 0x1p-53;
        QTest::newRow("one half and one quarter exactly") << 0.5 << 0.25;
        QTest::newRow("just above 2^-11 and 2^-30") << 0x1p-11 + 0x1p-63 << 0x1p-30 + 0x1p-82;
        QTest::newRow("near 0") << 1e-19 << 0x1p-70;
        QTest::newRow("tiny") << 1e-300 << 5e-324;
        QTest::newRow("near 1") << 1 - 0x1p-53 << 1 - 0x1p-40;
    }
    void bitSerialIsPlainComparison()
    {
        QFETCH(double, p);
        QFETCH(double, q);
        CheckerThresholds t;
        t.four = engine::thresholdBits(p);
        t.eight = engine::thresholdBits(q);
        Xoshiro256 g {{1, 2, 3, 4}};
        for (int round = 0; round < 400; ++round) {
            std::uint64_t u[4][64], one[4], zero[4];
            for (int l = 0; l < 4; ++l) {
                one[l] = g.next();
                zero[l] = ~one[l];
                for (int x = 0; x < 64; ++x) {
                    const std::uint64_t P = (one[l] >> x & 1) ? t.four : t.eight;
                    const std::uint64_t r = g.next();
                    switch (r % 8) {
                    case 0: u[l][x] = P - 1; break;
                    case 1: u[l][x] = P; break;
                    case 2: u[l][x] = P + 1; break;
                    case 3: u[l][x] = P ^ (std::uint64_t(1) << (r >> 58)); break;
                    default: u[l][x] = g.next(); break;
                    }
                }
            }
            int bit = 63;
            std::uint64_t below[4];
            engine::compareBlock(one, zero, t,
                                 [&](std::uint64_t *r) {
                                     QVERIFY(bit >= 0);
                                     for (int l = 0; l < 4; ++l) {
                                         r[l] = 0;
                                         for (int x = 0; x < 64; ++x)
                                             r[l] |= (u[l][x] >> bit & 1) << x;
                                     }
                                     --bit;
                                 },
                                 below);
            for (int l = 0; l < 4; ++l)
                for (int x = 0; x < 64; ++x) {
                    const bool mine = below[l] >> x & 1;
                    const bool plain = plainBelow(u[l][x], (one[l] >> x & 1) ? p : q);
                    if (mine != plain)
                        QFAIL(qPrintable(QStringLiteral("u = %1 against p = %2: %3")
                                             .arg(u[l][x], 16, 16, QChar('0'))
                                             .arg(((one[l] >> x & 1) ? p : q), 0, 'g', 17)
                                             .arg(mine ? "below" : "not below")));
                }
        }
    }

    // Sweeps of the word-parallel code, portable and AVX2, against the plain
    // sweep with the same lanes: the same spins, totals and lanes after each,
    // on rows shorter than a word, of whole words and of a word and a bit,
    // with one band and with several.
    void sweepIsPlainSweep_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<bool>("ordered");
        for (const int L : {2, 4, 6, 10, 64, 66, 128, 130, 256, 650, 1030})
            for (const double T : {1.5, 2.27, 40.0})
                QTest::addRow("L%d-T%g", L, T) << L << T << (L == 10 && T == 1.5);
        QTest::newRow("L16-T1e-3-no-flip-raises-energy") << 16 << 1e-3 << false;
        QTest::newRow("L16-T1e20-every-flip-taken") << 16 << 1e20 << false;
    }
    void sweepIsPlainSweep()
    {
        QFETCH(int, size);
        QFETCH(double, temperature);
        QFETCH(bool, ordered);
        for (const bool vector : {false, true}) {
            if (vector && !engine::hasAvx2())
                continue;
            CheckerboardLattice lattice(size);
            lattice.setVector(vector);
            Random stream(std::uint64_t(size) * 1000 + 7);
            ordered ? lattice.startOrdered(stream) : lattice.startRandom(stream);
            lattice.setTemperature(temperature);
            Plain plain = plainOf(lattice);
            QCOMPARE(lattice.Energy, plain.energy());
            QCOMPARE(lattice.TotalMag, plain.magnetization());
            std::vector<std::array<Xoshiro256, 4>> lanes;
            for (int b = 0; b < lattice.bands(); ++b)
                lanes.push_back(lattice.lanes(b));
            const int sweeps = size >= 600 ? 2 : 5;
            for (int sweep = 0; sweep < sweeps; ++sweep) {
                lattice.sweep();
                plainSweep(plain, lattice.thresholds(), lattice.bands(), lanes);
                const Plain mine = plainOf(lattice);
                QVERIFY2(mine.s == plain.s, qPrintable(QStringLiteral("%1 sweep %2: spins differ")
                                                           .arg(vector ? "AVX2" : "portable").arg(sweep)));
                QCOMPARE(lattice.Energy, plain.energy());
                QCOMPARE(lattice.TotalMag, plain.magnetization());
                for (int b = 0; b < lattice.bands(); ++b) {
                    const std::array<Xoshiro256, 4> mineLanes = lattice.lanes(b);
                    for (int l = 0; l < 4; ++l) {
                        const auto &a = mineLanes[std::size_t(l)].s, &e = lanes[std::size_t(b)][std::size_t(l)].s;
                        QVERIFY2(std::equal(a, a + 4, e), "the lanes drew a different count of words");
                    }
                }
            }
        }
    }

    // A point swept by several threads, its bands shared among them, makes
    // the flips of one thread: the same spins, totals and lanes, on as many
    // threads as bands, on fewer, and on more (the extra ones idle).
    void threadsChangeNothing_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("threads");
        QTest::newRow("L1030-4-bands-2-threads") << 1030 << 2;
        QTest::newRow("L1030-4-bands-3-threads") << 1030 << 3;
        QTest::newRow("L512-2-bands-5-threads") << 512 << 5;
        QTest::newRow("L4096-16-bands-2-threads") << 4096 << 2;
    }
    void threadsChangeNothing()
    {
        QFETCH(int, size);
        QFETCH(int, threads);
        CheckerboardLattice one(size), many(size);
        Random a(99), b(99);
        one.startRandom(a);
        many.startRandom(b);
        one.setTemperature(2.27);
        many.setTemperature(2.27);
        many.setThreads(threads);
        for (int sweep = 0; sweep < 3; ++sweep)
            QCOMPARE(many.sweep(), one.sweep());
        QCOMPARE(many.Energy, one.Energy);
        QCOMPARE(many.TotalMag, one.TotalMag);
        QVERIFY(plainOf(many).s == plainOf(one).s);
        for (int band = 0; band < one.bands(); ++band)
            QCOMPARE(many.lanes(band)[0].next(), one.lanes(band)[0].next());
    }

    // The 4 x 4 torus: energy and |M| histograms of a long run (a sample
    // every 4 sweeps) against the exact Boltzmann weights of all 65,536
    // states, chi-square at p = 0.001.
    void fourByFourFollowsBoltzmann_data()
    {
        QTest::addColumn<double>("temperature");
        QTest::newRow("T1.8") << 1.8;
        QTest::newRow("T2.27") << 2.27;
        QTest::newRow("T3.5") << 3.5;
    }
    void fourByFourFollowsBoltzmann()
    {
        QFETCH(double, temperature);
        std::map<int, double> energyWeight, magWeight;
        double z = 0;
        for (int state = 0; state < 1 << 16; ++state) {
            Plain p {4, std::vector<int>(16)};
            for (int k = 0; k < 16; ++k)
                p.s[std::size_t(k)] = (state >> k & 1) ? 1 : -1;
            const int e = int(p.energy()), m = int(std::abs(p.magnetization()));
            const double w = std::exp(-(e + 32) / temperature);
            energyWeight[e] += w;
            magWeight[m] += w;
            z += w;
        }
        CheckerboardLattice lattice(4);
        Random stream(20261207);
        lattice.startRandom(stream);
        lattice.setTemperature(temperature);
        std::map<int, long> energies, mags;
        const int samples = 200'000;
        for (int sample = -500; sample < samples; ++sample) {
            for (int s = 0; s < 4; ++s)
                lattice.sweep();
            if (sample >= 0) {
                ++energies[int(lattice.Energy)];
                ++mags[int(std::abs(lattice.TotalMag))];
            }
        }
        for (auto *weights : {&energyWeight, &magWeight})
            for (auto &[key, w] : *weights)
                w *= samples / z;
        for (const auto &[name, expected, seen] :
             {std::tuple {"energy", &energyWeight, &energies}, std::tuple {"|M|", &magWeight, &mags}}) {
            const auto [chi, dof] = chiSquare(*expected, *seen);
            const double limit = chiSquareLimit(dof);
            qInfo("%s: chi-square %.1f with %d degrees of freedom (limit %.1f at p = 0.001)", name, chi, dof, limit);
            QVERIFY2(chi < limit, qPrintable(QStringLiteral("%1: chi-square %2 > %3").arg(name).arg(chi).arg(limit)));
        }
    }
};

QTEST_APPLESS_MAIN(TestCheckerboard)
#include "tst_checkerboard.moc"
