#pragma once
// Files written whole: a reader sees the old file or the new one, never a
// part. Standard C++ and POSIX.

#include <string>
#include <string_view>

namespace ferro {

// Writes all of `bytes` to the open file `fd`, going on after a signal and
// after a part written. Returns 0, or the system's reason (ENOSPC for a file
// that takes no more); `done` says how many bytes went out either way.
int writeAll(int fd, std::string_view bytes, std::size_t &done);

// Puts `bytes` in place of the file `path`: written to a temporary file
// beside it and renamed over it once complete, so that `path` is either the
// old file or the whole new one. Empty on success, else the system's reason;
// the temporary file is then removed.
std::string replaceFile(const std::string &path, std::string_view bytes);

} // namespace ferro
