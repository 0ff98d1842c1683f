#pragma once
// Small helpers shared by the fuzz targets.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace fuzz {

// Ends the run with a message; libFuzzer saves the input as a crash artifact.
[[noreturn]] inline void fail(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "\n==== CHECK FAILED: %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void check(bool ok, const char *what, const std::string &detail = {})
{
    if (!ok) [[unlikely]]
        fail(what, detail);
}

// The text with unprintable bytes escaped, for messages.
inline std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out + "\"";
}

inline std::string show(double x)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g (%a)", x, x);
    return buf;
}

inline std::uint64_t bitsOf(double x)
{
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

inline bool sameBits(double a, double b) { return bitsOf(a) == bitsOf(b); }

// A double made from up to 8 bytes (missing bytes are zero), little-endian.
inline double doubleFrom(const std::uint8_t *data, std::size_t size)
{
    std::uint64_t u = 0;
    for (std::size_t i = 0; i < size && i < 8; ++i)
        u |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

} // namespace fuzz
