#pragma once
// The points of a run as the engine sweeps them: a lattice with its own
// stream, and the sweep of several at once. Standard C++.

#include "engine/lattice.h"

#include <cstdint>
#include <span>

namespace ferro::engine {

// The seed of the stream of the index-th point of a run with this seed
// (splitmix64 of both), so that every point draws its own numbers whatever
// thread runs it.
std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index);

// One point of a run: its lattice and its own stream.
struct Chain {
    Chain(int size, std::uint64_t seed) : lattice(size), stream(seed) {}
    // One Metropolis sweep; returns the accepted attempts.
    int sweep() { return lattice.sweep(stream); }
    FastLattice lattice;
    Stream stream;
};

// One Metropolis sweep of every chain (any sizes); accepted[c] receives
// chain c's accepted attempts (accepted.size() == chains.size()). Every chain
// makes exactly the decisions of chain->sweep() alone, whatever chains share
// the call, so a caller with several points can hand them over together and
// the kernel is free to advance them in whatever order runs fastest.
void sweepTogether(std::span<Chain *const> chains, std::span<int> accepted);

} // namespace ferro::engine
