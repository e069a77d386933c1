#pragma once
// Option negotiation (RFC 2347) as a table of {name, clamp-and-accept} rows,
// and the OACK it produces. Pure; called by the transfer thread once the
// local file is open (tsize needs its size).

#include <array>
#include <cstdint>
#include <span>

#include "tftp/tftp_request.h"
#include "tftp/tftp_wire.h"

struct TftpOptionLimits
{
    std::uint32_t maxBlockSize = TFTP_MAX_BLKSIZE;          // MaxBlockSize
    std::uint16_t defaultInterval = TFTP_DEFAULT_INTERVAL;  // DefaultInterval
    std::uint32_t maxWindowSize = 1;                        // 1: "windowsize" is not recognised
    std::uint64_t fileSize = 0;                             // echoed for tsize
};

struct TftpNegotiation
{
    std::uint32_t blockSize = TFTP_DEFAULT_BLKSIZE;
    std::uint32_t timeoutSeconds = 2;  // from the interval, rounded up half
    std::uint32_t windowSize = 1;      // blocks per acknowledgment
    bool oackMode = false;             // an OACK was built and must be acknowledged
    std::array<std::uint8_t, TFTP_OACK_MAX> oack{};
    std::size_t oackLength = 0;
};

// Timeout of a transfer with the given interval: half of it, rounded up
// (3 gives 2 seconds, 1 gives 1, 120 gives 60).
std::uint32_t TimeoutForInterval(std::uint32_t interval);

// Walks the options in order (names without regard to case) and builds the
// OACK. Unknown options are skipped and not echoed; a repeated option is
// echoed each time and the last one wins. An echo that would not fit into the
// 512-byte OACK is dropped, and its value is then not applied either, since
// the client only uses what the OACK confirms. A window is granted only as
// far as it carries at most TFTP_MAX_WINDOW_BYTES of data; a window of one
// block is not recognised at all.
TftpNegotiation NegotiateOptions(const TftpParsedRequest& request, const TftpOptionLimits& limits);

// The size in bytes a write request announces with "tsize" (RFC 2349; the
// last occurrence counts), or 0 when it announces none or its value is no
// number.
std::uint64_t AnnouncedSize(const TftpParsedRequest& request);

// Decimal text as the server's INI and option values read it, the way the C
// library converts numbers: leading white space and one sign are skipped,
// then the leading digits count, saturating at 2^64-1; a '-' yields the
// value's two's-complement (so "-1" is very large, as an unsigned 32-bit
// conversion makes it).
std::uint64_t ParseDecimal(std::string_view text);
// `text` without its leading white space (blank, tab, line and page breaks).
std::string_view SkipLeadingSpace(std::string_view text);
