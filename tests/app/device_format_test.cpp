#include "app/device_format.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <array>

namespace {

std::uint32_t Ip(const char* dotted)
{
    in_addr addr{};
    inet_pton(AF_INET, dotted, &addr);
    return addr.s_addr;
}

TEST(DeviceFormat, LabelPutsTheMacUnderTheAddressInUpperCaseHex)
{
    const std::array<std::uint8_t, 6> mac{0x00, 0x11, 0x22, 0xAA, 0xBB, 0x0C};
    EXPECT_EQ(FormatDeviceLabel(Ip("192.168.1.10"), mac), "192.168.1.10\n00-11-22-AA-BB-0C");
}

TEST(DeviceFormat, LabelOfAHandAddedBoxShowsAZeroMac)
{
    const std::array<std::uint8_t, 6> mac{};
    EXPECT_EQ(FormatDeviceLabel(Ip("10.0.0.5"), mac), "10.0.0.5\n00-00-00-00-00-00");
}

TEST(DeviceFormat, WidestLabelFitsCompletely)
{
    const std::array<std::uint8_t, 6> mac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(FormatDeviceLabel(Ip("255.255.255.255"), mac), "255.255.255.255\nFF-FF-FF-FF-FF-FF");
}

TEST(DeviceFormat, AdminUrlStartsWithTheFirstOctet)
{
    EXPECT_EQ(FormatAdminUrl(Ip("192.168.1.10")), "http://192.168.1.10/admin?p=0");
}

TEST(DeviceFormat, ParsesOnlyFourDecimalOctets)
{
    struct Case
    {
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {"10.0.0.5", true}, {"255.255.255.255", true}, {"0.0.0.0", true},    {"256.1.1.1", false},
        {"1.2.3", false},   {"1.2.3.4.5", false},      {"1.2.3.4 ", false},  {"", false},
        {"a.b.c.d", false}, {"1..2.3", false},         {"1234.1.1.1", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t ip = 1;
        EXPECT_EQ(ParseDottedIp(c.text, ip), c.ok);
        EXPECT_EQ(ip, c.ok ? Ip(c.text) : 0u);
    }
}

}  // namespace
