#pragma once
// Pure parsers of vindlectl's command-line values: IPv4 addresses, MACs,
// CIDR ranges, port ranges, targets and target lists (the CSV that
// `vindlectl discover --format csv` writes, or a plain list). Text in,
// value or error text out; no I/O, callable from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/address_text.h"

using MacBytes = std::array<std::uint8_t, 6>;

// Dotted quad, exactly four decimal parts of 0..255 with at most three
// digits each; nothing else (no blanks, no hex, no short forms). Result in
// network byte order, as the core keeps addresses.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// Six hex pairs separated by ':' or '-' (one kind throughout), either case.
std::optional<MacBytes> ParseMac(std::string_view text);

struct Ipv4Range
{
    std::uint32_t network = 0;  // network byte order, host bits cleared
    unsigned prefix = 0;        // 0..32
    bool operator==(const Ipv4Range&) const = default;
};
// "10.77.0.0/24"; host bits in the address are allowed and cleared.
std::optional<Ipv4Range> ParseCidr(std::string_view text);
bool RangeContains(const Ipv4Range& range, std::uint32_t ip);

struct PortRange
{
    std::uint16_t low = 0;
    std::uint16_t high = 0;
};
// "LO-HI" with 1024 <= LO <= HI <= 65534, the transfer ports the TFTP
// server accepts (never a privileged one, and 65535 stays free).
std::optional<PortRange> ParsePortRange(std::string_view text);

enum class TargetKind
{
    Address,
    Mac,
    Range,
};

struct Target
{
    TargetKind kind = TargetKind::Address;
    std::uint32_t ip = 0;  // Address
    MacBytes mac{};        // Mac
    Ipv4Range range;       // Range
    std::string text;      // as written, for messages
    bool operator==(const Target&) const = default;
};

struct TargetParse
{
    std::optional<Target> target;
    std::string error;  // when !target: why, for "vindlectl: <text>: <why>"
};
// An address, a MAC or a CIDR range, told apart by their shape.
TargetParse ParseTarget(std::string_view text);

struct TargetListParse
{
    std::vector<Target> targets;
    std::string error;  // empty on success; names the line
};
// The contents of a --from file. A first line that starts with "ip," is a
// CSV header: each further line is a record whose "ip" column (or "mac"
// column when "ip" is empty) is the target. Otherwise every line is one
// target; blank lines and lines starting with '#' are skipped. CR LF line
// ends are accepted. An empty list is not an error here.
TargetListParse ParseTargetList(std::string_view text);

// One CSV record (RFC 4180 quoting: "a ""b""" is a "b"). Fields are
// returned unquoted; nullopt for an unterminated quote or text after a
// closing quote.
std::optional<std::vector<std::string>> SplitCsvLine(std::string_view line);
// A field quoted when it holds a comma, a quote or a line break.
std::string CsvField(std::string_view value);
