#pragma once
// The fingerprint of a run: what makes two runs' rows parts of one table.
// Standard C++ and POSIX only.
//
// It covers everything that decides the rows: the sizes and temperatures in
// their order, the update, the start, the equilibration and measured sweeps,
// the seed, --stream, --series, the factor file's contents (not its name)
// and the program's version. It leaves out what only says where the rows go
// or how fast they come: --shard, --output, --jobs and --plot. An option that
// changes what a run computes must be added to runFingerprint.

#include "batch/options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferro::batch {

// 16 hex digits. `options.seed` must be the seed the run draws from (a run
// without --seed takes one from the clock: set it first). `factorContents`
// is the factor file's bytes, ignored without --factors.
std::string runFingerprint(const Options &options, std::string_view factorContents);

// The same, given the hash of the factor file's bytes (factorFileHash), so
// that a large file need not be held whole; none without a factor file.
std::string runFingerprint(const Options &options, std::optional<std::uint64_t> factorHash);

// The FNV-1a hash of the file's bytes, read in pieces; none with `error`
// set ("cannot read NAME: reason") when it cannot be read.
std::optional<std::uint64_t> factorFileHash(const std::string &path, std::string &error);

} // namespace ferro::batch
