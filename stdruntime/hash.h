#pragma once
// A 64-bit FNV-1a hash: the fingerprint of a run and of what it reads. Not
// a cryptographic hash: it tells runs apart, it does not guard against a
// forger. Standard C++ only.

#include <cstdint>
#include <string>
#include <string_view>

namespace ferro {

class Fnv1a {
public:
    static constexpr std::uint64_t Offset = 0xcbf29ce484222325ULL;
    static constexpr std::uint64_t Prime = 0x100000001b3ULL;

    // Adds the bytes: adding a text in pieces gives the hash of the whole.
    void add(std::string_view bytes)
    {
        for (const char c : bytes) {
            m_hash ^= std::uint8_t(c);
            m_hash *= Prime;
        }
    }
    std::uint64_t value() const { return m_hash; }

private:
    std::uint64_t m_hash = Offset;
};

inline std::uint64_t fnv1a(std::string_view bytes)
{
    Fnv1a hash;
    hash.add(bytes);
    return hash.value();
}

// 16 lower-case hex digits, leading zeros kept.
std::string hexDigits(std::uint64_t value);

} // namespace ferro
