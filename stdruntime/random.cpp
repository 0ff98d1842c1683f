#include "stdruntime/random.h"

#include <chrono>

namespace ferro {

namespace {

std::uint64_t clockValue()
{
    return static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

} // namespace

Random::Random()
{
    seedWith(clockValue());
}

Random::Random(std::uint64_t seed)
    : m_stirFromClock(false)
{
    seedWith(seed);
}

void Random::seedWith(std::uint64_t seed)
{
    for (auto &word : m_engine.s)
        word = splitmix64(seed);
}

void Random::Randomize()
{
    if (!m_stirFromClock)
        return;
    // Mixing into one word and then stepping keeps the state non-zero and
    // spreads the clock bits over all four words within a few draws.
    std::uint64_t c = clockValue();
    auto &s = m_engine.s;
    s[0] ^= splitmix64(c);
    if ((s[0] | s[1] | s[2] | s[3]) == 0)
        s[0] = 1;
    next();
}

} // namespace ferro
