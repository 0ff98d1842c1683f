#include "batch/table.h"

#include "stdruntime/textfields.h"

namespace ferro::batch {

namespace {

constexpr int ValueDigits = 10, ErrorDigits = 3, TauDigits = 4;

} // namespace

std::string tableHeader()
{
    return "temperature,sweeps,seed,energy,energy_error,abs_magnetization,abs_magnetization_error,"
           "specific_heat,specific_heat_error,susceptibility,susceptibility_error,acceptance,acceptance_error,"
           "energy_autocorrelation_time,exact_energy\n";
}

std::string tableRow(double temperature, std::int64_t sweeps, std::uint64_t seed, const Results &r,
                     std::optional<double> exactEnergy)
{
    std::string row = numberText(temperature) + "," + std::to_string(sweeps) + "," + std::to_string(seed);
    for (const Value &v : {r.energy, r.absMag, r.specificHeat, r.susceptibility, r.acceptance})
        row += "," + numberText(v.mean, ValueDigits) + "," + numberText(v.error, ErrorDigits);
    row += "," + numberText(r.energyTau, TauDigits) + ","
        + (exactEnergy ? numberText(*exactEnergy, ValueDigits) : std::string()) + "\n";
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
