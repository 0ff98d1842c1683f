// Str on any finite double (8 input bytes): the look of the text, and that
// Val reads it back as the number rounded to 15 significant digits.

#include "fuzz/fuzzcommon.h"
#include "stdruntime/textconv.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>

namespace {

// x rounded to 15 significant digits, through the C library's printf and
// std::from_chars; saturates like Val does past the double range.
double roundedTo15(double x)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.14e", x);
    double value = 0.0;
    const auto r = std::from_chars(buf, buf + n, value);
    if (r.ec == std::errc::result_out_of_range)
        return x < 0 ? -DBL_MAX : DBL_MAX;
    fuzz::check(r.ec == std::errc() && r.ptr == buf + n, "from_chars could not read printf's text", buf);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return -1;
    const double x = fuzz::doubleFrom(data, 8);
    if (!std::isfinite(x))
        return -1;

    const std::string s = ferro::Str(x);
    const std::string about = fuzz::show(x) + " -> " + fuzz::quoted(s);

    fuzz::check(!s.empty() && (s[0] == ' ' || s[0] == '-'), "Str does not start with ' ' or '-'", about);
    fuzz::check(s.size() >= 2, "Str has no digits", about);
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        const bool ok = (c >= '0' && c <= '9') || c == '.' || c == 'E' || c == '+' || c == '-';
        fuzz::check(ok, "Str has an unexpected character", about);
    }

    // The mantissa: up to the exponent, if there is one.
    const std::size_t e = s.find('E');
    const std::string mantissa = s.substr(1, e == std::string::npos ? std::string::npos : e - 1);
    const std::size_t point = mantissa.find('.');
    if (point != std::string::npos) {
        fuzz::check(point + 1 < mantissa.size(), "Str ends its mantissa with a point", about);
        fuzz::check(mantissa.back() != '0', "Str has trailing zeros after the point", about);
        fuzz::check(mantissa.find('.', point + 1) == std::string::npos, "Str has two points", about);
    }
    if (e != std::string::npos) {
        fuzz::check(s.size() >= e + 4, "Str's exponent is too short", about);
        fuzz::check(s[e + 1] == '+' || s[e + 1] == '-', "Str's exponent has no sign", about);
    }
    std::size_t digits = 0;
    for (const char c : mantissa)
        digits += c >= '0' && c <= '9';
    // At most 15 significant digits, plus up to three zeros after the point
    // below 0.001 (" .000123456789012345").
    fuzz::check(digits >= 1 && digits <= 18, "Str shows too many digits", about);

    const double back = ferro::Val(s);
    const double expected = roundedTo15(x);
    fuzz::check(back == expected, "Val(Str(x)) is not x rounded to 15 digits",
                about + "\nVal gives " + fuzz::show(back) + ", expected " + fuzz::show(expected));

    const std::string again = ferro::Str(back);
    fuzz::check(again == s, "Str(Val(Str(x))) != Str(x)", about + "\nagain " + fuzz::quoted(again));
    return 0;
}
