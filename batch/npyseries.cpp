#include "batch/npyseries.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace ferro::batch {

namespace {

void appendLittleEndian(std::string &bytes, std::uint64_t bits)
{
    for (int b = 0; b < 8; ++b)
        bytes += static_cast<char>((bits >> (8 * b)) & 0xff);
}

} // namespace

bool NpySeries::convert(std::string_view lines, std::string &bytes)
{
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        if (end == std::string_view::npos)
            return false; // whole lines only
        const std::string_view line = lines.substr(0, end);
        lines.remove_prefix(end + 1);
        if (m_headed) {
            if (!record(line, bytes))
                return false;
            ++m_rows;
            continue;
        }
        for (std::size_t from = 0; from <= line.size();) {
            const std::size_t comma = std::min(line.find(',', from), line.size());
            const std::string name(line.substr(from, comma - from));
            if (name.empty() || name.find_first_of("'\\") != std::string::npos)
                return false;
            m_names.push_back(name);
            m_kinds.push_back(name == "temperature" || name == "energy" || name == "magnetization" ? Kind::Float
                              : name == "seed" || name == "stream"                               ? Kind::Unsigned
                                                                                                  : Kind::Signed);
            from = comma + 1;
        }
        m_headed = true;
        const std::string head = header();
        if (head.size() != HeaderBytes)
            return false;
        bytes += head;
    }
    return true;
}

std::string NpySeries::header() const
{
    std::string dict = "{'descr': [";
    for (std::size_t c = 0; c < m_names.size(); ++c)
        dict += std::string(c ? ", " : "") + "('" + m_names[c] + "', '<" + char(m_kinds[c]) + "8')";
    dict += "], 'fortran_order': False, 'shape': (" + std::to_string(m_rows) + ",), }";
    const std::size_t prefix = 10; // magic, version, header length
    if (prefix + dict.size() + 1 > HeaderBytes)
        return {};
    dict.resize(HeaderBytes - prefix - 1, ' ');
    dict += '\n';
    const std::size_t length = dict.size();
    std::string out = "\x93NUMPY";
    out += '\x01';
    out += '\x00';
    out += static_cast<char>(length & 0xff);
    out += static_cast<char>(length >> 8);
    return out + dict;
}

// One record: each field as the text reads (the series writes the shortest
// text that reads back as the same double, so the doubles are the very
// numbers of the run); an empty float field is NaN.
bool NpySeries::record(std::string_view line, std::string &bytes) const
{
    std::size_t from = 0;
    for (std::size_t c = 0; c < m_kinds.size(); ++c) {
        const std::size_t comma = std::min(line.find(',', from), line.size());
        if (from > line.size() || (c + 1 == m_kinds.size()) != (comma == line.size()))
            return false;
        const char *first = line.data() + from, *last = line.data() + comma;
        std::uint64_t bits = 0;
        std::from_chars_result read {last, std::errc()};
        if (m_kinds[c] == Kind::Float) {
            double x = std::numeric_limits<double>::quiet_NaN();
            if (first != last)
                read = std::from_chars(first, last, x);
            std::memcpy(&bits, &x, sizeof bits);
        } else if (m_kinds[c] == Kind::Unsigned) {
            read = std::from_chars(first, last, bits);
        } else {
            std::int64_t n = 0;
            read = std::from_chars(first, last, n);
            bits = static_cast<std::uint64_t>(n);
        }
        if (read.ec != std::errc() || read.ptr != last || (first == last && m_kinds[c] != Kind::Float))
            return false;
        appendLittleEndian(bytes, bits);
        from = comma + 1;
    }
    return true;
}

} // namespace ferro::batch
