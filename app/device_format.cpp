#include "app/device_format.h"

#include <array>
#include <cstring>

std::string FormatDeviceLabel(std::uint32_t ip, std::span<const std::uint8_t, 6> mac)
{
    return FormatIpv4(ip) + "\n" + FormatMac(mac, MacStyle::Dashes);
}

std::string FormatAdminUrl(std::uint32_t ip)
{
    return "http://" + FormatIpv4(ip) + "/admin?p=0";
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
