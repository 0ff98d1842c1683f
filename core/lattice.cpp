#include "core/lattice.h"

namespace ferro {

void Lattice::recount()
{
    int total = 0;
    int doubledBonds = 0;
    for (int i = 0; i <= LastIndex; ++i) {
        for (int j = 0; j <= LastIndex; ++j) {
            total += Spin[i][j];
            doubledBonds += Spin[i][j] * NeighbourSum(i, j);
        }
    }
    // Each bond appears twice in the site sum, so halving it is exact.
    TotalMag = static_cast<std::int16_t>(total);
    Energy = static_cast<std::int16_t>(-doubledBonds / 2);
}

} // namespace ferro
