#pragma once
// Column counts of rows of bits: for every bit position of a row of 64-bit
// words, how many rows have it set, 64 positions a word at once. The row and
// column sums of the Fourier mode come from them where a lattice keeps one
// bit a spin. Standard C++.
//
// Vertical counters: the rows are taken sixteen at a time and added, word by
// word, into four bit planes of weight 1, 2, 4 and 8 by carry-save adders
// (fifteen adders of five operations for sixteen words); what reaches weight
// 16 is added to eight one-byte counters per word through a table of the
// word's bytes, and those counters go into the integer counts before they
// can overflow. A rest of fewer than sixteen rows is padded with zero words.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace ferro::engine {

namespace detail {

// Byte b spread out: byte n of the result is bit n of b.
constexpr std::array<std::uint64_t, 256> spreadBytes()
{
    std::array<std::uint64_t, 256> table {};
    for (int b = 0; b < 256; ++b)
        for (int n = 0; n < 8; ++n)
            if (b >> n & 1)
                table[std::size_t(b)] |= std::uint64_t(1) << (8 * n);
    return table;
}
inline constexpr std::array<std::uint64_t, 256> SpreadBytes = spreadBytes();

// A carry-save adder: a + b + c = 2 high + low, bit by bit.
template <class T>
[[gnu::always_inline]] inline void carrySave(T &high, T &low, T a, T b, T c)
{
    const T u = a ^ b;
    high = (a & b) | (u & c);
    low = u ^ c;
}

} // namespace detail

// Four words side by side (one AVX2 register where the caller is compiled
// for it, two or four plain words elsewhere).
using FourWords = std::uint64_t __attribute__((vector_size(32)));

// counts[64 w + t] = the rows r < rows whose word w has bit t set, for w <
// words; rowOf(r) gives row r's words. counts needs 64 words entries.
// Always inlined, so that a caller compiled for AVX2 gets its adders in
// vector registers.
template <class RowOf>
[[gnu::always_inline]] inline void countColumns(int rows, int words, RowOf &&rowOf, std::span<int> counts)
{
    const std::size_t W = std::size_t(words);
    std::vector<std::uint64_t> planes(4 * W, 0); // weights 1, 2, 4, 8: W words each
    std::vector<std::uint64_t> bytes(8 * W, 0); // the sixteens: byte n of entry 8 w + q counts bit 8 q + n of word w
    std::vector<std::uint64_t> carried(W); // a group's sixteens
    const std::vector<std::uint64_t> zero(W, 0); // the rows past the last
    std::fill(counts.begin(), counts.begin() + std::ptrdiff_t(64 * W), 0);
    const auto flush = [&] {
        for (std::size_t e = 0; e < bytes.size(); ++e) {
            for (int n = 0; n < 8; ++n)
                counts[8 * e + std::size_t(n)] += 16 * int(bytes[e] >> (8 * n) & 0xFF);
            bytes[e] = 0;
        }
    };
    // Sixteen rows' words w (T of them) into the planes and carried.
    const auto add = [&]<class T>(const std::uint64_t *const *p, std::size_t w, T) {
        using detail::carrySave;
        T a[16], ones, twos, fours, eights;
        for (int r = 0; r < 16; ++r)
            std::memcpy(&a[r], p[r] + w, sizeof(T));
        std::memcpy(&ones, &planes[w], sizeof(T));
        std::memcpy(&twos, &planes[W + w], sizeof(T));
        std::memcpy(&fours, &planes[2 * W + w], sizeof(T));
        std::memcpy(&eights, &planes[3 * W + w], sizeof(T));
        T twosA, twosB, foursA, foursB, eightsA, eightsB, sixteens;
        carrySave(twosA, ones, ones, a[0], a[1]);
        carrySave(twosB, ones, ones, a[2], a[3]);
        carrySave(foursA, twos, twos, twosA, twosB);
        carrySave(twosA, ones, ones, a[4], a[5]);
        carrySave(twosB, ones, ones, a[6], a[7]);
        carrySave(foursB, twos, twos, twosA, twosB);
        carrySave(eightsA, fours, fours, foursA, foursB);
        carrySave(twosA, ones, ones, a[8], a[9]);
        carrySave(twosB, ones, ones, a[10], a[11]);
        carrySave(foursA, twos, twos, twosA, twosB);
        carrySave(twosA, ones, ones, a[12], a[13]);
        carrySave(twosB, ones, ones, a[14], a[15]);
        carrySave(foursB, twos, twos, twosA, twosB);
        carrySave(eightsB, fours, fours, foursA, foursB);
        carrySave(sixteens, eights, eights, eightsA, eightsB);
        std::memcpy(&planes[w], &ones, sizeof(T));
        std::memcpy(&planes[W + w], &twos, sizeof(T));
        std::memcpy(&planes[2 * W + w], &fours, sizeof(T));
        std::memcpy(&planes[3 * W + w], &eights, sizeof(T));
        std::memcpy(&carried[w], &sixteens, sizeof(T));
    };
    int groups = 0;
    for (int r0 = 0; r0 < rows; r0 += 16) {
        const std::uint64_t *p[16];
        for (int r = 0; r < 16; ++r)
            p[r] = r0 + r < rows ? rowOf(r0 + r) : zero.data();
        std::size_t w = 0;
        for (; w + 4 <= W; w += 4)
            add(p, w, FourWords {});
        for (; w < W; ++w)
            add(p, w, std::uint64_t {});
        for (w = 0; w < W; ++w)
            for (std::size_t q = 0; q < 8; ++q)
                bytes[8 * w + q] += detail::SpreadBytes[carried[w] >> (8 * q) & 0xFF];
        if (++groups == 255) { // a byte counter holds 255
            flush();
            groups = 0;
        }
    }
    flush();
    for (std::size_t w = 0; w < W; ++w)
        for (int t = 0; t < 64; ++t)
            counts[64 * w + std::size_t(t)] += int(planes[w] >> t & 1) + 2 * int(planes[W + w] >> t & 1)
                + 4 * int(planes[2 * W + w] >> t & 1) + 8 * int(planes[3 * W + w] >> t & 1);
}

} // namespace ferro::engine
