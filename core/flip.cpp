#include "core/flip.h"

#include "stdruntime/textconv.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace ferro {

double siteFactor(std::string_view text)
{
    if (text.empty())
        return 1.0;
    bool whole = false;
    const double value = Val(text, whole);
    if (whole && value > 0)
        return value;
    return std::max(value, MinimumFactor);
}

double localTemperature(double runTemperature, double factor)
{
    // A factor near the smallest double would make the product round to 0.
    return std::clamp(runTemperature * factor, DBL_MIN, DBL_MAX);
}

FlipOutcome AttemptFlip(Lattice &lattice, RandomSource &random, double runTemperature, const double *factors)
{
    const double r1 = random.Rnd();
    const int k = static_cast<int>(r1 * Sites);
    const int i = k / Side;
    const int j = k - Side * i;
    const int h = lattice.NeighbourSum(i, j);
    const float r2 = static_cast<float>(random.Rnd());
    const int s = lattice.Spin[i][j];
    const int flipped = -s;
    const int deltaE = 2 * s * h;

    bool accepted = deltaE <= 0;
    if (!accepted) {
        const double tk = localTemperature(runTemperature, factors[k]);
        accepted = r2 < metropolisWeight(deltaE, tk);
    }
    if (!accepted)
        return {k, false};

    lattice.Spin[i][j] = static_cast<std::int16_t>(flipped);
    lattice.TotalMag = static_cast<std::int16_t>(lattice.TotalMag + 2 * flipped);
    lattice.Energy = static_cast<std::int16_t>(lattice.Energy - 2 * flipped * h);
    return {k, true};
}

} // namespace ferro
