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

const std::string Expected = "a factor file has 20 lines of 20 comma-separated factors";

} // namespace

FactorFileResult parseFactorText(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    while (lines.size() > Side && lines.back().empty())
        lines.pop_back();
    if (lines.size() < Side)
        return failure(lines.size() + 1, 1,
                       "the file ends after " + std::to_string(lines.size())
                           + (lines.size() == 1 ? " line; " : " lines; ") + Expected);
    if (lines.size() > Side)
        return failure(Side + 1, 1, "a line after the 20th; " + Expected);

    FactorFileResult result;
    for (int i = 0; i < Side; ++i) {
        const std::string_view line = lines[i];
        std::size_t start = 0;
        for (int j = 0;; ++j) {
            const std::size_t comma = line.find(',', start);
            const std::string_view field = line.substr(start, comma == std::string_view::npos ? comma : comma - start);
            if (j == Side)
                return failure(i + 1, start + 1, "a 21st field; " + Expected);
            if (field.size() > MaxFactorText)
                return failure(i + 1, start + 1,
                               "a factor text of " + std::to_string(field.size()) + " characters; a box holds at most 32767");
            result.texts[cellIndex(i, j)] = std::string(field);
            if (comma == std::string_view::npos) {
                if (j + 1 < Side)
                    return failure(i + 1, line.size() + 1,
                                   "the line ends after " + std::to_string(j + 1) + " fields; " + Expected);
                break;
            }
            start = comma + 1;
        }
    }
    return result;
}

FactorFileResult readFactorFile(const std::string &path)
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
    result = parseFactorText(content.str());
    if (!result.ok())
        result.error = path + ":" + result.error;
    return result;
}

std::string factorFileText(const FactorTexts &texts)
{
    std::string out;
    for (int i = 0; i < Side; ++i) {
        for (int j = 0; j < Side; ++j) {
            if (j > 0)
                out += ',';
            out += texts[cellIndex(i, j)];
        }
        out += '\n';
    }
    return out;
}

FactorFileResult factorPattern(std::string_view pattern)
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
    for (int k = 0; k < Sites; ++k) {
        const int i = rowOf(k), j = columnOf(k);
        const double di = i - LastIndex / 2.0, dj = j - LastIndex / 2.0;
        if (name == "uniform")
            result.texts[k] = numberText(values[0]);
        else if (name == "gradient")
            result.texts[k] = numberText(values[0] + (values[1] - values[0]) * j / LastIndex, 6);
        else if (name == "stripe")
            result.texts[k] = i >= 5 && i <= 14 ? numberText(values[0]) : std::string();
        else
            result.texts[k] = di * di + dj * dj <= 25 ? numberText(values[0]) : std::string();
    }
    return result;
}

} // namespace ferro
