#include "app/device_format.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

std::array<std::uint8_t, 4> Octets(std::uint32_t ip)
{
    // Network order: the first octet is the lowest-addressed byte, whatever
    // the host's byte order.
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &ip, 4);
    return octets;
}

}  // namespace

std::string FormatDottedIp(std::uint32_t ip)
{
    const auto o = Octets(ip);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
    return text;
}

std::string FormatDeviceLabel(std::uint32_t ip, std::span<const std::uint8_t, 6> mac)
{
    const auto o = Octets(ip);
    char text[40];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d\n%02X-%02X-%02X-%02X-%02X-%02X", o[0], o[1], o[2], o[3],
                  mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string FormatAdminUrl(std::uint32_t ip)
{
    return "http://" + FormatDottedIp(ip) + "/admin?p=0";
}

bool ParseDottedIp(const std::string& text, std::uint32_t& ip)
{
    ip = 0;
    std::array<std::uint8_t, 4> octets{};
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return false;
        octets[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size())
        return false;
    std::memcpy(&ip, octets.data(), 4);
    return true;
}
