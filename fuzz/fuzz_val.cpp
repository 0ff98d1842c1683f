// Val on arbitrary bytes: never crashes, never gives NaN or an infinity, and
// the first character that does not fit ends the number, so anything after
// an appended "x" changes nothing.

#include "fuzz/fuzzcommon.h"
#include "stdruntime/textconv.h"

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const double value = ferro::Val(text);

    fuzz::check(!std::isnan(value), "Val gave NaN", fuzz::quoted(text));
    fuzz::check(std::isfinite(value), "Val gave an infinity",
                fuzz::quoted(text) + " -> " + fuzz::show(value));

    std::string longer(text);
    longer += 'x';
    const double withX = ferro::Val(longer);
    fuzz::check(fuzz::sameBits(value, withX), "Val(text) != Val(text + \"x\")",
                fuzz::quoted(text) + " -> " + fuzz::show(value) + "\nwith x -> " + fuzz::show(withX));

    longer += "9.5E+7";
    const double withMore = ferro::Val(longer);
    fuzz::check(fuzz::sameBits(value, withMore), "Val(text) != Val(text + \"x9.5E+7\")",
                fuzz::quoted(text) + " -> " + fuzz::show(value) + "\nwith x9.5E+7 -> " + fuzz::show(withMore));
    return 0;
}
