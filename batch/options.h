#pragma once
// The batch program's command line. Standard C++ only.

#include "core/lattice.h"
#include "engine/updates.h"
#include "batch/shard.h"
#include "batch/temperaturerun.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferro::batch {

// More temperatures than this in one run is a mistyped range.
constexpr std::size_t MaxTemperatures = 10000;
// Most points (sizes times temperatures) in one run.
constexpr std::size_t MaxPoints = 100'000;
// Longest equilibration or measurement, in sweeps.
constexpr std::int64_t MaxSweeps = 10'000'000'000'000;
constexpr int MaxJobs = 256;

struct Options {
    std::vector<double> temperatures;
    std::vector<int> sizes = {Side}; // L of the L x L tori, in the order given
    Algorithm algorithm = Algorithm::Metropolis;
    std::optional<std::uint64_t> stream; // --stream S: the one point draws from the stream S
    std::int64_t equilibrate = 1000;
    std::int64_t sweeps = 10000;
    Start start = Start::Zero;
    std::optional<std::uint64_t> seed; // none: from the clock
    std::string factorsFile, outputFile, plotFile, writeFactorsPattern;
    std::string curvesFile, peaksFile; // reweighted curves, and their peaks and crossings
    double curveStep = 0.001;
    std::int64_t seriesEvery = 0;
    std::string pictureFile;      // --picture: the name the pictures are numbered from
    std::int64_t framesEvery = 0; // --frames K
    int jobs = 0; // 0: one per core
    bool help = false;
    bool equilibrateGiven = false;
    std::optional<Shard> shard;          // --shard K/N: only this share's points
    std::vector<std::string> mergeFiles; // --merge FILE...: merge these tables
    bool merge = false, allowMissing = false;
    std::string plotTable;               // --plot-table TABLE: draw this table
    bool version = false;
    std::string checkpointFile, resumeFile; // --checkpoint FILE, --resume FILE
    double checkpointEvery = 10;            // minutes between checkpoints
    bool check = false;                     // --check: validate the options and stop
    std::vector<std::string> given;      // the options on the command line, each once, as first given
};

struct ParsedOptions {
    Options options;
    std::string error; // one line naming the option, empty when all is well
    bool ok() const { return error.empty(); }
};

// Options as --name VALUE or --name=VALUE; a later one replaces an earlier,
// and -h is --help. Each value is read on its own (the combinations are
// validate()'s); only the text is looked at: files are checked by the run.
ParsedOptions parseOptions(const std::vector<std::string> &args);

// The combinations of parsed options: one command (a run, --write-factors,
// --merge or --plot-table), every option given one that has an effect in it,
// the options that go together, and at most MaxPoints points. Empty when the
// options make a command (or ask for --help or --version), else one line
// naming the option.
std::string validate(const Options &options);

// A temperature (2.27), a list (1.5,2.0,2.27) or a range FROM:TO:STEP whose
// ends are both included when they fall on the grid. Every temperature must
// be a number of 0.1 or more; blanks after a comma are allowed, and a range
// whose step is too fine to give distinct temperatures is refused. The error
// is empty on success.
std::vector<double> parseTemperatures(std::string_view text, std::string &error);

std::string usageText(); // --help: at most 80 columns
std::string versionText(); // "ferrogrid-batch 1.0\n"

} // namespace ferro::batch
