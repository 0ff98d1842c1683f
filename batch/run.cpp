#include "batch/run.h"

#include "analysis/exactenergy.h"
#include "batch/shard.h"
#include "batch/temperaturerun.h"
#include "batch/table.h"
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
}

std::string SweepRun::prepare()
{
    if (!m_options.factorsFile.empty()) {
        const FactorFileResult file = readFactorFile(m_options.factorsFile);
        if (!file.ok())
            return file.error;
        for (int k = 0; k < Sites; ++k) {
            m_factors.setText(k, file.texts[k]);
            m_uniform = m_uniform && m_factors[k] == 1.0;
        }
    }
    std::string error;
    if (std::optional<Output> opened = Output::open(m_options.outputFile, error))
        m_out.emplace(std::move(*opened));
    return error;
}

std::string SweepRun::tableRowOf(std::size_t i) const
{
    const double t = m_options.temperatures[m_mine[i]];
    return tableRow(t, m_options.sweeps, m_seed, m_finished[i].results,
                    m_uniform ? std::optional<double>(exactEnergy(Side, Side, t)) : std::nullopt, m_mine[i],
                    m_options.temperatures.size());
}

TemperatureJob SweepRun::jobAt(std::size_t i) const
{
    TemperatureJob job;
    job.temperature = m_options.temperatures[m_mine[i]];
    job.equilibrate = m_options.equilibrate;
    job.sweeps = m_options.sweeps;
    job.start = m_options.start;
    job.seed = m_seed;
    job.index = m_mine[i];
    job.factors = m_factors.data();
    job.seriesEvery = m_options.seriesEvery;
    return job;
}

int SweepRun::run()
{
    const Options &o = m_options;
    Output &out = *m_out;
    // The run's points (one per temperature), and those this run computes:
    // all, or those of its share.
    const std::size_t points = o.temperatures.size();
    m_mine.resize(points);
    std::iota(m_mine.begin(), m_mine.end(), std::size_t(0));
    if (o.shard)
        m_mine = sharePoints(std::vector<double>(points, pointCost(Side, o.equilibrate + o.sweeps)), *o.shard);
    const std::size_t count = m_mine.size();
    const std::int64_t totalSweeps = std::int64_t(count) * (o.equilibrate + o.sweeps);
    m_finished.assign(count, {});
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(count, o.jobs > 0 ? std::size_t(o.jobs) : cores);

    // Series rows: one job at a time writes them straight out, in order;
    // several keep each temperature's rows aside until those before it are out.
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
    for (std::size_t w = 0; w < jobs; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < count && !g_stop.load();) {
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
                TemperatureOutcome outcome = runTemperatureJob(job, sweepsDone, g_stop);
                if (!outcome.finished)
                    break;
                const std::lock_guard lock(mutex);
                m_finished[i] = {true, outcome.results};
                finished.notify_one();
            }
            const std::lock_guard lock(mutex);
            --running;
            finished.notify_one();
        });

    // Rows go out in temperature order as soon as all before them are done.
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
        std::vector<int> sides(count, Side);
        std::vector<double> temperatures;
        for (const std::size_t p : m_mine)
            temperatures.push_back(o.temperatures[p]);
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
        std::fprintf(stderr, "ferrogrid-batch: interrupted: %zu of %zu temperatures finished; %s holds %s%s\n", done,
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
    if (!series()) // a series has no error bars to warn about
        for (std::size_t i = 0; i < m_finished.size(); ++i) {
            const Results &r = m_finished[i].results;
            if (double(r.sweeps) < 100 * r.slowestTau)
                std::fprintf(stderr,
                             "ferrogrid-batch: warning: at T = %s the %lld measured sweeps span fewer than 100 "
                             "autocorrelation times (%.1f sweeps): the errors are uncertain; measure at least %.0f "
                             "sweeps\n",
                             numberText(m_options.temperatures[m_mine[i]]).c_str(), static_cast<long long>(r.sweeps),
                             r.slowestTau, std::ceil(100 * r.slowestTau));
        }
    if (m_options.shard)
        std::fprintf(stderr, "ferrogrid-batch: %s finished in %s\n", m_share.c_str(), duration(m_seconds).c_str());
}

std::vector<std::pair<double, Results>> SweepRun::results() const
{
    std::vector<std::pair<double, Results>> out;
    for (std::size_t i = 0; i < m_finished.size(); ++i)
        out.emplace_back(m_options.temperatures[m_mine[i]], m_finished[i].results);
    return out;
}

} // namespace ferro::batch
