#pragma once
// How a box is written for the operator: its address, its icon label in the
// device list and its administration page. Addresses are 32-bit values in
// network byte order, printed from the lowest-addressed byte.

#include <cstdint>
#include <span>
#include <string>

#include "net/address_text.h"

// The two-line icon label "192.168.1.10\n00-11-22-AA-BB-0C": the address on
// the first line, the six MAC bytes as upper-case hex pairs on the second.
std::string FormatDeviceLabel(std::uint32_t ip, std::span<const std::uint8_t, 6> mac);

// "http://192.168.1.10/admin?p=0".
std::string FormatAdminUrl(std::uint32_t ip);

// The inverse of FormatIpv4 for exactly four decimal octets; 0 and
// false on anything else. For tests and tools that take addresses as text.
bool ParseDottedIp(const std::string& text, std::uint32_t& ip);
