// The simulated box's pure rules: which set-IP requests it refuses, how a
// peer's text is escaped in its log.
#include <string>

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "box_rules.h"

namespace {

std::uint32_t Ip(const char* text)
{
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

}  // namespace

TEST(BoxRules, SetIpRequestsAreTakenOrRefusedWithTheirReason)
{
    struct Row
    {
        const char* ip;
        const char* netmask;
        const char* refusal;  // null: taken
    };
    const Row rows[] = {
        {"192.168.1.10", "255.255.255.0", nullptr},
        {"192.168.1.0", "255.255.255.0", "network address of its subnet"},
        {"172.16.4.0", "255.255.252.0", "network address of its subnet"},
        {"192.168.1.6", "255.255.255.254", nullptr},  // a /31 has two hosts and no network address
        {"0.1.2.3", "255.0.0.0", "address in 0.0.0.0/8"},
        {"127.0.0.1", "255.0.0.0", "loopback address"},
        {"127.200.1.1", "255.255.255.0", "loopback address"},
        {"126.255.255.254", "255.0.0.0", nullptr},
        {"224.0.0.1", "255.255.255.0", "multicast address"},
        {"239.255.255.250", "255.255.255.255", "multicast address"},
        {"223.255.255.254", "255.255.255.0", nullptr},
        {"240.0.0.1", "255.255.255.0", "reserved address (240.0.0.0/4)"},
        {"255.255.255.254", "255.255.255.255", "reserved address (240.0.0.0/4)"},
        {"192.168.1.7", "255.255.255.255", nullptr},  // a /32 has no broadcast address
        {"192.168.1.7", "255.255.255.254", nullptr},  // nor a /31 (RFC 3021)
        {"192.168.1.3", "255.255.255.252", "broadcast address of its subnet"},
        {"0.0.0.0", "255.255.255.0", "address 0.0.0.0"},
        {"255.255.255.255", "255.255.255.0", "broadcast address 255.255.255.255"},
        {"192.168.1.255", "255.255.255.0", "broadcast address of its subnet"},
        {"172.16.6.255", "255.255.252.0", nullptr},  // inside a /22
        {"172.16.7.255", "255.255.252.0", "broadcast address of its subnet"},
        {"192.168.1.10", "255.0.255.0", "netmask is not contiguous"},
        {"192.168.1.10", "0.255.255.255", "netmask is not contiguous"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.ip) + "/" + row.netmask);
        const char* refusal = SetIpRefusal(Ip(row.ip), Ip(row.netmask));
        EXPECT_EQ(refusal == nullptr ? std::string("taken") : std::string(refusal),
                  row.refusal == nullptr ? std::string("taken") : std::string(row.refusal));
    }
}

TEST(BoxRules, LogTextEscapesControlCharactersOnly)
{
    const std::pair<std::string, std::string> rows[] = {
        {"appcfg cmd c=3 fw.bin hw-1", "appcfg cmd c=3 fw.bin hw-1"},
        {"a\nconfig: password set to 'x'", "a\\x0aconfig: password set to 'x'"},
        {std::string("\r\t\x1b[2J\x7f\x01", 8), "\\x0d\\x09\\x1b[2J\\x7f\\x01"},
        {"\\x0a stays as typed", "\\x0a stays as typed"},
        {"Gerät \xc3\xa4 ~", "Gerät \xc3\xa4 ~"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(EscapeLogText(in), out);
}
