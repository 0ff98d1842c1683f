#include "batch/curves.h"

#include "analysis/curves.h"
#include "analysis/exactenergy.h"
#include "batch/options.h"
#include "batch/run.h"
#include "table/csv.h"
#include "core/flip.h"
#include "stdruntime/textfields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace ferro::batch {

using analysis::Quantity;

namespace {

constexpr int ValueDigits = 10, ErrorDigits = 3;

std::string openFile(const std::string &option, const std::string &path, std::optional<Output> &out)
{
    if (path.empty())
        return {};
    std::string error;
    if (std::optional<Output> opened = Output::open(path, error))
        out.emplace(std::move(*opened));
    if (!out && error.rfind("--output", 0) == 0)
        error.replace(0, 8, option);
    return error;
}

std::string curvesHeader()
{
    return "size,temperature,energy,energy_error,abs_magnetization,abs_magnetization_error,specific_heat,"
           "specific_heat_error,susceptibility,susceptibility_error,susceptibility_full,susceptibility_full_error,"
           "binder_cumulant,binder_cumulant_error,correlation_length_over_size,correlation_length_over_size_error,"
           "points,exact_energy,exact_specific_heat\n";
}

std::string peaksHeader()
{
    return "quantity,size,size2,temperature,temperature_error,value,value_error,exact_temperature,exact_value\n";
}

std::string field(double x, int digits)
{
    return "," + csvField(numberText(x, digits));
}

// The exact answers hold from T = 0.1 to 1e4.
bool exactKnown(double T)
{
    return T >= MinimumTemperature && T <= 1e4;
}

// The exact specific-heat peak of the L x L torus, in the sites' temperature,
// by golden section (C has a single maximum).
std::pair<double, double> exactPeak(int size)
{
    const double g = (std::sqrt(5.0) - 1) / 2;
    double a = 1.0, b = 5.0;
    double c = b - g * (b - a), d = a + g * (b - a);
    double fc = exactSpecificHeat(size, size, c), fd = exactSpecificHeat(size, size, d);
    while (b - a > 1e-10) {
        if (fc > fd) {
            b = d, d = c, fd = fc;
            c = b - g * (b - a);
            fc = exactSpecificHeat(size, size, c);
        } else {
            a = c, c = d, fc = fd;
            d = a + g * (b - a);
            fd = exactSpecificHeat(size, size, d);
        }
    }
    const double T = 0.5 * (a + b);
    return {T, exactSpecificHeat(size, size, T)};
}

const char *quantityName(Quantity q, bool crossing)
{
    switch (q) {
    case analysis::SpecificHeat: return "specific_heat_peak";
    case analysis::Susceptibility: return "susceptibility_peak";
    case analysis::Binder: return crossing ? "binder_crossing" : "binder";
    case analysis::LengthOverSize: return "correlation_length_over_size_crossing";
    default: return "";
    }
}

const char *symbol(Quantity q)
{
    switch (q) {
    case analysis::SpecificHeat: return "C";
    case analysis::Susceptibility: return "chi'";
    case analysis::Binder: return "U";
    case analysis::LengthOverSize: return "xi/L";
    default: return "";
    }
}

std::string withError(const analysis::Value &v, int digits)
{
    return numberText(v.mean, digits) + " +- " + (std::isnan(v.error) ? std::string("?") : numberText(v.error, 2));
}

} // namespace

std::string CurveFiles::open(const Options &o, bool equalFactors)
{
    if ((!o.curvesFile.empty() || !o.peaksFile.empty()) && !equalFactors)
        return std::string(o.curvesFile.empty() ? "--peaks" : "--curves") + ": the factors of " + o.factorsFile
            + " differ from site to site: no single temperature to reweight to";
    if (std::string error = openFile("--curves", o.curvesFile, curves); !error.empty())
        return error;
    return openFile("--peaks", o.peaksFile, peaks);
}

namespace {

// The curve's values as the figure's grey curves.
void addToFigure(const analysis::SizeCurve &curve, PlotData &figure)
{
    for (std::size_t i = 0; i < curve.values.size(); ++i) {
        PlotPoint row;
        row.size = curve.size;
        row.temperature = curve.temperature(i);
        if (const auto &v = curve.values[i]) {
            row.energy.mean = v->full[analysis::Energy];
            row.absMag.mean = v->full[analysis::AbsMag];
            row.specificHeat.mean = v->full[analysis::SpecificHeat];
            row.susceptibility.mean = v->full[analysis::Susceptibility];
            row.binder.mean = v->full[analysis::Binder];
            row.lengthOverSize.mean = v->full[analysis::LengthOverSize];
        }
        figure.curves.push_back(row);
    }
}

// The curve's rows of the --curves file, written some 64 KiB at a time.
void writeCurveRows(const SweepRun &run, const analysis::SizeCurve &curve, double factor, Output &out)
{
    std::string rows;
    for (std::size_t i = 0; i < curve.values.size(); ++i) {
        const double T = curve.temperature(i);
        rows += std::to_string(curve.size) + "," + numberText(T, 12);
        if (const auto &v = curve.values[i]) {
            for (int q = 0; q < analysis::Quantities; ++q) {
                std::vector<double> leaveOut;
                for (const auto &r : v->leaveOut)
                    leaveOut.push_back(r[std::size_t(q)]);
                rows += field(v->full[std::size_t(q)], ValueDigits) + field(analysis::jackknifeError(leaveOut), ErrorDigits);
            }
        } else {
            rows += std::string(2 * analysis::Quantities, ',');
        }
        rows += "," + std::to_string(curve.groupPoints(i));
        const double ts = T * factor;
        if (run.equalFactor() && exactKnown(ts))
            rows += field(exactEnergy(curve.size, curve.size, ts), ValueDigits)
                + field(exactSpecificHeat(curve.size, curve.size, ts), ValueDigits);
        else
            rows += ",,";
        rows += "\n";
        if (rows.size() > 65536) {
            out.write(rows);
            rows.clear();
        }
    }
    out.write(rows);
}

// The peaks of C and chi' of every size: lines on standard error, rows of
// the --peaks table, marks in the figure.
std::string peakRows(const SweepRun &run, const std::vector<analysis::SizeCurve> &curves, double factor,
                     PlotData *figure)
{
    std::string table;
    for (const analysis::SizeCurve &curve : curves)
        for (const Quantity q : {analysis::SpecificHeat, analysis::Susceptibility}) {
            std::string note;
            const std::optional<analysis::Extremum> peak = analysis::peakOf(curve, q, note);
            if (!peak) {
                std::fprintf(stderr, "ferrogrid-batch: peak of %s, L = %d: none found (%s)\n", symbol(q), curve.size,
                             note.c_str());
                continue;
            }
            if (figure)
                figure->peaks.push_back({curve.size, q == analysis::Susceptibility,
                                         {peak->temperature.mean, peak->temperature.error},
                                         {peak->value.mean, peak->value.error}});
            std::string exactText, exactFields = ",,";
            if (q == analysis::SpecificHeat && run.equalFactor()) {
                const auto [T, C] = exactPeak(curve.size);
                exactText = " (exact: T = " + numberText(T / factor, 7) + ", C = " + numberText(C, 7) + ")";
                exactFields = field(T / factor, ValueDigits) + field(C, ValueDigits);
            }
            std::fprintf(stderr, "ferrogrid-batch: peak of %s, L = %d: T = %s, %s = %s%s\n", symbol(q), curve.size,
                         withError(peak->temperature, 7).c_str(), symbol(q), withError(peak->value, 6).c_str(),
                         exactText.c_str());
            table += std::string(quantityName(q, false)) + "," + std::to_string(curve.size) + ","
                + field(peak->temperature.mean, ValueDigits) + field(peak->temperature.error, ErrorDigits)
                + field(peak->value.mean, ValueDigits) + field(peak->value.error, ErrorDigits) + exactFields + "\n";
        }
    return table;
}

// The crossings of U (and of xi/L, when every point measured the mode) of
// successive sizes: lines on standard error, rows of the --peaks table and
// the figure's list.
std::string crossingRows(const std::vector<analysis::SizeCurve> &curves, bool modes, PlotData *figure)
{
    std::string table;
    std::vector<Quantity> crossed {analysis::Binder};
    if (modes)
        crossed.push_back(analysis::LengthOverSize);
    for (std::size_t c = 0; c + 1 < curves.size(); ++c)
        for (const Quantity q : crossed) {
            std::string note;
            const std::optional<analysis::Extremum> cross = analysis::crossingOf(curves[c], curves[c + 1], q, note);
            if (!cross) {
                std::fprintf(stderr, "ferrogrid-batch: crossing of %s, L = %d/%d: none (%s)\n", symbol(q),
                             curves[c].size, curves[c + 1].size, note.c_str());
                continue;
            }
            if (figure)
                figure->crossings.push_back({q == analysis::LengthOverSize, curves[c].size, curves[c + 1].size,
                                             {cross->temperature.mean, cross->temperature.error},
                                             {cross->value.mean, cross->value.error}});
            std::fprintf(stderr, "ferrogrid-batch: crossing of %s, L = %d/%d: T = %s, %s = %s\n", symbol(q),
                         curves[c].size, curves[c + 1].size, withError(cross->temperature, 7).c_str(), symbol(q),
                         withError(cross->value, 6).c_str());
            table += std::string(quantityName(q, true)) + "," + std::to_string(curves[c].size) + ","
                + std::to_string(curves[c + 1].size) + field(cross->temperature.mean, ValueDigits)
                + field(cross->temperature.error, ErrorDigits) + field(cross->value.mean, ValueDigits)
                + field(cross->value.error, ErrorDigits) + ",,\n";
        }
    return table;
}

} // namespace

int writeCurves(const SweepRun &run, CurveFiles &files, PlotData *figure)
{
    const Options &o = run.options();
    const double factor = run.equalFactor().value_or(1.0);
    std::map<int, std::vector<analysis::CurveInput>> bySize;
    for (const SweepRun::PointResults &p : run.results())
        if (p.histogram)
            bySize[p.size].push_back({runTemperature(p.temperature), p.histogram.get(), p.results.jackknifeBlocks});

    if (files.curves)
        files.curves->write(curvesHeader());
    std::vector<analysis::SizeCurve> curves;
    bool modes = true;
    for (const auto &[size, points] : bySize) {
        curves.push_back(analysis::reweightSize(size, points, o.curveStep, factor));
        const analysis::SizeCurve &curve = curves.back();
        for (const std::string &note : curve.notes)
            std::fprintf(stderr, "ferrogrid-batch: warning: %s\n", note.c_str());
        for (const auto &p : points)
            modes = modes && p.histogram->hasMode();
        if (figure)
            addToFigure(curve, *figure);
        if (files.curves)
            writeCurveRows(run, curve, factor, *files.curves);
    }

    // Peaks of every size, crossings of successive sizes.
    std::string table = files.peaks ? peaksHeader() : std::string();
    table += peakRows(run, curves, factor, figure);
    table += crossingRows(curves, modes, figure);
    if (files.peaks)
        files.peaks->write(table);
    for (std::optional<Output> *out : {&files.curves, &files.peaks})
        if (*out && !(*out)->close())
            return fail((*out)->failure());
    return 0;
}

} // namespace ferro::batch
