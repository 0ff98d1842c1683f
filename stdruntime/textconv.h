#pragma once
// Conversions between numbers and text. Every read-out of the program is
// written with Str or Format and read back with Val, so these fix the
// rounding and the exact look of all numbers on screen. Standard C++ only.

#include <cstdint>
#include <string>
#include <string_view>

namespace ferro {

// The number a text begins with. Blanks, tabs, carriage returns and line
// feeds are skipped before and inside the number (" 1 2" gives 12). Accepts a
// sign, digits with at most one decimal point, an exponent introduced by E or
// D (either case), and the prefixes &H (hexadecimal) and &O (octal). The first
// character that does not fit ends the number. Empty or non-numeric text gives
// 0. Never fails: magnitudes beyond the double range saturate to +-DBL_MAX,
// magnitudes below it give 0. Runs in time linear in the text's length.
double Val(std::string_view text);
// Val, and whether the number takes up the whole text (blanks aside).
double Val(std::string_view text, bool &whole);

// Decimal text of a number: one leading blank unless negative, no leading zero
// below 1 (" .125", "-.005"), no trailing zeros, at most 15 significant digits.
// Magnitudes below 0.0001 or of 1E15 and above use exponent form (" 1E-05",
// " 1.5E+16"). Zero, also negative zero, gives " 0". Not-a-number and
// infinities never reach it from Val; they give " 0" and +-DBL_MAX's text.
std::string Str(double value);

// Formats a number by a pattern such as "0.0000", "0.00" or " 0.0": rounds
// half away from zero on the value's 15-significant-digit decimal form (0.125
// gives "0.13" with "0.00", 2.675 gives "2.68"), writes at least as many
// integer digits as the pattern has zeros before its point and exactly as many
// decimals as it has after it; every other pattern character is copied where
// it stands. A value that rounds to zero has no minus sign.
std::string Format(double value, std::string_view pattern);

// Plain decimal text of a whole number, without a leading blank ("0", "800",
// "-3").
std::string PlainText(std::int64_t value);

// The value that Val(Format(value, pattern)) gives, computed without text
// when that is exact: used on every tick for the rounded read-outs.
double RoundTo(double value, int decimals);

} // namespace ferro
