#pragma once
// A file written in pieces and put in place whole: the pieces go to a
// temporary file beside it, which is flushed to disk and renamed over it
// once complete. Until then, and after any failure, the file is as it was,
// so that a command may write over one of its own inputs. POSIX.

#include <string>
#include <string_view>

namespace ferro {

class ReplacingFile {
public:
    // Starts the replacement of `path`; a symbolic link is followed, so that
    // the file it names is replaced. A device or pipe cannot be renamed
    // over: it is written directly. false with error() set when no
    // temporary file can be made beside it.
    bool open(const std::string &path);

    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~ReplacingFile();

    // false once anything failed; nothing more is written then.
    bool write(std::string_view bytes);
    // Flushes the new file to disk and renames it into place (keeping the
    // old file's permissions). false with error() set when that or a write
    // failed; the temporary file is then removed and `path` left alone.
    bool commit();

    // The system's reason for the first failure, or empty.
    std::string error() const;

private:
    void discard();
    int m_fd = -1;
    std::string m_target, m_temporary; // m_temporary empty: written directly
    int m_error = 0;
};

} // namespace ferro
