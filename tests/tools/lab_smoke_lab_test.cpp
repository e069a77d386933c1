// The lab itself, seen from inside: its variables match the interfaces that
// really exist, and a limited broadcast from the tool side reaches every box
// namespace while their unicast answers come back. Runs in a lab with two
// boxes (vindle_add_lab_tests BOXES 2).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/lab.h"

namespace {

// Inside the lab the fixed discovery port is ours to use.
constexpr int PROBE_PORT = 4000;

struct Fd
{
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

sockaddr_in Address(const std::string& ip, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

class LabSmoke : public LabTest
{
protected:
    int MinBoxes() const override { return 2; }
};

TEST_F(LabSmoke, ToolSideVariablesFollowTheAddressPlan)
{
    EXPECT_EQ(lab().ToolIp(), "10.77.0.1");
    EXPECT_EQ(lab().ToolIf(), "br0");
    EXPECT_EQ(lab().Boxes(), 2);
    EXPECT_EQ(lab().BoxIndex(), 0) << "the test runs on the tool side, not in a box";
}

TEST_F(LabSmoke, EachBoxHasTheAnnouncedAddressAndMac)
{
    const struct
    {
        int box;
        const char* ip;
        const char* mac;
    } expected[] = {
        {1, "10.77.0.2", "02:77:00:00:00:02"},
        {2, "10.77.0.3", "02:77:00:00:00:03"},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE("box " + std::to_string(row.box));
        const LabBox& box = lab().Box(row.box);
        EXPECT_EQ(box.ip, row.ip);
        EXPECT_EQ(box.mac, row.mac);
        EXPECT_EQ(box.ifname, "eth0");
        // Per-run names keep parallel labs apart.
        EXPECT_EQ(box.ns.rfind("vl", 0), 0u) << box.ns;
        EXPECT_NE(box.ns.find("-b" + std::to_string(row.box)), std::string::npos) << box.ns;

        // What the variables say must be what the namespace really has.
        LabRunResult mac = RunInBox(row.box, "cat /sys/class/net/eth0/address");
        ASSERT_EQ(mac.exitCode, 0) << mac.output;
        EXPECT_EQ(Trimmed(mac.output), row.mac);
        LabRunResult addr = RunInBox(row.box, "ip -4 -o addr show dev eth0");
        ASSERT_EQ(addr.exitCode, 0) << addr.output;
        EXPECT_NE(addr.output.find(std::string(row.ip) + "/24"), std::string::npos) << addr.output;
        LabRunResult index = RunInBox(row.box, "echo $LAB_BOX_IP_1 $LAB_BOX_IP_2");
        EXPECT_EQ(Trimmed(index.output), "10.77.0.2 10.77.0.3") << "boxes see the lab's variables too";
    }
}

TEST_F(LabSmoke, ToolSideSeesOnlyLabInterfaces)
{
    // The host's own interfaces must be out of reach of anything in the lab.
    using NameList = struct if_nameindex;
    std::unique_ptr<NameList, decltype(&if_freenameindex)> names(if_nameindex(), &if_freenameindex);
    ASSERT_TRUE(names) << std::strerror(errno);
    bool sawBridge = false;
    for (const NameList* n = names.get(); n->if_index != 0; ++n) {
        const std::string name = n->if_name;
        sawBridge = sawBridge || name == "br0";
        const bool labOwned = name == "lo" || name == "br0" || name.rfind("vb", 0) == 0;
        EXPECT_TRUE(labOwned) << "unexpected interface on the tool side: " << name;
    }
    EXPECT_TRUE(sawBridge);
}

TEST_F(LabSmoke, BroadcastReachesBothBoxesAndTheirAnswersComeBack)
{
    const std::string responder = ToolPath("lab_udp_responder");
    ASSERT_FALSE(responder.empty()) << "lab_udp_responder not found under VINDLE_BUILD_DIR";

    std::vector<std::unique_ptr<LabProcess>> boxes;
    for (int i = 1; i <= 2; ++i) {
        boxes.push_back(std::make_unique<LabProcess>(
            i, std::vector<std::string>{responder, "--port", std::to_string(PROBE_PORT)},
            LabProcess::Output::Capture));
        ASSERT_TRUE(boxes.back()->Started()) << boxes.back()->Error();
        ASSERT_TRUE(boxes.back()->WaitForText("listening"))
            << "box " << i << ": " << boxes.back()->Captured();
    }

    Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_GE(sock.fd, 0) << std::strerror(errno);
    int on = 1;
    ASSERT_EQ(setsockopt(sock.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    // Bound to the tool address: that is what lets the limited broadcast
    // leave without a default route.
    sockaddr_in local = Address(lab().ToolIp(), 0);
    ASSERT_EQ(bind(sock.fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << std::strerror(errno);

    const std::string probe = "probe";
    sockaddr_in all = Address("255.255.255.255", PROBE_PORT);
    ASSERT_EQ(sendto(sock.fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&all), sizeof all),
              static_cast<ssize_t>(probe.size()))
        << std::strerror(errno);

    std::map<std::string, std::string> answers;  // sender address -> text
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    while (answers.size() < 2) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{sock.fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[1500];
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        ssize_t got =
            recvfrom(sock.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLen);
        ASSERT_GE(got, 0) << std::strerror(errno);
        char from[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, from, sizeof from);
        answers[from] = std::string(buffer, static_cast<std::size_t>(got));
    }

    ASSERT_EQ(answers.size(), 2u) << "box 1 said: " << boxes[0]->Captured()
                                  << "box 2 said: " << boxes[1]->Captured();
    EXPECT_EQ(answers["10.77.0.2"], "box 1 probe");
    EXPECT_EQ(answers["10.77.0.3"], "box 2 probe");
}

TEST_F(LabSmoke, BroadcastFromAnUnboundSocketHasNoRoute)
{
    // The tool side deliberately has no default route, like a PC without a
    // gateway: code that wants to broadcast must bind the adapter address.
    // A default route added to the lab would hide exactly that fault.
    Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_GE(sock.fd, 0);
    int on = 1;
    ASSERT_EQ(setsockopt(sock.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    sockaddr_in all = Address("255.255.255.255", PROBE_PORT);
    char byte = 0;
    errno = 0;
    EXPECT_LT(sendto(sock.fd, &byte, 1, 0, reinterpret_cast<sockaddr*>(&all), sizeof all), 0);
    EXPECT_EQ(errno, ENETUNREACH) << std::strerror(errno);
}

TEST_F(LabSmoke, ProcessOutsideAnyBoxIsRefused)
{
    LabProcess nowhere(3, {"true"});
    EXPECT_FALSE(nowhere.Started());
    EXPECT_NE(nowhere.Error().find("box 3"), std::string::npos) << nowhere.Error();
}

TEST_F(LabSmoke, StoppedProcessTakesItsChildrenAlong)
{
    // A box command that forks must not leave its children in the lab.
    LabProcess parent(1, {"sh", "-c", "sleep 30 & echo child $!; wait"}, LabProcess::Output::Capture);
    ASSERT_TRUE(parent.Started()) << parent.Error();
    auto line = parent.ReadLineFor(WAIT);
    ASSERT_TRUE(line.has_value());
    int child = 0;
    ASSERT_EQ(std::sscanf(line->c_str(), "child %d", &child), 1) << *line;
    EXPECT_EQ(parent.Stop(), 128 + SIGTERM);
    // The child is not ours to reap; it is gone once kill(0) fails or it
    // turned into a zombie of the lab's reaper.
    EXPECT_TRUE(WaitFor([child] {
        if (kill(child, 0) != 0)
            return true;
        FILE* stat = std::fopen(("/proc/" + std::to_string(child) + "/stat").c_str(), "r");
        if (!stat)
            return true;
        int pid = 0;
        char comm[64] = {};
        char state = 0;
        int fields = std::fscanf(stat, "%d %63s %c", &pid, comm, &state);
        std::fclose(stat);
        return fields == 3 && state == 'Z';
    })) << "child "
        << child << " survived";
}

TEST_F(LabSmoke, RunInBoxReportsExitCodeAndTimeout)
{
    LabRunResult ok = RunInBox(1, "echo hello; exit 3");
    EXPECT_EQ(ok.exitCode, 3);
    EXPECT_EQ(ok.output, "hello\n");
    EXPECT_FALSE(ok.timedOut);

    LabRunResult slow = RunInBox(2, "sleep 30", std::chrono::milliseconds(200));
    EXPECT_TRUE(slow.timedOut);
    EXPECT_EQ(slow.exitCode, -1);
}

}  // namespace
