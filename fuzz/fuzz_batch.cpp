// The batch program's inputs: the factor-file reader, the factor patterns
// and the command line. The first byte chooses; the rest is the text (for
// the command line, arguments separated by NUL bytes). None may crash, and
// every answer must keep its promises.
#include "preparation/factorfile.h"
#include "fuzz/fuzzcommon.h"
#include "batch/options.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

void factorFile(std::string_view text)
{
    const ferro::FactorFileResult r = ferro::parseFactorText(text);
    if (!r.ok()) {
        // "LINE:COLUMN: what", line and column from 1, one line.
        long line = 0, column = 0;
        fuzz::check(std::sscanf(r.error.c_str(), "%ld:%ld: ", &line, &column) == 2 && line >= 1 && column >= 1
                        && r.error.find('\n') == std::string::npos,
                    "factor-file error form", r.error);
        return;
    }
    bool plain = true;
    for (const std::string &t : r.texts) {
        fuzz::check(t.size() <= ferro::MaxFactorText && t.find(',') == std::string::npos
                        && t.find('\n') == std::string::npos,
                    "factor text", fuzz::quoted(t));
        plain = plain && (t.empty() || t.back() != '\r');
    }
    if (plain) {
        const ferro::FactorFileResult again = ferro::parseFactorText(ferro::factorFileText(r.texts));
        fuzz::check(again.ok() && again.texts == r.texts, "written factor file reads back", again.error);
    }
}

void pattern(std::string_view text)
{
    // Any side from 2 to 41, chosen by the text's length.
    const int side = 2 + int(text.size() % 40);
    const ferro::FactorFileResult r = ferro::factorPattern(text, side);
    if (r.ok()) {
        fuzz::check(r.texts.size() == std::size_t(side * side), "pattern of side x side texts");
        const ferro::FactorFileResult again = ferro::parseFactorText(ferro::factorFileText(r.texts, side), side);
        fuzz::check(again.ok() && again.texts == r.texts, "pattern file reads back", fuzz::quoted(text));
    }
}

void commandLine(std::string_view text)
{
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\0') {
            args.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    const ferro::batch::ParsedOptions p = ferro::batch::parseOptions(args);
    const std::string error = p.ok() ? ferro::batch::validate(p.options) : p.error;
    if (!error.empty()) {
        fuzz::check(error.find('\n') == std::string::npos, "error on one line", error);
        return;
    }
    const ferro::batch::Options &o = p.options;
    fuzz::check(o.temperatures.size() <= ferro::batch::MaxTemperatures
                    && o.temperatures.size() * o.sizes.size() <= ferro::batch::MaxPoints,
                "temperature and point count");
    for (double t : o.temperatures)
        fuzz::check(std::isfinite(t) && t >= 0.1, "temperature", fuzz::show(t));
    fuzz::check(o.help || o.version || o.merge || !o.plotTable.empty() || !o.writeFactorsPattern.empty()
                    || !o.temperatures.empty(),
                "temperatures given");
    fuzz::check(!o.sizes.empty(), "a size");
    for (std::size_t i = 0; i < o.sizes.size(); ++i)
        fuzz::check(o.sizes[i] >= 2 && o.sizes[i] <= 1024
                        && std::count(o.sizes.begin(), o.sizes.end(), o.sizes[i]) == 1,
                    "sizes from 2 to 1024, each once", std::to_string(o.sizes[i]));
    if (o.help || o.version)
        return;
    fuzz::check((o.factorsFile.empty() && o.writeFactorsPattern.empty()) || o.sizes.size() == 1,
                "one size for a factor file");
    fuzz::check(!o.stream || o.sizes.size() * o.temperatures.size() == 1, "--stream with one point");
    fuzz::check(o.sweeps >= 1 && o.sweeps <= ferro::batch::MaxSweeps && o.equilibrate >= 0
                    && o.equilibrate <= ferro::batch::MaxSweeps && o.seriesEvery >= 0 && o.jobs >= 0
                    && o.jobs <= ferro::batch::MaxJobs,
                "counts in range");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0:
        factorFile(text);
        break;
    case 1:
        commandLine(text);
        break;
    default:
        pattern(text);
        break;
    }
    return 0;
}
