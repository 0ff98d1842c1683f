#pragma once
// Files written whole: a reader sees the old file or the new one, never a
// part. Standard C++ and POSIX.

#include <string>
#include <string_view>

namespace ferro {

// Puts `bytes` in place of the file `path`: written to a temporary file
// beside it and renamed over it once complete, so that `path` is either the
// old file or the whole new one. Empty on success, else the system's reason;
// the temporary file is then removed.
std::string replaceFile(const std::string &path, std::string_view bytes);

} // namespace ferro
