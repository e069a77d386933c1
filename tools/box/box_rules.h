#pragma once
// Pure checks and conversions of the simulated box: what a real box refuses
// and how a peer's bytes are made safe for the box's log. Nothing here does
// I/O, so each rule is tested with a table.

#include <cstdint>
#include <string>
#include <string_view>

// Why a set-IP request with this address and netmask (both in network byte
// order) must be refused, or null when the box may take it. A box that took
// 0.0.0.0, loopback, multicast, a reserved or broadcast address, the
// network's own address or a netmask with holes would be unreachable until
// someone walks up to it.
[[nodiscard]] const char* SetIpRefusal(std::uint32_t ip, std::uint32_t netmask);

// The text with every control character (bytes below 0x20 and 0x7f) written
// as \xNN, so that a peer's text cannot end a log line and forge the next
// one. Printable text is unchanged; bytes from 0x80 up are kept as they are,
// so UTF-8 text stays readable.
[[nodiscard]] std::string EscapeLogText(std::string_view text);
