#include "discovery/init_cfg_msg.h"

#include <cstring>
#include <vector>

#include "platform/socket.h"
#include <gtest/gtest.h>

namespace {

std::uint32_t Ip(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

}  // namespace

TEST(InitCfgMsg, SearchRequestIsTypeOneFollowedByZeros)
{
    const auto bytes = EncodeInitCfgMsg(CFG_SEARCH_REQ, nullptr, 0, 0, 0);
    ASSERT_EQ(bytes.size(), 52u);
    EXPECT_EQ(bytes[0], 0x01);
    for (std::size_t i = 1; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], 0) << "offset " << i;
}

TEST(InitCfgMsg, SetIpRequestCarriesMacAndAddressesInNetworkOrder)
{
    const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const auto bytes =
        EncodeInitCfgMsg(CFG_SET_IP_REQ, mac, Ip("192.168.1.10"), Ip("255.255.255.0"), Ip("192.168.1.1"));
    std::vector<std::uint8_t> expected(52, 0);
    expected[0] = 0x02;
    const std::uint8_t tail[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00,  // mac, reserved
                                 0xC0, 0xA8, 0x01, 0x0A,                    // ip
                                 0xFF, 0xFF, 0xFF, 0x00,                    // netmask
                                 0xC0, 0xA8, 0x01, 0x01};                   // gateway
    std::copy(std::begin(tail), std::end(tail), expected.begin() + 1);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(InitCfgMsg, DecodeFollowsTheLengthRules)
{
    // A full reply as a box sends it; shorter cuts of the same bytes.
    const std::uint8_t mac[6] = {0x02, 0x77, 0, 0, 0, 0x02};
    const auto full =
        EncodeInitCfgMsg(CFG_SEARCH_RSP, mac, Ip("10.77.0.2"), Ip("255.255.255.0"), Ip("10.77.0.254"));
    std::vector<std::uint8_t> oversized(full.begin(), full.end());
    oversized.resize(100, 0xEE);

    struct Row
    {
        const char* name;
        std::size_t length;
        bool decoded;
        std::uint32_t gateway;
    } rows[] = {
        {"empty", 0, false, 0},
        {"type only", 1, false, 0},
        {"one short of ip and netmask", 19, false, 0},
        // 20 bytes cover ip and netmask; the gateway counts as absent.
        {"ip and netmask only", 20, true, 0},
        {"gateway cut off by one byte", 51, true, 0},
        {"full", 52, true, Ip("10.77.0.254")},
        {"trailing bytes ignored", 100, true, Ip("10.77.0.254")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto msg = DecodeInitCfgMsg(std::span(oversized.data(), row.length));
        ASSERT_EQ(msg.has_value(), row.decoded);
        if (!msg)
            continue;
        EXPECT_EQ(msg->type, CFG_SEARCH_RSP);
        EXPECT_EQ(0, std::memcmp(msg->mac, mac, 6));
        EXPECT_EQ(msg->ip, Ip("10.77.0.2"));
        EXPECT_EQ(msg->netmask, Ip("255.255.255.0"));
        EXPECT_EQ(msg->gateway, row.gateway);
    }
}

TEST(InitCfgMsg, DecodeIgnoresReservedBytes)
{
    std::vector<std::uint8_t> bytes(52, 0xAB);
    bytes[0] = CFG_SET_IP_RSP;
    const auto msg = DecodeInitCfgMsg(bytes);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->reserved1, 0);
    for (std::uint8_t b : msg->reserved2)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(msg->gateway, 0xABABABABu);
}
