#include "stdruntime/textconv.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <system_error>

namespace ferro {

namespace {

// Significant digits kept when reading a decimal number. Every midpoint
// between two neighbouring doubles has at most 767 significant digits, so
// cutting the text after 800 digits and putting a 1 in place of any non-zero
// rest cannot move the number across a midpoint: the rounding stays correct
// however long the text is, and the work buffer stays on the stack.
constexpr int kKeptDigits = 800;

// Decimal exponents beyond these bounds are out of the double range whatever
// the digits are (DBL_MAX is about 1.8E+308, the smallest subnormal about
// 4.9E-324); inside them std::from_chars decides.
constexpr std::int64_t kSaturateAbove = 400;
constexpr std::int64_t kZeroBelow = -400;

// Digits shown by Str and the digits Format rounds from.
constexpr int kShownDigits = 15;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Reads a text the way Val does: blanks are invisible everywhere.
struct Reader {
    const char *p;
    const char *end;

    // The next character that is not a blank, as an unsigned char value, or
    // -1 at the end of the text. Does not consume it.
    int peek()
    {
        while (p != end && isBlank(*p))
            ++p;
        return p == end ? -1 : static_cast<unsigned char>(*p);
    }
};

// The number digits[0..count) x 10^(exp10 - count + 1), that is, exp10 is the
// decimal exponent of digits[0], which must not be '0'. count is at most
// kKeptDigits + 1.
double decimalToDouble(const char *digits, int count, std::int64_t exp10, bool negative)
{
    const double sign = negative ? -1.0 : 1.0;
    if (exp10 > kSaturateAbove)
        return sign * DBL_MAX;
    if (exp10 < kZeroBelow)
        return 0.0;

    // "d.ddd...e-123"
    char buf[kKeptDigits + 16];
    char *out = buf;
    *out++ = digits[0];
    if (count > 1) {
        *out++ = '.';
        out = std::copy(digits + 1, digits + count, out);
    }
    *out++ = 'e';
    out = std::to_chars(out, buf + sizeof buf, exp10).ptr;

    double value = 0.0;
    const std::from_chars_result r = std::from_chars(buf, out, value);
    if (r.ec == std::errc::result_out_of_range || std::isinf(value))
        return exp10 > 0 ? sign * DBL_MAX : 0.0;
    if (value == 0.0)
        return 0.0;
    return sign * value;
}

// &H and &O numbers: digits of bitsPerDigit bits each, read as a whole
// unsigned number of any length.
double radixValue(Reader &in, int bitsPerDigit)
{
    // The first digits go into a 64-bit integer; once it holds 61 or more
    // bits the rest only scale it, and whether any of them was non-zero is
    // kept in the lowest bit. That bit lies below the rounding position of a
    // double's 53-bit mantissa, so the conversion still rounds correctly.
    std::uint64_t top = 0;
    std::int64_t droppedBits = 0;
    bool droppedNonZero = false;
    const int fullAt = 64 - bitsPerDigit;
    for (;;) {
        const int c = in.peek();
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0 || digit >= (1 << bitsPerDigit))
            break;
        ++in.p;
        if ((top >> fullAt) == 0) {
            top = (top << bitsPerDigit) | static_cast<std::uint64_t>(digit);
        } else {
            droppedBits += bitsPerDigit;
            droppedNonZero = droppedNonZero || digit != 0;
        }
    }
    if (droppedNonZero)
        top |= 1;
    if (droppedBits > DBL_MAX_EXP)
        return DBL_MAX;
    const double value = std::ldexp(static_cast<double>(top), static_cast<int>(droppedBits));
    return std::isinf(value) ? DBL_MAX : value;
}

// A non-zero finite number as 15 significant digits, correctly rounded from
// its exact binary value.
struct Decimal {
    char digits[kShownDigits + 1];
    int count = 0;          // 0 for the number zero
    int exp10 = 0;          // decimal exponent of digits[0]
    bool negative = false;
};

Decimal toDecimal(double value)
{
    Decimal d;
    if (std::isnan(value) || value == 0.0)
        return d;
    if (std::isinf(value))
        value = value > 0 ? DBL_MAX : -DBL_MAX;
    d.negative = value < 0;

    // "d.ddddddddddddddde+XXX"
    char buf[40];
    const char *end = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                    std::chars_format::scientific, kShownDigits - 1).ptr;
    d.digits[0] = buf[0];
    std::copy(buf + 2, buf + 1 + kShownDigits, d.digits + 1);
    d.count = kShownDigits;
    const char *e = buf + 2 + kShownDigits; // after 'e'
    const bool expNegative = *e == '-';
    int exp10 = 0;
    std::from_chars(e + 1, end, exp10);
    d.exp10 = expNegative ? -exp10 : exp10;

    while (d.count > 1 && d.digits[d.count - 1] == '0')
        --d.count;
    return d;
}

// The 15-digit decimal of value rounded half away from zero to the given
// number of decimals. The result has no trailing zeros; count 0 means zero.
Decimal roundedDecimal(double value, int decimals)
{
    Decimal d = toDecimal(value);
    if (d.count == 0)
        return d;
    // digits[i] stands for 10^(exp10 - i); the first dropped one is keep.
    const int keep = d.exp10 + decimals + 1;
    if (keep >= d.count)
        return d;
    if (keep < 0) {
        d.count = 0;
        return d;
    }
    const bool up = d.digits[keep] >= '5';
    d.count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9')
            --i;
        if (i < 0) {
            // 999.5 -> 1000: a single 1 one place higher.
            d.digits[0] = '1';
            d.count = 1;
            ++d.exp10;
        } else {
            ++d.digits[i];
            d.count = i + 1;
        }
    }
    while (d.count > 0 && d.digits[d.count - 1] == '0')
        --d.count;
    return d;
}

// After "&": the H (hexadecimal) or O (octal) digits; 0 for any other letter.
double prefixedNumber(Reader &in)
{
    const int c = in.peek();
    if (c == 'H' || c == 'h') {
        ++in.p;
        return radixValue(in, 4);
    }
    if (c == 'O' || c == 'o') {
        ++in.p;
        return radixValue(in, 3);
    }
    return 0.0;
}

// The significant digits of a decimal number, as read so far.
struct Digits {
    char kept[kKeptDigits + 1];
    int count = 0;            // 0 while only zeros have come
    bool restNonZero = false; // a non-zero digit beyond the kept ones
    // Decimal exponent of the first non-zero digit, once there is one; while
    // only zeros after the point have been read, minus their number.
    std::int64_t exp10 = 0;
};

// The digits with at most one decimal point, up to the first character that
// is neither.
void readDigits(Reader &in, Digits &d)
{
    bool seenPoint = false;
    for (;;) {
        const int c = in.peek();
        if (isDigit(c)) {
            ++in.p;
            if (d.count == 0) {
                if (seenPoint)
                    --d.exp10;
                if (c == '0')
                    continue;
            } else if (!seenPoint) {
                ++d.exp10;
            }
            if (d.count < kKeptDigits)
                d.kept[d.count++] = static_cast<char>(c);
            else
                d.restNonZero = d.restNonZero || c != '0';
        } else if (c == '.' && !seenPoint) {
            ++in.p;
            seenPoint = true;
        } else {
            return;
        }
    }
}

// After E or D: the exponent's sign and digits.
std::int64_t readExponent(Reader &in)
{
    int c = in.peek();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++in.p;
    }
    // Capped far outside the double range, so far that adding the position
    // of the first digit (below the text's length) cannot bring a capped
    // exponent back into it, and near enough that the sum cannot overflow.
    constexpr std::int64_t cap = 1'000'000'000'000'000;
    std::int64_t e = 0;
    while (isDigit(c = in.peek())) {
        ++in.p;
        if (e < cap)
            e = e * 10 + (c - '0');
    }
    return negative ? -e : e;
}

// Val's reading; leaves the reader after the last character of the number.
double readNumber(Reader &in)
{
    int c = in.peek();
    if (c == '&') {
        ++in.p;
        return prefixedNumber(in);
    }
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++in.p;
    }
    Digits d;
    readDigits(in, d);
    if (d.count == 0) // no digits, or only zeros
        return 0.0;
    c = in.peek();
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        ++in.p;
        d.exp10 += readExponent(in);
    }
    if (d.restNonZero) {
        d.kept[d.count++] = '1';
    } else {
        while (d.kept[d.count - 1] == '0')
            --d.count;
    }
    return decimalToDouble(d.kept, d.count, d.exp10, negative);
}

} // namespace

double Val(std::string_view text)
{
    Reader in { text.data(), text.data() + text.size() };
    return readNumber(in);
}

double Val(std::string_view text, bool &whole)
{
    Reader in { text.data(), text.data() + text.size() };
    const double value = readNumber(in);
    whole = in.peek() < 0;
    return value;
}

std::string Str(double value)
{
    const Decimal d = toDecimal(value);
    if (d.count == 0)
        return " 0";

    std::string out;
    out.reserve(24);
    out += d.negative ? '-' : ' ';
    const std::string_view digits(d.digits, static_cast<std::size_t>(d.count));
    if (d.exp10 < -4 || d.exp10 >= kShownDigits) {
        out += digits[0];
        if (d.count > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'E';
        out += d.exp10 < 0 ? '-' : '+';
        const int e = std::abs(d.exp10);
        if (e < 10)
            out += '0';
        char buf[8];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, e).ptr);
    } else if (d.exp10 < 0) {
        out += '.';
        out.append(static_cast<std::size_t>(-d.exp10 - 1), '0');
        out += digits;
    } else {
        const std::size_t whole = static_cast<std::size_t>(d.exp10) + 1;
        if (digits.size() <= whole) {
            out += digits;
            out.append(whole - digits.size(), '0');
        } else {
            out += digits.substr(0, whole);
            out += '.';
            out += digits.substr(whole);
        }
    }
    return out;
}

std::string Format(double value, std::string_view pattern)
{
    // The placeholder group: zeros, optionally followed by a point and more
    // zeros, or a point directly followed by zeros.
    std::size_t start = 0;
    while (start < pattern.size()
           && !(pattern[start] == '0'
                || (pattern[start] == '.' && start + 1 < pattern.size() && pattern[start + 1] == '0')))
        ++start;
    if (start == pattern.size())
        return std::string(pattern);

    std::size_t pos = start;
    std::size_t intZeros = 0;
    while (pos < pattern.size() && pattern[pos] == '0') {
        ++pos;
        ++intZeros;
    }
    bool point = false;
    std::size_t decimals = 0;
    if (pos < pattern.size() && pattern[pos] == '.') {
        point = true;
        ++pos;
        while (pos < pattern.size() && pattern[pos] == '0') {
            ++pos;
            ++decimals;
        }
    }

    // Rounding to more decimals than a double has digits changes nothing.
    const int roundAt = static_cast<int>(std::min<std::size_t>(decimals, 400));
    const Decimal d = roundedDecimal(value, roundAt);
    auto digitAt = [&d](int exponent) {
        const int i = d.exp10 - exponent;
        return i >= 0 && i < d.count ? d.digits[i] : '0';
    };

    std::string out;
    if (d.count > 0 && d.negative)
        out += '-';
    out += pattern.substr(0, start);
    const std::size_t wholeDigits =
        d.count > 0 && d.exp10 >= 0 ? static_cast<std::size_t>(d.exp10) + 1 : 0;
    if (intZeros > wholeDigits)
        out.append(intZeros - wholeDigits, '0');
    for (int e = static_cast<int>(wholeDigits) - 1; e >= 0; --e)
        out += digitAt(e);
    if (point)
        out += '.';
    for (std::size_t j = 1; j <= decimals; ++j)
        out += j <= 400 ? digitAt(-static_cast<int>(j)) : '0';
    out += pattern.substr(pos);
    return out;
}

std::string PlainText(std::int64_t value)
{
    char buf[24];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

double RoundTo(double value, int decimals)
{
    if (std::isnan(value))
        return 0.0;
    if (std::isinf(value))
        return value > 0 ? DBL_MAX : -DBL_MAX;
    // Whole numbers below 1E15 show all their digits and need no rounding.
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return value + 0.0; // -0 reads back as 0
    const Decimal d = roundedDecimal(value, std::clamp(decimals, 0, 400));
    if (d.count == 0)
        return 0.0;
    return decimalToDouble(d.digits, d.count, d.exp10, d.negative);
}

} // namespace ferro
