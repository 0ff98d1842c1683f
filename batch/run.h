#pragma once
// A whole batch run: every point (lattice size, temperature) of the options
// on worker threads, a progress line on a terminal, the rows in point order
// whatever the number of jobs, a stop on Ctrl-C or SIGTERM that keeps what is
// finished. Standard C++ and POSIX only.
//
// Points are the sizes in the order given times the temperatures in the order
// given: point p = (size index) * (temperatures) + (temperature index). Point
// p draws from the stream streamSeed(seed, p), whichever thread or share runs
// it; --stream S runs one point alone with the stream S.

#include "analysis/analysis.h"
#include "batch/checkpoint.h"
#include "batch/options.h"
#include "batch/output.h"
#include "batch/pictures.h"
#include "batch/temperaturerun.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ferro::batch {

// The exact answers of a point's finite lattice, per site, at the one
// temperature all its sites run at.
struct ExactAnswers {
    double temperature;
    double energy;
    double specificHeat;
};

// A finished point's warnings: the words of its table row ("short;drift")
// and the lines for standard error.
struct PointWarnings {
    std::string words;
    std::vector<std::string> lines;
};

// The warnings of a point of L x L sites at `temperature` (as given):
// "short" when the measured sweeps span fewer than 100 autocorrelation times
// of the slowest observable; "off-exact" when the energy lies more than 5
// errors from the exact one (the error never taken below that of independent
// sweeps); "drift" when the results say the run drifted.
PointWarnings pointWarnings(int size, double temperature, const Results &results,
                            const std::optional<ExactAnswers> &exact);

class SweepRun {
public:
    explicit SweepRun(const Options &options);

    // Reads the factor file (L lines of L texts for the one size), checks
    // that Wolff has one factor everywhere, and opens the output. Empty when
    // the run can start, else one line.
    std::string prepare();

    // With --picture: how the pictures are written (a failure ends the run
    // with its line and exit status 2).
    void setPictures(PictureSaver save);

    // Runs the points (all, or the share's) and writes the rows. Returns the
    // exit status: 0, 2 after an output that failed (the message printed),
    // 130 or 143 after a stop by SIGINT or SIGTERM (the rows of the points
    // finished are kept, with the series so far; a stop while a share's
    // points are chosen leaves the header alone).
    int run();

    // Once run() returned 0: the warnings of the rows on standard error, then
    // a share's line saying it finished.
    void warn() const;

    const Options &options() const { return m_options; }
    std::uint64_t seed() const { return m_seed; }
    // Every site factor equals this F (1 without a factor file); none when
    // the factors differ.
    std::optional<double> equalFactor() const { return m_equalFactor; }

    struct PointResults {
        int size;
        double temperature;
        Results results;
        std::shared_ptr<const analysis::EnergyHistogram> histogram; // with --curves or --peaks
    };
    std::vector<PointResults> results() const; // of the points run, in point order

    // Makes SIGINT, SIGTERM and SIGUSR1 stop every run between two sweeps;
    // the second signal ends the program at once, except in a run that keeps
    // checkpoints, which finishes the one it writes (a scheduler that stops a
    // job may signal both it and the script that started it).
    static void catchSignals(bool checkpointing = false);

    // The run carries on from this checkpoint (read and compared with the
    // options by the caller); its seed is the checkpoint's.
    void resumeFrom(Checkpoint checkpoint);
    // Checkpoints go to options().checkpointFile (or the --resume file),
    // each holding these texts (see checkpoint.h).
    void setFingerprints(std::string version, std::string options, std::string factors);

private:
    struct Shared; // what the workers and the writer share while running
    struct Point {
        int size;
        double temperature;
    };
    struct Finished {
        bool done = false;
        Results results;
        double meanClusterSize = std::nan("");
        std::string warnings;              // short words for the table
        std::vector<std::string> messages; // the lines for standard error
        std::shared_ptr<const analysis::EnergyHistogram> histogram;
    };

    bool series() const { return m_options.seriesEvery > 0; }
    std::size_t pointCount() const { return m_options.sizes.size() * m_options.temperatures.size(); }
    Point pointAt(std::size_t p) const
    {
        const std::size_t t = m_options.temperatures.size();
        return {m_options.sizes[p / t], m_options.temperatures[p % t]};
    }
    std::string tableRowOf(std::size_t i) const;
    TemperatureJob jobAt(std::size_t i) const; // all but where its series goes
    void assess(std::size_t i, Finished &finished) const;
    std::optional<double> siteTemperature(std::size_t i) const;
    std::optional<ExactAnswers> exactAt(std::size_t i) const;

    bool choosePoints();
    void planWork(Shared &shared);
    void work(Shared &shared);
    bool runTogether(Shared &shared, const std::vector<std::size_t> &items);
    bool runAlone(Shared &shared, std::size_t i);
    void keep(Shared &shared, std::size_t i, const TemperatureOutcome &outcome);
    std::size_t writeInOrder(Shared &shared);
    void writeOut(Shared &shared, std::size_t i);
    int conclude(Shared &shared, std::size_t written);
    // Checkpoints.
    bool checkpointing() const { return !m_checkpointFile.empty(); }
    std::string applyResume(Shared &shared);
    void hold(Shared &shared, const std::vector<std::size_t> &items, std::span<PointState> states);
    bool writeCheckpoint(Shared &shared, std::size_t written);

    Options m_options;
    std::uint64_t m_seed = 0;
    std::vector<double> m_factors; // the one size's site factors, when a file gives them
    std::vector<double> m_ones;    // 1 for every site of the largest size
    std::optional<double> m_equalFactor = 1.0;
    std::optional<Output> m_out;
    std::unique_ptr<Pictures> m_pictures; // with --picture
    std::vector<std::size_t> m_mine;  // the points this run computes: all, or its share's
    std::vector<Finished> m_finished; // by place in m_mine
    std::string m_share;              // "share K/N: ..." of a sharded run
    std::string m_run;                // the run's fingerprint, in every row
    double m_seconds = 0;             // the run's time
    std::optional<Checkpoint> m_resume;
    std::string m_checkpointFile;
    Checkpoint m_fingerprints; // version, options and factors of every checkpoint
    bool m_checkpointed = false; // one was written at the stop
};

} // namespace ferro::batch
