#include "batch/table.h"

#include <charconv>
#include <cmath>

namespace ferro::batch {

std::string numberText(double value)
{
    if (std::isnan(value))
        return {};
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::string(buf, end);
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
        row += "," + numberText(v.mean) + "," + numberText(v.error);
    row += "," + numberText(r.energyTau) + "," + (exactEnergy ? numberText(*exactEnergy) : std::string()) + ","
        + std::to_string(point) + "," + std::to_string(points) + "\n";
    return row;
}

std::string seriesHeader()
{
    return "temperature,seed,sweep,energy,magnetization\n";
}

} // namespace ferro::batch
