#include "table/merge.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace ferro::batch {

namespace {

std::optional<std::size_t> whole(const std::string &text)
{
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

struct Row {
    std::string text; // with its newline
    std::vector<std::string> fields;
    std::size_t file = 0;
    std::size_t line = 0;
};

} // namespace

const std::vector<std::string> &runColumns()
{
    static const std::vector<std::string> names = {"seed",   "sweeps",  "points",    "equilibrate",
                                                   "start",  "factors", "version",   "algorithm"};
    return names;
}

std::vector<std::string> csvFields(const std::string &line)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            out.back() += line[++i];
        else if (c == '"' && (quoted || out.back().empty()))
            quoted = !quoted;
        else if (c == ',' && !quoted)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::string pointList(const std::vector<std::size_t> &points)
{
    constexpr std::size_t Shown = 3;
    std::string text;
    const std::size_t shown = points.size() > Shown + 1 ? Shown : points.size();
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == shown && shown == points.size() ? " and " : ", ";
        text += std::to_string(points[i]);
    }
    if (shown < points.size())
        text += " and " + std::to_string(points.size() - shown) + " more";
    return text;
}

MergeResult mergeTables(const std::vector<TableFile> &files, bool allowMissing)
{
    MergeResult result;
    std::string &error = result.error;
    if (files.empty()) {
        error = "no tables to merge";
        return result;
    }
    std::string header;
    std::vector<std::string> columns;
    std::size_t pointColumn = 0, pointsColumn = 0;
    std::vector<std::size_t> runColumn; // indices into columns
    std::vector<Row> rows;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const TableFile &file = files[f];
        std::vector<std::string> lines;
        for (std::size_t from = 0; from < file.text.size();) {
            std::size_t end = file.text.find('\n', from);
            end = end == std::string::npos ? file.text.size() : end + 1;
            lines.push_back(file.text.substr(from, end - from));
            from = end;
        }
        if (!lines.empty() && lines.back().back() != '\n')
            lines.back() += '\n';
        if (lines.empty()) {
            error = file.name + ": empty, not a table";
            return result;
        }
        if (f == 0) {
            header = lines[0];
            columns = csvFields(header.substr(0, header.size() - 1));
            const auto column = [&](const std::string &name) {
                return std::size_t(std::find(columns.begin(), columns.end(), name) - columns.begin());
            };
            pointColumn = column("point");
            pointsColumn = column("points");
            if (pointColumn == columns.size() || pointsColumn == columns.size()) {
                error = file.name + ": no point and points columns: not a table of ferrogrid-batch";
                return result;
            }
            for (const std::string &name : runColumns())
                if (column(name) < columns.size())
                    runColumn.push_back(column(name));
        } else if (lines[0] != header) {
            error = file.name + ": its header differs from that of " + files[0].name;
            return result;
        }
        for (std::size_t l = 1; l < lines.size(); ++l) {
            Row row {lines[l], csvFields(lines[l].substr(0, lines[l].size() - 1)), f, l + 1};
            if (row.fields.size() != columns.size()) {
                error = file.name + ":" + std::to_string(row.line) + ": " + std::to_string(row.fields.size())
                    + " fields where the header has " + std::to_string(columns.size());
                return result;
            }
            rows.push_back(std::move(row));
        }
    }
    if (rows.empty()) {
        // Nothing says how many points the run has: the header alone.
        result.table = header;
        return result;
    }

    const Row &first = rows.front();
    const auto points = whole(first.fields[pointsColumn]);
    if (!points || *points == 0) {
        error = files[first.file].name + ":" + std::to_string(first.line) + ": '" + first.fields[pointsColumn]
            + "' is not a number of points";
        return result;
    }
    std::vector<const Row *> at(*points, nullptr);
    for (const Row &row : rows) {
        const std::string &name = files[row.file].name;
        const auto point = whole(row.fields[pointColumn]);
        if (!point || *point >= *points) {
            error = name + ":" + std::to_string(row.line) + ": '" + row.fields[pointColumn] + "' is not a point of 0 to "
                + std::to_string(*points - 1);
            return result;
        }
        for (const std::size_t c : runColumn)
            if (row.fields[c] != first.fields[c]) {
                error = name + ": point " + std::to_string(*point) + ": " + columns[c] + " " + row.fields[c]
                    + " where " + files[first.file].name + " has " + columns[c] + " " + first.fields[c]
                    + ": not the same run";
                return result;
            }
        if (at[*point]) {
            error = name + ": point " + std::to_string(*point) + " is also in " + files[at[*point]->file].name
                + (at[*point]->file == row.file ? " (twice)" : "");
            return result;
        }
        at[*point] = &row;
    }
    std::vector<std::size_t> missing;
    for (std::size_t p = 0; p < at.size(); ++p)
        if (!at[p])
            missing.push_back(p);
    if (!missing.empty()) {
        const std::string what = (missing.size() == 1 ? "point " : "points ") + pointList(missing) + " of "
            + std::to_string(*points) + (missing.size() == 1 ? " is missing" : " are missing");
        if (!allowMissing) {
            error = what;
            return result;
        }
        result.missing = what;
    }
    result.table = header;
    for (const Row *row : at)
        if (row)
            result.table += row->text;
    return result;
}

} // namespace ferro::batch
