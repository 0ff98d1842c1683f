#include "batch/output.h"

#include "batch/npyseries.h"
#include "batch/options.h"
#include "batch/pictures.h"
#include "stdruntime/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ferro::batch {

std::optional<Output> Output::open(const std::string &path, std::string &error)
{
    if (path.empty())
        return Output(STDOUT_FILENO, "standard output");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "--output: cannot write " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return Output(fd, path);
}

std::optional<Output> Output::reopen(const std::string &path, long long length, std::string &error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = "--output: cannot write " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode) || st.st_size < length) {
        error = "--resume: " + path + " holds " + std::to_string(st.st_size) + " bytes, fewer than the "
            + std::to_string(length) + " the checkpoint found there: it is not that run's output any more";
    } else if (ftruncate(fd, length) != 0 || lseek(fd, length, SEEK_SET) != length) {
        error = "--output: cannot write " + path + ": " + std::strerror(errno);
    } else {
        return Output(fd, path);
    }
    if (fd >= 0)
        ::close(fd);
    return std::nullopt;
}

bool Output::sync()
{
    if (m_whole >= 0 && !m_error && ::fsync(m_fd) != 0)
        m_error = errno;
    return ok();
}

Output::Output(int fd, std::string name) : m_fd(fd), m_name(std::move(name))
{
    struct stat st {};
    if (fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
        m_whole = lseek(m_fd, 0, SEEK_CUR);
}

Output::Output(Output &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_name(std::move(other.m_name)), m_whole(other.m_whole),
      m_error(other.m_error), m_numpy(std::move(other.m_numpy))
{
}

Output::~Output()
{
    if (m_fd > STDERR_FILENO)
        ::close(m_fd);
}

void Output::writeNumpy()
{
    m_numpy = std::make_shared<NpySeries>();
}

bool isNumpyName(const std::string &path)
{
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".npy") == 0;
}

bool Output::write(std::string_view rows)
{
    if (!m_numpy || m_error)
        return writeBytes(rows);
    std::string records;
    if (!m_numpy->convert(rows, records)) {
        m_error = EINVAL;
        return false;
    }
    return writeBytes(records);
}

bool Output::writeBytes(std::string_view rows)
{
    if (m_error)
        return false;
    std::size_t done = 0;
    if ((m_error = writeAll(m_fd, rows, done))) {
        // Take the cut piece back off, so that the file ends in a whole row.
        if (done > 0 && m_whole >= 0 && ftruncate(m_fd, m_whole) == 0)
            lseek(m_fd, m_whole, SEEK_SET);
        return false;
    }
    if (m_whole >= 0)
        m_whole += (long long)rows.size();
    return true;
}

bool Output::close()
{
    // The NumPy header again, now with the count of rows.
    if (m_numpy && !m_error && m_fd > STDERR_FILENO) {
        const std::string header = m_numpy->header();
        if (m_whole < 0)
            m_error = ESPIPE;
        else if (pwrite(m_fd, header.data(), header.size(), 0) != ssize_t(header.size()))
            m_error = errno ? errno : EIO;
    }
    if (m_fd > STDERR_FILENO && ::close(std::exchange(m_fd, -1)) != 0 && !m_error)
        m_error = errno;
    return !m_error;
}

std::string Output::failure() const
{
    return "cannot write " + m_name + ": " + std::strerror(m_error);
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "ferrogrid-batch: %s\n", message.c_str());
    return 2;
}

bool printText(const std::string &text)
{
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0)
        return true;
    fail(std::string("cannot write standard output: ") + std::strerror(errno ? errno : EIO));
    return false;
}

namespace {

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// What names a file: its device and inode when it exists, else its resolved
// path (the folder resolved, the name as given).
struct FileKey {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved;

    explicit FileKey(const std::string &path)
    {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            exists = true;
            device = st.st_dev;
            inode = st.st_ino;
            return;
        }
        char buf[PATH_MAX];
        const std::string folder = folderOf(path);
        resolved = realpath(folder.c_str(), buf) ? std::string(buf) : folder;
        resolved += "/" + path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    }
    bool operator==(const FileKey &o) const
    {
        return exists == o.exists && (exists ? device == o.device && inode == o.inode : resolved == o.resolved);
    }
};

} // namespace

std::string checkFiles(const Options &o)
{
    std::vector<std::pair<const char *, const std::string *>> named;
    for (const auto &[option, path] : {std::pair {"--output", &o.outputFile}, std::pair {"--plot", &o.plotFile},
                                       std::pair {"--factors", &o.factorsFile},
                                       std::pair {"--plot-table", &o.plotTable}})
        if (!path->empty())
            named.emplace_back(option, path);
    for (std::size_t a = 0; a < named.size(); ++a)
        for (std::size_t b = a + 1; b < named.size(); ++b)
            if (FileKey(*named[a].second) == FileKey(*named[b].second))
                return std::string(named[a].first) + " and " + named[b].first + " name the same file, "
                    + *named[b].second + ": give each its own";

    // The figure is written beside its name and renamed into place: the
    // folder must take a new file, and the name must not be a folder.
    if (!o.plotFile.empty()) {
        struct stat st {};
        const std::string folder = folderOf(o.plotFile);
        int why = 0;
        if (stat(o.plotFile.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            why = EISDIR;
        else if (access(folder.c_str(), W_OK | X_OK) != 0)
            why = errno;
        if (why)
            return "--plot: cannot write " + o.plotFile + ": " + std::strerror(why);
    }
    return checkPictureFolder(o);
}

} // namespace ferro::batch
