#pragma once
// Factor files: the 400 texts of the temperature-factor designer as 20 lines
// of 20 comma-separated texts, row by row, each text read as the designer box
// of that site reads it (empty means 1). Read by both programs, written by
// the batch program's --write-factors. Standard C++ only.

#include "core/lattice.h"

#include <array>
#include <string>
#include <string_view>

namespace ferro {

using FactorTexts = std::array<std::string, Sites>;

// The longest text a designer box holds.
constexpr std::size_t MaxFactorText = 32767;

struct FactorFileResult {
    FactorTexts texts;
    // Empty on success, else one line: "LINE:COLUMN: what is wrong" (1-based,
    // columns counted in bytes) for the text, "NAME:LINE:COLUMN: ..." for a file.
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads the text of a factor file. Lines end in LF or CR LF; the last line may
// lack its line end, and empty lines after the 20th are ignored. Never fails
// on any other content: every text is taken as it stands, blanks included.
FactorFileResult parseFactorText(std::string_view text);

// Reads a factor file; errors name the file.
FactorFileResult readFactorFile(const std::string &path);

// The file text of 400 texts, which parseFactorText reads back unchanged
// provided no text holds a comma, CR or LF.
std::string factorFileText(const FactorTexts &texts);

// The texts of a pattern:
//   uniform:F      every site F
//   gradient:A:B   columns from A on the left to B on the right, linearly
//   stripe:F       rows 5 to 14 F, the other rows 1 (empty)
//   spot:F         the sites within 5 of the centre F, the others 1 (empty)
// Factors must be numbers above 0. Error: one line naming what is wrong.
FactorFileResult factorPattern(std::string_view pattern);

} // namespace ferro
