// vindlectl's CSV writer over whatever a box may send: the input is split
// into cells at each 0x1f. The record is one line with no control byte, it
// splits back into as many cells, none of them starts a formula, and a cell
// of plain text reads back as itself.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/safe_text.h"
#include "cli/targets.h"
#include "fuzz/fuzz_check.h"

namespace {

bool HasControl(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7f || (c == 0xc2 && next >= 0x80 && next <= 0x9f))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> cells;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\x1f', start);
        cells.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    for (const std::string& cell : cells)
        FUZZ_CHECK(!HasControl(EscapeControls(cell)));

    const std::string record = CsvRecord(cells);
    FUZZ_CHECK(!record.empty() && record.back() == '\n');
    const std::string_view line(record.data(), record.size() - 1);
    FUZZ_CHECK(!HasControl(line));
    const auto fields = SplitCsvLine(line);
    FUZZ_CHECK(fields && fields->size() == cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string& field = (*fields)[i];
        FUZZ_CHECK(field.empty() ||
                   std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos);
        if (EscapeControls(cells[i]) == cells[i] && NeutraliseCsvCell(cells[i]) == cells[i])
            FUZZ_CHECK(field == cells[i]);
    }
    return 0;
}
