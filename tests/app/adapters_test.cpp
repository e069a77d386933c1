#include "app/adapters.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::uint32_t Ip(const char* dotted)
{
    in_addr addr{};
    inet_pton(AF_INET, dotted, &addr);
    return addr.s_addr;
}

// A stand-in for the system's enumeration: a table of (description, address)
// rows, the sizes every call was given, and an optional growth of the table
// after the first call (an address added while the program starts).
struct FakeSystem
{
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<std::uint32_t> sizesSeen;
    int growAfterCalls = -1;
    std::uint32_t failWith = 0;

    std::uint32_t Enumerate(std::uint32_t* pSize, AdapterList* pList)
    {
        sizesSeen.push_back(*pSize);
        if (growAfterCalls >= 0 && static_cast<int>(sizesSeen.size()) > growAfterCalls) {
            rows.emplace_back("late", "10.9.9.9");
            growAfterCalls = -1;
        }
        if (failWith != 0)
            return failWith;
        const auto needed = AdapterListSize(static_cast<std::uint32_t>(rows.size()));
        if (*pSize < needed) {
            *pSize = needed;
            return ADAPTER_ERROR_INSUFFICIENT_BUFFER;
        }
        pList->count = static_cast<std::uint32_t>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            AdapterInfo& info = pList->adapters[i];
            std::memset(&info, 0, sizeof info);
            info.address = Ip(rows[i].second.c_str());
            std::snprintf(info.description, sizeof info.description, "%s", rows[i].first.c_str());
        }
        return 0;
    }
};

FakeSystem* g_system = nullptr;

std::uint32_t FakeEnumerate(std::uint32_t* pSize, AdapterList* pList)
{
    return g_system->Enumerate(pSize, pList);
}

class AdaptersTest : public ::testing::Test
{
protected:
    void SetUp() override { g_system = &system; }
    void TearDown() override { g_system = nullptr; }
    FakeSystem system;
};

TEST_F(AdaptersTest, AsksForTheSizeFirstThenFillsABufferOfExactlyThatSize)
{
    system.rows = {{"LAN A", "0.0.0.0"}, {"LAN B", "192.168.1.5"}};
    CAdapters adapters(&FakeEnumerate);
    ASSERT_EQ(adapters.Count(), 2u);
    EXPECT_STREQ(adapters.At(1).description, "LAN B");
    // The first call gets a size of 0, the second the size the first one
    // reported.
    EXPECT_EQ(system.sizesSeen, (std::vector<std::uint32_t>{0, AdapterListSize(2)}));
    EXPECT_EQ(adapters.AddressFor(""), Ip("192.168.1.5"));
    EXPECT_EQ(adapters.AddressFor("LAN A"), Ip("0.0.0.0"));
}

TEST_F(AdaptersTest, AnAddressAddedBetweenTheCallsIsPickedUpOnTheNextRound)
{
    system.rows = {{"LAN A", "10.0.0.1"}};
    system.growAfterCalls = 1;
    CAdapters adapters(&FakeEnumerate);
    EXPECT_EQ(adapters.Count(), 2u);
    EXPECT_EQ(system.sizesSeen.size(), 4u);
}

TEST_F(AdaptersTest, AFailingEnumerationLeavesAnEmptyListAndBindsToAnyAddress)
{
    system.rows = {{"LAN A", "10.0.0.1"}};
    system.failWith = 5;
    CAdapters adapters(&FakeEnumerate);
    EXPECT_EQ(adapters.Count(), 0u);
    EXPECT_EQ(adapters.AddressFor("LAN A"), 0u);
    // A hard failure is not retried.
    EXPECT_EQ(system.sizesSeen.size(), 2u);
}

TEST_F(AdaptersTest, AnEmptySystemListIsAnEmptyList)
{
    CAdapters adapters(&FakeEnumerate);
    EXPECT_EQ(adapters.Count(), 0u);
    EXPECT_TRUE(adapters.Views().empty());
}

TEST(AdaptersSystem, TheRealEnumerationNeverListsLoopback)
{
    CAdapters adapters;
    for (const AdapterView& view : adapters.Views())
        EXPECT_NE(view.address, Ip("127.0.0.1")) << view.description;
}

}  // namespace
