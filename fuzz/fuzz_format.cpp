// Format and RoundTo on any double (8 input bytes, NaN and infinities
// included) and one of the read-out patterns (the 9th byte). A 10th byte, if
// present, picks a further number of decimals for the RoundTo check.

#include "fuzz/fuzzcommon.h"
#include "stdruntime/textconv.h"

#include <string>
#include <string_view>

namespace {

struct Pattern {
    std::string_view text;
    std::string_view prefix; // what comes before the digits
    int decimals;
};

constexpr Pattern kPatterns[] = {
    {"0.0000", "", 4},
    {"0.00", "", 2},
    {" 0.0", " ", 1},
    {"0", "", 0},
};

std::string plainPattern(int decimals)
{
    return decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0";
}

void checkRoundTo(double x, int decimals)
{
    const std::string pattern = plainPattern(decimals);
    const std::string text = ferro::Format(x, pattern);
    const double viaText = ferro::Val(text);
    const double direct = ferro::RoundTo(x, decimals);
    fuzz::check(fuzz::sameBits(direct, viaText), "RoundTo(x, d) != Val(Format(x, pattern))",
                fuzz::show(x) + ", d = " + std::to_string(decimals) + "\nFormat gives " + fuzz::quoted(text)
                    + ", Val of it " + fuzz::show(viaText) + "\nRoundTo gives " + fuzz::show(direct));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 9)
        return -1;
    const double x = fuzz::doubleFrom(data, 8);
    const Pattern &p = kPatterns[data[8] % std::size(kPatterns)];

    const std::string s = ferro::Format(x, p.text);
    const std::string about = fuzz::show(x) + " with " + fuzz::quoted(p.text) + " -> " + fuzz::quoted(s);

    std::string_view rest(s);
    const bool negative = !rest.empty() && rest[0] == '-';
    if (negative)
        rest.remove_prefix(1);
    fuzz::check(rest.substr(0, p.prefix.size()) == p.prefix, "Format lost the pattern's leading text", about);
    rest.remove_prefix(p.prefix.size());

    const std::size_t point = rest.find('.');
    const std::string_view whole = rest.substr(0, point);
    fuzz::check(!whole.empty(), "Format wrote no integer digit", about);
    bool allZero = true;
    for (const char c : rest) {
        if (c == '.')
            continue;
        fuzz::check(c >= '0' && c <= '9', "Format wrote a character that is not a digit", about);
        allZero = allZero && c == '0';
    }
    if (p.decimals == 0) {
        fuzz::check(point == std::string_view::npos, "Format wrote a point for a pattern without one", about);
    } else {
        fuzz::check(point != std::string_view::npos, "Format wrote no point", about);
        const std::string_view decimals = rest.substr(point + 1);
        fuzz::check(decimals.find('.') == std::string_view::npos, "Format wrote two points", about);
        fuzz::check(decimals.size() == static_cast<std::size_t>(p.decimals),
                    "Format wrote the wrong number of decimals", about);
    }
    fuzz::check(!(negative && allZero), "Format wrote a minus sign on zero", about);

    checkRoundTo(x, p.decimals);
    if (size >= 10) {
        const int pick = data[9] % 32;
        checkRoundTo(x, pick == 31 ? 330 : pick);
    }
    return 0;
}
