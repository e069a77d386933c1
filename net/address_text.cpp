#include "net/address_text.h"

#include <cstdio>
#include <cstring>

std::string FormatIpv4(std::uint32_t ip)
{
    std::uint8_t o[4];
    std::memcpy(o, &ip, sizeof o);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
    return text;
}

std::string FormatMac(std::span<const std::uint8_t, 6> mac, MacStyle style)
{
    char text[18];
    if (style == MacStyle::Colons)
        std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                      mac[4], mac[5]);
    else
        std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                      mac[4], mac[5]);
    return text;
}
