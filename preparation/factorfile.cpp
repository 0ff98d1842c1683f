#include "preparation/factorfile.h"

#include "core/flip.h"
#include "stdruntime/textconv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro {

namespace {

// Shortest text that reads back as the same double, or the value to this many
// significant digits; in any locale.
std::string numberText(double value, int digits = 0)
{
    char buf[64];
    const auto end = digits > 0 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits).ptr
                                : std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::string(buf, end);
}

std::string counted(std::size_t n, const char *what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Reads a factor file's bytes piece by piece and stops at the first that
// makes it impossible; nothing but the texts themselves is kept.
class FactorReader {
public:
    explicit FactorReader(int side)
        : m_side(static_cast<std::size_t>(side))
        , m_expected("a factor file has " + std::to_string(side) + " lines of " + std::to_string(side)
                     + " comma-separated factors")
    {
        m_maxBytes = Bom.size() + m_side * (m_side * MaxFactorText + (m_side - 1) + 2);
        m_result.texts.assign(m_side * m_side, std::string());
    }

    // False once the text is impossible.
    bool feed(std::string_view piece)
    {
        for (const char c : piece) {
            if (m_bomMatched >= 0) {
                if (c == Bom[m_bomMatched]) {
                    if (++m_bomMatched == static_cast<int>(Bom.size()))
                        m_bomMatched = -1;
                    continue;
                }
                const int matched = m_bomMatched;
                m_bomMatched = -1;
                for (int k = 0; k < matched; ++k)
                    if (!take(Bom[k]))
                        return false;
            }
            if (!take(c))
                return false;
        }
        return true;
    }

    FactorFileResult finish()
    {
        if (m_bomMatched > 0) { // the whole text is the start of a byte-order mark
            const int matched = m_bomMatched;
            m_bomMatched = -1;
            for (int k = 0; k < matched && m_result.ok(); ++k)
                take(Bom[k]);
        }
        if (m_result.ok() && m_line <= m_side && m_column > 1)
            endLine(); // the last line without its line end
        if (m_result.ok() && m_line <= m_side)
            fail(m_line, 1, "the file ends after " + counted(m_line - 1, "line") + "; " + m_expected);
        return std::move(m_result);
    }

private:
    static constexpr std::string_view Bom = "\xEF\xBB\xBF";

    bool take(char c)
    {
        if (++m_bytes > m_maxBytes)
            return fail(m_line, m_column,
                        "the file is longer than any factor file can be (" + std::to_string(m_side) + " lines of "
                            + std::to_string(m_side) + " texts of at most 32767 characters)");
        if (m_afterCR) {
            m_afterCR = false;
            if (c == '\n')
                return true; // the second byte of a CR LF
        }
        if (c == '\n' || c == '\r') {
            m_afterCR = c == '\r';
            return endLine();
        }
        if (m_line > m_side)
            return fail(m_line, m_column, "a line after the " + ordinal(m_side) + "; " + m_expected);
        if (c == ',') {
            if (!endField())
                return false;
            ++m_column;
            if (++m_field == m_side)
                return fail(m_line, m_column, "a " + ordinal(m_side + 1) + " field; " + m_expected);
            m_fieldColumn = m_column;
            return true;
        }
        std::string &text = m_result.texts[(m_line - 1) * m_side + m_field];
        if (text.size() == MaxFactorText)
            return fail(m_line, m_column, "a factor text of more than 32767 characters; a box holds at most 32767");
        text += c;
        ++m_column;
        return true;
    }

    bool endLine()
    {
        if (m_line <= m_side) {
            endField();
            if (m_field + 1 < m_side)
                return fail(m_line, m_column,
                            "the line ends after " + counted(m_field + 1, "field") + "; " + m_expected);
        }
        ++m_line;
        m_column = m_fieldColumn = 1;
        m_field = 0;
        return true;
    }

    // A text that is not a complete number above 0 is read as the designer
    // reads it, with a warning that says what it becomes.
    bool endField()
    {
        const std::string &text = m_result.texts[(m_line - 1) * m_side + m_field];
        if (text.empty())
            return true;
        bool whole = false;
        const double value = Val(text, whole);
        if (!whole || value <= 0)
            m_result.warnings.push_back(std::to_string(m_line) + ":" + std::to_string(m_fieldColumn) + ": "
                                        + messageQuote(text)
                                        + (whole ? " is not above 0" : " is not a complete number")
                                        + "; the site's factor becomes " + numberText(siteFactor(text), 15));
        return true;
    }

    bool fail(std::size_t line, std::size_t column, const std::string &what)
    {
        m_result.error = std::to_string(line) + ":" + std::to_string(column) + ": " + what;
        return false;
    }

    static std::string ordinal(std::size_t n)
    {
        const char *suffix = n % 100 / 10 == 1 ? "th" : n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
        return std::to_string(n) + suffix;
    }

    const std::size_t m_side;
    const std::string m_expected;
    std::uint64_t m_maxBytes = 0;
    std::uint64_t m_bytes = 0;
    int m_bomMatched = 0; // bytes of a leading byte-order mark seen; -1 once decided
    bool m_afterCR = false;
    std::size_t m_line = 1, m_column = 1, m_fieldColumn = 1;
    std::size_t m_field = 0; // of the line, from 0
    FactorFileResult m_result;
};

} // namespace

FactorFileResult parseFactorText(std::string_view text, int side)
{
    FactorReader reader(side);
    reader.feed(text);
    return reader.finish();
}

FactorFileResult readFactorFile(const std::string &path, int side)
{
    FactorFileResult result;
    const auto failure = [&](const std::string &what) {
        result.error = path + ": " + what;
        return result;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(std::string("cannot be read: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return failure("is a directory, not a factor file");
    }
    FactorReader reader(side);
    char piece[65536];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return failure(std::string("cannot be read: ") + std::strerror(err));
        }
        if (n == 0 || !reader.feed(std::string_view(piece, static_cast<std::size_t>(n))))
            break;
    }
    ::close(fd);
    result = reader.finish();
    if (!result.ok())
        result.error = path + ":" + result.error;
    for (std::string &warning : result.warnings)
        warning = path + ":" + warning;
    return result;
}

std::string factorFileText(const FactorTexts &texts, int side)
{
    std::string out;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            if (j > 0)
                out += ',';
            out += texts[static_cast<std::size_t>(i * side + j)];
        }
        out += '\n';
    }
    return out;
}

std::string messageQuote(std::string_view text)
{
    std::string out = "'";
    for (const unsigned char c : text.substr(0, 60)) {
        if (c < 0x20 || c == 0x7f) {
            const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + (text.size() > 60 ? "...'" : "'");
}

FactorFileResult factorPattern(std::string_view pattern)
{
    FactorFileResult result;
    result.texts.assign(Sites, std::string());
    const std::size_t colon = pattern.find(':');
    const std::string_view name = pattern.substr(0, colon);
    std::vector<double> values;
    std::string_view rest = colon == std::string_view::npos ? std::string_view() : pattern.substr(colon + 1);
    while (colon != std::string_view::npos) {
        const std::size_t next = rest.find(':');
        const std::string_view item = rest.substr(0, next);
        double value = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
        if (ec != std::errc() || end != item.data() + item.size() || item.empty() || !std::isfinite(value)
            || value <= 0) {
            result.error = messageQuote(item) + " in " + messageQuote(pattern) + " is not a factor above 0";
            return result;
        }
        values.push_back(value);
        if (next == std::string_view::npos)
            break;
        rest = rest.substr(next + 1);
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
