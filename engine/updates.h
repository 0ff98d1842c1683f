#pragma once
// What a point of a batch run starts from and how it is updated, and the
// lattice sizes the engine takes.

namespace ferro::engine {

// The sides of the L x L tori the engine takes.
constexpr int MinimumSize = 2;
constexpr int MaximumSize = 1024;

enum class Start { Zero, Infinity }; // the T = Zero and T = Infinity buttons
enum class Algorithm { Metropolis, Wolff };

} // namespace ferro::engine
