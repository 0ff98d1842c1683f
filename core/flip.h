#pragma once
// One single-spin-flip Metropolis attempt. No widgets: the window supplies the
// run temperature and the site factors and shows the outcome.

#include "core/lattice.h"
#include "stdruntime/random.h"

#include <array>
#include <cmath>
#include <string_view>

namespace ferro {

// Lowest run temperature; any text whose value is not above it counts as it.
constexpr double MinimumTemperature = 0.1;
// Lowest site factor.
constexpr double MinimumFactor = 0.0001;

// The run temperature for the value of the temperature text: the value when
// it is above 0.1 (strictly), else 0.1.
constexpr double runTemperature(double textValue)
{
    return textValue > MinimumTemperature ? textValue : MinimumTemperature;
}

// The factor a factor-box text stands for: 1 when empty; the number when the
// text is a whole positive number, however small; otherwise its leading
// number ("2x" is 2) but never below 0.0001 (zero, negative and non-numeric
// texts give 0.0001), so that the local temperature is never zero or negative.
double siteFactor(std::string_view text);

// The 400 site factors as numbers, derived from the factor texts; kept up to
// date by whoever owns the texts.
class FactorTable {
public:
    FactorTable() { m_factor.fill(1.0); }
    void setText(int k, std::string_view text) { m_factor[k] = siteFactor(text); }
    double operator[](int k) const { return m_factor[k]; }
    const double *data() const { return m_factor.data(); }

private:
    std::array<double, Sites> m_factor;
};

// The local temperature T F, kept between the smallest normal double and
// DBL_MAX, so that the acceptance test stays finite for any factor.
double localTemperature(double runTemperature, double factor);

// The Metropolis weight exp(-dE / T_k) of a flip that raises the energy by
// deltaE at the local temperature tk. AttemptFlip compares r2 with it, and the
// batch program's threshold tables are rounded from it, so both decide alike.
inline double metropolisWeight(int deltaE, double tk)
{
    return std::exp(deltaE * (-1.0 / tk));
}

struct FlipOutcome {
    int k;              // the cell attempted, 0 to 399
    bool accepted; // dE <= 0 or the Metropolis test passed (a blank site too): the energy read-out is rewritten
};

// One attempt: r1 picks the cell, r2 (single precision) is drawn on every
// attempt after r1, then the Metropolis test at T_k = T F_k: dE <= 0 is
// accepted, otherwise accepted only when r2 < exp(-dE / T_k). An accepted flip
// updates Spin, TotalMag and Energy. A blank site counts as accepted with no
// change.
FlipOutcome AttemptFlip(Lattice &lattice, RandomSource &random, double runTemperature, const double *factors);

} // namespace ferro
