#pragma once
// The pictures of a run's lattices (--picture, --frames): the files' names,
// the check of their folder before the run, and the hook each point's job
// calls. The drawing itself is handed in (figures/latticepicture.h, which
// needs Qt); this file is standard C++ and POSIX.
//
// --picture lattice.png writes the last state of point p as lattice-p.png;
// --frames K adds lattice-p-SSSSSS.png at every K-th sweep from sweep 0 on,
// the sweep zero-padded to six digits (more when the run has more sweeps), so
// that a point's frames sort in the order of their sweeps.

#include "engine/spinforms.h"
#include "batch/temperaturerun.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferro::batch {

struct Options;

// Writes the picture of L x L spins to the file `path`, whole or not at all;
// empty on success, else one line saying what went wrong.
using PictureSaver = std::function<std::string(const std::string &path, const engine::SpinRows &rows, int size)>;

// The digits of a frame's sweep for a run of `lastSweep` sweeps: 6 or more.
int frameDigits(std::int64_t lastSweep);

// The file of point `point` named from `pattern`: "lattice.png" gives
// "lattice-3.png", and with a sweep "lattice-3-000020.png".
std::string pictureName(std::string_view pattern, std::size_t point, std::optional<std::int64_t> sweep = {},
                        int digits = 6);

// Whether `pattern` ends in .png (in any case); --picture refuses the rest.
bool isPictureName(std::string_view pattern);

// Refuses a --picture whose folder cannot take new files. Empty when all is
// well, else one line.
std::string checkPictureFolder(const Options &options);

// The pictures of one run, shared by its workers: the first failure stops
// the job that met it and is kept for the run's one line.
class Pictures {
public:
    Pictures(const Options &options, PictureSaver save);

    // The job hook of point `point` (as the table numbers it) of L x L.
    PictureWriter writerFor(std::size_t point, int size);

    bool failed() const { return m_failed.load(); }
    std::string failure() const;

private:
    std::string m_pattern;
    int m_digits;
    PictureSaver m_save;
    std::atomic<bool> m_failed {false};
    mutable std::mutex m_mutex;
    std::string m_failure;
};

} // namespace ferro::batch
