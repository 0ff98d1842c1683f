#include "batch/run.h"

#include "analysis/exactenergy.h"
#include "engine/chain.h"
#include "batch/fingerprint.h"
#include "batch/seriesqueue.h"
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
// A run that keeps checkpoints: a signal asks for one, and the run stops after it.
std::atomic<bool> g_checkpointing {false};
// Workers hand over their points' states between two sweeps and wait.
std::atomic<bool> g_hold {false};

extern "C" void onStopSignal(int signal)
{
    g_signal.store(signal);
    if (g_checkpointing.load())
        g_hold.store(true);
    else
        g_stop.store(true);
}

// The exit status after a stop: 130 after SIGINT, 143 after SIGTERM, 138
// after SIGUSR1.
int stopStatus()
{
    return 128 + (g_signal.load() ? g_signal.load() : SIGINT);
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

} // namespace

void SweepRun::catchSignals(bool checkpointing)
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = checkpointing ? 0 : SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGUSR1, &action, nullptr);
}

SweepRun::SweepRun(const Options &options) : m_options(options)
{
    m_seed = options.seed ? *options.seed
                          : std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
}

std::string SweepRun::prepare()
{
    const Options &o = m_options;
    const int largest = *std::max_element(o.sizes.begin(), o.sizes.end());
    if (o.algorithm != Algorithm::Checkerboard) // which reads no factors (2 GiB of ones at L = 16384)
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
        if (!m_equalFactor && o.algorithm == Algorithm::Checkerboard)
            return "--algorithm checkerboard: the factors of " + o.factorsFile
                + " differ from site to site, and the checkerboard update keeps two flip probabilities for all "
                  "sites (use --algorithm metropolis)";
    }
    std::string why;
    const std::optional<std::uint64_t> factorHash
        = o.factorsFile.empty() ? std::nullopt : factorFileHash(o.factorsFile, why);
    if (!why.empty())
        return "--factors: " + why;
    Options seeded = o;
    seeded.seed = m_seed;
    m_run = runFingerprint(seeded, factorHash);
    std::string error;
    if (std::optional<Output> opened = m_resume ? Output::reopen(o.outputFile, (long long)m_resume->outputLength, error)
                                                : Output::open(o.outputFile, error))
        m_out.emplace(std::move(*opened));
    if (m_out && series() && isNumpyName(o.outputFile))
        m_out->writeNumpy();
    return error;
}

void SweepRun::setPictures(PictureSaver save)
{
    if (!m_options.pictureFile.empty())
        m_pictures = std::make_unique<Pictures>(m_options, std::move(save));
}

std::optional<double> SweepRun::siteTemperature(std::size_t i) const
{
    if (!m_equalFactor)
        return std::nullopt;
    return localTemperature(runTemperature(pointAt(m_mine[i]).temperature), *m_equalFactor);
}

// None where the sites' temperatures differ (the specific heat NaN where a
// double cannot hold it, above T of about 7e153).
std::optional<ExactAnswers> SweepRun::exactAt(std::size_t i) const
{
    const std::optional<double> ts = siteTemperature(i);
    if (!ts || *ts < MinimumTemperature)
        return std::nullopt;
    const int size = pointAt(m_mine[i]).size;
    return ExactAnswers {*ts, exactEnergy(size, size, *ts), exactSpecificHeat(size, size, *ts)};
}

PointWarnings pointWarnings(int size, double temperature, const Results &r, const std::optional<ExactAnswers> &exact)
{
    PointWarnings warnings;
    const std::string where = "ferrogrid-batch: warning: L = " + std::to_string(size) + ", T = "
        + numberText(temperature) + ": ";
    const auto add = [&](const char *word, const std::string &message) {
        warnings.words += (warnings.words.empty() ? "" : ";") + std::string(word);
        warnings.lines.push_back(where + message);
    };
    if (double(r.sweeps) < 100 * r.slowestTau)
        add("short", "the " + std::to_string(r.sweeps) + " measured sweeps span fewer than 100 autocorrelation "
                "times of the slowest observable (" + numberText(r.slowestTau, 3) + " sweeps): the errors are "
                "uncertain; " + std::to_string(std::int64_t(std::ceil(100 * r.slowestTau))) + " sweeps would do");
    if (exact && std::isfinite(r.energy.mean)) {
        // The error is never taken below that of independent sweeps, so that
        // a run that sits in the ground state is not called off.
        const double n = double(size) * size, ts = exact->temperature;
        const auto errorsOff = [&](const Value &v, double sweeps) {
            const double floor = std::sqrt(std::max(0.0, exact->specificHeat) * ts * ts / (n * sweeps));
            const double error = std::isfinite(v.error) ? std::max(v.error, floor) : floor;
            return std::pair {std::fabs(v.mean - exact->energy), error};
        };
        const auto times = [](double off, double error) {
            return error <= 0 ? std::string("many") : off / error >= 100 ? std::to_string(std::llround(off / error)) : numberText(off / error, 3);
        };
        const auto [off, error] = errorsOff(r.energy, double(r.sweeps));
        // The last half alone: a run still relaxing inflates the whole run's
        // error with its own drift, and can hide behind it.
        const auto [offLate, errorLate] = errorsOff(r.energyLastHalf, double(r.sweeps / 2));
        if (off > 5 * error)
            add("off-exact", "the energy " + numberText(r.energy.mean, 6) + " lies " + times(off, error)
                    + " errors from the exact " + numberText(exact->energy, 6) + ": likely a run stuck in a metastable "
                    "state (such as stripes), or too short an equilibration; raise --equilibrate");
        else if (std::isfinite(r.energyLastHalf.mean) && offLate > 5 * errorLate)
            add("unequilibrated", "the energy of the last half of the measured sweeps, "
                    + numberText(r.energyLastHalf.mean, 6) + ", lies " + times(offLate, errorLate) + " of its errors from "
                    "the exact " + numberText(exact->energy, 6) + ": the run was still relaxing (its drift inflates the "
                    "whole run's error); raise --equilibrate");
    }
    // Fewer than 100 changes of parity, and in under a tenth of the sweeps
    // that change the state: the run sees the states of one parity (mostly).
    if (r.parityChanges < 100 && 10 * r.parityChanges < r.changedSweeps)
        add("parity", "the number of down spins changed parity after only " + std::to_string(r.parityChanges)
                + " of the " + std::to_string(r.changedSweeps) + " measured sweeps that changed the magnetization: "
                "nearly every attempt flips at this temperature, a sweep of an even number of flips keeps the parity, "
                "and the measurements see only part of the states; |m| and the fluctuations can be far off with small "
                "errors (an odd L, whose sweeps flip the parity, does not have this)");
    if (r.drift)
        add("drift", "the first and the last quarter of the measured sweeps differ by more than 4 errors (energy "
                + numberText(r.energyFirstQuarter.mean, 6) + " and " + numberText(r.energyLastQuarter.mean, 6)
                + ", |m| " + numberText(r.absMagFirstQuarter.mean, 4) + " and "
                + numberText(r.absMagLastQuarter.mean, 4) + "): the run was still settling or is stuck; raise "
                "--equilibrate");
    return warnings;
}

// None for a series, which has no error bars.
void SweepRun::assess(std::size_t i, Finished &f) const
{
    if (series())
        return;
    const Point point = pointAt(m_mine[i]);
    PointWarnings warnings = pointWarnings(point.size, point.temperature, f.results, exactAt(i));
    f.warnings = std::move(warnings.words);
    f.messages = std::move(warnings.lines);
}

std::string SweepRun::tableRowOf(std::size_t i) const
{
    const Options &o = m_options;
    const Point point = pointAt(m_mine[i]);
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
    if (const std::optional<ExactAnswers> exact = exactAt(i)) {
        facts.exactEnergy = exact->energy;
        facts.exactSpecificHeat = exact->specificHeat;
    }
    facts.meanClusterSize = f.meanClusterSize;
    // A point run alone (--stream) is the one point of its own run.
    facts.point = o.stream ? 0 : m_mine[i];
    facts.points = pointCount();
    facts.warnings = f.warnings;
    facts.run = m_run;
    return tableRow(facts, f.results);
}

TemperatureJob SweepRun::jobAt(std::size_t i) const
{
    const Point point = pointAt(m_mine[i]);
    TemperatureJob job;
    job.size = point.size;
    job.temperature = point.temperature;
    job.algorithm = m_options.algorithm;
    job.equilibrate = m_options.equilibrate;
    job.sweeps = m_options.sweeps;
    job.start = m_options.start;
    job.seed = m_seed;
    job.stream = m_options.stream ? *m_options.stream : engine::streamSeed(m_seed, m_mine[i]);
    job.point = m_options.stream ? 0 : m_mine[i]; // as the table's point column
    job.factors = m_factors.empty() ? m_ones.data() : m_factors.data();
    if (const std::optional<double> ts = siteTemperature(i))
        job.siteTemperature = *ts;
    job.seriesEvery = m_options.seriesEvery;
    if (m_pictures) {
        job.picture = m_pictures->writerFor(m_options.stream ? 0 : m_mine[i], point.size);
        job.framesEvery = m_options.framesEvery;
    }
    job.histogram = !m_options.curvesFile.empty() || !m_options.peaksFile.empty();
    return job;
}

struct SweepRun::Shared {
    // The pieces of work, each one point or four of one size (by place in
    // m_mine), taken by the workers in order.
    std::vector<std::vector<std::size_t>> work;
    std::atomic<std::size_t> next {0};
    std::size_t jobs = 0;
    int pointThreads = 1; // threads that sweep one checkerboard point
    // Series rows: one job writes them straight out, in order; with several
    // the first unfinished point's go straight out, the others' wait aside.
    bool direct = false;
    std::unique_ptr<SeriesQueue> queue;
    std::atomic<std::int64_t> sweepsDone {0};
    std::mutex mutex; // over m_finished and running
    std::condition_variable finished;
    std::size_t running = 0; // workers not yet done
    Clock::time_point start;
    // Checkpoints: the workers held in this round (counted afresh each
    // round: a worker released by one round may not have woken before the
    // next begins), the round they wait for the end of, and the states they
    // handed over (by place in m_mine).
    std::size_t held = 0;
    std::uint64_t round = 0;
    std::condition_variable released;
    std::vector<std::optional<PointState>> states;
};

int SweepRun::run()
{
    if (!m_resume)
        m_out->write(series() ? seriesHeader() : tableHeader());
    g_checkpointing = checkpointing();
    if (!choosePoints()) {
        std::fprintf(stderr, "ferrogrid-batch: interrupted before any point ran; %s holds only the header%s\n",
                     m_options.outputFile.empty() ? "standard output" : m_options.outputFile.c_str(),
                     m_options.plotFile.empty() ? "" : ", and no plot was drawn");
        return m_out->close() ? stopStatus() : fail(m_out->failure());
    }
    Shared shared;
    planWork(shared);
    if (const std::string error = m_resume ? applyResume(shared) : std::string(); !error.empty())
        return fail(error);
    // A share (under a cluster's scheduler, into a job's output file): a line
    // when it starts and one when it ends instead of the progress bar.
    if (m_options.shard) {
        std::vector<int> sides;
        std::vector<double> temperatures;
        for (const std::size_t p : m_mine) {
            sides.push_back(pointAt(p).size);
            temperatures.push_back(pointAt(p).temperature);
        }
        m_share = shareSummary(*m_options.shard, sides, temperatures);
        std::fprintf(stderr, "ferrogrid-batch: %s started\n", m_share.c_str());
    }
    std::vector<std::thread> workers;
    for (std::size_t w = 0; w < shared.jobs; ++w)
        workers.emplace_back([&] { work(shared); });
    const std::size_t written = writeInOrder(shared);
    for (std::thread &w : workers)
        w.join();
    return conclude(shared, written);
}

// The points this run computes: all, or those of its share. False when a
// signal stopped the choice of the share's points.
bool SweepRun::choosePoints()
{
    const Options &o = m_options;
    if (!o.shard) {
        m_mine.resize(pointCount());
        std::iota(m_mine.begin(), m_mine.end(), std::size_t(0));
        return true;
    }
    std::vector<double> cost;
    cost.reserve(pointCount());
    for (const int size : o.sizes)
        cost.insert(cost.end(), o.temperatures.size(), pointCost(size, o.equilibrate + o.sweeps));
    m_mine = sharePoints(cost, *o.shard, &g_stop);
    return !g_stop.load();
}

// The work: single points, or, for Metropolis tables with at least four
// points per job, fours of successive points of one size whose sweeps go to
// the kernel together (each makes exactly the decisions it makes alone; four
// of one size share the vector lanes).
void SweepRun::planWork(Shared &s)
{
    const Options &o = m_options;
    const std::size_t count = m_mine.size();
    m_finished.assign(count, {});
    s.states.resize(count);
    // A resumed run: the finished points are not run again, and only points
    // at one sweep count share the kernel.
    const auto resumedAt = [&](std::size_t i) -> std::int64_t {
        if (!m_resume || i >= m_resume->points.size())
            return 0;
        const SavedPoint &p = m_resume->points[i];
        return p.kind == SavedPoint::Done ? -1 : p.kind == SavedPoint::Running ? p.state.sweep : 0;
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t wanted = o.jobs > 0 ? std::size_t(o.jobs) : cores;
    s.jobs = std::min<std::size_t>(count, wanted);
    // Fewer checkerboard points than jobs: each point's bands on several
    // threads (the flips are the same for any count).
    if (o.algorithm == Algorithm::Checkerboard && count > 0)
        s.pointThreads = int(std::max<std::size_t>(1, wanted / count));
    s.running = s.jobs;
    const bool fours = o.algorithm == Algorithm::Metropolis && !series() && count >= 4 * s.jobs;
    for (std::size_t i = 0; i < count; ++i) {
        if (resumedAt(i) < 0)
            continue;
        if (fours && !s.work.empty() && s.work.back().size() < 4
            && pointAt(m_mine[s.work.back()[0]]).size == pointAt(m_mine[i]).size
            && resumedAt(s.work.back()[0]) == resumedAt(i))
            s.work.back().push_back(i);
        else
            s.work.push_back({i});
    }
    s.direct = s.jobs == 1;
    if (series() && !s.direct)
        s.queue = std::make_unique<SeriesQueue>(*m_out, count);
}

// One worker: pieces of work until none is left or a stop.
void SweepRun::work(Shared &s)
{
    for (std::size_t n; !g_stop.load() && (n = s.next++) < s.work.size();) {
        if (g_hold.load())
            hold(s, {}, {});
        const std::vector<std::size_t> &items = s.work[n];
        if (!(items.size() > 1 ? runTogether(s, items) : runAlone(s, items.front())))
            break;
    }
    const std::lock_guard lock(s.mutex);
    --s.running;
    s.finished.notify_one();
}

bool SweepRun::runTogether(Shared &s, const std::vector<std::size_t> &items)
{
    std::vector<TemperatureJob> group;
    for (const std::size_t i : items) {
        group.push_back(jobAt(i));
        if (m_resume && m_resume->points[i].kind == SavedPoint::Running)
            group.back().resume = &m_resume->points[i].state;
    }
    group.front().holdWanted = &g_hold;
    group.front().hold = [this, &s, &items](std::span<PointState> states) { hold(s, items, states); };
    const std::vector<TemperatureOutcome> outcomes = runTemperatureJobs(group, s.sweepsDone, g_stop);
    if (!outcomes.front().finished)
        return false;
    for (std::size_t c = 0; c < items.size(); ++c)
        keep(s, items[c], outcomes[c]);
    return true;
}

bool SweepRun::runAlone(Shared &s, std::size_t i)
{
    TemperatureJob job = jobAt(i);
    job.threads = s.pointThreads;
    if (m_resume && m_resume->points[i].kind == SavedPoint::Running)
        job.resume = &m_resume->points[i].state;
    job.holdWanted = &g_hold;
    job.hold = [this, &s, i](std::span<PointState> states) { hold(s, {i}, states); };
    if (series() && s.direct)
        job.series = [this](std::string_view rows) { return m_out->write(rows); };
    else if (series())
        job.series = [&s, i](std::string_view rows) { return s.queue->write(i, rows); };
    const TemperatureOutcome outcome = runTemperatureJob(job, s.sweepsDone, g_stop);
    if (!outcome.finished)
        return false;
    keep(s, i, outcome);
    return true;
}

void SweepRun::keep(Shared &s, std::size_t i, const TemperatureOutcome &outcome)
{
    Finished f {true, outcome.results, outcome.meanClusterSize, {}, {}, outcome.histogram};
    assess(i, f);
    const std::lock_guard lock(s.mutex);
    m_finished[i] = std::move(f);
    s.finished.notify_one();
}

// Rows go out in point order as soon as all before them are done; the
// progress bar on a terminal meanwhile. Returns the rows written.
std::size_t SweepRun::writeInOrder(Shared &s)
{
    const std::size_t count = m_mine.size();
    const std::int64_t totalSweeps = std::int64_t(count) * (m_options.equilibrate + m_options.sweeps);
    const bool terminal = isatty(STDERR_FILENO) && !m_options.shard;
    bool progressShown = false;
    s.start = Clock::now();
    const auto every = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(60 * m_options.checkpointEvery));
    Clock::time_point nextCheckpoint = s.start + every;
    std::size_t written = m_resume ? std::size_t(m_resume->written) : 0;
    std::unique_lock lock(s.mutex);
    for (;;) {
        while (written < count && m_finished[written].done) {
            const std::size_t i = written++;
            lock.unlock();
            writeOut(s, i);
            lock.lock();
        }
        // The first unfinished point's series from now on straight out.
        if (s.queue && written < count) {
            lock.unlock();
            s.queue->bringOut(written);
            lock.lock();
        }
        if ((s.queue ? s.queue->failed() : !(series() && s.direct) && !m_out->ok())
            || (m_pictures && m_pictures->failed()))
            g_stop = true;
        if (checkpointing() && s.running > 0 && !g_stop
            && (g_signal.load() || g_hold.load() || Clock::now() >= nextCheckpoint)) {
            const bool stopping = g_signal.load() != 0;
            g_hold = true;
            s.finished.wait(lock, [&] { return s.held == s.running; });
            const bool ok = writeCheckpoint(s, written);
            if (stopping) {
                m_checkpointed = ok;
                g_stop = true;
            }
            g_hold = false;
            s.held = 0;
            ++s.round;
            s.released.notify_all();
            nextCheckpoint = Clock::now() + every;
        }
        if (s.running == 0)
            break;
        // Awake at least every 200 ms (the progress line), and when the next
        // checkpoint is due (at most every millisecond).
        Clock::duration wait = std::chrono::milliseconds(200);
        if (checkpointing())
            wait = std::clamp<Clock::duration>(nextCheckpoint - Clock::now(), std::chrono::milliseconds(1), wait);
        s.finished.wait_for(lock, wait);
        const double seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
        if (terminal && seconds > 1 && !g_stop) {
            drawProgress(s.sweepsDone.load(), totalSweeps, seconds);
            progressShown = true;
        }
    }
    if (progressShown)
        std::fputs("\r\033[K", stderr);
    return written;
}

void SweepRun::writeOut(Shared &s, std::size_t i)
{
    if (!series()) {
        m_out->write(tableRowOf(i));
        return;
    }
    if (s.queue)
        s.queue->bringOut(i);
}

// After a stop: what finished out of order, and the series so far, still in
// temperature order; then the output closed and the exit status.
int SweepRun::conclude(Shared &s, std::size_t written)
{
    const Options &o = m_options;
    const std::size_t count = m_mine.size();
    std::size_t done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        done += m_finished[i].done;
        if (i >= written && (m_finished[i].done || (series() && !s.direct)))
            writeOut(s, i);
    }
    if (const std::string aside = s.queue ? s.queue->asideFailure() : std::string(); !aside.empty())
        return fail(aside);
    if (!m_out->close())
        return fail(m_out->failure());
    if (m_pictures && m_pictures->failed())
        return fail(m_pictures->failure());
    if (done < count && m_checkpointed) {
        const int signal = g_signal.load();
        std::fprintf(stderr, "ferrogrid-batch: stopped by %s with %zu of %zu points finished; checkpoint "
                     "written to %s: carry on with --resume %s\n",
                     signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGUSR1", done, count,
                     m_checkpointFile.c_str(), m_checkpointFile.c_str());
        return stopStatus();
    }
    if (done < count) {
        std::fprintf(stderr, "ferrogrid-batch: interrupted: %zu of %zu points finished; %s holds %s%s\n", done,
                     count, o.outputFile.empty() ? "standard output" : o.outputFile.c_str(),
                     series() ? "the series up to the stop" : "only their rows",
                     o.plotFile.empty() ? "" : ", and no plot was drawn");
        return stopStatus();
    }
    m_seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
    if (checkpointing()) // the run is whole: nothing to carry on
        std::remove(m_checkpointFile.c_str());
    return 0;
}

void SweepRun::resumeFrom(Checkpoint checkpoint)
{
    m_seed = checkpoint.seed;
    m_resume = std::move(checkpoint);
}

void SweepRun::setFingerprints(std::string version, std::string options, std::string factors)
{
    m_checkpointFile = m_options.checkpointFile.empty() ? m_options.resumeFile : m_options.checkpointFile;
    m_fingerprints.version = std::move(version);
    m_fingerprints.options = std::move(options);
    m_fingerprints.factors = std::move(factors);
}

// The finished points and the series rows of a resumed run put back; empty
// when the checkpoint fits this run's points, else why not.
std::string SweepRun::applyResume(Shared &s)
{
    const Checkpoint &c = *m_resume;
    const std::string name = "--resume " + m_options.resumeFile + ": ";
    if (c.points.size() != m_mine.size())
        return name + "the checkpoint holds " + std::to_string(c.points.size()) + " points, and this run has "
            + std::to_string(m_mine.size());
    bool laterSeries = false;
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        const SavedPoint &p = c.points[i];
        const int side = pointAt(m_mine[i]).size;
        if ((i < c.written && p.kind != SavedPoint::Done)
            || (p.kind == SavedPoint::Running
                && (p.state.spins.size() != std::size_t(side) * std::size_t(side) || p.state.sweep < 0
                    || p.state.sweep > m_options.equilibrate + m_options.sweeps))
            || (!series() && !p.series.empty()))
            return name + "the checkpoint's point " + std::to_string(i) + " does not fit this run";
        if (p.kind == SavedPoint::Done) {
            m_finished[i] = {true, p.results, p.meanClusterSize, {}, {}, nullptr};
            assess(i, m_finished[i]);
        }
        laterSeries = laterSeries || (i > c.written && !p.series.empty());
    }
    if (laterSeries && s.direct) // the series of later points wait aside, as with several jobs
        s.direct = false;
    if (series() && !s.direct && !s.queue)
        s.queue = std::make_unique<SeriesQueue>(*m_out, m_mine.size());
    // The points whose rows are out, and the first unfinished one, go
    // straight out; the later ones' rows wait aside again.
    if (s.queue)
        for (std::size_t i = 0; i <= c.written && i < m_mine.size(); ++i)
            s.queue->bringOut(i);
    for (std::size_t i = c.written; i < c.points.size(); ++i) {
        const std::string &text = c.points[i].series;
        if (text.empty())
            continue;
        if (!(s.queue ? s.queue->write(i, text) : m_out->write(text))) {
            const std::string aside = s.queue ? s.queue->asideFailure() : std::string();
            return aside.empty() ? m_out->failure() : aside;
        }
    }
    return {};
}

// A worker's points between two sweeps (none between two pieces of work):
// their states handed over, then a wait until the checkpoint is made.
void SweepRun::hold(Shared &s, const std::vector<std::size_t> &items, std::span<PointState> states)
{
    std::unique_lock lock(s.mutex);
    if (!g_hold.load())
        return;
    for (std::size_t c = 0; c < states.size(); ++c)
        s.states[items[c]] = std::move(states[c]);
    ++s.held;
    s.finished.notify_all();
    const std::uint64_t round = s.round;
    s.released.wait(lock, [&] { return s.round != round; });
}

// With every worker held: the run's state into the checkpoint file. False
// (with a warning) when it could not be written; the run goes on.
bool SweepRun::writeCheckpoint(Shared &s, std::size_t written)
{
    Checkpoint c = m_fingerprints;
    c.seed = m_seed;
    c.written = written;
    bool ok = m_out->sync();
    c.outputLength = std::uint64_t(std::max(0LL, m_out->length()));
    for (std::size_t i = 0; i < m_mine.size(); ++i) {
        SavedPoint p;
        const bool asideSeries = series() && !s.direct && i >= written;
        if (m_finished[i].done) {
            p.kind = SavedPoint::Done;
            p.results = m_finished[i].results;
            p.meanClusterSize = m_finished[i].meanClusterSize;
            if (asideSeries && s.queue)
                p.series = s.queue->contents(i);
        } else if (s.states[i]) {
            p.kind = SavedPoint::Running;
            p.state = std::move(*s.states[i]);
            p.series = (asideSeries && s.queue ? s.queue->contents(i) : std::string()) + p.state.series;
            p.state.series.clear();
        }
        s.states[i].reset();
        c.points.push_back(std::move(p));
    }
    std::string error = ok ? std::string() : m_out->failure();
    ok = ok && writeAtomically(m_checkpointFile, encodeCheckpoint(c), error);
    if (!ok)
        std::fprintf(stderr, "ferrogrid-batch: warning: no checkpoint: %s\n", error.c_str());
    return ok;
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
        out.push_back({pointAt(m_mine[i]).size, pointAt(m_mine[i]).temperature, m_finished[i].results,
                       m_finished[i].histogram});
    return out;
}

} // namespace ferro::batch
