// UDP endpoint on loopback: datagram sizes, sender details, send results,
// address resolution, traces and a stop that never hangs. Broadcasts are tested in
// the lab (udp_lab_test.cpp).
#include "net/udp.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tests/common/core_output_capture.h"
#include "udp_endpoint.h"

using namespace std::chrono_literals;
using nettest::Datagram;
using nettest::Ipv4;
using nettest::RecordingUdp;

namespace {

// A plain socket on 127.0.0.1 with a system-chosen port, as a foreign sender.
class Sender final
{
public:
    Sender()
    {
        m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = Ipv4("127.0.0.1");
        socklen_t length = sizeof addr;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &length);
        port = ntohs(addr.sin_port);
    }
    ~Sender() { ::close(m_socket); }

    bool SendTo(std::uint16_t wPort, const std::vector<std::uint8_t>& data)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(wPort);
        to.sin_addr.s_addr = Ipv4("127.0.0.1");
        return ::sendto(m_socket, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(data.size());
    }

    std::uint16_t port = 0;

private:
    int m_socket = -1;
};

std::vector<std::uint8_t> Pattern(std::size_t size)
{
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return data;
}

}  // namespace

TEST(CUdp, DeliversDatagramsUpToTheBufferSizeWhole)
{
    RecordingUdp endpoint(Ipv4("127.0.0.1"));
    const std::uint16_t port = endpoint.GetLocalPort();
    Sender sender;
    const std::size_t sizes[] = {0, 1, 2047, 2048};
    for (std::size_t size : sizes)
        ASSERT_TRUE(sender.SendTo(port, Pattern(size)));

    ASSERT_TRUE(endpoint.WaitForDatagrams(std::size(sizes)));
    const std::vector<Datagram> got = endpoint.Datagrams();
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(got[i].data, Pattern(sizes[i]));
        EXPECT_EQ(got[i].from, "127.0.0.1");
        EXPECT_EQ(got[i].port, sender.port);
        EXPECT_EQ(got[i].pContext, endpoint.Context());
    }
}

TEST(CUdp, DropsOversizedDatagramsWholeAndCarriesOn)
{
    RecordingUdp endpoint(Ipv4("127.0.0.1"));
    const std::uint16_t port = endpoint.GetLocalPort();
    Sender sender;
    // Linux would hand out the first 2048 bytes of these without complaint;
    // not even a part may be delivered.
    for (std::size_t size : {2049, 4096, 65507}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(sender.SendTo(port, Pattern(size)));
    }
    ASSERT_TRUE(sender.SendTo(port, {0x42}));
    ASSERT_TRUE(endpoint.WaitForDatagrams(1));
    EXPECT_EQ(endpoint.Datagrams().size(), 1U);
    EXPECT_EQ(endpoint.Datagrams()[0].data, std::vector<std::uint8_t>{0x42});
    const auto traces = endpoint.Traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "receive error\n"), 3);
}

TEST(CUdp, SendReportsUnresolvableTargetsWithoutSending)
{
    RecordingUdp receiver(Ipv4("127.0.0.1"));
    const std::uint16_t port = receiver.GetLocalPort();
    CUdp sender(0, 0, nullptr);
    const std::uint8_t byte = 1;

    struct Case
    {
        const char* host;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"0.0.0.0", UDP_SEND_UNRESOLVED},  // the all-zero text counts as not resolvable
        {"", UDP_SEND_UNRESOLVED},        {nullptr, UDP_SEND_UNRESOLVED},
        {"127.0.0.1", UDP_SEND_OK},       {"localhost", UDP_SEND_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host != nullptr ? c.host : "(null)");
        EXPECT_EQ(sender.Send(c.host, port, &byte, 1), c.expected);
    }
    EXPECT_TRUE(receiver.WaitForDatagrams(2));
    EXPECT_FALSE(receiver.WaitForDatagrams(3, 100ms));
}

TEST(CUdp, SendsFromItsBoundAddressAndPort)
{
    RecordingUdp receiver(Ipv4("127.0.0.1"));
    const std::uint16_t receiverPort = receiver.GetLocalPort();
    RecordingUdp sender(Ipv4("127.0.0.1"));
    const std::uint16_t senderPort = sender.GetLocalPort();

    const std::vector<std::uint8_t> data = Pattern(52);
    ASSERT_EQ(sender.Send("127.0.0.1", receiverPort, data.data(), 52), UDP_SEND_OK);
    ASSERT_TRUE(receiver.WaitForDatagrams(1));
    const Datagram got = receiver.Datagrams()[0];
    EXPECT_EQ(got.data, data);
    EXPECT_EQ(got.from, "127.0.0.1");
    EXPECT_EQ(got.port, senderPort);
}

TEST(CUdp, ResolveFollowsTheDottedOrNameRule)
{
    struct Case
    {
        const char* text;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {nullptr, 0},
        {"", 0},
        {"127.0.0.1", Ipv4("127.0.0.1")},
        {"10.77.0.2", Ipv4("10.77.0.2")},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        // Digits and dots that are no address convert to the limited broadcast.
        {"256.1.1.1", 0xFFFFFFFF},
        {"1..2.3", 0xFFFFFFFF},
        // Bytes from 0x80 up do not make a host name: still converted, still invalid.
        {"1.2.3.4\xB0", 0xFFFFFFFF},
        {"localhost", Ipv4("127.0.0.1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        EXPECT_EQ(CUdp::Resolve(c.text), c.expected);
    }
}

TEST(CUdp, TracesTheReceiveCycle)
{
    RecordingUdp endpoint(Ipv4("127.0.0.1"));
    const std::uint16_t port = endpoint.GetLocalPort();
    Sender sender;
    ASSERT_TRUE(sender.SendTo(port, {1, 2, 3}));
    ASSERT_TRUE(endpoint.WaitForDatagrams(1));
    endpoint.End(1);

    const std::vector<std::string> traces = endpoint.Traces();
    const std::vector<std::string> expected = {"Thread started\n", "Select loop exit read sel: 1 1\n",
                                               "calling read\n", "Thread ended\n"};
    auto at = traces.begin();
    for (const std::string& line : expected) {
        at = std::find(at, traces.end(), line);
        EXPECT_NE(at, traces.end()) << "missing or out of order: " << line;
    }
}

TEST(CUdp, DestructionWithoutTrafficDoesNotHang)
{
    auto endpoint = std::make_unique<RecordingUdp>(Ipv4("127.0.0.1"));
    // The receive loop waits 10 ms at a time for a datagram; only a worker
    // that never looks at its stop flag again runs into the deadline.
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { endpoint.reset(); }));
}

TEST(CUdp, FailedBindStillGivesAWorkerThatStops)
{
    RecordingUdp first(Ipv4("127.0.0.1"));
    const std::uint16_t port = first.GetLocalPort();
    {
        RecordingUdp second(Ipv4("127.0.0.1"), port);
        EXPECT_TRUE(second.WaitForTrace("Thread started\n"));
        // Without an address of its own every wait fails, and says so.
        EXPECT_TRUE(second.WaitForTrace("select failed\n"));
        EXPECT_TRUE(second.WaitForTrace("Select loop exit read sel: -1 1\n"));

        // A send gives the socket an address; from then on it receives.
        const std::uint8_t hello = 7;
        ASSERT_EQ(second.Send("127.0.0.1", port, &hello, 1), UDP_SEND_OK);
        ASSERT_TRUE(first.WaitForDatagrams(1));
        const std::uint8_t answer = 8;
        ASSERT_EQ(first.Send("127.0.0.1", first.Datagrams()[0].port, &answer, 1), UDP_SEND_OK);
        EXPECT_TRUE(second.WaitForDatagrams(1));

        EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { second.End(1); }));
    }
    Sender sender;
    ASSERT_TRUE(sender.SendTo(port, {9}));
    EXPECT_TRUE(first.WaitForDatagrams(2));
}

TEST(CUdp, SendOnlyEndpointNeitherReceivesNorComplainsWhenDestroyed)
{
    CoreOutputCapture capture;
    {
        CUdp sender(Ipv4("127.0.0.1"), 0, nullptr);
        EXPECT_EQ(sender.IsRunning(), 0);
        EXPECT_EQ(sender.GetLocalPort(), 0);
    }
    // No worker was ever started, so there is nothing whose stop could fail.
    EXPECT_EQ(capture.Stop(), "");
}

TEST(CUdp, SendersOnOtherThreadsRunAlongsideTheReceiver)
{
    RecordingUdp receiver(Ipv4("127.0.0.1"));
    const std::uint16_t port = receiver.GetLocalPort();
    CUdp sender(0, 0, nullptr);
    auto burst = [&](std::uint8_t tag) {
        for (int i = 0; i < 50; ++i)
            EXPECT_EQ(sender.Send("127.0.0.1", port, &tag, 1), UDP_SEND_OK);
    };
    std::thread a(burst, 1), b(burst, 2);
    a.join();
    b.join();
    EXPECT_TRUE(receiver.WaitForDatagrams(100));
}
