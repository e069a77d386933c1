#include "discovery/adapter_list.h"

#include <cstring>
#include <memory>
#include <string>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_arp.h>

namespace {

std::uint32_t Ip(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

AdapterLink Link(int index, std::string name, unsigned short type = ARPHRD_ETHER,
                 unsigned char oper = IF_OPER_UP, unsigned flags = IFF_UP | IFF_RUNNING)
{
    AdapterLink link;
    link.index = index;
    link.name = std::move(name);
    link.hwType = type;
    link.operState = oper;
    link.flags = flags;
    link.hwAddress = {0x02, 0x77, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(index)};
    return link;
}

// Runs the caller's two-call protocol and returns the filled buffer.
std::unique_ptr<std::uint8_t[]> Build(const std::vector<AdapterAddress>& addresses,
                                      const std::vector<AdapterLink>& links)
{
    std::uint32_t size = 0;
    EXPECT_EQ(BuildAdapterList(addresses, links, &size, nullptr), ADAPTER_ERROR_INSUFFICIENT_BUFFER);
    auto buffer = std::make_unique<std::uint8_t[]>(size);
    EXPECT_EQ(BuildAdapterList(addresses, links, &size, reinterpret_cast<AdapterList*>(buffer.get())), 0u);
    return buffer;
}

const AdapterList& AsList(const std::unique_ptr<std::uint8_t[]>& buffer)
{
    return *reinterpret_cast<const AdapterList*>(buffer.get());
}

}  // namespace

TEST(AdapterList, NeededSizeCountsLoopbackButListLeavesItOut)
{
    const std::vector<AdapterAddress> addresses = {{1, Ip("127.0.0.1"), Ip("255.0.0.0")},
                                                   {2, Ip("192.168.1.5"), Ip("255.255.255.0")}};
    const std::vector<AdapterLink> links = {Link(1, "lo", ARPHRD_LOOPBACK, IF_OPER_UNKNOWN), Link(2, "eth0")};

    std::uint32_t size = 0;
    std::uint8_t untouched[8];
    std::memset(untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(BuildAdapterList(addresses, links, &size, reinterpret_cast<AdapterList*>(untouched)),
              ADAPTER_ERROR_INSUFFICIENT_BUFFER);
    // Two address rows although only one record will be filled.
    EXPECT_EQ(size, 4 + 2 * sizeof(AdapterInfo));
    for (std::uint8_t b : untouched)
        EXPECT_EQ(b, 0x5A);

    auto buffer = Build(addresses, links);
    const AdapterList& list = AsList(buffer);
    ASSERT_EQ(list.count, 1u);
    const AdapterInfo& eth = list.adapters[0];
    EXPECT_EQ(eth.address, Ip("192.168.1.5"));
    EXPECT_EQ(eth.netmask, Ip("255.255.255.0"));
    EXPECT_STREQ(eth.typeName, "Ethernet");
    EXPECT_STREQ(eth.description, "eth0");
    EXPECT_STREQ(eth.id, "IFID_eth0");
    EXPECT_EQ(eth.operational, 1);
    const std::uint8_t mac[6] = {0x02, 0x77, 0, 0, 0, 2};
    EXPECT_EQ(0, std::memcmp(eth.mac, mac, 6));
}

TEST(AdapterList, TwoAddressesOfOneLinkGiveTwoRecordsInTableOrder)
{
    AdapterLink office = Link(3, "enp3s0");
    office.alias = "Office LAN";
    const std::vector<AdapterAddress> addresses = {{3, Ip("10.0.0.7"), Ip("255.0.0.0")},
                                                   {3, Ip("192.168.9.1"), Ip("255.255.255.252")}};
    auto buffer = Build(addresses, {office});
    const AdapterList& list = AsList(buffer);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.adapters[0].address, Ip("10.0.0.7"));
    EXPECT_EQ(list.adapters[1].address, Ip("192.168.9.1"));
    EXPECT_EQ(list.adapters[1].netmask, Ip("255.255.255.252"));
    for (std::uint32_t i = 0; i < list.count; ++i) {
        // The alias is what the operator named the adapter; it wins over the name.
        EXPECT_STREQ(list.adapters[i].description, "Office LAN");
        EXPECT_STREQ(list.adapters[i].id, "IFID_enp3s0");
    }
}

TEST(AdapterList, RecordOfAnUnknownLinkHasZeroValues)
{
    auto buffer = Build({{9, Ip("10.1.1.1"), Ip("255.255.0.0")}}, {});
    const AdapterInfo& record = AsList(buffer).adapters[0];
    EXPECT_EQ(record.address, Ip("10.1.1.1"));
    EXPECT_STREQ(record.description, "");
    EXPECT_STREQ(record.id, "");
    EXPECT_STREQ(record.typeName, "Unknown");
    EXPECT_EQ(record.operational, 0);
    for (std::uint8_t b : record.mac)
        EXPECT_EQ(b, 0);
}

TEST(AdapterList, LinkWithoutHardwareAddressHasZeroMac)
{
    AdapterLink tun = Link(6, "tun0", ARPHRD_NONE);
    tun.hwAddress.clear();
    auto buffer = Build({{6, Ip("10.8.0.1"), Ip("255.255.255.255")}}, {tun});
    const AdapterInfo& record = AsList(buffer).adapters[0];
    EXPECT_STREQ(record.typeName, "Other");
    for (std::uint8_t b : record.mac)
        EXPECT_EQ(b, 0);
}

TEST(AdapterList, EmptyTableNeedsOnlyTheCount)
{
    std::uint32_t size = 0;
    EXPECT_EQ(BuildAdapterList({}, {}, &size, nullptr), ADAPTER_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 4u);
    AdapterList list;
    list.count = 77;
    EXPECT_EQ(BuildAdapterList({}, {}, &size, &list), 0u);
    EXPECT_EQ(list.count, 0u);
}

TEST(AdapterList, TypeNamesFollowTheLinkType)
{
    const struct
    {
        unsigned short type;
        const char* name;
    } rows[] = {
        {ARPHRD_ETHER, "Ethernet"}, {ARPHRD_LOOPBACK, "Loopback"}, {ARPHRD_PPP, "PPP"},
        {ARPHRD_SLIP, "Slip"},      {ARPHRD_CSLIP, "Slip"},        {ARPHRD_IEEE802_TR, "Tokenring"},
        {ARPHRD_FDDI, "FDDI"},      {ARPHRD_NONE, "Other"},        {ARPHRD_INFINIBAND, "Unknown"},
        {ARPHRD_IPGRE, "Unknown"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(AdapterTypeName(row.type), row.name);
    }
}

TEST(AdapterList, OperationalFollowsTheOperationalState)
{
    const struct
    {
        const char* name;
        unsigned char oper;
        unsigned flags;
        int operational;
    } rows[] = {
        {"up", IF_OPER_UP, IFF_UP | IFF_RUNNING, 1},
        {"no carrier", IF_OPER_DOWN, IFF_UP, 0},
        {"administratively down", IF_OPER_DOWN, 0, 0},
        {"dormant", IF_OPER_DORMANT, IFF_UP, 0},
        // Links whose driver reports no state count as up while running.
        {"unknown but running", IF_OPER_UNKNOWN, IFF_UP | IFF_RUNNING, 1},
        {"unknown and down", IF_OPER_UNKNOWN, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto buffer = Build({{4, Ip("10.2.2.2"), Ip("255.255.255.0")}},
                            {Link(4, "veth-a", ARPHRD_ETHER, row.oper, row.flags)});
        EXPECT_EQ(AsList(buffer).adapters[0].operational, row.operational);
        EXPECT_STREQ(AsList(buffer).adapters[0].id, "IFID_veth_a");
    }
}

TEST(AdapterList, LongAliasIsCutOnACharacterBoundary)
{
    // 254 ASCII bytes and then a two-byte "ü": the cut at 255 would split it.
    AdapterLink link = Link(5, "eth5");
    link.alias = std::string(254, 'x') + "\xC3\xBC" + "tail";
    auto buffer = Build({{5, Ip("10.3.3.3"), Ip("255.255.255.0")}}, {link});
    EXPECT_EQ(std::string(AsList(buffer).adapters[0].description), std::string(254, 'x'));
}

TEST(AdapterList, MachineListFollowsTheTwoCallProtocol)
{
    // Reads this machine's own tables; only the protocol is checked here,
    // the contents are checked in the lab on interfaces the test creates.
    std::uint32_t size = 0;
    AdapterList probe;
    ASSERT_EQ(GetAdapterList(&size, &probe), ADAPTER_ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GE(size, 4u);
    ASSERT_EQ((size - 4) % sizeof(AdapterInfo), 0u);
    auto buffer = std::make_unique<std::uint8_t[]>(size);
    ASSERT_EQ(GetAdapterList(&size, reinterpret_cast<AdapterList*>(buffer.get())), 0u);
    const AdapterList& list = AsList(buffer);
    EXPECT_LE(AdapterListSize(list.count), size);
    for (std::uint32_t i = 0; i < list.count; ++i)
        EXPECT_NE(list.adapters[i].address, Ip("127.0.0.1"));
}
