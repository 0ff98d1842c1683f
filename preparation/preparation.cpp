#include "preparation/preparation.h"

#include "stdruntime/textconv.h"

namespace ferro {

namespace {

void applyCoin(std::int16_t &spin, float r)
{
    if (r < 0.5f)
        spin = 1;
    else if (r > 0.5f)
        spin = -1;
}

} // namespace

void orderedState(Lattice &lattice, RandomSource &random)
{
    random.Randomize();
    const float r = static_cast<float>(random.Rnd());
    for (auto &row : lattice.Spin)
        for (auto &spin : row)
            applyCoin(spin, r);
}

void randomState(Lattice &lattice, RandomSource &random)
{
    random.Randomize();
    for (auto &row : lattice.Spin)
        for (auto &spin : row)
            applyCoin(spin, static_cast<float>(random.Rnd()));
}

void prepareZero(Run &run)
{
    orderedState(run.lattice(), run.random());
    run.MeasureLattice();
}

void prepareInfinity(Run &run)
{
    randomState(run.lattice(), run.random());
    run.MeasureLattice();
}

std::optional<std::string> resumeTemperatureText(std::string_view text)
{
    if (Val(text) < MinimumTemperature)
        return "0.1";
    return std::nullopt;
}

bool canResume(const Lattice &lattice)
{
    return lattice.Spin[0][0] != 0;
}

std::optional<std::string> designerFloorText(std::string_view text)
{
    if (!text.empty() && Val(text) < MinimumFactor)
        return "0.0001";
    return std::nullopt;
}

void blankLattice(Lattice &lattice)
{
    for (auto &row : lattice.Spin)
        for (auto &spin : row)
            spin = 0;
}

} // namespace ferro
