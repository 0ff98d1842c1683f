#include "batch/run.h"

#include "analysis/exactenergy.h"
#include "engine/chain.h"
#include "batch/shard.h"
#include "batch/temperaturerun.h"
#include "table/table.h"
#include "core/flip.h"
#include "preparation/factorfile.h"
#include "stdruntime/textfields.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <unistd.h>
#include <utility>

namespace ferro::batch {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop {false};
std::atomic<int> g_signal {0};

extern "C" void onStopSignal(int signal)
{
    g_signal.store(signal);
    g_stop.store(true);
}

std::string duration(double seconds)
{
    const long s = long(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string millions(double count)
{
    char buf[32];
    if (count >= 1e6)
        std::snprintf(buf, sizeof buf, "%.1f M", count / 1e6);
    else if (count >= 1e4)
        std::snprintf(buf, sizeof buf, "%.0f k", count / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.0f", count);
    return buf;
}

// One line on standard error, rewritten in place.
void drawProgress(std::int64_t done, std::int64_t total, double seconds)
{
    constexpr int Bar = 30;
    const double part = total > 0 ? double(done) / double(total) : 1;
    const int filled = int(part * Bar);
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const std::string left = rate > 0 ? duration(double(total - done) / rate) : "?";
    std::fprintf(stderr, "\r[%s%s] %3d%%  %s of %s sweeps  %s sweeps/s  %s left\033[K",
                 std::string(filled, '#').c_str(), std::string(Bar - filled, '.').c_str(), int(part * 100),
                 millions(double(done)).c_str(), millions(double(total)).c_str(), millions(rate).c_str(), left.c_str());
    std::fflush(stderr);
}

// A temperature's series kept aside while other temperatures come first in
// the output: an unnamed temporary file, copied out whole rows at a time.
struct SeriesFile {
    std::FILE *file = nullptr;
    ~SeriesFile()
    {
        if (file)
            std::fclose(file);
    }
    bool keep(std::string_view rows)
    {
        if (!file)
            file = std::tmpfile();
        return file && std::fwrite(rows.data(), 1, rows.size(), file) == rows.size();
    }
    bool copyTo(Output &out)
    {
        if (!file || std::fflush(file) != 0)
            return file == nullptr;
        std::rewind(file);
        std::string piece;
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) {
            piece.append(buf, n);
            const std::size_t whole = piece.rfind('\n') + 1; // 0 when no line end yet
            if (whole > 0 && !out.write(std::string_view(piece).substr(0, whole)))
                return false;
            piece.erase(0, whole);
        }
        std::fclose(std::exchange(file, nullptr));
        return true;
    }
};

} // namespace

void SweepRun::catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SweepRun::SweepRun(const Options &options) : m_options(options)
{
    m_seed = options.seed ? *options.seed
                          : std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    for (const int size : options.sizes)
        for (const double t : options.temperatures)
            m_points.push_back({size, t});
}

std::string SweepRun::prepare()
{
    const Options &o = m_options;
    const int largest = *std::max_element(o.sizes.begin(), o.sizes.end());
    m_ones.assign(std::size_t(largest) * std::size_t(largest), 1.0);
    if (!o.factorsFile.empty()) {
        // One size with a factor file (parseOptions refuses a list).
        const FactorFileResult file = readFactorFile(o.factorsFile, o.sizes.front());
        if (!file.ok())
            return file.error;
        for (const std::string &warning : file.warnings)
            std::fprintf(stderr, "ferrogrid-batch: warning: %s\n", warning.c_str());
        for (const std::string &text : file.texts)
            m_factors.push_back(siteFactor(text));
        const double first = m_factors.front();
        m_equalFactor = first;
        for (const double f : m_factors)
            if (f != first)
                m_equalFactor.reset();
        if (!m_equalFactor && o.algorithm == Algorithm::Wolff)
            return "--algorithm wolff: the factors of " + o.factorsFile
                + " differ from site to site, and a cluster flips its spins at one temperature: where the "
                  "factors differ no single cluster temperature exists (use --algorithm metropolis)";
    }
    std::string error;
    if (std::optional<Output> opened = Output::open(o.outputFile, error))
        m_out.emplace(std::move(*opened));
    return error;
}

std::optional<double> SweepRun::siteTemperature(std::size_t i) const
{
    if (!m_equalFactor)
        return std::nullopt;
    return localTemperature(runTemperature(m_points[m_mine[i]].temperature), *m_equalFactor);
}

// The row's warnings: the words for the table and the lines for standard
// error. None for a series, which has no error bars.
void SweepRun::assess(std::size_t i, Finished &f) const
{
    if (series())
        return;
    const Point &point = m_points[m_mine[i]];
    const Results &r = f.results;
    const std::string where = "ferrogrid-batch: warning: L = " + std::to_string(point.size) + ", T = "
        + numberText(point.temperature) + ": ";
    const auto add = [&](const char *word, const std::string &message) {
        f.warnings += (f.warnings.empty() ? "" : ";") + std::string(word);
        f.messages.push_back(where + message);
    };
    if (double(r.sweeps) < 100 * r.slowestTau)
        add("short", "the " + std::to_string(r.sweeps) + " measured sweeps span fewer than 100 autocorrelation "
                "times of the slowest observable (" + numberText(r.slowestTau, 3) + " sweeps): the errors are "
                "uncertain; " + std::to_string(std::int64_t(std::ceil(100 * r.slowestTau))) + " sweeps would do");
    const std::optional<double> ts = siteTemperature(i);
    if (ts && *ts >= MinimumTemperature && *ts <= 1e4 && std::isfinite(r.energy.mean)) {
        // The error is never taken below that of independent sweeps, so that
        // a run that sits in the ground state is not called off.
        const double n = double(point.size) * point.size;
        const double exact = exactEnergy(point.size, point.size, *ts);
        const double floor = std::sqrt(std::max(0.0, exactSpecificHeat(point.size, point.size, *ts)) * *ts * *ts
                                       / (n * double(r.sweeps)));
        const double error = std::isfinite(r.energy.error) ? std::max(r.energy.error, floor) : floor;
        const double off = std::fabs(r.energy.mean - exact);
        if (off > 5 * error)
            add("off-exact", "the energy " + numberText(r.energy.mean, 6) + " lies "
                    + (error <= 0 ? std::string("many") : off / error >= 100 ? std::to_string(std::llround(off / error)) : numberText(off / error, 3)) + " errors from the exact "
                    + numberText(exact, 6) + ": likely a run stuck in a metastable state (such as stripes), or "
                    "too short an equilibration; raise --equilibrate");
    }
    if (r.drift)
        add("drift", "the first and the last quarter of the measured sweeps differ by more than 4 errors (energy "
                + numberText(r.energyFirstQuarter.mean, 6) + " and " + numberText(r.energyLastQuarter.mean, 6)
                + ", |m| " + numberText(r.absMagFirstQuarter.mean, 4) + " and "
                + numberText(r.absMagLastQuarter.mean, 4) + "): the run was still settling or is stuck; raise "
                "--equilibrate");
}

std::string SweepRun::tableRowOf(std::size_t i) const
{
    const Options &o = m_options;
    const Point &point = m_points[m_mine[i]];
    const Finished &f = m_finished[i];
    RowFacts facts;
    facts.size = point.size;
    facts.temperature = point.temperature;
    facts.algorithm = o.algorithm;
    facts.sweeps = o.sweeps;
    facts.equilibrate = o.equilibrate;
    facts.start = o.start;
    facts.seed = m_seed;
    facts.stream = jobAt(i).stream;
    facts.factorsName = o.factorsFile;
    if (const std::optional<double> ts = siteTemperature(i); ts && *ts >= MinimumTemperature && *ts <= 1e4) {
        facts.exactEnergy = exactEnergy(point.size, point.size, *ts);
        facts.exactSpecificHeat = exactSpecificHeat(point.size, point.size, *ts);
    }
    facts.meanClusterSize = f.meanClusterSize;
    // A point run alone (--stream) is the one point of its own run.
    facts.point = o.stream ? 0 : m_mine[i];
    facts.points = m_points.size();
    facts.warnings = f.warnings;
    return tableRow(facts, f.results);
}

TemperatureJob SweepRun::jobAt(std::size_t i) const
{
    const Point &point = m_points[m_mine[i]];
    TemperatureJob job;
    job.size = point.size;
    job.temperature = point.temperature;
    job.algorithm = m_options.algorithm;
    job.equilibrate = m_options.equilibrate;
    job.sweeps = m_options.sweeps;
    job.start = m_options.start;
    job.seed = m_seed;
    job.stream = m_options.stream ? *m_options.stream : engine::streamSeed(m_seed, m_mine[i]);
    job.factors = m_factors.empty() ? m_ones.data() : m_factors.data();
    if (const std::optional<double> ts = siteTemperature(i))
        job.siteTemperature = *ts;
    job.seriesEvery = m_options.seriesEvery;
    return job;
}

int SweepRun::run()
{
    const Options &o = m_options;
    Output &out = *m_out;
    // The points this run computes: all, or those of its share.
    m_mine.resize(m_points.size());
    std::iota(m_mine.begin(), m_mine.end(), std::size_t(0));
    if (o.shard) {
        std::vector<double> cost;
        for (const Point &p : m_points)
            cost.push_back(pointCost(p.size, o.equilibrate + o.sweeps));
        m_mine = sharePoints(cost, *o.shard);
    }
    const std::size_t count = m_mine.size();
    const std::int64_t totalSweeps = std::int64_t(count) * (o.equilibrate + o.sweeps);
    m_finished.assign(count, {});
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(count, o.jobs > 0 ? std::size_t(o.jobs) : cores);

    // The work: single points, or, for Metropolis tables with at least four
    // points per job, fours of successive points of one size whose sweeps go
    // to the kernel together (each makes exactly the decisions it makes
    // alone; four of one size share the vector lanes).
    std::vector<std::vector<std::size_t>> work;
    const bool fours = o.algorithm == Algorithm::Metropolis && !series() && count >= 4 * jobs;
    for (std::size_t i = 0; i < count; ++i) {
        if (fours && !work.empty() && work.back().size() < 4
            && m_points[m_mine[work.back()[0]]].size == m_points[m_mine[i]].size)
            work.back().push_back(i);
        else
            work.push_back({i});
    }

    // Series rows: one job at a time writes them straight out, in order;
    // several keep each point's rows aside until those before it are out.
    const bool direct = jobs == 1;
    std::vector<SeriesFile> aside(series() && !direct ? count : 0);
    std::atomic<int> asideFailed {0}; // errno of a temporary file that failed

    out.write(series() ? seriesHeader() : tableHeader());
    std::atomic<std::size_t> next {0};
    std::atomic<std::int64_t> sweepsDone {0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = jobs;
    std::vector<std::thread> workers;
    const auto keep = [&](std::size_t i, const TemperatureOutcome &outcome) {
        Finished f {true, outcome.results, outcome.meanClusterSize, {}, {}};
        assess(i, f);
        const std::lock_guard lock(mutex);
        m_finished[i] = std::move(f);
        finished.notify_one();
    };
    for (std::size_t w = 0; w < jobs; ++w)
        workers.emplace_back([&] {
            for (std::size_t n; (n = next++) < work.size() && !g_stop.load();) {
                const std::vector<std::size_t> &items = work[n];
                if (items.size() > 1) {
                    std::vector<TemperatureJob> group;
                    for (const std::size_t i : items)
                        group.push_back(jobAt(i));
                    const std::vector<TemperatureOutcome> outcomes = runTemperatureJobs(group, sweepsDone, g_stop);
                    if (!outcomes.front().finished)
                        break;
                    for (std::size_t c = 0; c < items.size(); ++c)
                        keep(items[c], outcomes[c]);
                    continue;
                }
                const std::size_t i = items.front();
                TemperatureJob job = jobAt(i);
                if (series() && direct)
                    job.series = [&](std::string_view rows) { return out.write(rows); };
                else if (series())
                    job.series = [&, i](std::string_view rows) {
                        if (aside[i].keep(rows))
                            return true;
                        asideFailed = errno ? errno : EIO;
                        return false;
                    };
                const TemperatureOutcome outcome = runTemperatureJob(job, sweepsDone, g_stop);
                if (!outcome.finished)
                    break;
                keep(i, outcome);
            }
            const std::lock_guard lock(mutex);
            --running;
            finished.notify_one();
        });

    // Rows go out in point order as soon as all before them are done.
    auto writeOut = [&](std::size_t i) {
        if (!series()) {
            out.write(tableRowOf(i));
            return;
        }
        if (direct || aside[i].copyTo(out) || !out.ok())
            return;
        asideFailed = errno ? errno : EIO;
    };
    // A share (under a cluster's scheduler, into a job's output file): a line
    // when it starts and one when it ends instead of the progress bar.
    const bool terminal = isatty(STDERR_FILENO) && !o.shard;
    if (o.shard) {
        std::vector<int> sides;
        std::vector<double> temperatures;
        for (const std::size_t p : m_mine) {
            sides.push_back(m_points[p].size);
            temperatures.push_back(m_points[p].temperature);
        }
        m_share = shareSummary(*o.shard, sides, temperatures);
        std::fprintf(stderr, "ferrogrid-batch: %s started\n", m_share.c_str());
    }
    bool progressShown = false;
    const auto start = Clock::now();
    std::size_t written = 0;
    {
        std::unique_lock lock(mutex);
        for (;;) {
            while (written < count && m_finished[written].done) {
                const std::size_t i = written++;
                lock.unlock();
                writeOut(i);
                lock.lock();
            }
            if ((!(series() && direct) && !out.ok()) || asideFailed.load())
                g_stop = true;
            if (running == 0)
                break;
            finished.wait_for(lock, std::chrono::milliseconds(200));
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (terminal && seconds > 1 && !g_stop) {
                drawProgress(sweepsDone.load(), totalSweeps, seconds);
                progressShown = true;
            }
        }
    }
    for (std::thread &w : workers)
        w.join();
    if (progressShown)
        std::fputs("\r\033[K", stderr);

    // After a stop: what finished out of order, and the series so far, still
    // in temperature order.
    std::size_t done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        done += m_finished[i].done;
        if (i >= written && (m_finished[i].done || (series() && !direct)))
            writeOut(i);
    }
    if (asideFailed.load())
        return fail(std::string("cannot keep a series aside in a temporary file: ") + std::strerror(asideFailed.load()));
    if (!out.close())
        return fail(out.failure());
    if (done < count) {
        std::fprintf(stderr, "ferrogrid-batch: interrupted: %zu of %zu points finished; %s holds %s%s\n", done,
                     count, o.outputFile.empty() ? "standard output" : o.outputFile.c_str(),
                     series() ? "the series up to the stop" : "only their rows",
                     o.plotFile.empty() ? "" : ", and no plot was drawn");
        return 128 + (g_signal.load() ? g_signal.load() : SIGINT);
    }
    m_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return 0;
}

void SweepRun::warn() const
{
    for (const Finished &f : m_finished)
        for (const std::string &line : f.messages)
            std::fprintf(stderr, "%s\n", line.c_str());
    if (m_options.shard)
        std::fprintf(stderr, "ferrogrid-batch: %s finished in %s\n", m_share.c_str(), duration(m_seconds).c_str());
}

std::vector<SweepRun::PointResults> SweepRun::results() const
{
    std::vector<PointResults> out;
    for (std::size_t i = 0; i < m_finished.size(); ++i)
        out.push_back({m_points[m_mine[i]].size, m_points[m_mine[i]].temperature, m_finished[i].results});
    return out;
}

} // namespace ferro::batch
