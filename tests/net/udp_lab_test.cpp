// UDP endpoint on a real segment (the lab): broadcasts in both directions and
// the adapter binding. An endpoint constructed with an adapter address must
// hear broadcasts from boxes whose own address lies on a foreign subnet,
// unicast datagrams to it, and send broadcasts that leave through its adapter
// although the tool side has no default route.
//
// Box-side endpoints are built on a thread that has joined the box's network
// namespace; a socket stays in the namespace it was created in.
#include "net/udp.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support.h"
#include "tests/common/lab.h"
#include "udp_endpoint.h"

using nettest::Datagram;
using nettest::Ipv4;
using nettest::RecordingUdp;

namespace {

// Inside the lab the fixed discovery port is ours to use.
constexpr std::uint16_t PORT = 4000;
// Address outside the lab's subnet, as a box with a stale configuration has.
constexpr const char* FOREIGN_IP = "192.168.50.7";

// Runs `work` on a thread that has joined box `box`'s network namespace.
::testing::AssertionResult InBox(int box, const std::function<void()>& work)
{
    std::string problem;
    std::thread worker([&] {
        const std::string path = "/run/netns/" + Lab().Box(box).ns;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            problem = "cannot join " + path + ": " + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return;
        }
        ::close(fd);
        work();
    });
    worker.join();
    if (!problem.empty())
        return ::testing::AssertionFailure() << problem;
    return ::testing::AssertionSuccess();
}

std::unique_ptr<RecordingUdp> EndpointInBox(int box, const char* pszLocalIp)
{
    std::unique_ptr<RecordingUdp> endpoint;
    EXPECT_TRUE(InBox(box, [&] { endpoint = std::make_unique<RecordingUdp>(Ipv4(pszLocalIp), PORT); }));
    return endpoint;
}

const std::uint8_t SEARCH[] = {'s', 'e', 'a', 'r', 'c', 'h'};
const std::uint8_t REPLY[] = {'r', 'e', 'p', 'l', 'y'};

class UdpLab : public LabTest
{
protected:
    int MinBoxes() const override { return 2; }
};

}  // namespace

TEST_F(UdpLab, AdapterEndpointHearsForeignSubnetBroadcastAndUnicast)
{
    const LabRunResult added = RunInBox(1, std::string("ip addr replace ") + FOREIGN_IP + "/24 dev eth0");
    ASSERT_EQ(added.exitCode, 0) << added.output;

    RecordingUdp tool(Ipv4(lab().ToolIp().c_str()), PORT);
    // Box 1 sends from its foreign address, box 2 from the lab address that
    // the system picks for a wildcard endpoint.
    auto box1 = EndpointInBox(1, FOREIGN_IP);
    auto box2 = EndpointInBox(2, "0.0.0.0");
    ASSERT_TRUE(box1 && box2);

    EXPECT_EQ(box1->Send("255.255.255.255", PORT, SEARCH, sizeof SEARCH), UDP_SEND_OK);
    ASSERT_TRUE(tool.WaitForDatagrams(1));
    EXPECT_EQ(box2->Send(lab().ToolIp().c_str(), PORT, REPLY, sizeof REPLY), UDP_SEND_OK);
    ASSERT_TRUE(tool.WaitForDatagrams(2));

    const auto got = tool.Datagrams();
    EXPECT_EQ(got[0].from, FOREIGN_IP);
    EXPECT_EQ(got[0].port, PORT);
    EXPECT_EQ(got[0].data, std::vector<std::uint8_t>(std::begin(SEARCH), std::end(SEARCH)));
    EXPECT_EQ(got[1].from, lab().Box(2).ip);
    EXPECT_EQ(got[1].data, std::vector<std::uint8_t>(std::begin(REPLY), std::end(REPLY)));
}

TEST_F(UdpLab, AdapterEndpointBroadcastReachesEveryBox)
{
    RecordingUdp tool(Ipv4(lab().ToolIp().c_str()), PORT);
    auto box1 = EndpointInBox(1, lab().Box(1).ip.c_str());
    auto box2 = EndpointInBox(2, "0.0.0.0");
    ASSERT_TRUE(box1 && box2);

    // The tool side has no default route: only a broadcast that names its
    // adapter's address as source finds a way out.
    ASSERT_EQ(tool.Send("255.255.255.255", PORT, SEARCH, sizeof SEARCH), UDP_SEND_OK);
    for (RecordingUdp* box : {box1.get(), box2.get()}) {
        ASSERT_TRUE(box->WaitForDatagrams(1));
        const Datagram got = box->Datagrams()[0];
        EXPECT_EQ(got.from, lab().ToolIp());
        EXPECT_EQ(got.port, PORT);
        EXPECT_EQ(got.data, std::vector<std::uint8_t>(std::begin(SEARCH), std::end(SEARCH)));
    }

    // The stack loops the broadcast back to the sender's own port as well.
    EXPECT_TRUE(tool.WaitForDatagramFrom(lab().ToolIp()));

    // A box answers by unicast to the address the request came from.
    ASSERT_EQ(box1->Send(lab().ToolIp().c_str(), PORT, REPLY, sizeof REPLY), UDP_SEND_OK);
    const auto reply = tool.WaitForDatagramFrom(lab().Box(1).ip);
    ASSERT_TRUE(reply);
    EXPECT_EQ(tool.Datagrams()[*reply].data, std::vector<std::uint8_t>(std::begin(REPLY), std::end(REPLY)));
}

TEST_F(UdpLab, SendOnlyEndpointMayNotBroadcast)
{
    // Port 0: no broadcast permission was asked for, so the system refuses.
    CUdp sender(Ipv4(lab().ToolIp().c_str()), 0, nullptr);
    EXPECT_EQ(sender.Send("255.255.255.255", PORT, SEARCH, sizeof SEARCH), UDP_SEND_FAILED);
}

TEST_F(UdpLab, UnknownHostNameIsNotSentTo)
{
    CUdp sender(0, 0, nullptr);
    EXPECT_EQ(sender.Send("no-such-box.invalid", PORT, SEARCH, sizeof SEARCH), UDP_SEND_UNRESOLVED);
}
