#pragma once
// What every target vindlectl accepts must satisfy, shared by the targets
// that parse them: printed the way vindlectl prints it, it reads back as
// the same value, and a range holds the network it names.

#include <string>

#include "cli/targets.h"
#include "fuzz/fuzz_check.h"

inline void CheckTarget(const Target& target)
{
    switch (target.kind) {
    case TargetKind::Address: {
        const auto again = ParseIpv4(FormatIpv4(target.ip));
        FUZZ_CHECK(again && *again == target.ip);
        break;
    }
    case TargetKind::Mac: {
        const auto again = ParseMac(FormatMac(target.mac));
        FUZZ_CHECK(again && *again == target.mac);
        break;
    }
    case TargetKind::Range: {
        FUZZ_CHECK(target.range.prefix <= 32);
        FUZZ_CHECK(RangeContains(target.range, target.range.network));
        const auto again =
            ParseCidr(FormatIpv4(target.range.network) + "/" + std::to_string(target.range.prefix));
        FUZZ_CHECK(again && again->network == target.range.network && again->prefix == target.range.prefix);
        break;
    }
    }
    // Whatever kind it is, the target reads the same from its own text.
    const TargetParse again = ParseTarget(target.text);
    FUZZ_CHECK(again.target && *again.target == target);
}
