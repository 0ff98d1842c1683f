#pragma once
// The series of a run with several jobs, on their way out in point order.
// The first point not yet finished writes its rows straight to the output;
// the points after it keep theirs in temporary files until every point
// before them is out, and then write straight out too. So the output holds
// all that can be in it at any moment: a run killed outright leaves the
// rows of the points before, and so far of, the first unfinished one.
// POSIX and standard C++ only.
//
// The temporary files are made in TMPDIR (/tmp when it is unset or empty)
// and have no name from the moment they are made: nothing of them outlives
// the program, however it ends.

#include "batch/output.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ferro::batch {

class SeriesQueue {
public:
    // For the points 0 .. points-1 writing to `out`; point 0 goes straight out.
    SeriesQueue(Output &out, std::size_t points);
    ~SeriesQueue();
    SeriesQueue(const SeriesQueue &) = delete;
    SeriesQueue &operator=(const SeriesQueue &) = delete;

    // The worker of point `i`: whole rows, straight out once the point is
    // brought out, else into its temporary file. false once they could not
    // be kept (the output or the temporary file failed).
    bool write(std::size_t i, std::string_view rows);

    // Point `i` may go out: every point before it is out and finished. Its
    // rows kept so far are copied out, and those still to come go straight
    // out. Called by one thread, in point order; nothing again for a point
    // already out. false when a copy failed.
    bool bringOut(std::size_t i);

    // The rows of point `i` kept aside so far (empty once it is out), for a
    // checkpoint.
    std::string contents(std::size_t i);

    // Whether the output or a temporary file failed.
    bool failed() const { return m_outputFailed.load() || m_asideError.load() != 0; }
    // "cannot keep a series aside in a temporary file in FOLDER: reason", or
    // empty when no temporary file failed (the output says its own failure).
    std::string asideFailure() const;

    // Where the temporary files are made: TMPDIR, or /tmp.
    static std::string folder();

private:
    struct Lane;
    bool keepAside(Lane &lane, std::string_view rows);
    bool copyOut(Lane &lane);
    void asideFailed(int error);

    Output &m_out;
    std::unique_ptr<Lane[]> m_lanes;
    std::size_t m_count;
    std::string m_folder;
    std::atomic<bool> m_outputFailed {false};
    std::atomic<int> m_asideError {0};
};

} // namespace ferro::batch
