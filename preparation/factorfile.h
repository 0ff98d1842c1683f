#pragma once
// Factor files: the texts of the temperature-factor designer as L lines of L
// comma-separated texts (L = 20 for the window), row by row, each text read as
// the designer box of that site reads it (empty means 1). Read by both programs, written by
// the batch program's --write-factors. Standard C++ only.

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
    // columns counted in bytes) for the text, "NAME:LINE:COLUMN: ..." for a file.
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads the text of a factor file of `side` lines of `side` texts. Lines end
// in LF or CR LF; the last line may lack its line end, and empty lines after
// the last are ignored. Never fails
// on any other content: every text is taken as it stands, blanks included.
FactorFileResult parseFactorText(std::string_view text, int side = Side);

// Reads a factor file; errors name the file.
FactorFileResult readFactorFile(const std::string &path, int side = Side);

// The file text of side * side texts, which parseFactorText reads back
// unchanged provided no text holds a comma, CR or LF.
std::string factorFileText(const FactorTexts &texts, int side = Side);

// The texts of a pattern on a side x side lattice (rows and columns counted
// from 0; Q = side / 4 rounded down):
//   uniform:F      every site F
//   gradient:A:B   columns from A on the left to B on the right, linearly
//   stripe:F       rows Q to side - Q - 1 F (5 to 14 at 20), the others 1 (empty)
//   spot:F         the sites within side / 4 of the centre F (5 at 20), the
//                  others 1 (empty)
// Factors must be numbers above 0. Error: one line naming what is wrong.
FactorFileResult factorPattern(std::string_view pattern, int side = Side);

} // namespace ferro
