#include "app/adapter_choice.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::uint32_t Ip(const char* dotted)
{
    in_addr addr{};
    inet_pton(AF_INET, dotted, &addr);
    return addr.s_addr;
}

struct ChoiceCase
{
    const char* name;
    std::vector<AdapterView> adapters;
    std::string saved;
    std::optional<std::size_t> chosen;  // by the rule alone
    const char* boundTo;                // after the fallback
};

TEST(AdapterChoice, FollowsTheSavedDescriptionOrTheFirstAddress)
{
    const ChoiceCase cases[] = {
        // A zero address means the adapter is not usable for discovery.
        {"empty setting skips an adapter without address",
         {{"LAN A", Ip("0.0.0.0")}, {"LAN B", Ip("192.168.1.5")}},
         "",
         1,
         "192.168.1.5"},
        {"saved description wins over list order",
         {{"LAN A", Ip("10.0.0.1")}, {"LAN B", Ip("192.168.1.5")}},
         "LAN B",
         1,
         "192.168.1.5"},
        // Byte-for-byte: a user who saved "lan b" did not choose "LAN B". The
        // fallback then binds to the first adapter with an address.
        {"match is case-sensitive",
         {{"LAN A", Ip("10.0.0.1")}, {"LAN B", Ip("192.168.1.5")}},
         "lan b",
         std::nullopt,
         "10.0.0.1"},
        {"first of two equal descriptions",
         {{"LAN", Ip("10.0.0.1")}, {"LAN", Ip("10.0.0.2")}},
         "LAN",
         0,
         "10.0.0.1"},
        {"no prefix match", {{"LAN B2", Ip("10.0.0.2")}}, "LAN B", std::nullopt, "10.0.0.2"},
        // The saved adapter may carry no address at the moment; it is still
        // the operator's choice.
        {"saved adapter without address is still chosen",
         {{"LAN A", Ip("10.0.0.1")}, {"WLAN", Ip("0.0.0.0")}},
         "WLAN",
         1,
         "0.0.0.0"},
        {"empty list", {}, "LAN A", std::nullopt, "0.0.0.0"},
        {"empty list and empty setting", {}, "", std::nullopt, "0.0.0.0"},
        {"no adapter with an address",
         {{"LAN A", Ip("0.0.0.0")}, {"LAN B", Ip("0.0.0.0")}},
         "",
         std::nullopt,
         "0.0.0.0"},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChooseAdapter(c.adapters, c.saved), c.chosen);
        EXPECT_EQ(AdapterAddressFor(c.adapters, c.saved), Ip(c.boundTo));
    }
}

}  // namespace
