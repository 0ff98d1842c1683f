// ferrogrid-batch: the window's flip attempt, headless, over a list of
// temperatures; a CSV table (or time series) and a figure.

#include "analysis/exactenergy.h"
#include "preparation/factorfile.h"
#include "core/flip.h"
#include "batch/options.h"
#include "batch/plot.h"
#include "batch/sweep.h"
#include "batch/table.h"

#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ferro;
using namespace ferro::batch;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> g_stop {false};

extern "C" void onInterrupt(int)
{
    g_stop.store(true);
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "ferrogrid-batch: %s\n", message.c_str());
    return 2;
}

// Standard output or a file, with the name that messages give it.
struct Output {
    std::FILE *file = stdout;
    std::string name = "standard output";
    int error = 0; // errno of the first failed write, 0 while all went out

    void write(const std::string &text)
    {
        if (error == 0 && (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0))
            error = errno ? errno : EIO;
    }
    void close()
    {
        if (file != stdout && std::fclose(file) != 0 && error == 0)
            error = errno ? errno : EIO;
    }
};

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

int writeFactors(const Options &o)
{
    const FactorFileResult pattern = factorPattern(o.writeFactors);
    if (!pattern.ok())
        return fail("--write-factors: " + pattern.error);
    Output out;
    if (!o.outputFile.empty()) {
        out.file = std::fopen(o.outputFile.c_str(), "wb");
        out.name = o.outputFile;
        if (!out.file)
            return fail("--output: cannot write " + o.outputFile + ": " + std::strerror(errno));
    }
    out.write(factorFileText(pattern.texts));
    out.close();
    return out.error ? fail("cannot write " + out.name + ": " + std::strerror(out.error)) : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok())
        return fail(parsed.error);
    const Options &o = parsed.options;
    if (o.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (!o.writeFactors.empty())
        return writeFactors(o);

    FactorTable factors;
    bool uniform = true;
    if (!o.factorsFile.empty()) {
        const FactorFileResult file = readFactorFile(o.factorsFile);
        if (!file.ok())
            return fail(file.error);
        for (int k = 0; k < Sites; ++k) {
            factors.setText(k, file.texts[k]);
            uniform = uniform && factors[k] == 1.0;
        }
    }
    const std::uint64_t seed = o.seed ? *o.seed
                                      : std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count());

    // Everything that can be refused is refused before the run starts.
    std::unique_ptr<QGuiApplication> app;
    bool plotCreated = false;
    if (!o.plotFile.empty()) {
        const bool existed = access(o.plotFile.c_str(), F_OK) == 0;
        std::FILE *probe = std::fopen(o.plotFile.c_str(), "ab");
        if (!probe)
            return fail("--plot: cannot write " + o.plotFile + ": " + std::strerror(errno));
        std::fclose(probe);
        plotCreated = !existed;
    }
    Output out;
    if (!o.outputFile.empty()) {
        out.file = std::fopen(o.outputFile.c_str(), "wb");
        out.name = o.outputFile;
        if (!out.file) {
            const int why = errno;
            if (plotCreated)
                std::remove(o.plotFile.c_str());
            return fail("--output: cannot write " + o.outputFile + ": " + std::strerror(why));
        }
    }
    if (!o.plotFile.empty()) {
        // The figure is painted on Qt's offscreen platform: no display needed.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Nothing of the toolkit's own chatter on standard error (such as the
        // missing XDG_RUNTIME_DIR of a root shell): that is for our messages.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "ferrogrid-batch: %s\n", qPrintable(message));
        });
        app = std::make_unique<QGuiApplication>(argc, argv);
    }

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const std::size_t count = o.temperatures.size();
    const std::int64_t totalSweeps = std::int64_t(count) * (o.equilibrate + o.sweeps);
    std::vector<std::optional<Outcome>> outcomes(count);
    std::atomic<std::size_t> next {0};
    std::atomic<std::int64_t> sweepsDone {0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(count, o.jobs > 0 ? std::size_t(o.jobs) : cores);
    std::vector<std::thread> workers;
    running = jobs;
    for (std::size_t w = 0; w < jobs; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < count && !g_stop.load();) {
                Job job;
                job.temperature = o.temperatures[i];
                job.equilibrate = o.equilibrate;
                job.sweeps = o.sweeps;
                job.start = o.start;
                job.seed = seed;
                job.index = i;
                job.factors = factors.data();
                job.seriesEvery = o.seriesEvery;
                Outcome outcome = runJob(job, sweepsDone, g_stop);
                if (!outcome.finished)
                    break;
                const std::lock_guard lock(mutex);
                outcomes[i] = std::move(outcome);
                finished.notify_one();
            }
            const std::lock_guard lock(mutex);
            --running;
            finished.notify_one();
        });

    // Rows go out in temperature order as soon as all before them are done.
    auto rowText = [&](std::size_t i) {
        const Outcome &outcome = *outcomes[i];
        if (o.seriesEvery > 0)
            return outcome.series;
        const double t = o.temperatures[i];
        return tableRow(t, o.sweeps, seed, outcome.results,
                        uniform ? std::optional<double>(exactEnergy(Side, Side, t)) : std::nullopt);
    };
    out.write(o.seriesEvery > 0 ? seriesHeader() : tableHeader());
    const bool terminal = isatty(STDERR_FILENO);
    bool progressShown = false;
    const auto start = Clock::now();
    std::size_t written = 0;
    {
        std::unique_lock lock(mutex);
        for (;;) {
            while (written < count && outcomes[written]) {
                const std::string row = rowText(written++);
                lock.unlock();
                out.write(row);
                lock.lock();
            }
            if (out.error)
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

    // After a stop: the rows finished out of order, still in temperature order.
    std::size_t done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!outcomes[i])
            continue;
        ++done;
        if (i >= written)
            out.write(rowText(i));
    }
    out.close();
    if (out.error) {
        if (plotCreated)
            std::remove(o.plotFile.c_str());
        return fail("cannot write " + out.name + ": " + std::strerror(out.error));
    }
    if (done < count) {
        if (plotCreated)
            std::remove(o.plotFile.c_str());
        std::fprintf(stderr,
                     "ferrogrid-batch: interrupted: %zu of %zu temperatures finished; %s holds only their rows%s\n",
                     done, count, out.name.c_str(), o.plotFile.empty() ? "" : ", and no plot was drawn");
        return 130;
    }

    for (std::size_t i = 0; i < count; ++i) {
        const Results &r = outcomes[i]->results;
        if (double(r.sweeps) < 100 * r.slowestTau)
            std::fprintf(stderr,
                         "ferrogrid-batch: warning: at T = %s the %lld measured sweeps span fewer than 100 "
                         "autocorrelation times (%.1f sweeps): the errors are uncertain; measure at least %.0f sweeps\n",
                         numberText(o.temperatures[i]).c_str(), static_cast<long long>(r.sweeps), r.slowestTau,
                         std::ceil(100 * r.slowestTau));
    }

    if (!o.plotFile.empty()) {
        PlotData data;
        data.exactCurve = uniform;
        for (std::size_t i = 0; i < count; ++i)
            data.points.push_back({o.temperatures[i], outcomes[i]->results});
        data.caption = QStringLiteral("Ferrogrid, 20 \u00d7 20 torus, %1 + %2 sweeps, seed %3%4")
                           .arg(o.equilibrate)
                           .arg(o.sweeps)
                           .arg(seed)
                           .arg(uniform ? QString() : QStringLiteral(", factors from %1").arg(QString::fromStdString(o.factorsFile)));
        const QString error = savePlot(QFile::decodeName(o.plotFile.c_str()), data);
        if (!error.isEmpty())
            return fail(error.toStdString());
    }
    return 0;
}
