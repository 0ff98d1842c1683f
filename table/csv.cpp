#include "table/csv.h"

#include "stdruntime/textfields.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace ferro::batch {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::size_t Piece = 1 << 16;

const char *const NotATable = ": not a table of ferrogrid-batch";

} // namespace

std::size_t fieldLimit(std::string_view column)
{
    if (column == "factors")
        return MaxNameText;
    if (column == "warnings")
        return MaxWarningsText;
    return MaxNumberText;
}

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\n\r") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string_view("\"\"") : std::string_view(&c, 1);
    return out + "\"";
}

TableReader TableReader::openFile(const std::string &name)
{
    std::FILE *file = std::fopen(name.c_str(), "rb");
    TableReader reader(name, file, {});
    if (!file)
        reader.m_error = "cannot read " + name + ": " + std::strerror(errno);
    return reader;
}

TableReader TableReader::ofText(std::string name, std::string text)
{
    return TableReader(std::move(name), nullptr, std::move(text));
}

TableReader::TableReader(std::string name, std::FILE *file, std::string text)
    : m_name(std::move(name)), m_file(file), m_text(std::move(text))
{
    if (m_file)
        m_buffer.resize(Piece);
}

std::size_t TableReader::column(std::string_view name) const
{
    std::size_t c = 0;
    while (c < m_columns.size() && m_columns[c] != name)
        ++c;
    return c;
}

std::string TableReader::where() const
{
    return m_name + ":" + std::to_string(m_recordLine) + ": ";
}

bool TableReader::readHeader()
{
    if (!m_error.empty())
        return false;
    if (!readRecord(true)) {
        if (m_error.empty())
            m_error = m_name + ": empty, not a table";
        return false;
    }
    m_limits.clear();
    for (const std::string &name : m_columns)
        m_limits.push_back(fieldLimit(name));
    m_fields.assign(m_columns.size(), std::string());
    return true;
}

bool TableReader::readRow()
{
    return m_error.empty() && !m_fields.empty() && readRecord(false);
}

// The next piece of the file: false at its end or when it cannot be read.
// The first piece holds at least the length of a byte-order mark, unless the
// file is shorter.
bool TableReader::fill()
{
    m_at = 0;
    if (!m_file) {
        m_data = m_text.data();
        m_end = std::exchange(m_textRead, true) ? 0 : m_text.size();
        return m_end > 0;
    }
    m_data = m_buffer.data();
    m_end = 0;
    for (std::size_t n = 1; n > 0 && m_end < (m_started ? 1 : Bom.size());)
        m_end += n = std::fread(m_buffer.data() + m_end, 1, m_buffer.size() - m_end, m_file.get());
    if (std::ferror(m_file.get()))
        m_error = "cannot read " + m_name + ": " + std::strerror(errno);
    return m_end > 0 && m_error.empty();
}

bool TableReader::readRecord(bool header)
{
    m_line.clear();
    m_state = State::FieldStart;
    m_field = 0;
    if (header)
        m_columns.assign(1, std::string());
    else
        for (std::string &field : m_fields)
            field.clear();
    bool any = false;
    for (;;) {
        if (m_at == m_end) {
            if (!fill()) {
                if (!m_error.empty() || !any)
                    return false;
                if (m_state == State::Quoted)
                    return refuse(m_lineNumber, "the file ends inside a quoted field");
                return endRecord(header); // the last line without its line end
            }
            if (!m_started) {
                m_started = true;
                if (std::string_view(m_data, m_end).substr(0, Bom.size()) == Bom)
                    m_at = Bom.size();
                continue;
            }
        }
        const char c = m_data[m_at++];
        if (std::exchange(m_afterCR, false) && c == '\n')
            continue; // the second byte of a CR LF
        if (!any) {
            any = true;
            m_recordLine = m_lineNumber;
        }
        if ((c == '\n' || c == '\r') && m_state != State::Quoted) {
            m_afterCR = c == '\r';
            ++m_lineNumber;
            return endRecord(header);
        }
        if (!take(c, header))
            return false;
    }
}

// One byte of a record that is not its line end.
bool TableReader::take(char c, bool header)
{
    if (c == '\0')
        return refuse(m_lineNumber, std::string("a NUL byte") + NotATable);
    m_line += c;
    switch (m_state) {
    case State::FieldStart:
        if (c == '"') {
            m_state = State::Quoted;
            return true;
        }
        m_state = State::Plain;
        [[fallthrough]];
    case State::Plain:
        if (c == ',')
            return endField(header);
        if (c == '"')
            return refuse(m_lineNumber, "a quote inside " + fieldName(header) + NotATable);
        return append(c, header);
    case State::Quoted:
        if (c == '"') {
            m_state = State::QuoteInQuoted;
            return true;
        }
        if (c == '\n')
            ++m_lineNumber;
        return append(c, header);
    case State::QuoteInQuoted:
        if (c == '"') {
            m_state = State::Quoted;
            return append(c, header);
        }
        if (c == ',')
            return endField(header);
        return refuse(m_lineNumber, "text after the closing quote of " + fieldName(header) + NotATable);
    }
    return true;
}

bool TableReader::append(char c, bool header)
{
    std::string &field = header ? m_columns[m_field] : m_fields[m_field];
    const std::size_t limit = header ? MaxColumnName : m_limits[m_field];
    if (field.size() == limit)
        return refuse(m_lineNumber,
                      fieldName(header) + " is longer than " + std::to_string(limit) + " bytes" + NotATable);
    field += c;
    return true;
}

// A comma: another field follows.
bool TableReader::endField(bool header)
{
    m_state = State::FieldStart;
    if (header) {
        if (m_columns.size() == MaxColumns)
            return refuse(m_lineNumber, "more than " + std::to_string(MaxColumns) + " columns" + NotATable);
        m_columns.emplace_back();
    } else if (m_field + 1 == m_fields.size()) {
        return refuse(m_lineNumber, "more fields than the " + std::to_string(m_fields.size()) + " of the header");
    }
    ++m_field;
    return true;
}

bool TableReader::endRecord(bool header)
{
    if (!header && m_field + 1 != m_fields.size())
        return refuse(m_recordLine, std::to_string(m_field + 1) + " fields where the header has "
                          + std::to_string(m_fields.size()));
    return true;
}

std::string TableReader::fieldName(bool header) const
{
    return header ? std::string("a column name") : "the " + shownField(m_columns[m_field]) + " field";
}

bool TableReader::refuse(std::size_t line, const std::string &what)
{
    m_error = m_name + ":" + std::to_string(line) + ": " + what;
    return false;
}

std::string shownField(std::string_view text)
{
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return messageQuote(text);
    return text.size() > 60 ? messageQuote(text) : std::string(text);
}

} // namespace ferro::batch
