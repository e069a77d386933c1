// Addresses as text. An IPv4 address is a 32-bit value in network byte
// order (the first octet in the lowest-addressed byte), written octet by
// octet from that byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// "192.168.1.10".
std::string FormatIpv4(std::uint32_t ip);

enum class MacStyle
{
    Colons,  // "02:77:00:00:00:0a", as the command line prints it
    Dashes,  // "02-77-00-00-00-0A", as the window and the boxes show it
};

std::string FormatMac(std::span<const std::uint8_t, 6> mac, MacStyle style = MacStyle::Colons);
