#pragma once
// The figure of a saved table: the same PlotData the run that wrote the table
// builds, read from the table's columns by name.

#include "batch/plot.h"

#include <optional>
#include <string>

namespace ferro::batch {

// What the figure's caption says about the run; what is unknown is left out.
struct CaptionFacts {
    std::optional<std::string> equilibrate; // sweeps before measuring
    std::string sweeps, seed;
    bool uniform = true;                   // every site factor is 1
    std::optional<std::string> factorsName; // the factor file, when not uniform
};

QString plotCaption(const CaptionFacts &facts);

struct TablePlot {
    PlotData data;
    std::string error; // one line naming the file, empty when read
};

// Reads the points of a table the batch program wrote (merged or not). The
// caption takes equilibrate and factors from the table's columns of those
// names, else from `fallback`.
TablePlot readTablePlot(const std::string &name, const std::string &text, const CaptionFacts &fallback);

} // namespace ferro::batch
