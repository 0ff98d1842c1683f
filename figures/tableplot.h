#pragma once
// The figure of a saved table: the same PlotData the run that wrote the table
// builds, read from the table's columns by name.

#include "figures/plot.h"
#include "table/csv.h"

#include <optional>
#include <string>
#include <vector>

namespace ferro::batch {

// What the figure's caption says about the run; what is unknown is left out.
struct CaptionFacts {
    std::optional<std::string> equilibrate; // sweeps before measuring
    std::string sweeps, seed;
    bool uniform = true;                   // every site factor is 1
    std::optional<std::string> factorsName; // the factor file, when not uniform
    std::vector<int> sizes = {20};          // L of the L x L tori, ascending
    std::string algorithm;                  // "metropolis", "wolff"; empty: not said
};

QString plotCaption(const CaptionFacts &facts);

struct TablePlot {
    PlotData data;
    std::string error; // one line naming the file, empty when read
};

// Reads the points of a table the batch program wrote (merged or not). The
// caption takes equilibrate, factors and algorithm from the table's columns
// of those names, else from `fallback`, and the sizes from the points; when
// the first row's points says more points than the table has rows, it says
// how many are missing. The columns size (absent: 20), points,
// binder_cumulant(_error) and correlation_length_over_size(_error) (absent:
// not measured) are optional. A number that
// is not finite is refused. The exact curves are drawn when every row has an
// exact energy: at T when no row names a factor file, else at T * F with the
// F for which the exact energy of the row's size at T * F is the column's.
TablePlot readTablePlot(TableReader &table, const CaptionFacts &fallback);

} // namespace ferro::batch
