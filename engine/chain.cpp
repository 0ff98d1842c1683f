#include "engine/chain.h"

#include "engine/cpu.h"
#include "engine/fourlanes.h"

#include <array>
#include <vector>

namespace ferro::engine {

std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index)
{
    std::uint64_t x = seed + index * 0x9E3779B97F4A7C15ULL;
    return splitmix64(x);
}

void sweepTogether(std::span<Chain *const> chains, std::span<int> accepted)
{
    // Chains of one size with every factor equal go four at a time through
    // the vector lanes where the processor has them (lanes.cpp); the rest
    // one after the other. Two chains woven into one scalar loop ran slower
    // here than one after the other (their generators and lattices no
    // longer fit the registers); four generators in the lanes of vector
    // registers cost about what one costs alone.
    std::vector<bool> done(chains.size(), false);
    if (hasAvx2()) {
        for (std::size_t c = 0; c < chains.size(); ++c) {
            if (done[c])
                continue;
            std::array<Chain *, 4> four {};
            std::array<std::size_t, 4> index {};
            int found = 0;
            for (std::size_t d = c; d < chains.size() && found < 4; ++d) {
                const FastLattice &l = chains[d]->lattice;
                if (!done[d] && l.equalFactors() && l.size() == chains[c]->lattice.size()) {
                    four[std::size_t(found)] = chains[d];
                    index[std::size_t(found++)] = d;
                }
            }
            if (found < 4)
                continue;
            std::array<int, 4> counts {};
            const int size = four[0]->lattice.size();
            if (size >= fourlanes::BitsFrom && fourlanes::sweepBits(four, counts)) {
                // swept from their bits
            } else if (size > FastLattice::TabledSize)
                fourlanes::sweepStates(four, counts);
            else
                fourlanes::sweepTabled(four, counts);
            for (int f = 0; f < 4; ++f) {
                done[index[std::size_t(f)]] = true;
                accepted[index[std::size_t(f)]] = counts[std::size_t(f)];
            }
        }
    }
    for (std::size_t c = 0; c < chains.size(); ++c)
        if (!done[c])
            accepted[c] = chains[c]->sweep();
}

} // namespace ferro::engine
