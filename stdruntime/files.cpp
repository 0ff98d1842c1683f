#include "stdruntime/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro {

int writeAll(int fd, std::string_view bytes, std::size_t &done)
{
    done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += std::size_t(n);
    }
    return 0;
}

std::string replaceFile(const std::string &path, std::string_view bytes)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return std::strerror(errno);
    const mode_t mask = umask(0);
    umask(mask);
    std::size_t done = 0;
    int why = fchmod(fd, 0666 & ~mask) == 0 ? writeAll(fd, bytes, done) : errno;
    if (::close(fd) != 0 && !why)
        why = errno;
    if (!why && std::rename(temporary.c_str(), path.c_str()) != 0)
        why = errno;
    if (why)
        std::remove(temporary.c_str());
    return why ? std::strerror(why) : std::string();
}

} // namespace ferro
