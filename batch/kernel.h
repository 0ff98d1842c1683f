#pragma once
// The batch program's flip attempt: the window's AttemptFlip (same draws in
// the same order, same site choice, same acceptance) made fast for long
// headless runs. The Metropolis weights are computed once per run temperature
// with the window's own expression and kept per site as the single-precision
// threshold that the float r2 is compared against. Standard C++ only.

#include "core/flip.h"
#include "core/lattice.h"
#include "stdruntime/random.h"

#include <array>
#include <cstdint>

namespace ferro::batch {

// The generator of Random(seed), called without the virtual dispatch of the
// window's random source: Rnd() returns the very numbers Random::Rnd() would.
class Stream {
public:
    explicit Stream(std::uint64_t seed) : m_random(seed) {}
    double Rnd() { return static_cast<double>(m_random.next() >> 11) * 0x1.0p-53; }
    // For the starting states, which draw through Random.
    Random &random() { return m_random; }

private:
    Random m_random;
};

// The seed of the stream of the index-th temperature of a run with this seed
// (splitmix64 of both), so that every temperature draws its own numbers
// whatever thread runs it.
std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index);

class FastLattice {
public:
    FastLattice();

    // Takes over the spins and totals of a window lattice, and gives them back.
    void load(const Lattice &lattice);
    void store(Lattice &lattice) const;

    // Rebuilds the acceptance thresholds for this run temperature (as
    // runTemperature gives it) and these 400 site factors.
    void setTemperature(double runTemperature, const double *factors);

    // One flip attempt, decided exactly as AttemptFlip decides it for the same
    // two draws, both in [0, 1). Returns 1 when AttemptFlip counts it as
    // accepted (dE <= 0 or r2 below the weight), else 0.
    template <class Source>
    int attempt(Source &source)
    {
        const double r1 = source.Rnd();
        const int k = static_cast<int>(r1 * Sites);
        const auto &n = m_neighbours[k];
        const int h = m_spin[n[0]] + m_spin[n[1]] + m_spin[n[2]] + m_spin[n[3]];
        const float r2 = static_cast<float>(source.Rnd());
        const int s = m_spin[k];
        const int sh = s * h; // dE = 2 s h
        const int accepted = r2 < m_threshold[k][sh + 4];
        const int change = -2 * s * accepted;
        m_spin[k] = s + change;
        TotalMag += change;
        Energy -= change * h;
        return accepted;
    }

    // A sweep: 400 attempts. Returns how many AttemptFlip counts as accepted.
    template <class Source>
    int sweep(Source &source)
    {
        int accepted = 0;
        for (int a = 0; a < Sites; ++a)
            accepted += attempt(source);
        return accepted;
    }

    // The window lattice's totals, kept up to date by every attempt.
    int TotalMag = 0;
    int Energy = 0;

private:
    // Spins as int: a store into them cannot alias the generator's state.
    std::array<std::int32_t, Sites> m_spin {};
    // Left, up, right and down neighbour of every cell, wrapping at the edges.
    std::array<std::array<std::uint16_t, 4>, Sites> m_neighbours {};
    // For s h = -4 .. 4 (index s h + 4), the smallest float not below the
    // window's double weight exp(2 s h (-1 / T_k)); a float r2 is below the
    // weight exactly when it is below this float. Infinity where dE <= 0.
    std::array<std::array<float, 9>, Sites> m_threshold {};
};

} // namespace ferro::batch
