#pragma once
// The program's random numbers: one generator (xoshiro256**) that the clock
// stirs. Standard C++ only.

#include <cstdint>
#include <vector>

namespace ferro {

class Random {
public:
    // Seeded from the clock.
    Random();
    // Reproducible: seeded with the given value, and Randomize stirs nothing in.
    explicit Random(std::uint64_t seed);

    // Next number, uniform in [0, 1), 53 bits.
    double Rnd()
    {
        if (m_scriptPos < m_script.size()) [[unlikely]]
            return m_script[m_scriptPos++];
        return static_cast<double>(next() >> 11) * 0x1.0p-53;
    }

    // Stirs the clock into the state. The sequence is never restarted, so two
    // calls that read the same clock value still go on drawing fresh numbers.
    void Randomize();

    // Tests: the next Rnd calls return these values in order, then the
    // generator takes over again.
    void script(std::vector<double> values);
    bool scriptExhausted() const { return m_scriptPos >= m_script.size(); }

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(m_s[1] * 5, 7) * 9;
        const std::uint64_t t = m_s[1] << 17;
        m_s[2] ^= m_s[0];
        m_s[3] ^= m_s[1];
        m_s[1] ^= m_s[2];
        m_s[0] ^= m_s[3];
        m_s[2] ^= t;
        m_s[3] = rotl(m_s[3], 45);
        return result;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    void seedWith(std::uint64_t seed);

    std::uint64_t m_s[4] {};
    bool m_stirFromClock = true;
    std::vector<double> m_script;
    std::size_t m_scriptPos = 0;
};

} // namespace ferro
