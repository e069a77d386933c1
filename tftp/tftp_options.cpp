// Option table and OACK builder; see tftp_options.h.

#include "tftp/tftp_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace {

// What a row grants: the value to echo, applied to the negotiation only if
// the echo fits.
struct Grant
{
    std::uint64_t echo;
    void (*apply)(TftpNegotiation&, std::uint64_t);
};

// No grant: the option is skipped like an unknown one.
using OptionHandler = std::optional<Grant> (*)(std::string_view value, const TftpOptionLimits& limits);

struct OptionRow
{
    const char* name;
    OptionHandler handler;
};

// RFC 2348: raised to 512 below it, limited to the configured maximum
// (itself never above 65464). The value is an unsigned 32-bit number, so a
// negative one is very large and gets the maximum.
std::optional<Grant> BlockSizeOption(std::string_view value, const TftpOptionLimits& limits)
{
    const std::uint64_t v = ParseDecimal(value) & 0xFFFFFFFFu;
    std::uint64_t granted = v < TFTP_MIN_BLKSIZE ? TFTP_MIN_BLKSIZE : v;
    if (granted > limits.maxBlockSize)
        granted = limits.maxBlockSize;
    return Grant{granted,
                 [](TftpNegotiation& n, std::uint64_t g) { n.blockSize = static_cast<std::uint32_t>(g); }};
}

// RFC 2349: the client's value is not used; the answer is the size of the
// opened local file (0 for a freshly created one during a write).
std::optional<Grant> TransferSizeOption(std::string_view, const TftpOptionLimits& limits)
{
    return Grant{limits.fileSize, [](TftpNegotiation&, std::uint64_t) {}};
}

// This server's own option: the interval in seconds, 1..120 (a negative
// value is very large and gets 120). The receive timeout is half of it.
std::optional<Grant> IntervalOption(std::string_view value, const TftpOptionLimits&)
{
    std::uint64_t v = ParseDecimal(value) & 0xFFFFFFFFu;
    if (v == 0)
        v = 1;
    if (v > TFTP_MAX_INTERVAL)
        v = TFTP_MAX_INTERVAL;
    return Grant{v, [](TftpNegotiation& n, std::uint64_t g) {
                     n.timeoutSeconds = TimeoutForInterval(static_cast<std::uint32_t>(g));
                 }};
}

// RFC 7440: the number of blocks sent before an acknowledgment is due,
// limited to the configured maximum. A server configured for lock-step does
// not know the option, and a value that is 0 or no number is skipped as if
// the option were unknown, so the transfer stays in lock-step.
std::optional<Grant> WindowSizeOption(std::string_view value, const TftpOptionLimits& limits)
{
    if (limits.maxWindowSize <= 1)
        return std::nullopt;
    const std::string_view digits = SkipLeadingSpace(value);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9')
        return std::nullopt;
    const std::uint64_t v = ParseDecimal(digits);
    if (v == 0)
        return std::nullopt;
    return Grant{std::min<std::uint64_t>(v, limits.maxWindowSize),
                 [](TftpNegotiation& n, std::uint64_t g) { n.windowSize = static_cast<std::uint32_t>(g); }};
}

constexpr OptionRow OPTION_TABLE[] = {
    {TFTP_OPT_BLKSIZE, BlockSizeOption},
    {TFTP_OPT_TSIZE, TransferSizeOption},
    {TFTP_OPT_INTERVAL, IntervalOption},
    {TFTP_OPT_WINDOWSIZE, WindowSizeOption},
};

bool Append(TftpNegotiation& n, std::string_view text)
{
    if (n.oackLength + text.size() + 1 > n.oack.size())
        return false;
    std::memcpy(n.oack.data() + n.oackLength, text.data(), text.size());
    n.oackLength += text.size();
    n.oack[n.oackLength++] = 0;
    return true;
}

}  // namespace

std::uint64_t AnnouncedSize(const TftpParsedRequest& request)
{
    std::uint64_t size = 0;
    for (const TftpOption& option : request.options) {
        if (!EqualsNoCase(option.name, TFTP_OPT_TSIZE))
            continue;
        const std::string_view digits = SkipLeadingSpace(option.value);
        size = !digits.empty() && digits.front() >= '0' && digits.front() <= '9' ? ParseDecimal(digits) : 0;
    }
    return size;
}

std::string_view SkipLeadingSpace(std::string_view text)
{
    // The C library's white space: blank, tab, and the line and page breaks.
    while (!text.empty() && (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r')))
        text.remove_prefix(1);
    return text;
}

std::uint64_t ParseDecimal(std::string_view text)
{
    text = SkipLeadingSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::numeric_limits<std::uint64_t>::max();
        value = value * 10 + digit;
    }
    return negative ? 0 - value : value;
}

std::uint32_t TimeoutForInterval(std::uint32_t interval)
{
    return interval - interval / 2;
}

namespace {

TftpNegotiation NegotiateOnce(const TftpParsedRequest& request, const TftpOptionLimits& limits)
{
    TftpNegotiation n;
    std::uint32_t interval = limits.defaultInterval;
    if (interval == 0)
        interval = TFTP_DEFAULT_INTERVAL;
    n.timeoutSeconds = TimeoutForInterval(interval);
    if (!request.hasOptions)
        return n;

    n.oackMode = true;
    n.oack[0] = 0;
    n.oack[1] = TFTP_OACK;
    n.oackLength = 2;
    for (const TftpOption& option : request.options) {
        for (const OptionRow& row : OPTION_TABLE) {
            if (!EqualsNoCase(option.name, row.name))
                continue;
            const std::optional<Grant> grant = row.handler(option.value, limits);
            if (!grant)
                break;
            char digits[24];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, grant->echo);
            (void)ec;
            const std::size_t mark = n.oackLength;
            if (Append(n, option.name) && Append(n, std::string_view(digits, end - digits)))
                grant->apply(n, grant->echo);
            else
                n.oackLength = mark;
            break;
        }
    }
    return n;
}

}  // namespace

TftpNegotiation NegotiateOptions(const TftpParsedRequest& request, const TftpOptionLimits& limits)
{
    // The window's bytes depend on the block size, which any option of the
    // request may still set: negotiate, then again with a smaller maximum
    // while the window granted holds too much. The maximum falls each time,
    // so this ends at the latest with lock-step.
    TftpOptionLimits bounded = limits;
    for (;;) {
        TftpNegotiation n = NegotiateOnce(request, bounded);
        if (n.windowSize <= 1 || std::uint64_t{n.windowSize} * n.blockSize <= TFTP_MAX_WINDOW_BYTES)
            return n;
        bounded.maxWindowSize =
            std::min(n.windowSize - 1, std::max<std::uint32_t>(1, TFTP_MAX_WINDOW_BYTES / n.blockSize));
    }
}
