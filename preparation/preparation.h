#pragma once
// Preparing the run: the two starting states, the temperature targets, the
// designer's floor and Reset. No widgets.

#include "core/run.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferro {

// The coin both starting states toss for a site: r below one half makes the
// spin +1, above one half -1, and exactly one half keeps the site as it is.
template <class Spin>
void tossCoin(Spin &spin, float r)
{
    if (r < 0.5f)
        spin = 1;
    else if (r > 0.5f)
        spin = -1;
}

// The two starting states for spins of any lattice in row-major order (the
// window's 400, the batch program's L x L).
// Zero temperature: re-seed, then one draw for every spin.
template <class Spin>
void orderedSpins(std::span<Spin> spins, RandomSource &random)
{
    random.Randomize();
    const float r = static_cast<float>(random.Rnd());
    for (auto &spin : spins)
        tossCoin(spin, r);
}
// Infinite temperature: re-seed once, then one draw per spin in order.
template <class Spin>
void randomSpins(std::span<Spin> spins, RandomSource &random)
{
    random.Randomize();
    for (auto &spin : spins)
        tossCoin(spin, static_cast<float>(random.Rnd()));
}

// The window's starting states: orderedSpins and randomSpins on its 400 cells.
void orderedState(Lattice &lattice, RandomSource &random);
void randomState(Lattice &lattice, RandomSource &random);

// "T = Zero" and "T = Infinity": the state, then MeasureLattice. Neither
// touches the run state: pressed during a run, the run goes on from it.
void prepareZero(Run &run);
void prepareInfinity(Run &run);

// "Go to T =" and "Continue": the text the temperature box is given before
// the run resumes, "0.1" when its value is below 0.1 (so the box shows the
// temperature in use); nothing when it stands as it is.
std::optional<std::string> resumeTemperatureText(std::string_view text);
// A run resumes only on a prepared lattice; a blank one is told by its
// first site.
bool canResume(const Lattice &lattice);

// Quit Design Temps: "0.0001" for a factor text that is not empty and whose
// value is below 0.0001; nothing for any other text.
std::optional<std::string> designerFloorText(std::string_view text);

// Reset: every spin blank. The totals keep the last configuration's values
// until the next starting state recounts them.
void blankLattice(Lattice &lattice);

} // namespace ferro
