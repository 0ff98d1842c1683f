#include "startconfig.h"

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

void orderedState(Lattice &lattice, Random &random)
{
    random.Randomize();
    const float r = static_cast<float>(random.Rnd());
    for (auto &row : lattice.Spin)
        for (auto &spin : row)
            applyCoin(spin, r);
}

void randomState(Lattice &lattice, Random &random)
{
    random.Randomize();
    for (auto &row : lattice.Spin)
        for (auto &spin : row)
            applyCoin(spin, static_cast<float>(random.Rnd()));
}

} // namespace ferro
