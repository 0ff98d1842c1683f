#pragma once
// The numbers that decide the Wolff bonds. Standard C++.

#include "stdruntime/random.h"

#include <array>
#include <cstdint>

namespace ferro::engine {

// A Wolff bond joins a parallel neighbour when its 32-bit number is below a
// bound. The numbers come from four xoshiro256** lanes advanced side by side
// (fourstreams.h), seeded at the lattice's first cluster from four draws of
// the stream, each spread over a lane's 256 bits by splitmix64. A step of the
// lanes gives eight 32-bit numbers: lane 0's low half, its high half, lane
// 1's low half, ..., lane 3's high half; the first four decide one spin's
// bonds (left, up, right, down), the next four the next spin's. The spins
// taken from the cluster's queue use them in turn, carrying on from one
// cluster to the next; they are decided ahead, Spins spins' worth at a time,
// and those decided for another bound are dropped. The same seed thus gives
// the same clusters, with or without AVX2.
class WolffBonds {
public:
    static constexpr int Spins = 256;

    WolffBonds();
    // Seeds the lanes from the stream the first time; later calls draw
    // nothing.
    void seedOnce(Random &stream);
    // The bound of the bonds from now on (a bond joins when its number is
    // below it, at most 2^32).
    void setBound(std::uint64_t below);
    // The next spin's four bond words (-1 open, 0 closed), then the rest of
    // those decided, `left()` spins in all; decided now when none is left.
    const std::int32_t *ahead();
    int left() const { return Spins - m_next; }
    // The first `spins` of them are used.
    void use(int spins) { m_next += spins; }
    // Decided with AVX2 (where the processor has it; the default). Returns
    // whether they now are.
    bool setVector(bool on);
    bool vector() const { return m_vector; }

    // Everything that decides the bonds still to come, as numbers: the lanes,
    // the bonds decided ahead and how many of them are used, the bound they
    // were decided for, and whether the lanes are seeded. Handed out and
    // taken back to carry a chain on elsewhere (a checkpoint).
    struct State {
        std::array<std::uint64_t, 16> lanes {};
        std::array<std::int32_t, 4 * Spins> open {};
        std::int32_t next = Spins;
        std::uint64_t madeFor = 0;
        bool seeded = false;
    };
    State state() const;
    void restore(const State &state);

private:
    void decide();

    alignas(32) std::uint64_t m_lanes[16] {}; // word w of lane l at 4 w + l
    alignas(32) std::array<std::int32_t, 4 * Spins> m_open {};
    bool m_seeded = false;
    bool m_vector;
    int m_next = Spins;
    std::uint64_t m_madeFor = 0;
};

} // namespace ferro::engine
