// CInitCfg's reply dispatch, fed by hand: the endpoint here uses port 0, so
// it binds nothing and runs no receive thread. The real exchange with boxes
// is tested in the lab.

#include "discovery/init_cfg.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/socket.h"
#include <gtest/gtest.h>

#include "tests/common/core_output_capture.h"
#include "tests/common/recording_init_cfg.h"

namespace {

using Reply = InitCfgReply;

std::vector<std::uint8_t> Message(std::uint8_t type, std::size_t length = 52)
{
    const std::uint8_t mac[6] = {0x02, 0x77, 0, 0, 0, 0x02};
    const auto bytes = EncodeInitCfgMsg(type, mac, inet_addr("10.77.0.2"), inet_addr("255.255.255.0"),
                                        inet_addr("10.77.0.254"));
    std::vector<std::uint8_t> datagram(bytes.begin(), bytes.end());
    datagram.resize(length, 0x11);
    return datagram;
}

}  // namespace

TEST(InitCfg, DispatchesRepliesByType)
{
    const struct
    {
        const char* name;
        std::vector<std::uint8_t> datagram;
        std::string kinds;       // callbacks expected, in order
        std::string stdoutText;  // what the endpoint prints
        std::uint32_t gateway;
    } rows[] = {
        {"search reply", Message(CFG_SEARCH_RSP), "S", "", inet_addr("10.77.0.254")},
        {"set-IP reply", Message(CFG_SET_IP_RSP), "I", "", inet_addr("10.77.0.254")},
        // A 20-byte reply has ip and netmask, but its gateway is defined as 0.
        {"short search reply", Message(CFG_SEARCH_RSP, 20), "S", "", 0},
        {"reply with one byte missing", Message(CFG_SET_IP_RSP, 51), "I", "", 0},
        {"oversized reply", Message(CFG_SEARCH_RSP, 300), "S", "", inet_addr("10.77.0.254")},
        // Our own broadcast looped back: a request, which only boxes serve.
        {"own search request", Message(CFG_SEARCH_REQ), "", "Invalid client msg 1 received\n", 0},
        {"set-IP request", Message(CFG_SET_IP_REQ), "", "Invalid client msg 2 received\n", 0},
        {"request type 0x7f", Message(0x7F), "", "Invalid client msg 7f received\n", 0},
        // Unknown replies are dropped without a word.
        {"reply type 0x80", Message(0x80), "", "", 0},
        {"reply type 0x90", Message(0x90), "", "", 0},
        {"reply type 0xff", Message(0xFF), "", "", 0},
        // Too short for ip and netmask: dropped, nothing beyond the end read.
        {"19-byte reply", Message(CFG_SEARCH_RSP, 19), "", "", 0},
        // The type byte alone tells a request, so a short one is still named.
        {"1-byte request", Message(CFG_SEARCH_REQ, 1), "", "Invalid client msg 1 received\n", 0},
        {"empty datagram", {}, "", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingInitCfg endpoint(htonl(INADDR_LOOPBACK), 0);
        CoreOutputCapture capture;
        endpoint.Feed(row.datagram);
        EXPECT_EQ(capture.Stop(), row.stdoutText);
        EXPECT_EQ(capture.Err(), "");
        std::string kinds;
        for (const Reply& reply : endpoint.Replies())
            kinds += reply.kind;
        ASSERT_EQ(kinds, row.kinds);
        for (const Reply& reply : endpoint.Replies()) {
            EXPECT_EQ(reply.ip, inet_addr("10.77.0.2"));
            EXPECT_EQ(reply.netmask, inet_addr("255.255.255.0"));
            EXPECT_EQ(reply.gateway, row.gateway);
            EXPECT_EQ(reply.mac, (std::vector<std::uint8_t>{0x02, 0x77, 0, 0, 0, 0x02}));
        }
    }
}

TEST(InitCfg, RepeatedReplyIsReportedEachTime)
{
    RecordingInitCfg endpoint(htonl(INADDR_LOOPBACK), 0);
    endpoint.Feed(Message(CFG_SEARCH_RSP));
    endpoint.Feed(Message(CFG_SEARCH_RSP));
    EXPECT_EQ(endpoint.Replies().size(), 2u);
}

TEST(InitCfg, SendWithoutEndpointFails)
{
    EXPECT_EQ(SendInitCfgMsg(nullptr, nullptr, CFG_SEARCH_REQ, 0, 0, 0), UDP_SEND_FAILED);
}
