// The contents of a vindlectl --from file, CSV or plain list: every target
// it yields must print and read back as itself, a refusal names the line
// and yields nothing, and a CSV record written back field by field splits
// into the same fields.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/targets.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/target_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const TargetListParse list = ParseTargetList(text);
    if (!list.error.empty()) {
        FUZZ_CHECK(list.targets.empty());
        FUZZ_CHECK(list.error.rfind("line ", 0) == 0);
    }
    for (const Target& target : list.targets)
        CheckTarget(target);

    // Each line as one CSV record.
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const auto fields = SplitCsvLine(line);
        if (!fields)
            continue;
        FUZZ_CHECK(!fields->empty());
        std::string written;
        for (std::size_t i = 0; i < fields->size(); ++i)
            written += (i == 0 ? "" : ",") + CsvField((*fields)[i]);
        const auto again = SplitCsvLine(written);
        FUZZ_CHECK(again && *again == *fields);
    }
    return 0;
}
