#pragma once
// --curves and --peaks: the reweighted curves of every size of a finished
// run, and the peaks and crossings read off them, as CSV tables; the peaks
// and crossings on standard error too, and for the figure.

#include "batch/output.h"
#include "figures/plot.h"

#include <optional>
#include <string>

namespace ferro::batch {

class SweepRun;
struct Options;

// The files --curves and --peaks name, opened (emptied) before the run so
// that a file that cannot be written stops it at once.
struct CurveFiles {
    std::optional<Output> curves, peaks;
    // Empty when both open (or are not asked for), else one line; refuses
    // factors that differ from site to site, which leave no single
    // temperature to reweight to.
    std::string open(const Options &options, bool equalFactors);
    bool wanted() const { return curves || peaks; }
};

// Writes the curves and peaks of a finished run, and hands them to the
// figure when there is one; 0, or 2 after a failed write.
int writeCurves(const SweepRun &run, CurveFiles &files, PlotData *figure = nullptr);

} // namespace ferro::batch
