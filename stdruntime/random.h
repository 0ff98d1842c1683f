#pragma once
// The program's random numbers. Standard C++ only.

#include <cstdint>

namespace ferro {

// A source of uniform numbers that the clock may stir.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    // Next number, uniform in [0, 1).
    virtual double Rnd() = 0;
    // Re-seeds from the clock (a seeded source stays reproducible).
    virtual void Randomize() = 0;
};

// xoshiro256**, 53-bit numbers.
class Random final : public RandomSource {
public:
    // Seeded from the clock; Randomize stirs the clock in.
    Random();
    // Reproducible: seeded with the given value, and Randomize stirs nothing in.
    explicit Random(std::uint64_t seed);

    double Rnd() override { return draw(); }
    // The same number without the virtual call, for loops that hold a Random
    // itself (the batch program's streams).
    double draw() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Stirs the clock into the state. The sequence is never restarted, so two
    // calls that read the same clock value still go on drawing fresh numbers.
    void Randomize() override;

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
};

} // namespace ferro
