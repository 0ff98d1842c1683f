#pragma once
// Putting the tables of a run's shares back together. Standard C++ only.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace ferro::batch {

struct MergeResult {
    std::string header;                       // the first table's, with its line end
    std::map<std::size_t, std::string> rows;  // by point, each as its table has it, with a line end
    std::string error;   // one line naming the file and the point; empty when merged
    std::string missing; // with allowMissing: what is missing, or empty
    bool ok() const { return error.empty(); }
};

// The columns that describe the run rather than the point: every row of every
// table must agree on those of them its header has.
const std::vector<std::string> &runColumns();

// Merges the tables of the files `names`, which have the columns `point` and
// `points`, reading each a row at a time. Refuses what TableReader refuses,
// headers that differ, rows whose run columns differ from the first row's, a
// point whose size or temperature differs from another table's row of that
// point, a row whose run fingerprint (the column `run`, in tables that have
// it) differs from the first row's, a point twice (when its row is read), and
// (unless allowMissing) a point of 0 .. points-1 that no table has. The
// first difference found is named. Rows are copied as they are, never
// written anew, so that merging the shares of a run gives the very bytes the
// whole run writes; only their line ends become LF.
MergeResult mergeTables(const std::vector<std::string> &names, bool allowMissing);

} // namespace ferro::batch
