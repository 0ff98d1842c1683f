#pragma once
// Where the batch program writes, and the checks made before a run starts.
// POSIX and standard C++ only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ferro::batch {

class NpySeries;
struct Options;

// The table (or series, or factor file): standard output or a file, written
// whole rows at a time. Each piece goes out in one write call; when the
// system takes only part of it (a full disk) the part is taken back off a
// file, so that a reader never sees a cut row.
class Output {
public:
    // Standard output for an empty path, else the file, created or emptied.
    // Empty and `error` set ("--output: cannot write NAME: reason") when the
    // file cannot be opened.
    static std::optional<Output> open(const std::string &path, std::string &error);
    // A resumed run's file: its first `length` bytes kept, the rest cut off,
    // writing on from there. Empty with `error` set when it cannot be opened
    // or holds fewer bytes.
    static std::optional<Output> reopen(const std::string &path, long long length, std::string &error);

    Output(Output &&other) noexcept;
    Output &operator=(Output &&) = delete;
    ~Output();

    // Writes `rows`, which end in a line end. False once anything failed.
    bool write(std::string_view rows);
    // From now on the CSV rows written (a series: its header line first)
    // go out as a NumPy array file (batch/npyseries.h), whose header close()
    // writes again with the count of rows. A file only.
    void writeNumpy();
    bool ok() const { return m_error == 0; }
    // The bytes of a file so far (-1 for standard output or a pipe).
    long long length() const { return m_whole; }
    // Flushes a file's bytes to the disk; false when that fails.
    bool sync();
    // Closes a file; false when that or any write failed.
    bool close();

    // "cannot write NAME: reason" after a failure.
    std::string failure() const;

private:
    Output(int fd, std::string name);
    bool writeBytes(std::string_view bytes);
    int m_fd;
    std::string m_name;
    long long m_whole = -1; // offset after the last whole piece; -1: not a file
    int m_error = 0;        // errno of the first failure
    std::shared_ptr<NpySeries> m_numpy; // the rows' records, when a NumPy file
};

// Whether `path` names a NumPy array file (ends in ".npy").
bool isNumpyName(const std::string &path);

// Prints "ferrogrid-batch: MESSAGE" on standard error and returns 2, the
// exit status of every refusal and failure.
int fail(const std::string &message);

// Writes a text such as the usage to standard output; false with a message
// on standard error when it could not be written (a full device).
bool printText(const std::string &text);

// Refuses two of --output, --plot and --factors that name one file (the same
// device and inode, or, for files that do not exist yet, the same resolved
// path), and a --plot whose folder cannot take the figure. Empty when all is
// well, else one line.
std::string checkFiles(const Options &options);

} // namespace ferro::batch
