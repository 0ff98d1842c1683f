#pragma once
// A run's checkpoint: everything needed to carry a stopped run on to the
// very table (and series, and figure) it would have made unstopped. The
// options it ran with, a fingerprint of its factor file's contents, the
// program's version, how much of the output is final, and for each point
// either nothing (not started), its results (finished) or its chain as it
// stood between two sweeps: spins, stream, Wolff bonds, accumulator and
// sweep count. The file's format is described in docs/checkpoint.md.
// POSIX and standard C++ only.

#include "analysis/analysis.h"
#include "engine/lattice.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferro::batch {

struct Options;

// The Wolff sweeps' clock (temperaturerun.cpp): clusters and spins since the
// middle of the equilibration, the same while measuring, the measured
// sweeps' clusters made and due.
struct WolffCounts {
    std::int64_t clusters = 0, added = 0, measuredClusters = 0, measuredAdded = 0, made = 0;
    double due = 0;
};

// One point's chain between two sweeps.
struct PointState {
    std::int64_t sweep = 0; // sweeps done (equilibration included)
    std::vector<std::int8_t> spins;
    std::array<std::uint64_t, 4> stream {};
    engine::FastLattice::WolffState wolff;
    std::vector<std::uint64_t> accumulator; // Accumulator::save()
    WolffCounts clock;
    std::string series; // series rows made and not yet handed on
};

struct SavedPoint {
    enum Kind : std::uint8_t { NotStarted = 0, Running = 1, Done = 2 };
    Kind kind = NotStarted;
    PointState state;                      // Running
    analysis::Results results;             // Done
    double meanClusterSize = analysis::NaN; // Done
    std::string series; // the point's series rows that are not in the output yet
};

struct Checkpoint {
    std::string version;        // versionText()
    std::string options;        // canonicalOptions()
    std::string factors;        // factorFingerprint() of the factor file's contents
    std::uint64_t seed = 0;     // the run's seed (from the clock when not given)
    std::uint64_t outputLength = 0; // bytes of the output that are final
    std::uint64_t written = 0;  // points whose rows are among them
    std::vector<SavedPoint> points; // the run's points (or its share's) in order
};

// The options that decide a run's rows, one "--name value" a line, in a
// fixed order: all but where the figure goes, the jobs and the checkpoint's
// own options.
std::string canonicalOptions(const Options &options);
// "none" without a factor file, else a 64-bit FNV-1a of its bytes in hex.
std::string factorFingerprint(const std::optional<std::string> &contents);

std::string encodeCheckpoint(const Checkpoint &checkpoint);
// Empty, with `error` set, for a file that is not a whole checkpoint of
// this format: not one at all, cut, or damaged (checksum).
std::optional<Checkpoint> decodeCheckpoint(std::string_view bytes, std::string &error);
// The first difference between a checkpoint and the run about to resume it,
// in words; empty when there is none.
std::string checkpointDifference(const Checkpoint &checkpoint, const std::string &version,
                                 const std::string &options, const std::string &factors);

// Writes the bytes to PATH.new, flushes them to the disk and renames that
// over PATH (then flushes the folder), so that PATH is always a whole file.
// False with `error` set otherwise (PATH.new removed).
bool writeAtomically(const std::string &path, std::string_view bytes, std::string &error);
// The whole file; empty with `error` set when it cannot be read.
std::optional<std::string> readWhole(const std::string &path, std::string &error);

} // namespace ferro::batch
