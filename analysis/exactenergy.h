#pragma once
// The exact mean energy and specific heat per site of the Ising model on an
// m x n torus (coupling 1, Boltzmann's constant 1), from Kaufman's
// finite-lattice partition function. A yardstick for the simulation;
// standard C++ only.

#include <vector>

namespace ferro {

// ln Z of the m x n torus at inverse temperature K = 1 / T.
long double lnPartition(int m, int n, long double K);

// Mean energy per site, -(1/mn) d ln Z / dK, at temperature T.
double exactEnergy(int m, int n, double T);

// Specific heat per site, (K^2/mn) d^2 ln Z / dK^2 with K = 1 / T.
//
// Both from analytic derivatives of ln Z, for 2 <= m, n <= 1024 and any T
// from 0.1 up: relative error below 1e-10, or absolute below 1e-12 where the
// value is smaller. The 2 x 2 torus in closed form; from m, n >= 3, series in
// tanh(1/T) above T = 1e8 and, for C, in exp(-4/T) below T = 0.2, where the
// sums lose digits (there C, near 64 exp(-8/T) / T^2, keeps its relative
// precision: 1.2e-31 at T = 0.1, never 0). NaN where the specific heat is
// below the smallest normal double (about 2/T^2 < 2e-308, T above 7e153).
double exactSpecificHeat(int m, int n, double T);

struct Estimate {
    double mean, error;
};

// Mean of a series of measurements and its standard error from the spread of
// `blocks` consecutive block means; each block should span many
// autocorrelation times.
Estimate blockAverage(const std::vector<double> &x, int blocks);

} // namespace ferro
