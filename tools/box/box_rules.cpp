// Pure rules of the simulated box; see box_rules.h.

#include "box_rules.h"

#include <arpa/inet.h>

const char* SetIpRefusal(std::uint32_t ip, std::uint32_t netmask)
{
    const std::uint32_t address = ntohl(ip);
    const std::uint32_t hostBits = ~ntohl(netmask);
    // A contiguous netmask leaves host bits of the form 0...01...1.
    if ((hostBits & (hostBits + 1)) != 0)
        return "netmask is not contiguous";
    if (address == 0)
        return "address 0.0.0.0";
    if (address == 0xFFFFFFFFu)
        return "broadcast address 255.255.255.255";
    // None of these is a unicast address on the segment: a box taking one
    // drops off it (loopback answers only itself).
    const std::uint32_t firstOctet = address >> 24;
    if (firstOctet == 0)
        return "address in 0.0.0.0/8";
    if (firstOctet == 127)
        return "loopback address";
    if (firstOctet >= 224 && firstOctet < 240)
        return "multicast address";
    if (firstOctet >= 240)
        return "reserved address (240.0.0.0/4)";
    // Networks of one or two addresses (/32, /31) have neither a network
    // nor a broadcast address.
    if (hostBits > 1 && (address & hostBits) == hostBits)
        return "broadcast address of its subnet";
    if (hostBits > 1 && (address & hostBits) == 0)
        return "network address of its subnet";
    return nullptr;
}

std::string EscapeLogText(std::string_view text)
{
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}
