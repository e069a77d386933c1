// RRQ/WRQ datagrams from any client: parsed, negotiated into an OACK, and
// their file names resolved, as the server does before it opens a file.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstring>
#include <vector>

#include "fuzz/path_check.h"
#include "tftp/tftp_options.h"
#include "tftp/tftp_request.h"

namespace {

bool Inside(std::string_view view, std::span<const std::uint8_t> packet)
{
    const auto* begin = reinterpret_cast<const char*>(packet.data());
    return view.data() >= begin && view.data() + view.size() <= begin + packet.size() &&
           view.find('\0') == std::string_view::npos;
}

bool IsDecimal(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void CheckNegotiation(const TftpParsedRequest& request, const TftpOptionLimits& limits)
{
    const TftpNegotiation n = NegotiateOptions(request, limits);
    FUZZ_CHECK(n.blockSize >= TFTP_MIN_BLKSIZE && n.blockSize <= limits.maxBlockSize);
    FUZZ_CHECK(n.timeoutSeconds >= 1 && n.timeoutSeconds <= (TFTP_MAX_INTERVAL + 1) / 2);
    FUZZ_CHECK(n.oackMode == request.hasOptions);
    FUZZ_CHECK(n.oackLength <= TFTP_OACK_MAX);
    if (!n.oackMode) {
        FUZZ_CHECK(n.oackLength == 0 && n.blockSize == TFTP_DEFAULT_BLKSIZE);
        return;
    }
    // The OACK is opcode 6 and pairs of known names with decimal values;
    // the last blksize and interval echoed are the ones in force.
    FUZZ_CHECK(n.oackLength >= 2 && n.oack[0] == 0 && n.oack[1] == TFTP_OACK);
    std::uint32_t blockSize = TFTP_DEFAULT_BLKSIZE;
    std::uint32_t timeout = TimeoutForInterval(limits.defaultInterval);
    std::uint32_t window = 1;
    std::size_t pos = 2;
    while (pos < n.oackLength) {
        const auto* text = reinterpret_cast<const char*>(n.oack.data());
        const std::string_view name(text + pos, ::strnlen(text + pos, n.oackLength - pos));
        pos += name.size() + 1;
        FUZZ_CHECK(pos < n.oackLength);
        const std::string_view value(text + pos, ::strnlen(text + pos, n.oackLength - pos));
        pos += value.size() + 1;
        FUZZ_CHECK(pos <= n.oackLength && IsDecimal(value));
        const std::uint64_t v = ParseDecimal(value);
        if (EqualsNoCase(name, TFTP_OPT_BLKSIZE)) {
            FUZZ_CHECK(v >= TFTP_MIN_BLKSIZE && v <= limits.maxBlockSize);
            blockSize = static_cast<std::uint32_t>(v);
        } else if (EqualsNoCase(name, TFTP_OPT_INTERVAL)) {
            FUZZ_CHECK(v >= 1 && v <= TFTP_MAX_INTERVAL);
            timeout = TimeoutForInterval(static_cast<std::uint32_t>(v));
        } else if (EqualsNoCase(name, TFTP_OPT_WINDOWSIZE)) {
            FUZZ_CHECK(limits.maxWindowSize > 1 && v >= 1 && v <= limits.maxWindowSize);
            window = static_cast<std::uint32_t>(v);
        } else {
            FUZZ_CHECK(EqualsNoCase(name, TFTP_OPT_TSIZE) && v == limits.fileSize);
        }
    }
    FUZZ_CHECK(pos == n.oackLength);
    FUZZ_CHECK(n.blockSize == blockSize && n.timeoutSeconds == timeout && n.windowSize == window);
    // A window leaves as one burst: it never carries more than the cap.
    FUZZ_CHECK(n.windowSize == 1 || std::uint64_t{n.windowSize} * n.blockSize <= TFTP_MAX_WINDOW_BYTES);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The last 11 bytes choose the limits the configuration could have set
    // (the seeds carry them after the datagram); the datagram is copied so
    // that ASan sees its exact end.
    FuzzedDataProvider input(data, size);
    TftpOptionLimits limits;
    limits.maxBlockSize = input.ConsumeIntegralInRange<std::uint32_t>(TFTP_MIN_BLKSIZE, TFTP_MAX_BLKSIZE);
    limits.defaultInterval = input.ConsumeIntegralInRange<std::uint16_t>(1, TFTP_MAX_INTERVAL);
    limits.fileSize = input.ConsumeIntegral<std::uint64_t>();
    const std::vector<std::uint8_t> packet = input.ConsumeRemainingBytes<std::uint8_t>();

    const TftpRequestParse parse = ParseTftpRequest(packet);
    if (!parse.ok) {
        const std::string_view text = parse.error.text;
        FUZZ_CHECK(parse.error.code == TFTP_EBADOP &&
                   (text == TFTP_ERR_UNTERMINATED.text || text == TFTP_ERR_MISSING_MODE.text));
        return 0;
    }
    const TftpParsedRequest& request = parse.request;
    FUZZ_CHECK(packet.size() >= 4);
    FUZZ_CHECK(request.opcode == (packet[0] << 8 | packet[1]));
    FUZZ_CHECK(Inside(request.fileName, packet) && Inside(request.mode, packet));
    FUZZ_CHECK(request.fileName.data() == reinterpret_cast<const char*>(packet.data()) + 2);
    // Every string is followed by its NUL, so the strings and their NULs
    // never add up to more than the datagram.
    std::size_t used = 2 + request.fileName.size() + 1 + request.mode.size() + 1;
    for (const TftpOption& option : request.options) {
        FUZZ_CHECK(Inside(option.name, packet) && Inside(option.value, packet));
        used += option.name.size() + option.value.size() + 2;
    }
    FUZZ_CHECK(used <= packet.size());
    FUZZ_CHECK(request.hasOptions == (used < packet.size() || !request.options.empty()));
    (void)IsTextMode(request.mode);

    CheckNegotiation(request, limits);
    // The same request to a server that grants windows, up to a maximum
    // the input chooses (from bits it already spent, so the seeds keep
    // their meaning).
    TftpOptionLimits windowed = limits;
    windowed.maxWindowSize = 2 + static_cast<std::uint32_t>(limits.fileSize % (TFTP_MAX_WINDOWSIZE - 1));
    CheckNegotiation(request, windowed);

    // The size a write announces is none, or what one of its tsize
    // options says.
    const std::uint64_t announced = AnnouncedSize(request);
    bool said = announced == 0;
    for (const TftpOption& option : request.options)
        said = said || (EqualsNoCase(option.name, TFTP_OPT_TSIZE) && ParseDecimal(option.value) == announced);
    FUZZ_CHECK(said);

    // The name against a bare home and against aliases.
    static const std::array<TftpHomeEntry, 2> bare = {TftpHomeEntry{"", "/srv/tftp/"}, TftpHomeEntry{}};
    static const std::array<TftpHomeEntry, 3> aliases = {
        TftpHomeEntry{"boot", "/srv/boot/"}, TftpHomeEntry{"Images", "/var/images/"}, TftpHomeEntry{}};
    CheckResolution(request.fileName, bare, ResolveRequestName(request.fileName, bare));
    CheckResolution(request.fileName, aliases, ResolveRequestName(request.fileName, aliases));
    return 0;
}
