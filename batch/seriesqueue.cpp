#include "batch/seriesqueue.h"

#include "stdruntime/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace ferro::batch {

struct SeriesQueue::Lane {
    std::mutex mutex;
    bool out = false;  // its rows go straight out
    int fd = -1;       // its temporary file, once it has kept rows aside
    long long size = 0; // of that file
};

namespace {

// A file of no name in `folder`: made unnamed where the file system can
// (O_TMPFILE), else made and unlinked at once. -1 with errno set on failure.
int unnamedFile(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string name = folder + "/ferrogrid-series-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

} // namespace

SeriesQueue::SeriesQueue(Output &out, std::size_t points)
    : m_out(out), m_lanes(new Lane[points]), m_count(points), m_folder(folder())
{
    if (points > 0)
        m_lanes[0].out = true;
}

SeriesQueue::~SeriesQueue()
{
    for (std::size_t i = 0; i < m_count; ++i)
        if (m_lanes[i].fd >= 0)
            ::close(m_lanes[i].fd);
}

std::string SeriesQueue::folder()
{
    const char *tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

void SeriesQueue::asideFailed(int error)
{
    int none = 0;
    m_asideError.compare_exchange_strong(none, error ? error : EIO);
}

std::string SeriesQueue::asideFailure() const
{
    const int error = m_asideError.load();
    return error ? "cannot keep a series aside in a temporary file in " + m_folder + ": " + std::strerror(error)
                 : std::string();
}

bool SeriesQueue::write(std::size_t i, std::string_view rows)
{
    Lane &lane = m_lanes[i];
    const std::lock_guard lock(lane.mutex);
    if (!lane.out)
        return keepAside(lane, rows);
    if (m_out.write(rows))
        return true;
    m_outputFailed = true;
    return false;
}

bool SeriesQueue::keepAside(Lane &lane, std::string_view rows)
{
    if (lane.fd < 0 && (lane.fd = unnamedFile(m_folder)) < 0) {
        asideFailed(errno);
        return false;
    }
    std::size_t done = 0;
    if (const int why = writeAll(lane.fd, rows, done)) {
        asideFailed(why);
        return false;
    }
    lane.size += (long long)rows.size();
    return true;
}

bool SeriesQueue::bringOut(std::size_t i)
{
    Lane &lane = m_lanes[i];
    const std::lock_guard lock(lane.mutex);
    if (lane.out)
        return true;
    lane.out = true;
    return lane.fd < 0 || copyOut(lane);
}

std::string SeriesQueue::contents(std::size_t i)
{
    Lane &lane = m_lanes[i];
    const std::lock_guard lock(lane.mutex);
    std::string text;
    if (lane.out || lane.fd < 0)
        return text;
    text.resize(std::size_t(lane.size));
    for (long long at = 0; at < lane.size;) {
        const ssize_t n = ::pread(lane.fd, text.data() + at, std::size_t(lane.size - at), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            asideFailed(n < 0 ? errno : EIO);
            text.resize(std::size_t(at));
            break;
        }
        at += n;
    }
    return text;
}

// The file's rows to the output, whole rows at a time; the file is closed.
bool SeriesQueue::copyOut(Lane &lane)
{
    std::string piece;
    char buf[65536];
    bool copied = true;
    for (long long at = 0; copied && at < lane.size;) {
        const ssize_t n = ::pread(lane.fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            asideFailed(n < 0 ? errno : EIO);
            copied = false;
            break;
        }
        at += n;
        piece.append(buf, std::size_t(n));
        const std::size_t whole = piece.rfind('\n') + 1; // 0 when no line end yet
        if (whole > 0 && !m_out.write(std::string_view(piece).substr(0, whole))) {
            m_outputFailed = true;
            copied = false;
        }
        piece.erase(0, whole);
    }
    ::close(lane.fd);
    lane.fd = -1;
    return copied;
}

} // namespace ferro::batch
