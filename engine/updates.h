#pragma once
// What a point of a batch run starts from and how it is updated.

namespace ferro::engine {

enum class Start { Zero, Infinity }; // the T = Zero and T = Infinity buttons
enum class Algorithm { Metropolis, Wolff };

} // namespace ferro::engine
