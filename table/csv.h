#pragma once
// The batch program's CSV in one place: a field as the tables write it, and
// the one reader of a saved table, which takes the file line by line and stops
// at the first byte that no table of ferrogrid-batch can hold, so that no
// file, however long, takes more memory than its longest possible row.
// Standard C++ only.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ferro::batch {

// The longest texts of a table. Every column holds a number (the shortest
// text of a double has at most 24 characters, a 64-bit whole number 20) or a
// short word, within MaxNumberText; the factors column holds a factor file's
// name as given, no longer than a path; warnings are a few short words. A
// header names at most MaxColumns columns (the program writes 33), each name
// at most MaxColumnName bytes (the longest is 38).
constexpr std::size_t MaxNumberText = 32, MaxNameText = 4096, MaxWarningsText = 64;
constexpr std::size_t MaxColumns = 64, MaxColumnName = 64;

// The longest text, without its quotes, that a field of the column can hold.
std::size_t fieldLimit(std::string_view column);

// A field as the tables write it: in double quotes, with quotes doubled, when
// it holds a comma, a quote or a line end.
std::string csvField(std::string_view text);

// A field's text for a one-line message: as it is when short and printable,
// else quoted as messageQuote quotes it.
std::string shownField(std::string_view text);

// A saved table, read a row at a time. Lines end in LF, CR LF or CR; a
// UTF-8 byte-order mark before the header is skipped; a field in double
// quotes may hold commas, line ends and doubled quotes. Refused, with one
// line naming the file and line: a NUL byte, a field longer than its column
// allows, more fields than the header has, a quote inside a field or after a
// quoted one, and a header of more columns or longer names than any table's.
class TableReader {
public:
    // Reads the file `name`; an unreadable file is the first error.
    static TableReader openFile(const std::string &name);
    // Reads `text` as the file `name` (which names it in messages).
    static TableReader ofText(std::string name, std::string text);

    TableReader(TableReader &&) noexcept = default;
    TableReader &operator=(TableReader &&) = delete;

    // The first line. False with error() set when the file cannot be read,
    // is empty, or its first line cannot be a table's header.
    bool readHeader();
    const std::vector<std::string> &columns() const { return m_columns; }
    // The index of the column `name`, columns().size() when it has none.
    std::size_t column(std::string_view name) const;

    // The next row, with as many fields as the header has. False at the end
    // of the file, or with error() set.
    bool readRow();
    const std::vector<std::string> &fields() const { return m_fields; }
    // The row as the file holds it, without its line end.
    const std::string &line() const { return m_line; }
    // The file's line where the row (or the header) starts, from 1.
    std::size_t lineNumber() const { return m_recordLine; }

    const std::string &name() const { return m_name; }
    const std::string &error() const { return m_error; }
    // "NAME:LINE: " of the row, for a message about it.
    std::string where() const;

private:
    TableReader(std::string name, std::FILE *file, std::string text);
    enum class State { FieldStart, Plain, Quoted, QuoteInQuoted };
    bool readRecord(bool header);
    bool take(char c, bool header);
    bool append(char c, bool header);
    bool endField(bool header);
    bool endRecord(bool header);
    bool fill();
    bool refuse(std::size_t line, const std::string &what);
    std::string fieldName(bool header) const;

    struct Closer {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };
    std::string m_name;
    std::unique_ptr<std::FILE, Closer> m_file;
    std::string m_text; // the text when not from a file
    bool m_textRead = false;
    std::vector<char> m_buffer;
    const char *m_data = nullptr; // the piece being read, m_end bytes
    std::size_t m_at = 0, m_end = 0;
    bool m_started = false, m_afterCR = false;
    std::size_t m_lineNumber = 1, m_recordLine = 1;
    State m_state = State::FieldStart;
    std::size_t m_field = 0; // the index of the field being read
    std::vector<std::string> m_columns, m_fields;
    std::vector<std::size_t> m_limits; // by column
    std::string m_line, m_error;
};

} // namespace ferro::batch
