#pragma once
// Putting the tables of a run's shares back together. Standard C++ only.

#include <cstddef>
#include <string>
#include <vector>

namespace ferro::batch {

struct TableFile {
    std::string name; // for messages
    std::string text; // the whole file
};

struct MergeResult {
    std::string table;   // one header, then every row in point order, as text
    std::string error;   // one line naming the file and the point; empty when merged
    std::string missing; // with allowMissing: what is missing, or empty
    bool ok() const { return error.empty(); }
};

// The columns that describe the run rather than the point: every row of every
// table must agree on those of them its header has.
const std::vector<std::string> &runColumns();

// Merges tables with the columns `point` and `points`. Refuses headers that
// differ, rows whose run columns differ from the first row's, a point twice,
// and (unless allowMissing) a point of 0 .. points-1 that no table has. Rows
// are copied as they are, never written anew, so that merging the shares of
// a run gives the very bytes the whole run writes.
MergeResult mergeTables(const std::vector<TableFile> &files, bool allowMissing);

// The fields of one CSV line of the batch program's tables; a field in double
// quotes may hold commas and doubled quotes (a factor file's name).
std::vector<std::string> csvFields(const std::string &line);

// "7", "7 and 9", "7, 9 and 12", "7, 9, 12 and 4 more".
std::string pointList(const std::vector<std::size_t> &points);

} // namespace ferro::batch
