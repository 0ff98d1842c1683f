#pragma once
// A whole batch run: every temperature of the options on worker threads, a
// progress line on a terminal, the rows in temperature order whatever the
// number of jobs, a stop on Ctrl-C or SIGTERM that keeps what is finished.
// Standard C++ and POSIX only.

#include "analysis/analysis.h"
#include "batch/options.h"
#include "batch/output.h"
#include "batch/temperaturerun.h"
#include "core/flip.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferro::batch {

class SweepRun {
public:
    explicit SweepRun(const Options &options);

    // Reads the factor file and opens the output. Empty when the run can
    // start, else one line.
    std::string prepare();

    // Runs every temperature and writes the rows. Returns the exit status: 0,
    // 2 after an output that failed (the message printed), 130 or 143 after
    // a stop by SIGINT or SIGTERM (the rows of the temperatures finished are
    // kept, with the series so far).
    int run();

    // Once run() returned 0: the warnings about error bars on standard error,
    // then a share's line saying it finished.
    void warn() const;

    const Options &options() const { return m_options; }
    std::uint64_t seed() const { return m_seed; }
    bool uniform() const { return m_uniform; } // every site factor is 1
    std::vector<std::pair<double, Results>> results() const;

    // Makes SIGINT and SIGTERM stop every run between two sweeps; the second
    // signal ends the program at once.
    static void catchSignals();

private:
    bool series() const { return m_options.seriesEvery > 0; }
    std::string tableRowOf(std::size_t i) const;
    TemperatureJob jobAt(std::size_t i) const; // all but where its series goes

    Options m_options;
    std::uint64_t m_seed = 0;
    FactorTable m_factors;
    bool m_uniform = true;
    std::optional<Output> m_out;
    struct Finished {
        bool done = false;
        Results results;
    };
    std::vector<Finished> m_finished; // by place in m_mine
    std::vector<std::size_t> m_mine;
    std::string m_share; // "share K/N: ..." of a sharded run
    double m_seconds = 0; // the run's time  // the points this run computes: all, or its share's
};

} // namespace ferro::batch
