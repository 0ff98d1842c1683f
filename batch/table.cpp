#include "batch/table.h"

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
    for (Value *v : {&out.energy, &out.absMag, &out.specificHeat, &out.susceptibility, &out.acceptance})
        *v = {round(v->mean, ValueDigits), round(v->error, ErrorDigits)};
    out.energyTau = round(out.energyTau, TauDigits);
    return out;
}

std::string tableHeader()
{
    return "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
           "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,acceptance_error,"
           "energy_autocorrelation_time,exact_energy,point,points\n";
}

std::string tableRow(double temperature, std::int64_t sweeps, std::uint64_t seed, const Results &r,
                     std::optional<double> exactEnergy, std::size_t point, std::size_t points)
{
    std::string row = numberText(temperature) + "," + std::to_string(sweeps) + "," + std::to_string(seed);
    for (const Value &v : {r.energy, r.absMag, r.specificHeat, r.susceptibility, r.acceptance})
        row += "," + numberText(v.mean, ValueDigits) + "," + numberText(v.error, ErrorDigits);
    row += "," + numberText(r.energyTau, TauDigits) + ","
        + (exactEnergy ? numberText(*exactEnergy, ValueDigits) : std::string()) + "," + std::to_string(point) + ","
        + std::to_string(points) + "\n";
    return row;
}

std::string seriesHeader()
{
    return "temperature,seed,sweep,energy,magnetization\n";
}

std::string seriesRow(double temperature, std::uint64_t seed, std::int64_t sweep, int energy, int totalMag,
                      int sites)
{
    return numberText(temperature) + "," + std::to_string(seed) + "," + std::to_string(sweep) + ","
        + numberText(energy / double(sites)) + "," + numberText(totalMag / double(sites)) + "\n";
}

} // namespace ferro::batch
