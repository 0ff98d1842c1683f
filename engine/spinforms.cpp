#include "engine/spinforms.h"

#include "engine/columncounts.h"
#include "engine/cpu.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ferro::engine {

void lineSums(std::span<const Spin> spins, int side, std::span<int> rows, std::span<int> columns)
{
    std::fill(columns.begin(), columns.begin() + side, 0);
    int *__restrict const column = columns.data();
    const Spin *cell = spins.data();
    for (int i = 0; i < side; ++i, cell += side) {
        int row = 0;
        for (int j = 0; j < side; ++j) {
            row += cell[j];
            column[j] += cell[j];
        }
        rows[std::size_t(i)] = row;
    }
}

void SiteStates::rebuild(std::span<const Spin> spins, int side)
{
    m_code.resize(spins.size());
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            const Neighbours n = torusNeighbours(i, j, side);
            const int k = side * i + j;
            m_code[std::size_t(k)] = static_cast<std::uint8_t>(
                siteCode(spins[k], spins[n.left] + spins[n.up] + spins[n.right] + spins[n.down]));
        }
}

void SiteStates::readSpins(std::span<Spin> spins) const
{
    for (std::size_t k = 0; k < spins.size(); ++k)
        spins[k] = static_cast<Spin>(spinOfCode(m_code[k]));
}

void SiteStates::lineSums(int side, std::span<int> rows, std::span<int> columns) const
{
    std::fill(columns.begin(), columns.begin() + side, 0);
    int *__restrict const column = columns.data(); // the codes are bytes, which could alias it
    const std::uint8_t *code = m_code.data();
    for (int i = 0; i < side; ++i, code += side) {
        int row = 0;
        for (int j = 0; j < side; ++j) {
            const int s = spinOfCode(code[j]);
            row += s;
            column[j] += s;
        }
        rows[std::size_t(i)] = row;
    }
}

SpinBits::SpinBits(int side)
    : m_side(side)
    , m_stride((side + 2 + 7) / 8)
{
}

bool SpinBits::rebuild(std::span<const Spin> spins)
{
    if (std::find(spins.begin(), spins.end(), Spin(0)) != spins.end()) {
        m_bits = {};
        return false;
    }
    m_bits.assign(std::size_t(m_stride) * std::size_t(m_side) + 4, 0);
    auto set = [this](int i, int b) {
        const Place p = place(i, b);
        m_bits[p.byte] = std::uint8_t(m_bits[p.byte] | p.mask);
    };
    for (int i = 0; i < m_side; ++i)
        for (int j = 0; j < m_side; ++j)
            if (spins[std::size_t(m_side * i + j)] > 0) {
                set(i, j + 1);
                if (j == m_side - 1) // the copy before the row's first
                    set(i, 0);
                if (j == 0) // the copy after the row's last
                    set(i, m_side + 1);
            }
    return true;
}

void SpinBits::readSpins(std::span<Spin> spins) const
{
    for (int i = 0; i < m_side; ++i)
        for (int j = 0; j < m_side; ++j) {
            const Place p = place(i, j + 1);
            spins[std::size_t(m_side * i + j)] = (m_bits[p.byte] & p.mask) ? 1 : -1;
        }
}

} // namespace ferro::engine

namespace ferro::engine {

namespace {

// SpinBits::lineSums of L rows of `stride` bytes, for the portable code and
// for AVX2.
[[gnu::always_inline]] inline void bitLineSums(const std::uint8_t *bits, int L, int stride, std::span<int> rows,
                                               std::span<int> columns)
{
    const int words = (stride + 7) / 8;
    // The rows as whole words (bit b of a row is bit b % 8 of its byte b / 8).
    std::vector<std::uint64_t> rowWords(std::size_t(L) * std::size_t(words), 0);
    for (int i = 0; i < L; ++i) {
        const std::uint8_t *p = bits + std::size_t(stride) * std::size_t(i);
        std::uint64_t *to = rowWords.data() + std::size_t(words) * std::size_t(i);
        if constexpr (std::endian::native == std::endian::little)
            std::memcpy(to, p, std::size_t(stride));
        else
            for (int b = 0; b < stride; ++b)
                to[b / 8] |= std::uint64_t(p[b]) << (8 * (b % 8));
    }
    const auto row = [&rowWords, words](int i) { return rowWords.data() + std::size_t(words) * std::size_t(i); };
    // The spins are bits 1 to L; bit 0 and bit L + 1 are copies.
    std::vector<std::uint64_t> spinsOf(std::size_t(words), 0);
    for (int b = 1; b <= L; ++b)
        spinsOf[std::size_t(b / 64)] |= std::uint64_t(1) << (b % 64);
    for (int i = 0; i < L; ++i) {
        int up = 0;
        for (int w = 0; w < words; ++w)
            up += std::popcount(row(i)[w] & spinsOf[std::size_t(w)]);
        rows[std::size_t(i)] = 2 * up - L;
    }
    std::vector<int> counts(64 * std::size_t(words));
    countColumns(L, words, row, counts);
    for (int j = 0; j < L; ++j)
        columns[std::size_t(j)] = 2 * counts[std::size_t(j + 1)] - L;
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt"))) void bitLineSumsVector(const std::uint8_t *bits, int L, int stride,
                                                              std::span<int> rows, std::span<int> columns)
{
    bitLineSums(bits, L, stride, rows, columns);
}
#endif

} // namespace

void SpinBits::lineSums(std::span<int> rows, std::span<int> columns) const
{
#if defined(__x86_64__)
    if (hasAvx2())
        return bitLineSumsVector(m_bits.data(), m_side, m_stride, rows, columns);
#endif
    bitLineSums(m_bits.data(), m_side, m_stride, rows, columns);
}

} // namespace ferro::engine
