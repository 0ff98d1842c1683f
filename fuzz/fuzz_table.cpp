// The reader of saved tables, which --merge and --plot-table trust with any
// file: no input may crash it, make it hold a field beyond its column's
// limit, or give a row of another width than its header; every refusal is
// one line naming the file; and a field as the tables write it reads back.
#include "fuzz/fuzzcommon.h"
#include "table/csv.h"

#include <string>

namespace {

void checkRefusal(const ferro::batch::TableReader &reader)
{
    const std::string &e = reader.error();
    fuzz::check(e.rfind("fuzz.csv", 0) == 0 && e.find('\n') == std::string::npos, "one line naming the file",
                fuzz::quoted(e));
}

void readTable(std::string_view text)
{
    auto reader = ferro::batch::TableReader::ofText("fuzz.csv", std::string(text));
    if (!reader.readHeader()) {
        checkRefusal(reader);
        return;
    }
    const auto &columns = reader.columns();
    fuzz::check(!columns.empty() && columns.size() <= ferro::batch::MaxColumns, "header width");
    while (reader.readRow()) {
        const auto &fields = reader.fields();
        fuzz::check(fields.size() == columns.size(), "row as wide as its header", fuzz::quoted(reader.line()));
        for (std::size_t f = 0; f < fields.size(); ++f)
            fuzz::check(fields[f].size() <= ferro::batch::fieldLimit(columns[f]), "field within its limit",
                        columns[f] + ": " + fuzz::quoted(fields[f]));
    }
    if (!reader.error().empty())
        checkRefusal(reader);
}

// A factor file's name, written as a table writes it, reads back whole.
void fieldReadsBack(std::string_view text)
{
    const std::string name(text.substr(0, ferro::batch::MaxNameText));
    if (name.find('\0') != std::string::npos)
        return;
    auto reader = ferro::batch::TableReader::ofText("fuzz.csv", "factors,point\n" + ferro::batch::csvField(name)
                                                                     + ",0\n");
    fuzz::check(reader.readHeader() && reader.readRow(), "written field read", reader.error());
    fuzz::check(reader.fields()[0] == name, "field reads back", fuzz::quoted(name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] % 4 == 0)
        fieldReadsBack(text);
    else
        readTable(text);
    return 0;
}
