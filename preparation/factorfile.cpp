#include "preparation/factorfile.h"

#include "stdruntime/textfields.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

namespace ferro {

namespace {

FactorFileResult failure(std::size_t line, std::size_t column, const std::string &what)
{
    FactorFileResult r;
    r.error = std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    return r;
}

std::string expected(int side)
{
    const std::string n = std::to_string(side);
    return "a factor file has " + n + " lines of " + n + " comma-separated factors";
}

std::string ordinal(int n)
{
    const int tens = n % 100, ones = n % 10;
    const char *suffix = tens >= 11 && tens <= 13 ? "th" : ones == 1 ? "st" : ones == 2 ? "nd" : ones == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

} // namespace

FactorFileResult parseFactorText(std::string_view text, int side)
{
    const std::string Expected = expected(side);
    const std::size_t Lines = std::size_t(side);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    while (lines.size() > Lines && lines.back().empty())
        lines.pop_back();
    if (lines.size() < Lines)
        return failure(lines.size() + 1, 1,
                       "the file ends after " + std::to_string(lines.size())
                           + (lines.size() == 1 ? " line; " : " lines; ") + Expected);
    if (lines.size() > Lines)
        return failure(Lines + 1, 1, "a line after the " + ordinal(side) + "; " + Expected);

    FactorFileResult result;
    result.texts.resize(std::size_t(side) * std::size_t(side));
    for (int i = 0; i < side; ++i) {
        const std::string_view line = lines[i];
        std::size_t start = 0;
        for (int j = 0;; ++j) {
            const std::size_t comma = line.find(',', start);
            const std::string_view field = line.substr(start, comma == std::string_view::npos ? comma : comma - start);
            if (j == side)
                return failure(i + 1, start + 1, "a " + ordinal(side + 1) + " field; " + Expected);
            if (field.size() > MaxFactorText)
                return failure(i + 1, start + 1,
                               "a factor text of " + std::to_string(field.size()) + " characters; a box holds at most 32767");
            result.texts[std::size_t(side) * std::size_t(i) + std::size_t(j)] = std::string(field);
            if (comma == std::string_view::npos) {
                if (j + 1 < side)
                    return failure(i + 1, line.size() + 1,
                                   "the line ends after " + std::to_string(j + 1) + " fields; " + Expected);
                break;
            }
            start = comma + 1;
        }
    }
    return result;
}

FactorFileResult readFactorFile(const std::string &path, int side)
{
    std::ifstream in(path, std::ios::binary);
    FactorFileResult result;
    if (!in) {
        result.error = path + ": cannot be read: " + std::strerror(errno);
        return result;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        result.error = path + ": cannot be read: " + std::strerror(errno ? errno : EIO);
        return result;
    }
    result = parseFactorText(content.str(), side);
    if (!result.ok())
        result.error = path + ":" + result.error;
    return result;
}

std::string factorFileText(const FactorTexts &texts, int side)
{
    std::string out;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            if (j > 0)
                out += ',';
            out += texts[std::size_t(side) * std::size_t(i) + std::size_t(j)];
        }
        out += '\n';
    }
    return out;
}

FactorFileResult factorPattern(std::string_view pattern, int side)
{
    FactorFileResult result;
    const std::vector<std::string_view> fields = splitList(pattern, ':');
    const std::string_view name = fields[0];
    std::vector<double> values;
    for (std::size_t f = 1; f < fields.size(); ++f) {
        const std::string_view item = fields[f];
        double value = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
        if (ec != std::errc() || end != item.data() + item.size() || item.empty() || !std::isfinite(value)
            || value <= 0) {
            result.error = messageQuote(item) + " in " + messageQuote(pattern) + " is not a factor above 0";
            return result;
        }
        values.push_back(value);
    }
    const std::size_t wanted = name == "gradient" ? 2 : 1;
    if (name != "uniform" && name != "gradient" && name != "stripe" && name != "spot") {
        result.error = messageQuote(pattern) + " is none of uniform:F, gradient:A:B, stripe:F, spot:F";
        return result;
    }
    if (values.size() != wanted) {
        result.error = messageQuote(name) + " takes " + (wanted == 2 ? "two factors, as gradient:0.5:2" : "one factor, as " + std::string(name) + ":2");
        return result;
    }
    // The patterns scale with the side L (at L = 20: the stripe rows 5 to 14,
    // counted from 0, and the spot of radius 5).
    const int last = side - 1, quarter = side / 4;
    const double radius = side / 4.0;
    result.texts.resize(std::size_t(side) * std::size_t(side));
    for (std::size_t k = 0; k < result.texts.size(); ++k) {
        const int i = int(k / std::size_t(side)), j = int(k % std::size_t(side));
        const double di = i - last / 2.0, dj = j - last / 2.0;
        if (name == "uniform")
            result.texts[k] = numberText(values[0]);
        else if (name == "gradient")
            result.texts[k] = numberText(values[0] + (values[1] - values[0]) * j / last, 6);
        else if (name == "stripe")
            result.texts[k] = i >= quarter && i < side - quarter ? numberText(values[0]) : std::string();
        else
            result.texts[k] = di * di + dj * dj <= radius * radius ? numberText(values[0]) : std::string();
    }
    return result;
}

} // namespace ferro
