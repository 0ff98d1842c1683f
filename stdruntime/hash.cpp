#include "stdruntime/hash.h"

namespace ferro {

std::string hexDigits(std::uint64_t value)
{
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4)
        text[std::size_t(i)] = "0123456789abcdef"[value & 15];
    return text;
}

} // namespace ferro
