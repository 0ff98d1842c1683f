#pragma once
// A series written as a NumPy array file (.npy, format version 1.0): the
// magic "\x93NUMPY", the version 1 0, a little-endian 2-byte header length,
// then a Python dict literal naming the fields of one record ('descr': a
// list of (name, '<f8' | '<i8' | '<u8')), 'fortran_order': False and
// 'shape': (rows,), padded with blanks and a line end to a multiple of 64
// bytes; then the records, little-endian, one after another. numpy.load,
// Julia's NPZ and R's RcppCNpy read it directly.
//
// The series is made as CSV text (the same rows --series writes) and turned
// into records piece by piece, so memory stays flat. The row count is not
// known until the end: the header is written first with room for any count
// (a fixed 256 bytes) and written again over itself when the file is closed.
// Standard C++ only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferro::batch {

class NpySeries {
public:
    // The CSV header line's columns become the fields: temperature, energy
    // and magnetization doubles ('<f8'), seed and stream unsigned ('<u8'),
    // the rest signed integers ('<i8').
    // Turns whole CSV lines into bytes to write: the first line (the CSV
    // header) gives the array's header (with 0 rows), every later line one
    // record. False for a line whose fields do not fit the header.
    bool convert(std::string_view lines, std::string &bytes);
    // The array's header for the records converted so far, the same length
    // as the first: to be written over it at the end.
    std::string header() const;
    std::int64_t rows() const { return m_rows; }

    static constexpr std::size_t HeaderBytes = 256;

private:
    enum class Kind : char { Float = 'f', Signed = 'i', Unsigned = 'u' };
    bool record(std::string_view line, std::string &bytes) const;
    std::vector<std::string> m_names;
    std::vector<Kind> m_kinds;
    std::int64_t m_rows = 0;
    bool m_headed = false;
};

} // namespace ferro::batch
