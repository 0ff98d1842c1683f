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
                     &out.susceptibilityFull, &out.binder})
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
           "mean_cluster_size,equilibrate,start,factors,version,stream,point,points,warnings,run\n";
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
        + "," + std::to_string(f.point) + "," + std::to_string(f.points) + "," + f.warnings + "," + f.run + "\n";
    return row;
}

std::string seriesHeader()
{
    return "temperature,seed,sweep,energy,magnetization,size\n";
}

std::string seriesRow(double temperature, std::uint64_t seed, std::int64_t sweep, int energy, int totalMag,
                      int size)
{
    const double sites = double(size) * double(size);
    return numberText(temperature) + "," + std::to_string(seed) + "," + std::to_string(sweep) + ","
        + numberText(energy / sites) + "," + numberText(totalMag / sites) + "," + std::to_string(size) + "\n";
}

} // namespace ferro::batch
