// TftpServer as an object: several transfers reporting separately, repeated
// starts and stops, and the transfer limits under a flood of requests.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/common/test_socket.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_wire.h"
#include "tftp_test_support.h"

namespace {

using namespace std::chrono_literals;
using Kind = TftpTransferEvent::Kind;

// Every event and report line of one server.
class EventLog final
{
public:
    explicit EventLog(TftpServer& server) : m_server(server)
    {
        server.SetEventHandler([this](const TftpTransferEvent& e) {
            {
                std::lock_guard lock(m_mutex);
                m_events.push_back(e);
            }
            m_changed.notify_all();
        });
        server.SetReportSink([this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines += line;
        });
    }
    // The server may outlive the log: nothing reaches the log afterwards.
    ~EventLog()
    {
        m_server.SetEventHandler(nullptr);
        m_server.SetReportSink(nullptr);
    }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    // The events of the client at `port`, once one of them is of `last`.
    std::vector<TftpTransferEvent> Stream(std::uint16_t port, Kind last)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, WAIT, [&] {
            for (const auto& e : m_events)
                if (ntohs(e.client.sin_port) == port && e.kind == last)
                    return true;
            return false;
        });
        std::vector<TftpTransferEvent> stream;
        for (const auto& e : m_events)
            if (ntohs(e.client.sin_port) == port)
                stream.push_back(e);
        return stream;
    }
    // True once `count` Failed events carry `message`.
    bool WaitForFailures(std::string_view message, std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, WAIT, [&] {
            return static_cast<std::size_t>(
                       std::count_if(m_events.begin(), m_events.end(), [&](const auto& e) {
                           return e.kind == Kind::Failed && e.message == message;
                       })) >= count;
        });
    }
    // Transfers started for the client address `ip` (dotted).
    std::size_t Started(const char* ip)
    {
        in_addr address{};
        inet_pton(AF_INET, ip, &address);
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count_if(m_events.begin(), m_events.end(), [&](const auto& e) {
            return e.kind == Kind::Started && e.client.sin_addr.s_addr == address.s_addr;
        }));
    }
    std::string Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    TftpServer& m_server;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<TftpTransferEvent> m_events;
    std::string m_lines;
};

std::uint32_t Start(TftpServer& server, const std::filesystem::path& home, const std::string& extra = {})
{
    std::istringstream ini("[LISTEN-ON]\n127.0.0.1:0\n[HOME]\n" + home.string() + "\n" + extra);
    return server.Start(ini, (home / "vindle").string());
}

std::size_t CountEntries(const char* folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

TEST(TftpServerObject, ConcurrentReadsReportSeparateProgressStreams)
{
    TempFolder temp;
    const Bytes file = RandomBytes(10 * 512 + 100);
    WriteFile(temp.Path() / "home" / "f.bin", file);
    TftpServer server;
    EventLog log(server);
    ASSERT_EQ(Start(server, temp.Path() / "home"), TFTP_SERVER_OK) << log.Lines();

    // Both transfers hold their first block before either goes on.
    TftpTestClient a;
    TftpTestClient b;
    TftpTestClient* clients[] = {&a, &b};
    std::uint16_t ports[2] = {};
    Bytes received[2];
    for (int i = 0; i < 2; ++i)
        clients[i]->SendTo(server.ListenPort(), Request(TFTP_RRQ, "f.bin", "octet"));
    bool done[2] = {false, false};
    while (!done[0] || !done[1]) {
        for (int i = 0; i < 2; ++i) {
            if (done[i])
                continue;
            auto packet = clients[i]->Receive();
            ASSERT_TRUE(packet);
            ASSERT_EQ(packet->Opcode(), TFTP_DATA);
            if (packet->Block() == 1) {
                ports[i] = packet->fromPort;
                if (i == 1) {
                    EXPECT_EQ(server.RunningTransfers(), 2u);
                }
            }
            const Bytes payload = packet->Payload();
            received[i].insert(received[i].end(), payload.begin(), payload.end());
            clients[i]->SendTo(ports[i], Ack(packet->Block()));
            done[i] = payload.size() < 512;
        }
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i], file);
        const auto stream = log.Stream(clients[i]->LocalPort(), Kind::Finished);
        ASSERT_GE(stream.size(), 3u);
        EXPECT_EQ(stream.front().kind, Kind::Started);
        EXPECT_EQ(stream.back().kind, Kind::Finished);
        EXPECT_EQ(stream.back().bytesSent, file.size());
        // One Progress per percent reached: 11 blocks give 11 distinct
        // shares, the last 100.
        std::vector<int> percents;
        for (const auto& e : stream) {
            EXPECT_EQ(e.client.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
            EXPECT_EQ(e.file, "f.bin");
            EXPECT_EQ(e.fileSize, file.size());
            EXPECT_FALSE(e.write);
            if (e.kind == Kind::Progress)
                percents.push_back(TftpPercentSent(e));
        }
        ASSERT_EQ(percents.size(), 11u);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(percents.front(), 512 * 100 / static_cast<int>(file.size()));
        EXPECT_EQ(percents.back(), 100);
    }
    EXPECT_NE(ports[0], ports[1]);
}

// Two servers run side by side and are stopped and started again; each stop
// ends the running transfer and leaves no thread or descriptor behind.
TEST(TftpServerObject, StartsAndStopsRepeatedlyLeavingNothingBehind)
{
    TempFolder temp;
    WriteFile(temp.Path() / "home" / "f.bin", RandomBytes(5000));
    TftpServer servers[2];
    EventLog first(servers[0]);
    EventLog second(servers[1]);
    EventLog* logs[] = {&first, &second};
    // NOTE: the thread sanitizer's runtime starts a thread of its own with
    // the first thread a program creates; one is created before counting.
    std::thread([] {}).join();
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        TftpTestClient clients[2];  // two descriptors of the test's own
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Start(servers[i], temp.Path() / "home"), TFTP_SERVER_OK);
            EXPECT_EQ(Start(servers[i], temp.Path() / "home"), TFTP_SERVER_RUNNING);
            clients[i].SendTo(servers[i].ListenPort(), Request(TFTP_RRQ, "f.bin", "octet"));
            auto data = clients[i].Receive();
            ASSERT_TRUE(data);
            EXPECT_EQ(data->Block(), 1);
            EXPECT_EQ(servers[i].RunningTransfers(), 1u);
        }
        for (int i = 0; i < 2; ++i) {
            servers[i].Stop();
            EXPECT_EQ(servers[i].RunningTransfers(), 0u);
            EXPECT_EQ(servers[i].ListenPort(), 0);
            auto reply = clients[i].Receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->ErrorText(), "Server shutting down");
            const auto stream = logs[i]->Stream(clients[i].LocalPort(), Kind::Failed);
            ASSERT_FALSE(stream.empty());
            EXPECT_EQ(stream.back().message, "Server shutting down");
        }
        EXPECT_EQ(CountEntries("/proc/self/task"), threads);
        EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors + 2);
    }
}

// A program that ends an update run at once (vindlectl's second Ctrl-C)
// ends the transfers from another thread while the server keeps listening:
// every client, also one that asks afterwards, gets the error at once.
TEST(TftpServerObject, EndTransfersEndsRunningAndLaterTransfersUntilStop)
{
    TempFolder temp;
    WriteFile(temp.Path() / "home" / "f.bin", RandomBytes(5000));
    TftpServer server;
    ASSERT_EQ(Start(server, temp.Path() / "home"), TFTP_SERVER_OK);
    TftpTestClient running;
    running.SendTo(server.ListenPort(), Request(TFTP_RRQ, "f.bin", "octet"));
    ASSERT_TRUE(running.Receive());
    std::thread([&server] { server.EndTransfers(); }).join();
    auto reply = running.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ErrorText(), "Server shutting down");
    EXPECT_NE(server.ListenPort(), 0);

    // A later transfer may send its first block before it sees the stop.
    TftpTestClient later;
    later.SendTo(server.ListenPort(), Request(TFTP_RRQ, "f.bin", "octet"));
    reply = later.Receive();
    ASSERT_TRUE(reply);
    if (reply->ErrorText().empty()) {
        EXPECT_EQ(reply->Block(), 1);
        reply = later.Receive();
        ASSERT_TRUE(reply);
    }
    EXPECT_EQ(reply->ErrorText(), "Server shutting down");

    // A new start serves again.
    server.Stop();
    ASSERT_EQ(Start(server, temp.Path() / "home"), TFTP_SERVER_OK);
    TftpTestClient afterRestart;
    afterRestart.SendTo(server.ListenPort(), Request(TFTP_RRQ, "f.bin", "octet"));
    reply = afterRestart.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Block(), 1);
}

// Without a descriptor to spare the server cannot even make its stop event,
// and says so, not that it cannot listen.
TEST(TftpServerObject, MissingStopEventIsNoListeningFailure)
{
    TempFolder temp;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = dup(0);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    std::optional<TftpServer> server;
    server.emplace();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(Start(*server, temp.Path() / "home"), TFTP_SERVER_NO_STOP_EVENT);
    EXPECT_EQ(server->ListenPort(), 0);
}

// A UDP socket on a loopback address of its own, so that the server counts
// it as a client of its own.
class FloodSocket final
{
public:
    explicit FloodSocket(const char* address) : m_socket(TestSocket::Udp(inet_addr(address)))
    {
        const int size = 1 << 20;
        setsockopt(m_socket.Fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    bool Bound() const { return m_socket.Ok(); }
    void Send(std::uint16_t port, const Bytes& packet)
    {
        m_socket.SendTo(packet, TestSocket::Loopback(port));
    }
    // Takes every reply that arrives within `wait` of the last one.
    void Collect(std::chrono::milliseconds wait)
    {
        pollfd fd{m_socket.Fd(), POLLIN, 0};
        while (poll(&fd, 1, static_cast<int>(wait.count())) > 0) {
            std::uint8_t buffer[600];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(m_socket.Fd(), buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 4)
                continue;
            const int opcode = buffer[0] << 8 | buffer[1];
            if (opcode == TFTP_DATA)
                transferPorts.insert(ntohs(from.sin_port));
            else if (opcode == TFTP_ERROR)
                ++refusals[std::string(
                    reinterpret_cast<char*>(buffer + 4),
                    strnlen(reinterpret_cast<char*>(buffer + 4), static_cast<std::size_t>(n) - 4))];
        }
    }
    // Floods `count` read requests, then goes on until a refusal came back:
    // most of a flood drowns in full socket buffers, the more so on a slow
    // machine, but the limits must have been met. Bounded by 20 s.
    void Flood(std::uint16_t port, int count)
    {
        const Bytes request = Request(TFTP_RRQ, "f.bin", "octet");
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        for (int i = 0; i < count || (refusals.empty() && std::chrono::steady_clock::now() < deadline); ++i) {
            Send(port, request);
            if (i % 16 == 15)
                Collect(i < count ? 0ms : 50ms);
        }
        Collect(300ms);
    }

    std::set<std::uint16_t> transferPorts;
    std::map<std::string, int> refusals;

private:
    TestSocket m_socket;
};

std::size_t ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            return std::stoul(line.substr(6));
    return 0;
}

// 6000 read requests that are never acknowledged, from four client
// addresses. At most two transfers per client and six in all run, the
// newest requests taking the places of the oldest unanswered transfers; a
// normal client is served during the flood and after it.
TEST(TftpServerObject, FloodOfStalledReadsStaysWithinTheLimits)
{
    TempFolder temp;
    const Bytes file = RandomBytes(3000);
    WriteFile(temp.Path() / "home" / "f.bin", file);
    TftpServer server;
    EventLog log(server);
    // A stalled transfer would live 4 x 5 s: the flood ends long before.
    ASSERT_EQ(Start(server, temp.Path() / "home",
                    "[TFTP-OPTIONS]\nmax-transfers=6\nmax-transfers-per-client=2\ninterval=10\n"),
              TFTP_SERVER_OK);
    const std::uint16_t port = server.ListenPort();
    FloodSocket flooders[] = {FloodSocket("127.0.0.2"), FloodSocket("127.0.0.3"), FloodSocket("127.0.0.4"),
                              FloodSocket("127.0.0.5")};
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    const std::size_t resident = ResidentKilobytes();
    for (const auto& f : flooders)
        ASSERT_TRUE(f.Bound());

    // Two clients flood while a normal one reads.
    std::thread a([&] { flooders[0].Flood(port, 1500); });
    std::thread b([&] { flooders[1].Flood(port, 1500); });
    std::optional<Bytes> during;
    std::uint16_t normalPort = 0;
    for (int attempt = 0; attempt < 10 && !during; ++attempt) {
        // A request may drown in the flood; a new one is a new transfer.
        TftpTestClient normal;
        during = normal.ReadFile(port, "f.bin");
        normalPort = normal.LocalPort();
    }
    a.join();
    b.join();
    ASSERT_TRUE(during);
    EXPECT_EQ(*during, file);
    // Its slot is free once its end is told.
    EXPECT_EQ(log.Stream(normalPort, Kind::Finished).back().kind, Kind::Finished);

    // Two more fill the server: the third gets its two transfers, and so
    // does the fourth, in the places of the two oldest stalled ones.
    flooders[2].Flood(port, 1500);
    flooders[3].Flood(port, 1500);
    EXPECT_LE(server.RunningTransfers(), 6u);
    EXPECT_LE(CountEntries("/proc/self/task"), threads + 6);
    EXPECT_LE(CountEntries("/proc/self/fd"), descriptors + 2 * 6);
    // Each stalled transfer holds two blocks; the rest is the flood's
    // passing allocations (kept a while by the address sanitizer).
    EXPECT_LT(ResidentKilobytes(), resident + 64 * 1024);
    // No stalled transfer ends before its 20 s are up unless displaced, so
    // these are all the transfers the flood got.
    const char* addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(addresses[i]);
        EXPECT_EQ(log.Started(addresses[i]), 2u);
        EXPECT_GT(flooders[i].refusals["Too many transfers from this client"], 0);
    }
    EXPECT_EQ(server.RunningTransfers(), 6u);
    EXPECT_TRUE(log.WaitForFailures("Too many transfers", 2));
    EXPECT_NE(log.Lines().find(", Too many transfers\n"), std::string::npos);

    // The flooders give up; their slots free and a normal client is served.
    // A first block that drowned in a flooder's own replies comes again
    // after the 5 s wait.
    for (int i = 0; i < 4; ++i) {
        const auto deadline = std::chrono::steady_clock::now() + 8s;
        while (flooders[i].transferPorts.size() < 2 && std::chrono::steady_clock::now() < deadline)
            flooders[i].Collect(1000ms);
        for (std::uint16_t transfer : flooders[i].transferPorts)
            flooders[i].Send(transfer, ErrorPacket(0, "gone"));
    }
    ASSERT_TRUE(log.WaitForFailures("Error Code 0 at Client, gone", 6));
    TftpTestClient after;
    auto data = after.ReadFile(port, "f.bin");
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, file);
    server.Stop();
    EXPECT_EQ(CountEntries("/proc/self/task"), threads - 1);
}

}  // namespace
