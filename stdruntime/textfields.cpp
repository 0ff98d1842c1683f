#include "stdruntime/textfields.h"

#include <charconv>
#include <cmath>

namespace ferro {

std::optional<std::uint64_t> wholeNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const char *const end = text.data() + text.size();
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::string numberText(double value, int digits)
{
    if (std::isnan(value))
        return {};
    char buf[64];
    const auto end = digits > 0 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits).ptr
                                : std::to_chars(buf, buf + sizeof buf, value).ptr;
    return std::string(buf, end);
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

std::vector<std::string_view> splitList(std::string_view text, char separator, bool trimBlanks)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t end = text.find(separator);
        std::string_view field = text.substr(0, end);
        if (trimBlanks && !fields.empty())
            while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
                field.remove_prefix(1);
        fields.push_back(field);
        if (end == std::string_view::npos)
            return fields;
        text = text.substr(end + 1);
    }
}

} // namespace ferro
