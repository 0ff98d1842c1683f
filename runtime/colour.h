#pragma once
// Colours are 24-bit values written &HBBGGRR: red in the low byte.

#include <QColor>

#include <cstdint>

namespace ferro {

inline QColor colourFromBgr(std::uint32_t bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

constexpr std::uint32_t VbWhite = 0xFFFFFF;
constexpr std::uint32_t VbBlack = 0x000000;
constexpr std::uint32_t VbLightGrey = 0xE0E0E0;
constexpr std::uint32_t VbSilver = 0xC0C0C0;
constexpr std::uint32_t VbGrey = 0x808080;
constexpr std::uint32_t VbBlue = 0xFF0000;
constexpr std::uint32_t VbRed = 0x0000FF;

} // namespace ferro
