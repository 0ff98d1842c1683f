#include "batch/pictures.h"

#include "batch/options.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ferro::batch {

namespace {

constexpr std::string_view Extension = ".png";

} // namespace

int frameDigits(std::int64_t lastSweep)
{
    return std::max<int>(6, int(std::to_string(lastSweep).size()));
}

bool isPictureName(std::string_view pattern)
{
    if (pattern.size() <= Extension.size())
        return false;
    const std::string_view ext = pattern.substr(pattern.size() - Extension.size());
    for (std::size_t c = 0; c < ext.size(); ++c)
        if ((ext[c] | 0x20) != Extension[c])
            return false;
    return true;
}

std::string pictureName(std::string_view pattern, std::size_t point, std::optional<std::int64_t> sweep, int digits)
{
    const std::size_t stem = pattern.size() - Extension.size();
    std::string name(pattern.substr(0, stem));
    name += "-" + std::to_string(point);
    if (sweep) {
        const std::string number = std::to_string(*sweep);
        name += "-" + std::string(std::size_t(std::max<int>(0, digits - int(number.size()))), '0') + number;
    }
    return name += pattern.substr(stem);
}

std::string checkPictureFolder(const Options &o)
{
    if (o.pictureFile.empty())
        return {};
    const std::size_t slash = o.pictureFile.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : o.pictureFile.substr(0, slash);
    struct stat st {};
    int why = 0;
    if (stat(folder.c_str(), &st) != 0)
        why = errno;
    else if (!S_ISDIR(st.st_mode))
        why = ENOTDIR;
    else if (access(folder.c_str(), W_OK | X_OK) != 0)
        why = errno;
    return why ? "--picture: cannot write " + o.pictureFile + ": " + std::strerror(why) : std::string();
}

Pictures::Pictures(const Options &o, PictureSaver save)
    : m_pattern(o.pictureFile), m_digits(frameDigits(o.equilibrate + o.sweeps)),
      m_save(std::move(save))
{
}

PictureWriter Pictures::writerFor(std::size_t point, int size)
{
    return [this, point, size](const engine::SpinRows &rows, std::int64_t sweep, bool last) {
        const std::string path = last ? pictureName(m_pattern, point) : pictureName(m_pattern, point, sweep, m_digits);
        std::string why = m_save(path, rows, size);
        if (why.empty())
            return true;
        const std::lock_guard lock(m_mutex);
        if (!m_failed.exchange(true))
            m_failure = std::move(why);
        return false;
    };
}

std::string Pictures::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

} // namespace ferro::batch
