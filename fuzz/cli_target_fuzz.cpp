// One vindlectl target as typed on the command line, through every parser
// of command-line values. Whatever is accepted must print and read back as
// itself; whatever is refused must say why.

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/targets.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/target_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const TargetParse parsed = ParseTarget(text);
    FUZZ_CHECK(parsed.target.has_value() == parsed.error.empty());
    if (parsed.target) {
        FUZZ_CHECK(parsed.target->text == text);
        CheckTarget(*parsed.target);
    }

    // The pieces alone: an accepted address is the dotted quad it prints as.
    if (const auto ip = ParseIpv4(text))
        FUZZ_CHECK(ParseIpv4(FormatIpv4(*ip)) == ip);
    if (const auto mac = ParseMac(text))
        FUZZ_CHECK(ParseMac(FormatMac(*mac)) == mac);
    if (const auto range = ParseCidr(text)) {
        FUZZ_CHECK(RangeContains(*range, range->network));
        // Host bits are cleared, so the address as written is in the range.
        const auto base = ParseIpv4(text.substr(0, text.find('/')));
        FUZZ_CHECK(base && RangeContains(*range, *base));
    }
    if (const auto ports = ParsePortRange(text)) {
        FUZZ_CHECK(ports->low >= 1024 && ports->low <= ports->high && ports->high <= 65534);
        const auto again = ParsePortRange(std::to_string(ports->low) + "-" + std::to_string(ports->high));
        FUZZ_CHECK(again && again->low == ports->low && again->high == ports->high);
    }
    return 0;
}
