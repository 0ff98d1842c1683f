#include "stdruntime/replacingfile.h"

#include "stdruntime/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro {

namespace {

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool ReplacingFile::open(const std::string &path)
{
    m_target = path;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        m_error = m_fd < 0 ? errno : 0;
        return m_fd >= 0;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        m_error = EISDIR;
        return false;
    }
    // The file a link names is the one replaced.
    if (char resolved[PATH_MAX]; exists && realpath(path.c_str(), resolved))
        m_target = resolved;
    m_temporary = m_target + ".XXXXXX";
    m_fd = mkostemp(m_temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        m_temporary.clear();
        return false;
    }
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(m_fd, mode) != 0)
        m_error = errno;
    return !m_error;
}

ReplacingFile::~ReplacingFile()
{
    discard();
}

void ReplacingFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

bool ReplacingFile::write(std::string_view bytes)
{
    std::size_t done = 0;
    if (!m_error)
        m_error = writeAll(m_fd, bytes, done);
    return !m_error;
}

bool ReplacingFile::commit()
{
    if (m_fd < 0 && !m_error)
        m_error = EBADF;
    if (!m_error && !m_temporary.empty() && fsync(m_fd) != 0)
        m_error = errno;
    if (m_fd >= 0 && ::close(m_fd) != 0 && !m_error)
        m_error = errno;
    m_fd = -1;
    if (!m_error && !m_temporary.empty()) {
        if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            m_error = errno;
        } else {
            m_temporary.clear();
            // The rename itself on disk: the folder flushed.
            if (const int folder = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
                fsync(folder);
                ::close(folder);
            }
        }
    }
    discard();
    return !m_error;
}

std::string ReplacingFile::error() const
{
    return m_error ? std::strerror(m_error) : std::string();
}

} // namespace ferro
