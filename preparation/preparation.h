#pragma once
// Preparing the run: the two starting states, the temperature targets, the
// designer's floor and Reset. No widgets.

#include "core/run.h"

#include <optional>
#include <string>
#include <string_view>

namespace ferro {

// Zero temperature: re-seed, then one draw r for the whole lattice: r < 0.5
// makes every spin +1, r > 0.5 every spin -1, r exactly 0.5 keeps every site.
void orderedState(Lattice &lattice, RandomSource &random);
// Infinite temperature: re-seed once, then one draw per site in row-major
// order, with the same three cases as orderedState.
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
