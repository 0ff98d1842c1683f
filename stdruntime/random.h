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

// The program's one generator: xoshiro256**, 53-bit numbers. A plain value,
// so that a loop can hold its state in registers (the batch program's sweeps).
struct Xoshiro256 {
    std::uint64_t s[4];

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
        const std::uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return result;
    }
    // Uniform in [0, 1): the top 53 bits of next().
    double draw() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
};

// splitmix64: steps x and returns its next well-mixed number; spreads one
// seed over a generator's state words.
inline std::uint64_t splitmix64(std::uint64_t &x)
{
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Xoshiro256 as the window's random source.
class Random final : public RandomSource {
public:
    // Seeded from the clock; Randomize stirs the clock in.
    Random();
    // Reproducible: seeded with the given value, and Randomize stirs nothing in.
    explicit Random(std::uint64_t seed);

    double Rnd() override { return m_engine.draw(); }
    // The same number without the virtual call.
    double draw() { return m_engine.draw(); }

    // Stirs the clock into the state. The sequence is never restarted, so two
    // calls that read the same clock value still go on drawing fresh numbers.
    void Randomize() override;

    std::uint64_t next() { return m_engine.next(); }
    // The state itself, for a loop that copies it into registers and back.
    Xoshiro256 &engine() { return m_engine; }

private:
    void seedWith(std::uint64_t seed);

    Xoshiro256 m_engine {};
    bool m_stirFromClock = true;
};

} // namespace ferro
