#include "engine/spinforms.h"

#include <algorithm>

namespace ferro::engine {

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
