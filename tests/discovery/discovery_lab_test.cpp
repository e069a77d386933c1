// Discovery between the tool's CInitCfg and simulated boxes (vindle-box) in
// the lab, the bytes the tool puts on the wire, and the adapter list on
// interfaces the test creates. Runs in a lab with three boxes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "discovery/adapter_list.h"
#include "discovery/init_cfg.h"
#include "tests/common/lab.h"
#include "tests/common/recording_init_cfg.h"
#include "tests/common/test_socket.h"

namespace {

using namespace std::chrono_literals;

std::uint32_t Ip(const std::string& text)
{
    in_addr address{};
    inet_pton(AF_INET, text.c_str(), &address);
    return address.s_addr;
}

std::vector<std::uint8_t> Mac(const std::string& text)
{
    std::vector<std::uint8_t> mac;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3)
        mac.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return mac;
}

using Reply = InitCfgReply;

const Reply* FindByMac(const std::vector<Reply>& replies, const std::vector<std::uint8_t>& mac)
{
    const auto it =
        std::find_if(replies.begin(), replies.end(), [&](const Reply& r) { return r.mac == mac; });
    return it == replies.end() ? nullptr : &*it;
}

// A UDP socket bound to 0.0.0.0:port inside a box's namespace, created from
// a helper thread that alone enters the namespace; the socket keeps it.
class BoxSocket final
{
public:
    BoxSocket(const std::string& ns, std::uint16_t port)
    {
        std::thread([&] {
            const int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0) {
                if (nsFd >= 0)
                    close(nsFd);
                return;
            }
            close(nsFd);
            m_socket = TestSocket::Udp(htonl(INADDR_ANY), port);
        }).join();
    }
    bool Ok() const { return m_socket.Ok(); }

    // The next datagram within the timeout; empty when none came.
    std::vector<std::uint8_t> Receive(std::chrono::milliseconds timeout = WAIT)
    {
        return m_socket.ReceiveFrom(timeout).value_or(std::vector<std::uint8_t>{});
    }

private:
    TestSocket m_socket;
};

class DiscoveryLab : public LabTest
{
protected:
    int MinBoxes() const override { return 3; }

    // Starts vindle-box in box namespace `box` and waits until it serves.
    std::unique_ptr<LabProcess> StartBox(int box, std::vector<std::string> args)
    {
        args.insert(args.begin(), ToolPath("vindle-box"));
        auto process = std::make_unique<LabProcess>(box, args, LabProcess::Output::Capture);
        EXPECT_TRUE(process->WaitForText("discovery: ready")) << "box " << box << ": " << process->Captured();
        return process;
    }

    static std::uint32_t Search(CUdp& endpoint)
    {
        return SendInitCfgMsg(nullptr, &endpoint, CFG_SEARCH_REQ, 0, 0, 0);
    }

    // Puts a box's interface back to the lab's plan.
    void RestoreBox(int box)
    {
        const LabBox& b = lab().Box(box);
        const LabRunResult result = RunInBox(box, "ip addr flush dev eth0 && ip addr add " + b.ip +
                                                      "/24 dev eth0 && ip route replace default dev eth0");
        EXPECT_EQ(result.exitCode, 0) << result.output;
    }
};

TEST_F(DiscoveryLab, SearchIsAnsweredByEveryBoxWithItsValues)
{
    ASSERT_FALSE(ToolPath("vindle-box").empty()) << "vindle-box is not built";
    std::vector<std::unique_ptr<LabProcess>> boxes;
    for (int i = 1; i <= 3; ++i)
        boxes.push_back(StartBox(i, {"--gateway", "10.77.0." + std::to_string(100 + i)}));

    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    const auto replies = endpoint.WaitForReplies(3);
    ASSERT_EQ(replies.size(), 3u);
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE("box " + std::to_string(i));
        const Reply* reply = FindByMac(replies, Mac(lab().Box(i).mac));
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(reply->kind, 'S');
        EXPECT_EQ(reply->ip, Ip(lab().Box(i).ip));
        EXPECT_EQ(reply->netmask, Ip("255.255.255.0"));
        EXPECT_EQ(reply->gateway, Ip("10.77.0." + std::to_string(100 + i)));
        // One datagram, from the adapter address and the discovery port.
        EXPECT_TRUE(boxes[i - 1]->WaitForText("search from " + lab().ToolIp() + ":4000"))
            << boxes[i - 1]->Captured();
    }
    // One search is one datagram: no box answers twice.
    EXPECT_EQ(endpoint.RepliesAfter(200ms).size(), 3u);
    // SIGTERM ends a box cleanly (also: no sanitizer report ended it).
    for (auto& box : boxes)
        EXPECT_EQ(box->Stop(), 0) << box->Captured();
}

TEST_F(DiscoveryLab, RequestsOnTheWireHaveTheirExactBytes)
{
    BoxSocket wire(lab().Box(1).ns, CFG_DISCOVERY_PORT);
    ASSERT_TRUE(wire.Ok());
    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);

    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    std::vector<std::uint8_t> search(52, 0);
    search[0] = 0x01;
    EXPECT_EQ(wire.Receive(), search);

    const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    ASSERT_EQ(SendInitCfgMsg(mac, &endpoint, CFG_SET_IP_REQ, Ip("192.168.1.10"), Ip("255.255.255.0"),
                             Ip("192.168.1.1")),
              UDP_SEND_OK);
    std::vector<std::uint8_t> setIp(52, 0);
    const std::uint8_t head[] = {0x02, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0xC0, 0xA8,
                                 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01};
    std::copy(std::begin(head), std::end(head), setIp.begin());
    EXPECT_EQ(wire.Receive(), setIp);
}

TEST_F(DiscoveryLab, SetIpChangesOnlyTheBoxWithThatMacAndItsReplyIsReported)
{
    auto box1 = StartBox(1, {});
    auto box2 = StartBox(2, {});
    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);

    const auto mac2 = Mac(lab().Box(2).mac);
    ASSERT_EQ(SendInitCfgMsg(mac2.data(), &endpoint, CFG_SET_IP_REQ, Ip("10.77.0.50"), Ip("255.255.0.0"),
                             Ip("10.77.0.1")),
              UDP_SEND_OK);
    auto replies = endpoint.WaitForReplies(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].kind, 'I');
    EXPECT_EQ(replies[0].mac, mac2);
    EXPECT_EQ(replies[0].ip, Ip("10.77.0.50"));
    EXPECT_TRUE(box1->WaitForText("not mine")) << box1->Captured();
    ASSERT_TRUE(box2->WaitForText("interface eth0 now 10.77.0.50/255.255.0.0")) << box2->Captured();
    const LabRunResult address = RunInBox(2, "ip -4 -o addr show dev eth0");
    EXPECT_NE(address.output.find("10.77.0.50/16"), std::string::npos) << address.output;

    // The next search sees box 2 at its new address and box 1 unchanged.
    endpoint.Clear();
    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    replies = endpoint.WaitForReplies(2);
    ASSERT_EQ(replies.size(), 2u);
    const Reply* reply1 = FindByMac(replies, Mac(lab().Box(1).mac));
    const Reply* reply2 = FindByMac(replies, mac2);
    ASSERT_TRUE(reply1 && reply2);
    EXPECT_EQ(reply1->ip, Ip(lab().Box(1).ip));
    EXPECT_EQ(reply2->ip, Ip("10.77.0.50"));
    EXPECT_EQ(reply2->netmask, Ip("255.255.0.0"));
    EXPECT_EQ(reply2->gateway, Ip("10.77.0.1"));
    EXPECT_EQ(box1->Stop(), 0) << box1->Captured();
    EXPECT_EQ(box2->Stop(), 0) << box2->Captured();
    RestoreBox(2);
}

TEST_F(DiscoveryLab, BoxOnAForeignSubnetIsFoundThroughItsBroadcast)
{
    // Box 3 sits on 192.168.5.10/24, which the tool's adapter cannot route to.
    ASSERT_EQ(RunInBox(3, "ip addr flush dev eth0 && ip addr add 192.168.5.10/24 dev eth0").exitCode, 0);
    {
        auto box = StartBox(3, {"--reply", "broadcast", "--gateway", "192.168.5.1"});
        RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
        ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
        const auto replies = endpoint.WaitForReplies(1);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].mac, Mac(lab().Box(3).mac));
        EXPECT_EQ(replies[0].ip, Ip("192.168.5.10"));
        EXPECT_EQ(replies[0].gateway, Ip("192.168.5.1"));
    }
    {
        // The same box answering by unicast: its datagram comes from a
        // foreign source address and must still reach the endpoint.
        auto box = StartBox(3, {"--reply", "unicast"});
        RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
        ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
        const auto replies = endpoint.WaitForReplies(1);
        ASSERT_EQ(replies.size(), 1u) << box->Captured();
        EXPECT_EQ(replies[0].ip, Ip("192.168.5.10"));
    }
    RestoreBox(3);
}

TEST_F(DiscoveryLab, SameSubnetBoxAnsweringByBroadcastIsReportedOnce)
{
    auto box = StartBox(1, {"--reply", "broadcast"});
    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    ASSERT_EQ(endpoint.WaitForReplies(1).size(), 1u);
    EXPECT_EQ(endpoint.RepliesAfter(200ms).size(), 1u);
}

TEST_F(DiscoveryLab, ReplyDelayHoldsTheAnswerBack)
{
    auto box = StartBox(1, {"--reply-delay", "300"});
    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    ASSERT_EQ(endpoint.WaitForReplies(1).size(), 1u);
    // A lower bound only, which a busy machine can but lengthen.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms);
}

TEST_F(DiscoveryLab, BurstOfAThousandRepliesIsReportedWhole)
{
    constexpr std::size_t BOXES = 1000;
    auto box = StartBox(1, {"--count", std::to_string(BOXES), "--mac", "02:00:00:00:10:00", "--ip",
                            "10.99.0.1", "--no-interface-change"});
    RecordingInitCfg endpoint(Ip(Lab().ToolIp()), CFG_DISCOVERY_PORT);
    ASSERT_EQ(Search(endpoint), UDP_SEND_OK);
    ASSERT_TRUE(box->WaitForText("search replies sent: 1000 of 1000", 5s)) << box->Captured();
    const auto replies = endpoint.WaitForReplies(BOXES, 5s);
    ASSERT_EQ(replies.size(), BOXES);
    std::set<std::vector<std::uint8_t>> macs;
    std::set<std::uint32_t> ips;
    for (const Reply& reply : replies) {
        macs.insert(reply.mac);
        ips.insert(ntohl(reply.ip));
    }
    EXPECT_EQ(macs.size(), BOXES);
    // Box k has address base+k: 10.99.0.1 up to 10.99.3.232.
    EXPECT_EQ(*ips.begin(), ntohl(Ip("10.99.0.1")));
    EXPECT_EQ(*ips.rbegin(), ntohl(Ip("10.99.0.1")) + BOXES - 1);
    EXPECT_EQ(ips.size(), BOXES);
    EXPECT_EQ(box->Stop(), 0) << box->Captured();
}

TEST_F(DiscoveryLab, BoxCommandLineIsChecked)
{
    const std::string box = ToolPath("vindle-box");
    const LabRunResult help = RunInBox(1, box + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--reply MODE"), std::string::npos) << help.output;
    const struct
    {
        const char* args;
        const char* message;
    } rows[] = {
        {"--bogus", "unknown option: --bogus"},
        {"--mac 02:77:00", "not a MAC address"},
        {"--ip 10.0.0.300", "not an IPv4 address"},
        {"--count 0", "--count needs"},
        {"--reply multicast", "--reply is unicast or broadcast"},
        {"--interface nosuch0", "no such interface: nosuch0"},
        {"--lifetime", "--lifetime needs SECONDS"},
        // The tool would read such a greeting as an "ok" / "error" / "status".
        {"--info-field book-7", "must not contain \"ok\""},
        {"--info-field no-error", "must not contain \"error\""},
        {"--info-field status-1", "must not contain \"status\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const LabRunResult result = RunInBox(1, box + " " + row.args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
    }
    // --lifetime ends the box by itself with status 0.
    const LabRunResult timed = RunInBox(1, box + " --lifetime 1", 5s);
    EXPECT_EQ(timed.exitCode, 0) << timed.output;
    EXPECT_NE(timed.output.find("box: lifetime over"), std::string::npos) << timed.output;
}

TEST_F(DiscoveryLab, AdapterListShowsTheInterfacesTheTestCreated)
{
    // adpa0 (up, with an alias and two addresses) and adpb0 (up, but its peer is
    // down, so it has no carrier).
    const LabRunResult setup =
        RunInBox(LAB_TOOL_SIDE,
                 "ip link add adpa0 type veth peer name adpa1 && ip link add adpb0 type veth peer name adpb1"
                 " && ip link set adpa0 address 02:88:00:00:00:0a && ip link set adpa0 alias 'Lab Port A'"
                 " && ip addr add 10.88.1.1/24 dev adpa0 && ip addr add 10.88.2.1/28 dev adpa0"
                 " && ip addr add 10.88.3.1/24 dev adpb0"
                 " && ip link set adpa1 up && ip link set adpa0 up && ip link set adpb0 up");
    ASSERT_EQ(setup.exitCode, 0) << setup.output;
    ASSERT_TRUE(WaitFor([] {
        return RunInBox(LAB_TOOL_SIDE, "cat /sys/class/net/adpa0/operstate").output.find("up") == 0;
    })) << "adpa0 did not come up";

    std::uint32_t size = 0;
    AdapterList probe;
    ASSERT_EQ(GetAdapterList(&size, &probe), ADAPTER_ERROR_INSUFFICIENT_BUFFER);
    // Every IPv4 address counts, loopback included: lo, br0, two on adpa0, adpb0.
    const LabRunResult rows = RunInBox(LAB_TOOL_SIDE, "ip -4 -o addr show | wc -l");
    EXPECT_EQ(size, AdapterListSize(static_cast<std::uint32_t>(std::stoul(rows.output))));
    EXPECT_EQ(size, AdapterListSize(5));
    auto buffer = std::make_unique<std::uint8_t[]>(size);
    auto* list = reinterpret_cast<AdapterList*>(buffer.get());
    ASSERT_EQ(GetAdapterList(&size, list), 0u);

    std::vector<const AdapterInfo*> records;
    for (std::uint32_t i = 0; i < list->count; ++i)
        records.push_back(&list->adapters[i]);
    ASSERT_EQ(records.size(), 4u) << "127.0.0.1 is left out";
    for (const AdapterInfo* record : records)
        EXPECT_NE(record->address, Ip("127.0.0.1"));

    const auto find = [&](const char* ip) -> const AdapterInfo* {
        for (const AdapterInfo* record : records) {
            if (record->address == Ip(ip))
                return record;
        }
        return nullptr;
    };
    const AdapterInfo* bridge = find("10.77.0.1");
    const AdapterInfo* first = find("10.88.1.1");
    const AdapterInfo* second = find("10.88.2.1");
    const AdapterInfo* noCarrier = find("10.88.3.1");
    ASSERT_TRUE(bridge && first && second && noCarrier);

    EXPECT_STREQ(bridge->description, "br0");
    EXPECT_STREQ(bridge->id, "IFID_br0");
    // Both addresses of adpa0 carry its alias and data, in address order.
    EXPECT_LT(first, second);
    for (const AdapterInfo* record : {first, second}) {
        EXPECT_STREQ(record->description, "Lab Port A");
        EXPECT_STREQ(record->id, "IFID_adpa0");
        EXPECT_STREQ(record->typeName, "Ethernet");
        EXPECT_EQ(record->operational, 1);
        const std::uint8_t mac[6] = {0x02, 0x88, 0, 0, 0, 0x0A};
        EXPECT_EQ(0, std::memcmp(record->mac, mac, 6));
    }
    EXPECT_EQ(first->netmask, Ip("255.255.255.0"));
    EXPECT_EQ(second->netmask, Ip("255.255.255.240"));
    EXPECT_STREQ(noCarrier->description, "adpb0");
    EXPECT_EQ(noCarrier->operational, 0);

    RunInBox(LAB_TOOL_SIDE, "ip link del adpa0; ip link del adpb0");
}

}  // namespace
