#include "table/table.h"

#include "table/csv.h"
#include "stdruntime/textfields.h"

#include <charconv>

namespace ferro::batch {

namespace {

constexpr int ValueDigits = 10, ErrorDigits = 3, TauDigits = 4;

} // namespace

Results asWritten(const Results &r)
{
    const auto round = [](double x, int digits) {
        const std::string text = numberText(x, digits);
        double value = x;
        std::from_chars(text.data(), text.data() + text.size(), value); // not the locale's strtod
        return value;
    };
    Results out = r;
    for (Value *v : {&out.energy, &out.absMag, &out.specificHeat, &out.susceptibility, &out.acceptance,
                     &out.susceptibilityFull, &out.binder, &out.correlationLength, &out.correlationLengthOverSize})
        *v = {round(v->mean, ValueDigits), round(v->error, ErrorDigits)};
    out.energyTau = round(out.energyTau, TauDigits);
    out.absMagTau = round(out.absMagTau, TauDigits);
    return out;
}

const char *algorithmName(Algorithm algorithm)
{
    return algorithm == Algorithm::Wolff          ? "wolff"
        : algorithm == Algorithm::Checkerboard ? "checkerboard"
                                               : "metropolis";
}

const char *startName(Start start)
{
    return start == Start::Infinity ? "infinity" : "zero";
}

std::string tableHeader()
{
    return "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
           "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,acceptance_error,"
           "energy_autocorrelation_time,exact_energy,size,algorithm,susceptibility_full,susceptibility_full_error,"
           "binder_cumulant,binder_cumulant_error,abs_magnetization_autocorrelation_time,exact_specific_heat,"
           "mean_cluster_size,equilibrate,start,factors,version,stream,point,points,warnings,"
           "correlation_length,correlation_length_error,correlation_length_over_size,correlation_length_over_size_error,"
           "run\n";
}

std::string tableRow(const RowFacts &f, const Results &r)
{
    const auto value = [](const Value &v) { return "," + numberText(v.mean, ValueDigits) + "," + numberText(v.error, ErrorDigits); };
    const auto exact = [](std::optional<double> x) { return "," + (x ? numberText(*x, ValueDigits) : std::string()); };
    std::string row = numberText(f.temperature) + "," + std::to_string(f.sweeps) + "," + std::to_string(f.seed);
    for (const Value &v : {r.energy, r.absMag, r.specificHeat, r.susceptibility, r.acceptance})
        row += value(v);
    row += "," + numberText(r.energyTau, TauDigits) + exact(f.exactEnergy);
    row += "," + std::to_string(f.size) + "," + algorithmName(f.algorithm) + value(r.susceptibilityFull)
        + value(r.binder) + "," + numberText(r.absMagTau, TauDigits) + exact(f.exactSpecificHeat) + ","
        + numberText(f.meanClusterSize, ValueDigits) + "," + std::to_string(f.equilibrate) + ","
        + startName(f.start) + "," + csvField(f.factorsName) + "," FERROGRID_VERSION "," + std::to_string(f.stream)
        + "," + std::to_string(f.point) + "," + std::to_string(f.points) + "," + f.warnings
        + value(r.correlationLength) + value(r.correlationLengthOverSize) + "," + f.run + "\n";
    return row;
}

std::string seriesHeader()
{
    return "temperature,seed,sweep,energy,magnetization,size,point,stream\n";
}

std::string seriesRow(const SeriesFacts &f)
{
    const double sites = double(f.size) * double(f.size);
    return numberText(f.temperature) + "," + std::to_string(f.seed) + "," + std::to_string(f.sweep) + ","
        + numberText(f.energy / sites) + "," + numberText(f.totalMag / sites) + "," + std::to_string(f.size) + ","
        + std::to_string(f.point) + "," + std::to_string(f.stream) + "\n";
}

} // namespace ferro::batch
