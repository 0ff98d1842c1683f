#include "preparation/preparation.h"

#include "stdruntime/textconv.h"

namespace ferro {

namespace {

// The 400 cells in row-major order, cell k = 20 i + j.
std::span<std::int16_t> cellsOf(Lattice &lattice)
{
    return {&lattice.Spin[0][0], static_cast<std::size_t>(Sites)};
}

} // namespace

void orderedState(Lattice &lattice, RandomSource &random)
{
    orderedSpins(cellsOf(lattice), random);
}

void randomState(Lattice &lattice, RandomSource &random)
{
    randomSpins(cellsOf(lattice), random);
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
