// Request names against home entries as the INI file can configure them:
// one bare home directory or up to eight aliases.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <string>

#include "fuzz/path_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    std::array<TftpHomeEntry, TFTP_MAX_HOMES> homes{};
    const bool bare = input.ConsumeBool();
    const std::size_t count = bare ? 1 : input.ConsumeIntegralInRange<std::size_t>(0, TFTP_MAX_HOMES);
    for (std::size_t i = 0; i < count; ++i) {
        if (!bare) {
            // What the [HOME] reader lets through: 1..63 characters, none
            // of "/\><.".
            std::string alias = input.ConsumeRandomLengthString(TFTP_MAX_ALIAS);
            std::erase_if(
                alias, [](char c) { return std::string_view("/\\><.").find(c) != std::string_view::npos; });
            if (alias.empty())
                alias = "a" + std::to_string(i);
            homes[i].alias = alias;
        }
        homes[i].path = input.ConsumeRandomLengthString(80);
        if (homes[i].path.empty() || homes[i].path.back() != '/')
            homes[i].path += '/';
    }
    if (!bare && count == 0)
        homes[0].path = "/srv/tftp/";  // a bare home; the rest stay unused
    const std::string name = input.ConsumeRemainingBytesAsString();

    const TftpPathResult result = ResolveRequestName(name, homes);
    CheckResolution(name, homes, result);
    // The empty list has no home at all.
    const TftpPathResult none = ResolveRequestName(name, std::span<const TftpHomeEntry>());
    FUZZ_CHECK(!none.ok);
    return 0;
}
