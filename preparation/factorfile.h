#pragma once
// Factor files: the texts of the temperature-factor designer as L lines of L
// comma-separated texts (L = 20 for the window), row by row, each text read as
// the designer box of that site reads it (empty means 1). Read by both
// programs, written by the batch program's --write-factors. Standard C++ and
// POSIX.

#include "core/lattice.h"

#include <string>
#include <string_view>
#include <vector>

namespace ferro {

// The texts of a factor file, row by row: L * L of them.
using FactorTexts = std::vector<std::string>;

// The longest text a designer box holds.
constexpr std::size_t MaxFactorText = 32767;

struct FactorFileResult {
    FactorTexts texts;
    // Empty on success, else one line: "LINE:COLUMN: what is wrong" (1-based,
    // columns counted in bytes after any byte-order mark) for the text,
    // "NAME:LINE:COLUMN: ..." or "NAME: ..." for a file.
    std::string error;
    // One line for each text that is not a complete number above 0, in the
    // same form as the error: where it stands and what the site's factor
    // becomes. The file is still read; the designer reads such texts alike.
    std::vector<std::string> warnings;
    bool ok() const { return error.empty(); }
};

// Reads the text of a factor file of `side` lines of `side` texts. One
// leading UTF-8 byte-order mark is skipped. Lines end in LF, CR LF or CR; the
// last line may lack its line end, and blank lines after the last are
// ignored. Every text is taken as it stands, blanks included. The text is
// refused at the first byte that makes it impossible: a text of more than
// 32767 characters, a field or a line too many, or more bytes than the
// longest factor file has (its lines full, ending in CR LF, after a
// byte-order mark), so that no input is held beyond that size.
FactorFileResult parseFactorText(std::string_view text, int side = Side);

// Reads a factor file as parseFactorText does, as a stream in small pieces:
// reading stops at the first impossible byte, so a device that never ends or
// a huge file costs no more than the longest factor file. Messages name the
// file; one that cannot be read gives the system's reason.
FactorFileResult readFactorFile(const std::string &path, int side = Side);

// The file text of side * side texts, which parseFactorText reads back
// unchanged provided no text holds a comma, CR or LF.
std::string factorFileText(const FactorTexts &texts, int side = Side);

// A text in single quotes for a one-line message: control bytes written as
// \xNN, anything beyond 60 bytes cut off with "...".
std::string messageQuote(std::string_view text);

// The texts of a pattern:
//   uniform:F      every site F
//   gradient:A:B   columns from A on the left to B on the right, linearly
//   stripe:F       rows 5 to 14 F, the other rows 1 (empty)
//   spot:F         the sites within 5 of the centre F, the others 1 (empty)
// Factors must be numbers above 0. Error: one line naming what is wrong.
FactorFileResult factorPattern(std::string_view pattern);

} // namespace ferro
