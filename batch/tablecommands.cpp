#include "batch/tablecommands.h"

#include "table/merge.h"
#include "batch/output.h"
#include "figures/tableplot.h"

#include <QFile>
#include <QGuiApplication>

#include "stdruntime/textfields.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace ferro::batch {

namespace {

// The whole file, or the error.
bool readAll(const std::string &name, std::string &text, std::string &error)
{
    std::FILE *file = std::fopen(name.c_str(), "rb");
    if (!file) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    char buf[1 << 16];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;)
        text.append(buf, n);
    const bool ok = !std::ferror(file);
    const int why = errno;
    std::fclose(file);
    if (!ok)
        error = "cannot read " + name + ": " + std::strerror(why);
    return ok;
}

} // namespace

int runMerge(const Options &o)
{
    std::vector<TableFile> files;
    for (const std::string &name : o.mergeFiles) {
        TableFile file {name, {}};
        std::string error;
        if (!readAll(name, file.text, error))
            return fail("--merge: " + error);
        files.push_back(std::move(file));
    }
    const MergeResult merged = mergeTables(files, o.allowMissing);
    if (!merged.ok())
        return fail("--merge: " + merged.error);
    if (!merged.missing.empty())
        std::fprintf(stderr, "ferrogrid-batch: --merge: %s; the table has the rest\n", merged.missing.c_str());

    std::string error;
    std::optional<Output> out = Output::open(o.outputFile, error);
    if (!out)
        return fail(error);
    out->write(merged.table);
    return out->close() ? 0 : fail(out->failure());
}

int runPlotTable(const Options &o, int &argc, char **argv)
{
    std::string text, error;
    if (!readAll(o.plotTable, text, error))
        return fail("--plot-table: " + error);
    CaptionFacts fallback;
    if (o.equilibrateGiven)
        fallback.equilibrate = std::to_string(o.equilibrate);
    if (!o.factorsFile.empty())
        fallback.factorsName = o.factorsFile;
    const TablePlot plot = readTablePlot(o.plotTable, text, fallback);
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
    const std::vector<BinderCrossing> crossings = binderCrossings(points);
    for (std::size_t s = 0; s + 1 < sizes.size(); ++s) {
        const auto found = std::find_if(crossings.begin(), crossings.end(), [&](const BinderCrossing &c) {
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
