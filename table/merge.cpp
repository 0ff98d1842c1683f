#include "table/merge.h"

#include "table/csv.h"
#include "stdruntime/textfields.h"

#include <optional>

namespace ferro::batch {

namespace {

// "7", "7 and 9", "7, 9 and 12", "7, 9, 12 and 4 more": `first` holds the
// first of the `count` points, at least four of them when there are more.
std::string pointList(const std::vector<std::size_t> &first, std::size_t count)
{
    constexpr std::size_t Shown = 3;
    std::string text;
    const std::size_t shown = count > Shown + 1 ? Shown : count;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == shown && shown == count ? " and " : ", ";
        text += std::to_string(first[i]);
    }
    if (shown < count)
        text += " and " + std::to_string(count - shown) + " more";
    return text;
}

// The tables of one merge, taken a row at a time: each row is checked
// against the first and kept once, under its point.
class Merger {
public:
    Merger(const std::vector<std::string> &names, MergeResult &result) : m_names(names), m_result(result) {}

    bool takeHeader(const TableReader &table, std::size_t file);
    bool takeRow(const TableReader &table, std::size_t file);
    void finish(bool allowMissing);

private:
    bool fail(std::string error)
    {
        m_result.error = std::move(error);
        return false;
    }
    bool takeFirstRow(const TableReader &table, std::size_t file);

    const std::vector<std::string> &m_names;
    MergeResult &m_result;
    std::vector<std::string> m_columns;
    std::size_t m_pointColumn = 0, m_pointsColumn = 0;
    std::vector<std::size_t> m_runColumns;  // indices into m_columns
    std::vector<std::string> m_firstRun;    // the first row's fields of those columns
    std::size_t m_firstFile = 0, m_points = 0;
    // The fingerprint column (m_columns.size() in a table written before it
    // was) and the first row's; the size and temperature columns.
    std::size_t m_runColumn = 0, m_sizeColumn = 0, m_temperatureColumn = 0;
    std::string m_firstFingerprint, m_firstPoint;
    struct Taken {
        std::size_t file;
        std::string point; // "L = 8, T = 2.1" as its row gives them
    };
    std::map<std::size_t, Taken> m_taken; // by point
    std::string pointText(const std::vector<std::string> &fields) const;
};

// "L = 8, T = 2.1", or "T = 2.1" in a table without the size column.
std::string Merger::pointText(const std::vector<std::string> &fields) const
{
    std::string text;
    if (m_sizeColumn < fields.size())
        text = "L = " + shownField(fields[m_sizeColumn]) + ", ";
    return text + "T = " + shownField(fields[m_temperatureColumn]);
}

bool Merger::takeHeader(const TableReader &table, std::size_t file)
{
    if (file > 0) {
        if (table.columns() == m_columns)
            return true;
        std::size_t c = 0;
        while (c < m_columns.size() && c < table.columns().size() && table.columns()[c] == m_columns[c])
            ++c;
        const auto name = [&](const std::vector<std::string> &columns) {
            return c < columns.size() ? shownField(columns[c]) : std::string("nothing");
        };
        return fail(table.name() + ": its header differs from that of " + m_names[0] + " (column "
                    + std::to_string(c + 1) + ": " + name(table.columns()) + " where " + m_names[0] + " has "
                    + name(m_columns) + ")");
    }
    m_columns = table.columns();
    m_pointColumn = table.column("point");
    m_pointsColumn = table.column("points");
    if (m_pointColumn == m_columns.size() || m_pointsColumn == m_columns.size())
        return fail(table.name() + ": no point and points columns: not a table of ferrogrid-batch");
    for (const std::string &name : runColumns())
        if (table.column(name) < m_columns.size())
            m_runColumns.push_back(table.column(name));
    m_runColumn = table.column("run");
    m_sizeColumn = table.column("size");
    m_temperatureColumn = table.column("temperature");
    if (m_temperatureColumn == m_columns.size())
        return fail(table.name() + ": no temperature column: not a table of ferrogrid-batch");
    m_result.header = table.line() + '\n';
    return true;
}

bool Merger::takeFirstRow(const TableReader &table, std::size_t file)
{
    const std::string &text = table.fields()[m_pointsColumn];
    const std::optional<std::uint64_t> points = wholeNumber(text);
    if (!points || *points == 0)
        return fail(table.where() + messageQuote(text) + " is not a number of points");
    m_points = std::size_t(*points);
    m_firstFile = file;
    for (const std::size_t c : m_runColumns)
        m_firstRun.push_back(table.fields()[c]);
    if (m_runColumn < m_columns.size())
        m_firstFingerprint = table.fields()[m_runColumn];
    m_firstPoint = "point " + table.fields()[m_pointColumn] + ": " + pointText(table.fields());
    return true;
}

bool Merger::takeRow(const TableReader &table, std::size_t file)
{
    if (m_points == 0 && !takeFirstRow(table, file))
        return false;
    const std::vector<std::string> &fields = table.fields();
    const std::optional<std::uint64_t> point = wholeNumber(fields[m_pointColumn]);
    if (!point || *point >= m_points)
        return fail(table.where() + messageQuote(fields[m_pointColumn]) + " is not a point of 0 to "
                    + std::to_string(m_points - 1));
    const std::string at = table.name() + ": point " + std::to_string(*point);
    for (std::size_t k = 0; k < m_runColumns.size(); ++k) {
        const std::string &column = m_columns[m_runColumns[k]];
        if (fields[m_runColumns[k]] != m_firstRun[k])
            return fail(at + ": " + column + " " + shownField(fields[m_runColumns[k]]) + " where "
                        + m_names[m_firstFile] + " has " + column + " " + shownField(m_firstRun[k])
                        + ": not the same run");
    }
    // The point itself: its size and temperature where another table has
    // it too, then the fingerprint, which covers every size and temperature
    // of the run and the factor file's contents.
    const std::string here = pointText(fields);
    const auto taken = m_taken.find(std::size_t(*point));
    if (taken != m_taken.end() && taken->second.file != file && taken->second.point != here)
        return fail(at + " is " + here + " where " + m_names[taken->second.file] + " has " + taken->second.point
                    + ": not the same run");
    if (m_runColumn < m_columns.size() && fields[m_runColumn] != m_firstFingerprint)
        return fail(at + " (" + here + "): run " + shownField(fields[m_runColumn]) + " where "
                    + m_names[m_firstFile] + " (" + m_firstPoint + ") has run " + shownField(m_firstFingerprint)
                    + ": not the same run (other sizes, temperatures or factor file contents)");
    if (taken != m_taken.end())
        return fail(at + " is also in " + m_names[taken->second.file] + (taken->second.file == file ? " (twice)" : ""));
    m_taken.emplace(std::size_t(*point), Taken {file, here});
    m_result.rows.emplace(std::size_t(*point), table.line() + '\n');
    return true;
}

// Points 0 .. points-1 that no table has: refused, or said with allowMissing.
void Merger::finish(bool allowMissing)
{
    if (m_result.rows.empty())
        return; // nothing says how many points the run has: the header alone
    const std::size_t count = m_points - m_result.rows.size();
    if (count == 0)
        return;
    std::vector<std::size_t> first;
    std::size_t p = 0;
    for (auto row = m_result.rows.begin(); first.size() < 4 && p < m_points; ++p) {
        if (row != m_result.rows.end() && row->first == p)
            ++row;
        else
            first.push_back(p);
    }
    const std::string what = (count == 1 ? "point " : "points ") + pointList(first, count) + " of "
        + std::to_string(m_points) + (count == 1 ? " is missing" : " are missing");
    if (allowMissing)
        m_result.missing = what;
    else
        fail(what);
}

} // namespace

const std::vector<std::string> &runColumns()
{
    static const std::vector<std::string> names = {"seed",   "sweeps",  "points",    "equilibrate",
                                                   "start",  "factors", "version",   "algorithm"};
    return names;
}

MergeResult mergeTables(const std::vector<std::string> &names, bool allowMissing)
{
    MergeResult result;
    if (names.empty()) {
        result.error = "no tables to merge";
        return result;
    }
    Merger merger(names, result);
    for (std::size_t f = 0; f < names.size(); ++f) {
        TableReader table = TableReader::openFile(names[f]);
        if (!table.readHeader()) {
            result.error = table.error();
            return result;
        }
        if (!merger.takeHeader(table, f))
            return result;
        while (table.readRow())
            if (!merger.takeRow(table, f))
                return result;
        if (!table.error().empty()) {
            result.error = table.error();
            return result;
        }
    }
    merger.finish(allowMissing);
    return result;
}

} // namespace ferro::batch
