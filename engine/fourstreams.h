#pragma once
// Four xoshiro256** generators advanced side by side: the four-lane form of
// the program's one generator (stdruntime/random.h), word w of lane l at
// words[4 w + l], the layout the vector code loads as four registers. The
// portable step below is the reference; the AVX2 step makes the same
// numbers. Standard C++ and, on x86-64, AVX2 intrinsics.

#include "stdruntime/random.h"

#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ferro::engine {

// Lane l of words[16] as a generator, and back.
inline Xoshiro256 laneOf(const std::uint64_t *words, int l)
{
    return {{words[l], words[4 + l], words[8 + l], words[12 + l]}};
}
inline void setLane(std::uint64_t *words, int l, const Xoshiro256 &g)
{
    for (int w = 0; w < 4; ++w)
        words[4 * w + l] = g.s[w];
}

#if defined(__x86_64__)

// The four lanes in registers.
struct FourGenerators {
    __m256i s0, s1, s2, s3;
};

__attribute__((target("avx2"), always_inline)) inline __m256i rotateLeft(__m256i x, int k)
{
    return _mm256_or_si256(_mm256_slli_epi64(x, k), _mm256_srli_epi64(x, 64 - k));
}

// Xoshiro256::next() of every lane: rotl(s1 5, 7) 9, with the two products
// as a shift and an add (AVX2 has no 64-bit multiplication).
__attribute__((target("avx2"), always_inline)) inline __m256i next(FourGenerators &g)
{
    const __m256i five = _mm256_add_epi64(g.s1, _mm256_slli_epi64(g.s1, 2));
    const __m256i rotated = rotateLeft(five, 7);
    const __m256i result = _mm256_add_epi64(rotated, _mm256_slli_epi64(rotated, 3));
    const __m256i t = _mm256_slli_epi64(g.s1, 17);
    g.s2 = _mm256_xor_si256(g.s2, g.s0);
    g.s3 = _mm256_xor_si256(g.s3, g.s1);
    g.s1 = _mm256_xor_si256(g.s1, g.s2);
    g.s0 = _mm256_xor_si256(g.s0, g.s3);
    g.s2 = _mm256_xor_si256(g.s2, t);
    g.s3 = rotateLeft(g.s3, 45);
    return result;
}

// words[16] (aligned to 32 bytes) into registers, and back.
__attribute__((target("avx2"), always_inline)) inline FourGenerators loadLanes(const std::uint64_t *words)
{
    return {_mm256_load_si256(reinterpret_cast<const __m256i *>(words)),
            _mm256_load_si256(reinterpret_cast<const __m256i *>(words + 4)),
            _mm256_load_si256(reinterpret_cast<const __m256i *>(words + 8)),
            _mm256_load_si256(reinterpret_cast<const __m256i *>(words + 12))};
}
__attribute__((target("avx2"), always_inline)) inline void storeLanes(const FourGenerators &g, std::uint64_t *words)
{
    _mm256_store_si256(reinterpret_cast<__m256i *>(words), g.s0);
    _mm256_store_si256(reinterpret_cast<__m256i *>(words + 4), g.s1);
    _mm256_store_si256(reinterpret_cast<__m256i *>(words + 8), g.s2);
    _mm256_store_si256(reinterpret_cast<__m256i *>(words + 12), g.s3);
}

#endif

} // namespace ferro::engine
