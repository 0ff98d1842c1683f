// ferrogrid-batch: the window's flip attempt, headless, over a list of
// temperatures; a CSV table (or time series), a figure and pictures of the
// lattices.
//
// Parse, validate, run, write: the options are read as text alone and their
// combinations checked, the files they name are checked before anything runs,
// SweepRun runs the temperatures and writes the rows, and the figure comes
// last.

#include "batch/options.h"
#include "batch/output.h"
#include "figures/plot.h"
#include "batch/run.h"
#include "batch/curves.h"
#include "table/table.h"
#include "batch/tablecommands.h"
#include "figures/tableplot.h"
#include "figures/latticepicture.h"
#include "preparation/factorfile.h"

#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

using namespace ferro;
using namespace ferro::batch;

namespace {

int writeFactorFile(const Options &o)
{
    const int side = o.sizes.front(); // one size (validate() refuses a list)
    const FactorFileResult pattern = factorPattern(o.writeFactorsPattern, side);
    if (!pattern.ok())
        return fail("--write-factors: " + pattern.error);
    std::string error;
    std::optional<Output> out = Output::open(o.outputFile, error);
    if (!out)
        return fail(error);
    out->write(factorFileText(pattern.texts, side));
    return out->close() ? 0 : fail(out->failure());
}

// The figure is painted on Qt's offscreen platform: no display needed; and
// none of the toolkit's own lines on standard error (such as the missing
// XDG_RUNTIME_DIR of a root shell, or a library's word on a failed write):
// our one line says what went wrong.
std::unique_ptr<QGuiApplication> figureApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg)
            fail(message.toStdString());
    });
    return std::make_unique<QGuiApplication>(argc, argv);
}

int writeFigure(const SweepRun &run, PlotData data)
{
    const Options &o = run.options();
    data.uniformFactor = run.equalFactor();
    const auto m = [](const Value &v) { return Measured {v.mean, v.error}; };
    for (const SweepRun::PointResults &point : run.results()) {
        const Results r = asWritten(point.results);
        data.points.push_back({point.size, point.temperature, m(r.energy), m(r.absMag), m(r.specificHeat),
                               m(r.susceptibility), m(r.binder), m(r.correlationLengthOverSize)});
    }
    std::vector<int> sizes = o.sizes;
    std::sort(sizes.begin(), sizes.end());
    const bool ones = run.equalFactor() == 1.0;
    data.caption = plotCaption({std::to_string(o.equilibrate), std::to_string(o.sweeps), std::to_string(run.seed()),
                                o.factorsFile.empty() || ones, o.factorsFile.empty() ? std::nullopt : std::optional(o.factorsFile),
                                sizes, algorithmName(o.algorithm)});
    const QString error = savePlot(QFile::decodeName(o.plotFile.c_str()), data);
    if (!error.isEmpty())
        return fail(error.toStdString());
    reportCrossings(data.points);
    return 0;
}

// A run that keeps checkpoints, or carries one on: what every checkpoint
// holds of the run, and the one to resume, refused when it is not of this
// run (another version, other options, other factor file contents).
std::string setUpCheckpoints(SweepRun &run)
{
    const Options &o = run.options();
    if (o.checkpointFile.empty() && o.resumeFile.empty())
        return {};
    std::string error;
    std::optional<std::string> factors;
    if (!o.factorsFile.empty() && !(factors = readWhole(o.factorsFile, error)))
        return "--factors: " + error;
    const std::string version = versionText(), options = canonicalOptions(o), fingerprint = factorFingerprint(factors);
    run.setFingerprints(version, options, fingerprint);
    // What a kill in the middle of writing a checkpoint left: the last whole one is kept.
    std::remove(((o.checkpointFile.empty() ? o.resumeFile : o.checkpointFile) + ".new").c_str());
    if (o.resumeFile.empty())
        return {};
    const std::optional<std::string> bytes = readWhole(o.resumeFile, error);
    if (!bytes)
        return "--resume: " + error;
    std::optional<Checkpoint> checkpoint = decodeCheckpoint(*bytes, error);
    if (!checkpoint)
        return "--resume: " + o.resumeFile + " " + error;
    if (const std::string difference = checkpointDifference(*checkpoint, version, options, fingerprint);
        !difference.empty())
        return "--resume: the checkpoint " + o.resumeFile + " " + difference;
    run.resumeFrom(std::move(*checkpoint));
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok())
        return fail(parsed.error);
    const Options &o = parsed.options;
    if (o.help || o.version)
        return printText(o.help ? usageText() : versionText()) ? 0 : 2;
    if (const std::string error = validate(o); !error.empty())
        return fail(error);
    if (const std::string error = checkFiles(o); !error.empty())
        return fail(error);
    if (o.check)
        return 0;
    if (!o.writeFactorsPattern.empty())
        return writeFactorFile(o);
    if (o.merge)
        return runMerge(o);
    if (!o.plotTable.empty())
        return runPlotTable(o, argc, argv);

    SweepRun::catchSignals(!o.checkpointFile.empty() || !o.resumeFile.empty()); // from here on, Ctrl-C and SIGTERM stop the run and keep what is finished
    SweepRun run(o);
    if (const std::string error = setUpCheckpoints(run); !error.empty())
        return fail(error);
    if (const std::string error = run.prepare(); !error.empty())
        return fail(error);
    run.setPictures([](const std::string &path, const engine::SpinRows &rows, int size) {
        return saveLatticePicture(QFile::decodeName(path.c_str()), rows, size).toStdString();
    });
    CurveFiles curveFiles;
    if (const std::string error = curveFiles.open(o, run.equalFactor().has_value()); !error.empty())
        return fail(error);
    const std::unique_ptr<QGuiApplication> app = o.plotFile.empty() ? nullptr : figureApplication(argc, argv);
    if (const int status = run.run(); status != 0)
        return status;
    run.warn();
    PlotData figure; // with the reweighted curves and peaks, when asked for
    if (curveFiles.wanted())
        if (const int status = writeCurves(run, curveFiles, o.plotFile.empty() ? nullptr : &figure); status != 0)
            return status;
    return o.plotFile.empty() ? 0 : writeFigure(run, std::move(figure));
}
