#include "recording/recordsession.h"

#include "recording/recorder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro {

namespace {

std::string bytesText(std::size_t n)
{
    if (n >= (1 << 20) && n % (1 << 20) == 0)
        return std::to_string(n >> 20) + " MB";
    return std::to_string(n) + " bytes";
}

// Takes a write lock on the whole file for the open file description `fd`
// (released when it is closed). Empty when taken, or when the file takes no
// locks; otherwise the lock another program holds ("a write lock" or "a
// read lock").
std::string lockForWriting(int fd)
{
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0 || (errno != EAGAIN && errno != EACCES))
        return {};
    if (::fcntl(fd, F_OFD_GETLK, &whole) != 0)
        return "a lock";
    // F_UNLCK when the lock has gone in between: still, recording did not get it.
    return whole.l_type == F_RDLCK ? "a read lock" : whole.l_type == F_WRLCK ? "a write lock" : "a lock";
}

} // namespace

RecordSession::RecordSession(std::string path, std::size_t maxBehind)
    : m_path(std::move(path))
    , m_maxBehind(maxBehind)
{
}

RecordSession::~RecordSession()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_rowsQueued.notify_all();
    wake();
    if (m_writer.joinable())
        m_writer.join();
    for (int fd : {m_fd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

bool RecordSession::start(const ClockReading &now, std::function<void()> stopped)
{
    const auto refuse = [this](const std::string &what, int err) {
        m_error = what + " (" + std::strerror(err) + "). The program runs on without recording.";
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    };
    // Write-only: a pipe given as the file (--record >(...)) must see its
    // reader go, and we must never be that reader. Without blocking: a pipe
    // that nobody reads is refused at once instead of holding the window.
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (m_fd < 0) {
        const int err = errno;
        if (err == ENXIO)
            return refuse("Nothing reads the pipe " + m_path + ", so it cannot be recorded to", err);
        return refuse(m_path + " cannot be opened for recording", err);
    }
    // Two programs recording to one file would interleave their rows. The
    // lock is a write lock of this open file: only a program that may write
    // the file can hold one (a reader's flock keeps nothing out).
    if (const std::string holder = lockForWriting(m_fd); !holder.empty()) {
        ::close(m_fd);
        m_fd = -1;
        m_error = "Another program holds " + holder + " on " + m_path + ". The program runs on without recording.";
        return false;
    }

    std::string opening;
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // A line cut short by an earlier end is finished first, then one
        // blank line separates this recording from the one before.
        char last = '\n';
        if (const int in = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC); in >= 0) {
            if (::pread(in, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(in);
        }
        if (last != '\n')
            opening += '\n';
        opening += '\n';
    }
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "0,,,,,,,recording started %04d-%02d-%02d %02d:%02d:%02d\n", now.year,
                  now.month, now.day, now.hour, now.minute, now.second);
    opening += recordHeader() + stamp;

    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return refuse(m_path + " cannot be recorded to", errno);
    m_stopped = std::move(stopped);
    m_recording = true;
    m_queuedBytes = opening.size();
    m_queue.push_back(std::move(opening));
    m_writer = std::thread(&RecordSession::writeRows, this);
    return true;
}

void RecordSession::point(const Run &run, std::string_view temperatureText, std::uint64_t factorEdits)
{
    if (recording())
        add(run, temperatureText, factorEdits, pointRow(run, temperatureText));
}

void RecordSession::event(const Run &run, std::string_view temperatureText, std::string_view what,
                          std::uint64_t factorEdits)
{
    if (recording())
        add(run, temperatureText, factorEdits, eventRow(run, temperatureText, what));
}

bool RecordSession::recording() const
{
    std::lock_guard lock(m_mutex);
    return m_recording;
}

std::string RecordSession::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void RecordSession::add(const Run &run, std::string_view temperatureText, std::uint64_t factorEdits,
                        std::string row)
{
    // Factor edits come one keystroke (or, with Clear Text, 400 boxes) at a
    // time: they make one event row before the next row of the run.
    std::string factorsRow;
    if (factorEdits != m_recordedFactorEdits) {
        m_recordedFactorEdits = factorEdits;
        factorsRow = eventRow(run, temperatureText, "temperature factors changed");
    }
    {
        std::lock_guard lock(m_mutex);
        if (!m_recording)
            return;
        if (m_queuedBytes + factorsRow.size() + row.size() <= m_maxBehind) {
            for (std::string *r : {&factorsRow, &row})
                if (!r->empty()) {
                    m_queuedBytes += r->size();
                    m_queue.push_back(std::move(*r));
                }
            m_rowsQueued.notify_one();
            return;
        }
        stop("Recording to " + m_path + " has stopped",
             "its reader has fallen more than " + bytesText(m_maxBehind) + " behind");
    }
    wake();
    if (m_stopped)
        m_stopped();
}

void RecordSession::stop(const std::string &what, const std::string &why)
{
    m_error = what + " (" + why + "). The program runs on without recording.";
    m_recording = false;
    m_queue.clear();
    m_rowsQueued.notify_all();
}

void RecordSession::wake()
{
    if (m_wake[1] >= 0)
        std::ignore = ::write(m_wake[1], "", 1);
}

void RecordSession::writeRows()
{
    bool failed = false;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_rowsQueued.wait(lock, [this] { return !m_queue.empty() || !m_recording || m_closing; });
        if (!m_recording || m_queue.empty())
            break;
        const std::string row = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const int err = writeRow(row) ? 0 : errno;
        lock.lock();
        m_queuedBytes -= row.size();
        if (err == 0)
            continue;
        failed = m_recording && !m_closing; // else stopped or ending: not a failure of the file
        if (failed)
            stop("Recording to " + m_path + " has stopped", std::strerror(err));
        break;
    }
    // The file ends on the last whole row: a reader of a pipe sees its end.
    ::close(m_fd);
    m_fd = -1;
    lock.unlock();
    if (failed && m_stopped)
        m_stopped();
}

bool RecordSession::writeRow(const std::string &row)
{
    std::size_t done = 0;
    while (done < row.size()) {
        const ssize_t n = ::write(m_fd, row.data() + done, row.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A full pipe: wait for room, or for the session to end. A row
            // begun is finished when recording stops, so that the file ends
            // on a whole row.
            {
                std::lock_guard lock(m_mutex);
                if (m_closing)
                    return false;
            }
            pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return false;
            char drained[64];
            while (::read(m_wake[0], drained, sizeof drained) > 0) {
            }
            continue;
        }
        const int err = n < 0 ? errno : ENOSPC;
        // Take back the part of the row that did get written.
        const off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (done > 0 && end >= static_cast<off_t>(done))
            std::ignore = ::ftruncate(m_fd, end - static_cast<off_t>(done));
        errno = err;
        return false;
    }
    return true;
}

} // namespace ferro
