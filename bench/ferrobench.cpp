// ferrobench: how fast the flip attempt and the full tick run, how often the
// run timer really fires, how long the window takes to appear and how much
// memory a chart page costs; and a headless physics run. One figure a line,
// with its unit and, where there is one, the ratio to its reference.
//
//   ferrobench                          figures 1, 2 (also recording), 4, 7
//                                       and a short figure 3
//                                       (2 s at 1 ms, 5 s at 10 ms)
//   ferrobench --core                   figure 1 only
//   ferrobench --ticks N                figure 2 only, N ticks (for profiling)
//   ferrobench --timer [SECONDS]        figure 3 for SECONDS at 1 ms and again
//                                       at 10 ms (default 10)
//   ferrobench --physics T EQ MEAS [SEED]   figure 5
//   ferrobench --hostile                figure 6: the slowest handler with the
//                                       longest texts the boxes take
//   ferrobench --batch                  figure 7: the batch program's flip
//                                       attempt at L = 20, 256 and 1024 on one
//                                       core and on two, its Wolff update and
//                                       the cost of its error analysis
//                                       and the checkerboard update
//   ferrobench --checkerboard           figure 7's checkerboard lines only: the
//                                       update at L = 64 to 16384 on one core,
//                                       with AVX2 and without, beside the
//                                       four-lane sweep, and the memory of one
//                                       L = 16384 point
//   ferrobench --wolff                  figure 7's Wolff line only, then the
//                                       same rate at L = 16, 256 and 1024, and
//                                       all four without AVX2
//   ferrobench --analysis               figure 7's error analysis only
//   ferrobench --tau                    figure 7's comparison of the updates:
//                                       autocorrelation time, sweeps and
//                                       independent samples per CPU second
//   ferrobench --record                 figure 2 with and without --record
//   --display                           show the window on the session's
//                                       display instead of the offscreen platform

#include "analysis/analysis.h"
#include "analysis/exactenergy.h"
#include "core/flip.h"
#include "mainwindow/ising.h"
#include "engine/chain.h"
#include "engine/checkerboard.h"
#include "engine/fouriermode.h"
#include "core/lattice.h"
#include "runtime/messagebox.h"
#include "runtime/printing.h"
#include "stdruntime/random.h"
#include "preparation/preparation.h"
#include "recording/recordsession.h"
#include "runtime/caption.h"
#include "preparation/designtemps.h"
#include "runtime/reversedscrollbar.h"
#include "snapshots/snapshotswindow.h"
#include "runtime/timer.h"

#include <QApplication>
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <sstream>
#include <thread>
#include <string>
#include <unistd.h>
#include <vector>

using namespace ferro;
using Steady = std::chrono::steady_clock;

namespace {

// The window is driven through its controls, as a person would.
void click(QWidget &window, const char *button)
{
    window.findChild<QPushButton *>(QLatin1String(button))->click();
}
void choose(QWidget &window, const char *menuItem)
{
    window.findChild<QAction *>(QLatin1String(menuItem))->trigger();
}
QLineEdit &box(QWidget &window, const char *name)
{
    return *window.findChild<QLineEdit *>(QLatin1String(name));
}

// Every message box answered No.
class AnswerNo final : public MessageBoxes {
public:
    int MsgBox(QWidget *, const QString &, int, const QString &) override { return vbNo; }
};

double secondsSince(Steady::time_point t)
{
    return std::chrono::duration<double>(Steady::now() - t).count();
}

// A size in kB from /proc/self/status ("VmRSS", "VmHWM"); -1 when absent.
long statusKb(const char *key)
{
    std::ifstream in("/proc/self/status");
    const std::string prefix = std::string(key) + ":";
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    return -1;
}

// Seconds since the kernel created this process. Its start time is kept in
// clock ticks since boot (10 ms on most kernels), so this is no finer.
double secondsSinceProcessStart()
{
    std::ifstream in("/proc/self/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name (field 2) is in parentheses and may hold spaces;
    // starttime is field 22.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int f = 3; f <= 22; ++f)
        rest >> field;
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9 - std::stod(field) / double(sysconf(_SC_CLK_TCK));
}

// ---- Figure 1: the flip attempt against a bare loop -------------------------

struct CoreRun {
    double seconds;
    long checksum; // sum of the cells attempted, plus the final totals
    Lattice lattice;
};

Lattice randomLattice(Random &random)
{
    Lattice lattice;
    randomState(lattice, random);
    lattice.recount();
    return lattice;
}

CoreRun runAttemptFlip(long attempts, double T)
{
    Random random(12345);
    Lattice lattice = randomLattice(random);
    const FactorTable factors;
    long sum = 0;
    const auto start = Steady::now();
    for (long a = 0; a < attempts; ++a)
        sum += AttemptFlip(lattice, random, T, factors.data()).k;
    const double seconds = secondsSince(start);
    return {seconds, sum + lattice.Energy + lattice.TotalMag, lattice};
}

// The reference: the same layout, generator, draws and acceptance test
// written inline, without site factors or an outcome record. With the same
// seed it walks the very same trajectory.
CoreRun runBareLoop(long attempts, double T)
{
    Random random(12345);
    Lattice lattice = randomLattice(random);
    long sum = 0;
    const auto start = Steady::now();
    for (long a = 0; a < attempts; ++a) {
        const int k = static_cast<int>(random.Rnd() * Sites);
        const int i = k / Side, j = k - Side * i;
        auto &spin = lattice.Spin;
        const int h = spin[i][j == 0 ? LastIndex : j - 1] + spin[i == 0 ? LastIndex : i - 1][j]
            + spin[i][j == LastIndex ? 0 : j + 1] + spin[i == LastIndex ? 0 : i + 1][j];
        const float r2 = static_cast<float>(random.Rnd());
        const int s = spin[i][j];
        const int deltaE = 2 * s * h;
        if (deltaE <= 0 || r2 < std::exp(deltaE * (-1.0 / T))) {
            spin[i][j] = static_cast<std::int16_t>(-s);
            lattice.TotalMag = static_cast<std::int16_t>(lattice.TotalMag - 2 * s);
            lattice.Energy = static_cast<std::int16_t>(lattice.Energy + 2 * s * h);
        }
        sum += k;
    }
    const double seconds = secondsSince(start);
    return {seconds, sum + lattice.Energy + lattice.TotalMag, lattice};
}

void coreFigure()
{
    constexpr long Attempts = 50'000'000;
    // Read at run time, so neither loop is specialised for the constant.
    volatile double temperature = 2.27;
    CoreRun ours {1e300, 0, {}}, bare {1e300, 0, {}};
    for (int round = 0; round < 3; ++round) { // best of three, against a busy machine
        const CoreRun o = runAttemptFlip(Attempts, temperature);
        const CoreRun b = runBareLoop(Attempts, temperature);
        if (o.seconds < ours.seconds)
            ours = o;
        if (b.seconds < bare.seconds)
            bare = b;
    }
    const bool same = ours.checksum == bare.checksum
        && std::memcmp(ours.lattice.Spin, bare.lattice.Spin, sizeof ours.lattice.Spin) == 0;
    std::printf("1 flip attempt, AttemptFlip, T = 2.27: %.1f M attempts/s (%.2f ns/attempt)\n",
                Attempts / ours.seconds / 1e6, ours.seconds / Attempts * 1e9);
    std::printf("1 flip attempt, bare loop,   T = 2.27: %.1f M attempts/s (%.2f ns/attempt)\n",
                Attempts / bare.seconds / 1e6, bare.seconds / Attempts * 1e9);
    std::printf("1 flip attempt ratio, AttemptFlip / bare time: %.2f (best of 3 x %ld M; same trajectory: %s, "
                "checksum %ld)\n",
                ours.seconds / bare.seconds, Attempts / 1'000'000, same ? "yes" : "NO", ours.checksum);
}

// ---- Figure 7: the batch program's updates, one and two cores ---------------

// Rates of `threads` workers side by side, each on its own core-sized share:
// per second of wall-clock time, and per second of the workers' own CPU time
// (what a busy machine does not take away).
struct BatchRate {
    double wall;
    double cpu;
};

double threadSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Metropolis attempts per second: each worker sweeps `chains` chains of size
// L (each its own lattice and stream, all factors 1), through sweepTogether
// when chains > 1.
BatchRate batchRate(int threads, int chains, int size, long attempts, double T)
{
    std::vector<std::thread> workers;
    std::vector<long> checksums(threads);
    std::vector<double> cpu(threads);
    const long sites = long(size) * size;
    const long sweeps = std::max(1L, attempts / (sites * chains));
    const auto start = Steady::now();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            std::vector<std::unique_ptr<engine::Chain>> owned;
            std::vector<engine::Chain *> group;
            const std::vector<double> factors(std::size_t(sites), 1.0);
            for (int c = 0; c < chains; ++c) {
                owned.push_back(std::make_unique<engine::Chain>(size, engine::streamSeed(777, 10 * t + c)));
                owned.back()->lattice.startRandom(owned.back()->stream);
                owned.back()->lattice.setTemperature(T, factors.data());
                group.push_back(owned.back().get());
            }
            std::vector<int> accepted(static_cast<std::size_t>(chains), 0);
            long sum = 0;
            const double cpuStart = threadSeconds();
            for (long sweep = 0; sweep < sweeps; ++sweep) {
                if (chains == 1)
                    accepted[0] = group[0]->sweep();
                else
                    engine::sweepTogether(group, accepted);
                for (int a : accepted)
                    sum += a;
            }
            cpu[t] = threadSeconds() - cpuStart;
            checksums[t] = sum + group[0]->lattice.Energy;
        });
    for (auto &w : workers)
        w.join();
    const double seconds = secondsSince(start);
    static volatile long sink; // keeps the work observable
    for (long c : checksums)
        sink = sink + c;
    const double done = double(sweeps * sites * chains);
    return {threads * done / seconds, done / *std::max_element(cpu.begin(), cpu.end())};
}

// Spins added to Wolff clusters per second, one core, after 100 sweeps to
// come to equilibrium; with AVX2 where the processor has it, or not.
BatchRate wolffRate(int size, long spins, double T, bool vector = true)
{
    engine::Chain chain(size, engine::streamSeed(99, 0));
    chain.lattice.setWolffVector(vector);
    chain.lattice.startRandom(chain.stream);
    const std::vector<double> factors(std::size_t(size) * size, 1.0);
    chain.lattice.setTemperature(T, factors.data());
    for (int s = 0; s < 100; ++s)
        chain.lattice.wolffSweep(chain.stream);
    const std::int64_t before = chain.lattice.wolffSpinsAdded();
    const auto start = Steady::now();
    const double cpuStart = threadSeconds();
    while (chain.lattice.wolffSpinsAdded() - before < spins)
        chain.lattice.wolffSweep(chain.stream);
    const double cpu = threadSeconds() - cpuStart, seconds = secondsSince(start);
    static volatile long sink;
    sink = sink + chain.lattice.Energy;
    const double added = double(chain.lattice.wolffSpinsAdded() - before);
    return {added / seconds, added / cpu};
}

// Checkerboard flip attempts (L^2 a sweep) per second, one core, after 20
// sweeps from a random start; with AVX2 where the processor has it, or not.
BatchRate checkerboardRate(int size, long attempts, double T, bool vector, int threads = 1)
{
    engine::CheckerboardLattice lattice(size);
    lattice.setVector(vector);
    lattice.setThreads(threads);
    Random stream(engine::streamSeed(555, 0));
    lattice.startRandom(stream);
    lattice.setTemperature(T);
    for (int s = 0; s < 20 && lattice.sites() * s < attempts; ++s)
        lattice.sweep();
    const long sweeps = std::max(1L, attempts / long(lattice.sites()));
    const auto start = Steady::now();
    const double cpuStart = threadSeconds();
    std::int64_t flipped = 0;
    for (long s = 0; s < sweeps; ++s)
        flipped += lattice.sweep();
    const double cpu = threadSeconds() - cpuStart, seconds = secondsSince(start); // cpu: the calling thread's
    static volatile long sink;
    sink = sink + long(flipped + lattice.Energy);
    const double done = double(sweeps) * double(lattice.sites());
    return {done / seconds, done / cpu};
}

// Best and median of five rounds, by wall-clock rate.
template <class Measure>
std::pair<BatchRate, BatchRate> bestOfFive(Measure measure)
{
    std::vector<BatchRate> rates;
    for (int round = 0; round < 5; ++round) // against a busy machine
        rates.push_back(measure());
    std::sort(rates.begin(), rates.end(), [](const BatchRate &a, const BatchRate &b) { return a.wall < b.wall; });
    BatchRate best = rates.back();
    for (const BatchRate &r : rates)
        best.cpu = std::max(best.cpu, r.cpu);
    return {best, rates[2]};
}

// The error analysis: the cost of adding one measured sweep (lattice totals
// cycled from a table, so that little else is timed), the analysis at the
// end, and the memory, which stays bounded however many sweeps come.
void analysisFigure()
{
    constexpr long Sweeps = 500'000'000;
    std::vector<std::array<int, 3>> totals(4096);
    Random random(99);
    for (auto &t : totals)
        t = {-int(random.next() % 800), int(random.next() % 801) - 400, int(random.next() % 400)};
    analysis::Accumulator accumulator(Sweeps, Sites);
    auto cpuSeconds = [] { // of this thread: the machine may be busy
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    };
    const double start = cpuSeconds();
    for (long s = 0; s < Sweeps; ++s) {
        const auto &t = totals[std::size_t(s) & 4095];
        accumulator.add(t[0], t[1], t[2]);
    }
    const double addSeconds = cpuSeconds() - start;
    const double analyseStart = cpuSeconds();
    const analysis::Results r = accumulator.analyse(2.27);
    const double analyseSeconds = cpuSeconds() - analyseStart;
    std::printf("7 batch error analysis: %.2f ns CPU per measured sweep added (%ld M sweeps), %.0f ms to analyse "
                "them; "
                "memory at most %zu KiB for any number of sweeps (E/N %.3f)\n",
                1e9 * addSeconds / Sweeps, Sweeps / 1'000'000, 1e3 * analyseSeconds,
                analysis::Accumulator::MaxBins * analysis::Accumulator::binBytes() / 1024, r.energy.mean);
}

// Metropolis against Wolff at T = 2.27, L = 16, 32 and 64: the energy's
// integrated autocorrelation time in each update's own sweeps (from the error
// analysis over a run of many times it), the sweeps per second of the
// thread's CPU time, and what counts, the independent samples per CPU second,
// sweeps per second / (2 tau).
void tauFigure()
{
    constexpr double T = 2.27;
    struct Row {
        double tau, absMagTau, sweepsPerSecond;
        long sweeps;
    };
    auto run = [&](int size, bool wolff, long sweeps) {
        engine::Chain chain(size, engine::streamSeed(2027, std::uint64_t(size)));
        chain.lattice.startRandom(chain.stream);
        const std::vector<double> ones(std::size_t(size) * size, 1.0);
        chain.lattice.setTemperature(T, ones.data());
        for (long s = 0; s < sweeps / 20; ++s) // to equilibrium
            wolff ? void(chain.lattice.wolffSweep(chain.stream)) : void(chain.sweep());
        analysis::Accumulator accumulator(sweeps, std::int64_t(size) * size);
        const double start = threadSeconds();
        for (long s = 0; s < sweeps; ++s) {
            const std::int64_t accepted = wolff ? chain.lattice.wolffSweep(chain.stream) : chain.sweep();
            accumulator.add(chain.lattice.Energy, chain.lattice.TotalMag, accepted);
        }
        const double cpu = threadSeconds() - start;
        const analysis::Results r = accumulator.analyse(T);
        return Row {r.energyTau, r.absMagTau, double(sweeps) / cpu, sweeps};
    };
    std::printf("7 Metropolis against Wolff, T = 2.27, one core, rates by the thread's CPU time "
                "(tau: the energy's integrated autocorrelation time in the update's own sweeps; "
                "a Wolff sweep flips L^2 spins on average)\n");
    std::printf("7   L  update      sweeps  sweeps/tau(E)  tau(E)  tau(|m|)  sweeps/s  independent/s   "
                "Wolff/Metropolis\n");
    for (int size : {16, 32, 64}) {
        const Row m = run(size, false, size == 64 ? 400'000 : 200'000); // at least 1000 tau(E)
        const Row w = run(size, true, size == 64 ? 50'000 : 100'000);
        auto independent = [](const Row &r) { return r.sweepsPerSecond / (2 * r.tau); };
        std::printf("7  %2d  Metropolis %7ld %14.0f %7.2f %9.2f %9.0f %14.0f\n", size, m.sweeps, m.sweeps / m.tau,
                    m.tau, m.absMagTau, m.sweepsPerSecond, independent(m));
        std::printf("7  %2d  Wolff      %7ld %14.0f %7.2f %9.2f %9.0f %14.0f %18.1f\n", size, w.sweeps,
                    w.sweeps / w.tau, w.tau, w.absMagTau, w.sweepsPerSecond, independent(w),
                    independent(w) / independent(m));
    }
}

void checkerboardFigure();

void batchFigure()
{
    constexpr long Attempts = 100'000'000;
    volatile double temperature = 2.27;
    auto line = [](const char *what, const std::pair<BatchRate, BatchRate> &r, const char *unit) {
        std::printf("7 %s: best %.1f M %s/s, median %.1f M/s, by CPU time best %.1f M/s\n", what, r.first.wall / 1e6,
                    unit, r.second.wall / 1e6, r.first.cpu / 1e6);
    };
    double one = 0, oneFour = 0;
    for (int size : {20, 256, 1024}) {
        const auto r = bestOfFive([&] { return batchRate(1, 1, size, Attempts, temperature); });
        char what[128];
        std::snprintf(what, sizeof what, "batch flip attempt, L = %d, T = 2.27, 1 core, one chain", size);
        line(what, r, "attempts");
        if (size == 20)
            one = r.first.wall;
    }
    // Four points of one size at a time, as a run with at least four points
    // per worker hands them over: their generators share the vector lanes.
    for (int size : {20, 256, 1024}) {
        const auto four = bestOfFive([&] { return batchRate(1, 4, size, Attempts, temperature); });
        char what[128];
        std::snprintf(what, sizeof what, "batch flip attempt, L = %d, T = 2.27, 1 core, four chains through sweepTogether",
                      size);
        line(what, four, "attempts");
        if (size == 20)
            oneFour = four.first.wall;
    }
    const auto two = bestOfFive([&] { return batchRate(2, 1, 20, Attempts, temperature); });
    line("batch flip attempt, L = 20, T = 2.27, 2 cores, one chain each", two, "attempts");
    const auto twoFour = bestOfFive([&] { return batchRate(2, 4, 20, Attempts, temperature); });
    line("batch flip attempt, L = 20, T = 2.27, 2 cores, four chains each", twoFour, "attempts");
    std::printf("7 batch flip attempt, two cores / one core (best of each, L = 20): %.2f with one chain a core, %.2f with "
                "four\n",
                two.first.wall / one, twoFour.first.wall / oneFour);
    const auto wolff = bestOfFive([&] { return wolffRate(64, 50'000'000, temperature); });
    line("batch Wolff cluster, L = 64, T = 2.27, 1 core", wolff, "spins added");
    checkerboardFigure();
    analysisFigure();
}

// The checkerboard update beside the four-lane sweep (four chains through
// sweepTogether, which takes L up to 1024), one core, and the memory of one
// L = 16384 point: the lattice's own count and the resident set it adds.
void checkerboardFigure()
{
    volatile double temperature = 2.27;
    for (int size : {64, 256, 1024, 4096, 16384}) {
        const auto cb = bestOfFive([&] { return checkerboardRate(size, 1'000'000'000, temperature, true); });
        const auto portable = bestOfFive([&] { return checkerboardRate(size, 300'000'000, temperature, false); });
        std::printf("7 checkerboard, L = %5d, T = 2.27, 1 core: AVX2 best %.0f M attempts/s (median %.0f, by CPU time "
                    "%.0f); portable best %.0f M/s (by CPU time %.0f)",
                    size, cb.first.wall / 1e6, cb.second.wall / 1e6, cb.first.cpu / 1e6, portable.first.wall / 1e6,
                    portable.first.cpu / 1e6);
        if (size <= engine::MaximumSize) {
            const auto four = bestOfFive([&] { return batchRate(1, 4, size, 100'000'000, temperature); });
            std::printf("; four-lane sweep best %.0f M/s (by CPU time %.0f): %.1f x (by CPU time %.1f x)\n",
                        four.first.wall / 1e6, four.first.cpu / 1e6, cb.first.wall / four.first.wall,
                        cb.first.cpu / four.first.cpu);
        } else {
            std::printf("; four-lane sweep: none above L = %d\n", engine::MaximumSize);
        }
        std::fflush(stdout);
    }
    // One point on two cores: its bands on two threads.
    for (int size : {1024, 4096, 16384}) {
        const auto one = bestOfFive([&] { return checkerboardRate(size, 1'000'000'000, temperature, true, 1); });
        const auto two = bestOfFive([&] { return checkerboardRate(size, 1'000'000'000, temperature, true, 2); });
        std::printf("7 checkerboard, L = %5d, T = 2.27, one point: 2 cores best %.0f M attempts/s (median %.0f), 1 core "
                    "best %.0f M/s (median %.0f): %.2f x by best, %.2f x by median\n",
                    size, two.first.wall / 1e6, two.second.wall / 1e6, one.first.wall / 1e6, one.second.wall / 1e6,
                    two.first.wall / one.first.wall, two.second.wall / one.second.wall);
        std::fflush(stdout);
    }
    const long before = statusKb("VmRSS");
    {
        engine::CheckerboardLattice lattice(16384);
        Random stream(1);
        lattice.startRandom(stream);
        lattice.setTemperature(temperature);
        lattice.sweep();
        std::printf("7 checkerboard, memory of one L = 16384 point: %.1f MiB held by the lattice, %.1f MiB resident "
                    "set added\n",
                    double(lattice.bytes()) / (1 << 20), double(statusKb("VmRSS") - before) / 1024);
    }
}

// What the correlation length's Fourier mode adds to a measured sweep: one
// chain (Metropolis sweeps, and Wolff sweeps of about L^2 spins) at T = 2.27,
// and four through sweepTogether, whose lattices above L = 112 are swept as
// bits; the mode comes from the form swept (the spins, site codes above
// L = 128 for one chain, bits). Then the checkerboard update on one thread,
// its mode from its two colours' bits. Best of three each.
void modeFigure()
{
    using ferro::engine::Chain;
    for (const int size : {20, 256, 1024}) {
        const long sweeps = std::max(4L, 40'000'000L / (long(size) * size));
        for (const int kind : {0, 1, 2}) { // one chain, one Wolff chain, four chains
            double best[2] = {1e300, 1e300};
            for (int repeat = 0; repeat < 3; ++repeat)
                for (const bool withMode : {false, true}) {
                    const int count = kind == 2 ? 4 : 1;
                    std::vector<std::unique_ptr<Chain>> chains;
                    std::vector<Chain *> pointers;
                    const std::vector<double> ones(std::size_t(size) * size, 1.0);
                    for (int c = 0; c < count; ++c) {
                        chains.push_back(std::make_unique<Chain>(size, 7 + c));
                        chains.back()->lattice.startRandom(chains.back()->stream);
                        chains.back()->lattice.setTemperature(ferro::runTemperature(2.27), ones.data());
                        pointers.push_back(chains.back().get());
                    }
                    ferro::engine::FourierMode mode(size);
                    std::vector<int> accepted(static_cast<std::size_t>(count));
                    double sum = 0;
                    const auto start = Steady::now();
                    for (long t = 0; t < (kind == 1 ? sweeps / 4 : sweeps); ++t) {
                        if (kind == 2)
                            ferro::engine::sweepTogether(pointers, accepted);
                        else if (kind == 1)
                            chains[0]->lattice.wolffSweep(chains[0]->stream);
                        else
                            chains[0]->sweep();
                        if (withMode)
                            for (Chain *c : pointers)
                                sum += mode(c->lattice);
                    }
                    const double seconds = secondsSince(start) / double(kind == 1 ? sweeps / 4 : sweeps) / count;
                    best[withMode] = std::min(best[withMode], seconds);
                    if (sum < 0)
                        std::printf("?");
                }
            std::printf("mode L = %4d, %-26s %9.2f us a sweep without the mode, %9.2f with: +%.1f %%\n", size,
                        kind == 0 ? "Metropolis, one chain:" : kind == 1 ? "Wolff, one chain:" : "Metropolis, four chains:",
                        best[0] * 1e6, best[1] * 1e6, 100 * (best[1] / best[0] - 1));
            std::fflush(stdout);
        }
    }
    for (const int size : {256, 1024, 4096}) {
        const long sweeps = std::max(20L, 200'000'000L / (long(size) * size));
        double best[2] = {1e300, 1e300};
        for (int repeat = 0; repeat < 3; ++repeat)
            for (const bool withMode : {false, true}) {
                ferro::engine::CheckerboardLattice lattice(size);
                Random stream(7);
                lattice.startRandom(stream);
                lattice.setTemperature(2.27);
                ferro::engine::FourierMode mode(size);
                double sum = 0;
                const auto start = Steady::now();
                for (long t = 0; t < sweeps; ++t) {
                    lattice.sweep();
                    if (withMode)
                        sum += mode(lattice);
                }
                best[withMode] = std::min(best[withMode], secondsSince(start) / double(sweeps));
                if (sum < 0)
                    std::printf("?");
            }
        std::printf("mode L = %4d, %-26s %9.2f us a sweep without the mode, %9.2f with: +%.1f %%\n", size,
                    "checkerboard, one thread:", best[0] * 1e6, best[1] * 1e6, 100 * (best[1] / best[0] - 1));
        std::fflush(stdout);
    }
}

// The Wolff line of figure 7 alone, then the same rate at L = 16, 256 and
// 1024 (fewer spins for a quick look), and all four without AVX2.
void wolffFigure()
{
    volatile double temperature = 2.27;
    auto line = [](int size, const char *how, const std::pair<BatchRate, BatchRate> &r) {
        std::printf("7 batch Wolff cluster, L = %d, T = 2.27, 1 core%s: best %.1f M spins added/s, median %.1f M/s, "
                    "by CPU time best %.1f M/s\n",
                    size, how, r.first.wall / 1e6, r.second.wall / 1e6, r.first.cpu / 1e6);
        std::fflush(stdout);
    };
    line(64, "", bestOfFive([&] { return wolffRate(64, 50'000'000, temperature); }));
    for (int size : {16, 256, 1024})
        line(size, "", bestOfFive([&] { return wolffRate(size, 20'000'000, temperature); }));
    for (int size : {64, 16, 256, 1024})
        line(size, ", without AVX2", bestOfFive([&] { return wolffRate(size, 20'000'000, temperature, false); }));
}

// ---- Figures 2 and 4: ticks through the window --------------------------------

struct TickRun {
    long ticks = 0;
    double seconds = 0;
    double eventSeconds = 0; // inside processEvents: repaints and timers
    int frames = 0;
};

// Ticks the window back to back through its timer handler, giving the event
// loop a turn every 16 ms so that it repaints as often as a screen would.
// The run stops itself at tick 1599999 of a page; onPageEnd is then told, and
// unless it returns false the run goes on with Go, as a person would.
// Ticks are counted on the window's own counter, so a tick the real timer
// fires inside processEvents counts too.
TickRun runTicks(Ising &w, long maxTicks, const std::function<bool()> &onPageEnd = {})
{
    using namespace std::chrono_literals;
    TickRun run;
    const long before = w.run().record().ticksSinceClear.value();
    const auto start = Steady::now();
    auto nextFrame = start + 16ms;
    for (long t = 0; t < maxTicks; ++t) {
        w.tmrTime_Timer();
        if (!w.run().record().go) {
            if (onPageEnd && !onPageEnd())
                break;
            click(w, "cmdRestart");
        }
        if ((t & 15) == 0) { // a clock read costs about 20 ns; every 16th tick is plenty
            const auto now = Steady::now();
            if (now >= nextFrame) {
                QCoreApplication::processEvents();
                const auto after = Steady::now();
                run.eventSeconds += std::chrono::duration<double>(after - now).count();
                ++run.frames;
                nextFrame = after + 16ms;
            }
        }
    }
    run.seconds = secondsSince(start);
    run.ticks = w.run().record().ticksSinceClear.value() - before;
    return run;
}

void prepareRun(Ising &w)
{
    click(w, "cmdRandom");
    box(w, "txtTemp").setText(QStringLiteral("2.27"));
}

void printTickFigure(const TickRun &run)
{
    const double rate = run.ticks / run.seconds;
    std::printf("2 full tick, real window, offscreen: %.0f ticks/s (%.3f us/tick over %ld ticks); "
                "ratio to the 100000 ticks/s budget: %.2f\n",
                rate, 1e6 / rate, run.ticks, rate / 100000);
    std::printf("2 full tick, of which event loop (repaint every 16 ms): %.1f %% of the time, %d frames, "
                "%.2f ms/frame; ticks alone: %.3f us/tick\n",
                100 * run.eventSeconds / run.seconds, run.frames, 1e3 * run.eventSeconds / std::max(1, run.frames),
                1e6 * (run.seconds - run.eventSeconds) / run.ticks);
}

// Figure 2 again, in two windows side by side, one of them recording to a
// file: rounds alternate between them, and each keeps its best.
void recordFigure(Services &services)
{
    const char file[] = "/tmp/ferrobench-record.csv";
    std::remove(file);
    Ising plain(services), recorded(services);
    recorded.startRecording(std::make_unique<RecordSession>(file));
    for (Ising *w : {&plain, &recorded}) {
        w->show();
        prepareRun(*w);
    }
    constexpr long Ticks = 1'000'000;
    double best[2] = {0, 0};
    for (int round = 0; round < 5; ++round)
        for (int on : {0, 1}) {
            const TickRun run = runTicks(on ? recorded : plain, Ticks);
            best[on] = std::max(best[on], run.ticks / run.seconds);
        }
    long rows = 0;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        ++rows;
    std::remove(file);
    std::printf("2 full tick with --record: %.0f ticks/s, without: %.0f ticks/s; ratio %.3f (best of 5 x %ld k ticks "
                "each, alternating; %ld rows written)\n",
                best[1], best[0], best[1] / best[0], Ticks / 1000, rows);
}

// ---- Figure 3: the real timer ---------------------------------------------------

// The run goes from "Go to T =" for the given seconds and stops on the first
// tick after them. The ratio is ticks run to interval boundaries passed since
// the run started, counting the tick "Go to T =" runs itself.
void timerFigure(Ising &w, QApplication &app, int intervalMs, double seconds)
{
    prepareRun(w);
    auto *timer = w.findChild<Timer *>(QStringLiteral("tmrTime"));
    w.findChild<ReversedScrollBar *>(QStringLiteral("hsbTimeInterval"))->setValueAt(intervalMs);
    const long before = w.run().record().ticksSinceClear.value();
    double elapsed = 0;
    const auto start = Steady::now();
    const auto stop = QObject::connect(timer, &Timer::fired, &app, [&] {
        elapsed = secondsSince(start);
        if (elapsed >= seconds) {
            timer->setEnabled(false);
            app.quit();
        }
    });
    click(w, "cmdRestart");
    app.exec();
    QObject::disconnect(stop);
    const long ticks = w.run().record().ticksSinceClear.value() - before;
    const long boundaries = 1 + static_cast<long>(std::floor(elapsed * 1000 / intervalMs));
    std::printf("3 run timer at the %d ms interval: %.1f ticks/s over %.1f s; ratio to %d ticks/s: %.4f "
                "(%ld ticks, %ld intervals)\n",
                intervalMs, ticks / elapsed, elapsed, 1000 / intervalMs, static_cast<double>(ticks) / boundaries, ticks,
                boundaries);
}

void timerFigures(Ising &w, QApplication &app, double secondsAt1, double secondsAt10)
{
    timerFigure(w, app, 1, secondsAt1);
    timerFigure(w, app, 10, secondsAt10);
}

// ---- Figure 5: a headless physics run -------------------------------------------

int physicsFigure(double T, long equilibration, long sweeps, std::uint64_t seed)
{
    if (!(T > 0) || equilibration < 0 || sweeps < 20) {
        std::fprintf(stderr, "--physics T EQ MEAS [SEED]: T > 0, EQ >= 0, MEAS >= 20\n");
        return 2;
    }
    Random random(seed);
    Lattice lattice;
    orderedState(lattice, random);
    lattice.recount();
    const FactorTable factors;
    std::vector<double> energy, absMag, acceptance;
    energy.reserve(sweeps);
    absMag.reserve(sweeps);
    acceptance.reserve(sweeps);
    const auto start = Steady::now();
    for (long sweep = 0; sweep < equilibration + sweeps; ++sweep) {
        int accepted = 0;
        for (int a = 0; a < Sites; ++a)
            accepted += AttemptFlip(lattice, random, T, factors.data()).accepted;
        if (sweep >= equilibration) {
            energy.push_back(lattice.Energy / double(Sites));
            absMag.push_back(std::abs(lattice.TotalMag) / double(Sites));
            acceptance.push_back(accepted / double(Sites));
        }
    }
    const double seconds = secondsSince(start);
    const Estimate e = blockAverage(energy, 20), m = blockAverage(absMag, 20), a = blockAverage(acceptance, 20);
    const double exact = exactEnergy(Side, Side, T);
    std::printf("5 physics, T = %g, %ld + %ld sweeps of 400, seed %llu, ordered start (%.1f s)\n", T,
                equilibration, sweeps, static_cast<unsigned long long>(seed), seconds);
    std::printf("5 energy per site: %.5f +- %.5f (exact 20 x 20: %.5f; difference %+.2f standard errors)\n",
                e.mean, e.error, exact, e.error > 0 ? (e.mean - exact) / e.error : 0.0);
    std::printf("5 mean |m|: %.5f +- %.5f\n", m.mean, m.error);
    std::printf("5 acceptance ratio: %.5f +- %.5f\n", a.mean, a.error);
    return 0;
}

// Set by an application-wide event filter at the first paint of any widget.
class PaintSpy : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// Figure 6: every handler of the three windows, timed while the temperature,
// run-number and factor boxes hold the longest texts they take (32767
// characters) and a run goes on. Printing goes to a PDF file.
void hostileFigure(Ising &w)
{
    const QString texts[] = {QString(40000, '9'), QString::fromUtf8("\u202e3.5\u0301").repeated(8000),
                             QStringLiteral("1e999").repeated(7000), QStringLiteral("&HFFFFFFFFFFFFFFFF")};
    std::vector<std::pair<std::string, double>> worst;
    auto time = [&worst](const char *name, const std::function<void()> &handler) {
        const auto start = Steady::now();
        handler();
        QCoreApplication::processEvents();
        const double ms = 1e3 * secondsSince(start);
        auto it = std::find_if(worst.begin(), worst.end(), [&](const auto &e) { return e.first == name; });
        if (it == worst.end())
            worst.emplace_back(name, ms);
        else
            it->second = std::max(it->second, ms);
    };
    click(w, "cmdRandom");
    box(w, "txtRunNum").setText(QStringLiteral("Run 1"));
    time("mnuPrint_Click, ordinary texts", [&] { choose(w, "mnuPrint"); });
    for (const QString &text : texts) {
        time("txtTemp typed", [&] { box(w, "txtTemp").setText(text); });
        time("txtRunNum typed", [&] { box(w, "txtRunNum").setText(text); });
        time("factor box typed", [&] { w.designTemps().setFactorText(0, text); });
        time("cmdGoToTemp_Click", [&] { click(w, "cmdGoToTemp"); });
        time("400 ticks", [&] {
            for (int n = 0; n < 400; ++n)
                w.tmrTime_Timer();
        });
        time("lblPrintRunNum_Click", [&] { w.findChild<Caption *>(QStringLiteral("lblPrintRunNum"))->clicked(); });
        time("mnuSnapshot_Click", [&] { choose(w, "mnuSnapshot"); });
        time("mnuQuit_Click", [&] { choose(w.designTemps(), "mnuQuit"); });
        time("mnuPrint_Click", [&] { choose(w, "mnuPrint"); });
        time("Snapshots mnuPrint_Click", [&] { choose(w.snapshots(), "mnuPrint"); });
        time("mnuExit_Click (No)", [&] { choose(w, "mnuExit"); });
        time("mnuReset_Click", [&] { choose(w, "mnuReset"); });
        click(w, "cmdRandom");
    }
    auto slowest = std::max_element(worst.begin(), worst.end(),
                                    [](const auto &a, const auto &b) { return a.second < b.second; });
    for (const auto &[name, ms] : worst)
        std::printf("6 hostile input, %s: %.1f ms at most\n", name.c_str(), ms);
    std::printf("6 hostile input, slowest handler %s: %.1f ms; ratio to the 100 ms budget: %.2f\n",
                slowest->first.c_str(), slowest->second, slowest->second / 100);
}

int usage()
{
    std::fprintf(stderr, "usage: ferrobench [--display] [--core | --ticks N | --timer [SECONDS] | "
                         "--physics T EQ MEAS [SEED] | --hostile | --batch | --checkerboard | --wolff | --analysis | --mode | --tau | --record]\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto entry = Steady::now();
    enum class Mode { All, Core, Batch, Ticks, Timer, Physics, Hostile, Record } mode = Mode::All;
    bool display = false;
    long tickCount = 2'000'000;
    double timerSeconds = 10;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t a = 0; a < args.size(); ++a) {
        auto number = [&](double fallback) { return a + 1 < args.size() ? std::atof(args[++a].c_str()) : fallback; };
        if (args[a] == "--display") {
            display = true;
        } else if (args[a] == "--core") {
            mode = Mode::Core;
        } else if (args[a] == "--batch") {
            mode = Mode::Batch;
        } else if (args[a] == "--analysis") {
            analysisFigure();
            return 0;
        } else if (args[a] == "--checkerboard") {
            checkerboardFigure();
            return 0;
        } else if (args[a] == "--wolff") {
            wolffFigure();
            return 0;
        } else if (args[a] == "--mode") {
            modeFigure();
            return 0;
        } else if (args[a] == "--tau") {
            tauFigure();
            return 0;
        } else if (args[a] == "--hostile") {
            mode = Mode::Hostile;
        } else if (args[a] == "--record") {
            mode = Mode::Record;
        } else if (args[a] == "--ticks") {
            mode = Mode::Ticks;
            tickCount = static_cast<long>(number(2e6));
        } else if (args[a] == "--timer") {
            mode = Mode::Timer;
            if (a + 1 < args.size() && args[a + 1].rfind("--", 0) != 0)
                timerSeconds = number(10);
        } else if (args[a] == "--physics") {
            if (a + 3 >= args.size())
                return usage();
            const double T = std::atof(args[a + 1].c_str());
            const long eq = std::atol(args[a + 2].c_str()), meas = std::atol(args[a + 3].c_str());
            const std::uint64_t seed = a + 4 < args.size() ? std::strtoull(args[a + 4].c_str(), nullptr, 10) : 1;
            return physicsFigure(T, eq, meas, seed);
        } else {
            return usage();
        }
    }
    if (mode == Mode::Core) {
        coreFigure();
        return 0;
    }
    if (mode == Mode::Batch) {
        batchFigure();
        return 0;
    }

    if (!display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrogrid"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    SystemClock clock;
    Random random;
    AnswerNo boxes;
    QuitApplication end;
    PdfFile printer(QStringLiteral("/tmp/ferrobench.pdf"));
    Services services {clock, random, boxes, end, printer};
    Ising w(services);
    w.show();
    PaintSpy spy;
    app.installEventFilter(&spy);
    const auto waitStart = Steady::now();
    while (!spy.painted && secondsSince(waitStart) < 10)
        QCoreApplication::processEvents();
    app.removeEventFilter(&spy);
    const double fromProcessStart = secondsSinceProcessStart();
    const double fromMain = secondsSince(entry);
    const long rssShown = statusKb("VmRSS");

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    auto printStartup = [&] {
        std::printf("4 start-up, process start to window shown and painted: %.0f ms (+-10 ms; from main(): %.1f ms)%s\n",
                    1e3 * fromProcessStart, 1e3 * fromMain, spy.painted ? "" : " [no paint event seen]");
    };
    if (mode != Mode::All)
        printStartup();
    if (mode == Mode::Ticks) {
        prepareRun(w);
        printTickFigure(runTicks(w, tickCount));
        return 0;
    }
    if (mode == Mode::Timer) {
        timerFigures(w, app, timerSeconds, timerSeconds);
        return 0;
    }
    if (mode == Mode::Hostile) {
        hostileFigure(w);
        return 0;
    }
    if (mode == Mode::Record) {
        recordFigure(services);
        return 0;
    }

    coreFigure();
    batchFigure();

    // Figure 2 runs from a fresh window into the second page; the end of the
    // first page gives figure 4 its peak and its first resident size, and the
    // run then goes on to the end of the second page.
    long hwmPage1 = -1, rssPage1 = -1, rssPage2 = -1;
    bool stopAtSecondPageEnd = false;
    auto pageEnd = [&] {
        if (hwmPage1 < 0) {
            hwmPage1 = statusKb("VmHWM");
            rssPage1 = statusKb("VmRSS");
        } else if (rssPage2 < 0) {
            rssPage2 = statusKb("VmRSS");
            return !stopAtSecondPageEnd;
        }
        return true;
    };
    prepareRun(w);
    printTickFigure(runTicks(w, tickCount, pageEnd));
    stopAtSecondPageEnd = true;
    if (rssPage2 < 0)
        runTicks(w, LONG_MAX, pageEnd);

    printStartup();
    std::printf("4 memory: VmRSS %.1f MB when shown; after one chart page (%lld ticks) VmHWM %.1f MB, VmRSS %.1f MB; "
                "after the second page VmRSS %.1f MB (growth %+ld kB)\n",
                rssShown / 1024.0, static_cast<long long>(PageTicks), hwmPage1 / 1024.0, rssPage1 / 1024.0,
                rssPage2 / 1024.0, rssPage2 - rssPage1);

    recordFigure(services);
    timerFigures(w, app, 2, 5);
    return 0;
}
