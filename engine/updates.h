#pragma once
// What a point of a batch run starts from and how it is updated, and the
// lattice sizes the engine takes.

namespace ferro::engine {

// The sides of the L x L tori the engine takes.
constexpr int MinimumSize = 2;
constexpr int MaximumSize = 1024;
// The checkerboard update (one bit a spin) takes even sides up to this.
constexpr int CheckerboardMaximumSize = 16384;

enum class Start { Zero, Infinity }; // the T = Zero and T = Infinity buttons
enum class Algorithm { Metropolis, Wolff, Checkerboard };

} // namespace ferro::engine
