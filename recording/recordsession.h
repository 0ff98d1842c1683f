#pragma once
// One recording (`ferrogrid --record FILE`): the window says when a point or
// an event happens; the session makes the rows and hands them to a writer
// thread, so that the window never waits for the file. Standard C++ and
// POSIX; no widgets.

#include "stdruntime/clock.h"
#include "core/run.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace ferro {

class RecordSession {
public:
    // How far the file's reader may fall behind, in bytes of rows not yet
    // written, before recording stops.
    static constexpr std::size_t DefaultMaxBehind = 4 << 20;

    explicit RecordSession(std::string path, std::size_t maxBehind = DefaultMaxBehind);
    // Writes the rows the file takes at once, then ends the writer; never
    // waits for a reader that has stopped reading.
    ~RecordSession();
    RecordSession(const RecordSession &) = delete;
    RecordSession &operator=(const RecordSession &) = delete;

    // Opens the file without waiting (a pipe with no reader is refused at
    // once), takes a write lock on it (refused while another program holds
    // a lock that excludes it) and queues a blank separator line when the
    // file already holds something, the header and a start row stamped `now`.
    // False when the file cannot be had; error() says why. Later, `stopped`
    // is called once, on any thread, when recording stops on its own: a
    // write failed, or the reader fell more than maxBehind bytes behind.
    // Then the row being written is finished and the file closed.
    bool start(const ClockReading &now, std::function<void()> stopped);

    // A point on the charts, or an event that cuts the series, with the
    // temperature box's text. `factorEdits` counts the factor boxes' edits:
    // any since the last row make one event row before this one. Nothing
    // once recording has stopped.
    void point(const Run &run, std::string_view temperatureText, std::uint64_t factorEdits);
    void event(const Run &run, std::string_view temperatureText, std::string_view what, std::uint64_t factorEdits);

    // Whether rows are still taken.
    bool recording() const;
    // Why the file could not be had or recording stopped, as sentences.
    std::string error() const;

private:
    void add(const Run &run, std::string_view temperatureText, std::uint64_t factorEdits, std::string row);
    void stop(const std::string &what, const std::string &why);
    void writeRows();
    // One row in one write (more only when a pipe takes part of a long row);
    // false when the row could not be written whole.
    bool writeRow(const std::string &row);
    void wake();

    const std::string m_path;
    const std::size_t m_maxBehind;
    int m_fd = -1;
    int m_wake[2] = {-1, -1}; // wakes the writer out of its wait for a full pipe
    std::uint64_t m_recordedFactorEdits = 0;
    std::function<void()> m_stopped;

    mutable std::mutex m_mutex;
    std::condition_variable m_rowsQueued;
    std::deque<std::string> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_recording = false;
    bool m_closing = false;
    std::string m_error;
    std::thread m_writer;
};

} // namespace ferro
