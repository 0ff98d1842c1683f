#pragma once
// Small text helpers shared by the batch program and the factor files: numbers
// in the C locale, a text quoted for a one-line message, and a list split at a
// separator. Standard C++ only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferro {

// A number in the C locale: the shortest text that reads back as the same
// double ("1.75", "-0.0025", "1e-05") or, with `digits` > 0, rounded to that
// many significant digits with trailing zeros dropped ("-1.746795"). Empty for
// NaN.
std::string numberText(double value, int digits = 0);

// A text in single quotes for a one-line message: control bytes written as
// \xNN, anything beyond 60 bytes cut off with "...".
std::string messageQuote(std::string_view text);

// The fields of `text` between separators, every one kept (empty ones too):
// "a:b:" gives "a", "b", "". Blanks after a separator are dropped when
// `trimBlanks` is set ("2.27, 2.5" gives "2.27", "2.5").
std::vector<std::string_view> splitList(std::string_view text, char separator, bool trimBlanks = false);

// A whole number in decimal digits alone ("12", "007"): no sign, point,
// exponent or blank. None for any other text, or above 2^64 - 1.
std::optional<std::uint64_t> wholeNumber(std::string_view text);

} // namespace ferro
