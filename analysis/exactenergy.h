#pragma once
// The exact mean energy per site of the Ising model on an m x n torus
// (coupling 1, Boltzmann's constant 1), from Kaufman's finite-lattice
// partition function. A yardstick for the simulation; standard C++ only.

#include <vector>

namespace ferro {

// ln Z of the m x n torus at inverse temperature K = 1 / T.
long double lnPartition(int m, int n, long double K);

// Mean energy per site, -(1/mn) d ln Z / dK, at temperature T; good to about
// 1e-12 on the 20 x 20 torus.
double exactEnergy(int m, int n, double T);

struct Estimate {
    double mean, error;
};

// Mean of a series of measurements and its standard error from the spread of
// `blocks` consecutive block means; each block should span many
// autocorrelation times.
Estimate blockAverage(const std::vector<double> &x, int blocks);

} // namespace ferro
