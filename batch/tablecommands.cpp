#include "batch/tablecommands.h"

#include "batch/output.h"
#include "figures/tableplot.h"
#include "table/csv.h"
#include "table/merge.h"
#include "stdruntime/replacingfile.h"

#include <QFile>
#include <QGuiApplication>

#include "stdruntime/textfields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ferro::batch {

int runMerge(const Options &o)
{
    const MergeResult merged = mergeTables(o.mergeFiles, o.allowMissing);
    if (!merged.ok())
        return fail("--merge: " + merged.error);
    if (!merged.missing.empty())
        std::fprintf(stderr, "ferrogrid-batch: --merge: %s; the table has the rest\n", merged.missing.c_str());

    // A file is written beside itself and renamed into place, so that an
    // input named as the output is whole after any failure.
    std::string error;
    std::optional<Output> out = o.outputFile.empty() ? Output::open(o.outputFile, error) : std::nullopt;
    ReplacingFile file;
    if (!out && !file.open(o.outputFile))
        return fail("--output: cannot write " + o.outputFile + ": " + file.error());
    const auto write = [&](std::string_view rows) { return out ? out->write(rows) : file.write(rows); };
    // Written in pieces of about 64 KiB, each ending in a whole row.
    std::string piece = merged.header;
    for (const auto &[point, row] : merged.rows) {
        piece += row;
        if (piece.size() >= 1 << 16) {
            write(piece);
            piece.clear();
        }
    }
    write(piece);
    if (out)
        return out->close() ? 0 : fail(out->failure());
    return file.commit() ? 0 : fail("cannot write " + o.outputFile + ": " + file.error() + " (it is left as it was)");
}

int runPlotTable(const Options &o, int &argc, char **argv)
{
    CaptionFacts fallback;
    if (o.equilibrateGiven)
        fallback.equilibrate = std::to_string(o.equilibrate);
    if (!o.factorsFile.empty())
        fallback.factorsName = o.factorsFile;
    TableReader table = TableReader::openFile(o.plotTable);
    const TablePlot plot = readTablePlot(table, fallback);
    if (!plot.error.empty())
        return fail("--plot-table: " + plot.error);

    // Painted on Qt's offscreen platform, as the run paints it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "ferrogrid-batch: %s\n", qPrintable(message));
    });
    const QGuiApplication app(argc, argv);
    const QString saved = savePlot(QFile::decodeName(o.plotFile.c_str()), plot.data);
    if (!saved.isEmpty())
        return fail(saved.toStdString());
    reportCrossings(plot.data.points);
    return 0;
}

void reportCrossings(const std::vector<PlotPoint> &points)
{
    std::vector<int> sizes;
    for (const PlotPoint &p : points)
        if (std::isfinite(p.binder.mean) && std::find(sizes.begin(), sizes.end(), p.size) == sizes.end())
            sizes.push_back(p.size);
    std::sort(sizes.begin(), sizes.end());
    const std::vector<Crossing> crossings = linearCrossings(points, &PlotPoint::binder);
    for (std::size_t s = 0; s + 1 < sizes.size(); ++s) {
        const auto found = std::find_if(crossings.begin(), crossings.end(), [&](const Crossing &c) {
            return c.smaller == sizes[s] && c.larger == sizes[s + 1];
        });
        const std::string pair = "the Binder cumulants of L = " + std::to_string(sizes[s]) + " and "
            + std::to_string(sizes[s + 1]);
        if (found == crossings.end())
            std::fprintf(stderr, "ferrogrid-batch: %s do not cross within the temperatures run (exact critical "
                         "temperature 2.269185)\n", pair.c_str());
        else
            std::fprintf(stderr, "ferrogrid-batch: %s cross at T = %s +- %s (exact critical temperature 2.269185)\n",
                         pair.c_str(), numberText(found->temperature, 6).c_str(),
                         std::isfinite(found->error) ? numberText(found->error, 2).c_str() : "?");
    }
}

} // namespace ferro::batch
