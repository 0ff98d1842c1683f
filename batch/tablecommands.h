#pragma once
// The batch program's commands on saved tables: --merge and --plot-table.

#include "batch/options.h"
#include "figures/plot.h"

#include <vector>

namespace ferro::batch {

// Reads the tables, writes the merged one to --output or standard output.
// Returns the exit status; a refusal is one line on standard error, exit 2,
// and leaves no output file.
int runMerge(const Options &options);

// Draws the figure of --plot-table into --plot. Returns the exit status.
int runPlotTable(const Options &options, int &argc, char **argv);

// With more than one size: one line on standard error for each pair of
// successive sizes, with the temperature where their Binder cumulants cross
// (and its error) beside the exact critical temperature 2.269185.
void reportCrossings(const std::vector<PlotPoint> &points);

} // namespace ferro::batch
