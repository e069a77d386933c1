// CTcp and CTcpConnection on loopback against raw POSIX peers, so that the
// framing is checked byte by byte and hostile peers can be played.

#include "net/tcp.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/test_socket.h"
#include "tests/common/wait.h"

namespace {

using namespace std::chrono_literals;

// One indication as the endpoint delivered it.
struct Event
{
    std::uint16_t msg;
    std::string data;  // peer text for CONNECT, payload for DATA
    std::uint16_t length;
    CTcpConnection* conn;
};

// Records every indication; tests wait on the record with a deadline.
class RecordingTcp final : public CTcp
{
public:
    explicit RecordingTcp(std::uint32_t dwFlags) : CTcp(dwFlags) {}
    ~RecordingTcp() override { StopAll(); }

    void OnReceive(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength, std::uintptr_t reserved,
                   void*, CTcpConnection* pConn) override
    {
        EXPECT_EQ(reserved, 0u);
        Event event{wMsg, {}, wLength, pConn};
        if (wMsg == TCP_CONNECT_IND) {
            event.data = reinterpret_cast<const char*>(data);
        } else if (wMsg == TCP_DATA_IND) {
            event.data.assign(reinterpret_cast<const char*>(data), wLength);
            // Answering here, on the receive thread, is safe: the
            // connection cannot be deleted while it delivers.
            if (m_Echo) {
                (void)pConn->Send(reinterpret_cast<const std::uint8_t*>(data), wLength);
            }
        } else {
            EXPECT_EQ(data, 0u);
            EXPECT_EQ(wLength, 0u);
        }
        std::lock_guard lock(m_Mutex);
        m_Events.push_back(event);
        m_Changed.notify_all();
    }

    // Every payload received from now on is sent back as it came.
    void EchoData() { m_Echo = true; }

    long Output(const char* pszLine) override
    {
        std::lock_guard lock(m_Mutex);
        m_Traces.emplace_back(pszLine);
        return 0;
    }

    bool HasTrace(const std::string& prefix)
    {
        std::lock_guard lock(m_Mutex);
        for (const auto& line : m_Traces) {
            if (line.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    // Waits until at least count events of kind msg arrived.
    bool WaitForCount(std::uint16_t msg, std::size_t count, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_Mutex);
        return m_Changed.wait_for(lock, timeout, [&] { return CountLocked(msg) >= count; });
    }

    std::vector<Event> Events()
    {
        std::lock_guard lock(m_Mutex);
        return m_Events;
    }

    std::size_t Count(std::uint16_t msg)
    {
        std::lock_guard lock(m_Mutex);
        return CountLocked(msg);
    }

    bool WaitForConnections(std::uint32_t count, std::chrono::milliseconds timeout = WAIT)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (GetConnectionCount() != count) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);  // polling a count, not synchronising
        }
        return true;
    }

private:
    std::size_t CountLocked(std::uint16_t msg) const
    {
        std::size_t n = 0;
        for (const auto& e : m_Events) {
            n += e.msg == msg ? 1 : 0;
        }
        return n;
    }

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<Event> m_Events;
    std::vector<std::string> m_Traces;
    std::atomic<bool> m_Echo{false};
};

std::string Frame(const std::string& payload)
{
    std::string frame;
    frame += static_cast<char>(payload.size() & 0xFF);
    frame += static_cast<char>(payload.size() >> 8);
    return frame + payload;
}

// A client endpoint connected to a raw server peer.
struct ClientSetup
{
    explicit ClientSetup(std::uint32_t dwFlags = TCP_OPT_LENGTH_PREFIX) : tcp(dwFlags)
    {
        tcp.Connect("127.0.0.1", listener.Port(), &conn);
        server = listener.Accept();
        EXPECT_TRUE(tcp.WaitForCount(TCP_CONNECT_IND, 1));
    }

    TestSocket listener = TestSocket::ListenLoopback();
    RecordingTcp tcp;
    CTcpConnection* conn = nullptr;
    TestSocket server;
};

TEST(Tcp, ClientConnectIndicationCarriesEmptyTextAndPortZero)
{
    ClientSetup setup;
    const auto events = setup.tcp.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].msg, TCP_CONNECT_IND);
    EXPECT_EQ(events[0].data, "");
    EXPECT_EQ(events[0].length, 0);
    EXPECT_EQ(events[0].conn, setup.conn);
    EXPECT_EQ(setup.conn->GetFlags(), TCP_OPT_LENGTH_PREFIX | TCP_ROLE_CLIENT);
    EXPECT_EQ(setup.conn->GetState(), TCP_STATE_CONNECTED);
}

TEST(Tcp, SendFramesThePayloadWithALittleEndianLength)
{
    ClientSetup setup;
    const std::string payload = "appcfg cmd c=2";  // 14 bytes
    ASSERT_EQ(setup.conn->Send(reinterpret_cast<const std::uint8_t*>(payload.data()), 14), TCP_OK);
    EXPECT_EQ(setup.server.Read(16), std::string("\x0E\x00", 2) + payload);

    // The largest frame fills the 2048-byte buffer of the other side exactly.
    const std::string largest(TCP_MAX_FRAME_PAYLOAD, 'L');
    ASSERT_EQ(setup.conn->Send(reinterpret_cast<const std::uint8_t*>(largest.data()), 2046), TCP_OK);
    EXPECT_EQ(setup.server.Read(2048), std::string("\xFE\x07", 2) + largest);
}

TEST(Tcp, SendRefusesAPayloadThatDoesNotFitOneFrame)
{
    ClientSetup setup;
    const std::string tooLong(2047, 'x');
    EXPECT_EQ(setup.conn->Send(reinterpret_cast<const std::uint8_t*>(tooLong.data()), 2047), TCP_FAILED);
    // Nothing went out, and the connection still works.
    ASSERT_EQ(setup.conn->Send(reinterpret_cast<const std::uint8_t*>("ok"), 2), TCP_OK);
    EXPECT_EQ(setup.server.Read(4), std::string("\x02\x00ok", 4));
}

TEST(Tcp, PlainModeSendsAndDeliversBytesUnchanged)
{
    ClientSetup setup(0);
    ASSERT_EQ(setup.conn->Send(reinterpret_cast<const std::uint8_t*>("abc"), 3), TCP_OK);
    EXPECT_EQ(setup.server.Read(3), "abc");
    setup.server.Write(std::string("\x05\x00xyz", 5));
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DATA_IND, 1));
    EXPECT_EQ(setup.tcp.Events()[1].data, std::string("\x05\x00xyz", 5));
}

TEST(Tcp, ReceivedFramesDeliverOnlyTheirPayload)
{
    ClientSetup setup;
    setup.server.Write(Frame("hello") + Frame("second"));
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DATA_IND, 2));
    const auto events = setup.tcp.Events();
    EXPECT_EQ(events[1].data, "hello");
    EXPECT_EQ(events[1].length, 5);
    EXPECT_EQ(events[2].data, "second");
}

TEST(Tcp, AFrameArrivingInPiecesIsDeliveredWhole)
{
    ClientSetup setup;
    const int on = 1;
    ::setsockopt(setup.server.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string payload(600, 'p');
    const std::string frame = Frame(payload) + Frame("next");
    // Pieces cut through the length and the payload; the pauses only make
    // separate segments likely, the assertion does not depend on them.
    const std::size_t cuts[] = {1, 2, 100, 450, frame.size()};
    std::size_t from = 0;
    for (const std::size_t to : cuts) {
        setup.server.Write(frame.substr(from, to - from));
        from = to;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DATA_IND, 2));
    const auto events = setup.tcp.Events();
    EXPECT_EQ(events[1].data, payload);
    EXPECT_EQ(events[2].data, "next");
}

// Streams that break the framing end the connection without a data
// indication and without touching memory beyond the receive buffer.
TEST(Tcp, MalformedStreamsEndTheConnection)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        bool closeAfter;
    };
    const Case cases[] = {
        {"length beyond the buffer", std::string("\xFF\xFF", 2) + std::string(100, 'x'), false},
        {"length one beyond the buffer", std::string("\x01\x08", 2) + std::string(2049, 'x'), false},
        {"empty frame", std::string("\x00\x00", 2), false},
        {"truncated payload", std::string("\x10\x00", 2) + "short", true},
        {"half a length", std::string("\x10", 1), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientSetup setup;
        setup.server.Write(c.bytes);
        if (c.closeAfter) {
            ::shutdown(setup.server.Fd(), SHUT_WR);
        }
        ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DISCONNECT_IND, 1));
        EXPECT_EQ(setup.tcp.Count(TCP_DATA_IND), 0u);
        EXPECT_TRUE(setup.server.WaitForEnd());
    }
}

TEST(Tcp, FrameOfExactlyTheBufferSizeIsDelivered)
{
    ClientSetup setup;
    const std::string payload(TCP_RECV_BUFFER_SIZE, 'b');
    setup.server.Write(Frame(payload));
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DATA_IND, 1));
    EXPECT_EQ(setup.tcp.Events()[1].data, payload);
}

TEST(Tcp, AFloodOfFramesArrivesInOrder)
{
    ClientSetup setup;
    constexpr int FRAMES = 2000;
    std::thread writer([&] {
        std::string all;
        for (int i = 0; i < FRAMES; ++i) {
            all += Frame(std::to_string(i));
        }
        setup.server.Write(all);
    });
    writer.join();
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DATA_IND, FRAMES, 5000ms));
    const auto events = setup.tcp.Events();
    for (int i = 0; i < FRAMES; ++i) {
        ASSERT_EQ(events[static_cast<std::size_t>(i) + 1].data, std::to_string(i));
    }
}

TEST(Tcp, SendToAPeerThatNeverReadsFailsInsteadOfHanging)
{
    ClientSetup setup;
    const std::string payload(TCP_MAX_FRAME_PAYLOAD, 'f');
    const std::string frame = Frame(payload);
    std::uint32_t result = TCP_OK;
    std::size_t whole = 0;
    // Loopback buffers hold a few megabytes; far fewer frames than this
    // fill them. Each send gives up after TCP_SEND_TIMEOUT_MS; the deadline
    // is for a send that waits for ever.
    static_assert(std::chrono::milliseconds(TCP_SEND_TIMEOUT_MS) < HANG_DEADLINE);
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] {
        for (int i = 0; i < 100000 && result == TCP_OK; ++i) {
            result = setup.conn->Send(reinterpret_cast<const std::uint8_t*>(payload.data()), 2046);
            whole += result == TCP_OK ? 1 : 0;
        }
    }));
    ASSERT_EQ(result, TCP_FAILED);

    // Every frame reported as sent arrives whole, whatever happened next.
    std::string expected;
    for (std::size_t i = 0; i < whole; ++i) {
        expected += frame;
    }
    ASSERT_EQ(setup.server.Read(expected.size()), expected);

    // The failed frame either went out in part, and then the connection
    // must end by itself, or not at all, and then the connection must work
    // on. The two are told apart by what follows on the stream once the
    // client answers a frame: its echo, or the start of the failed frame
    // and the end of the stream.
    setup.tcp.EchoData();
    const std::string ping = Frame("ping");
    setup.server.Write(ping);
    std::string tail = setup.server.Read(ping.size());
    if (tail == ping) {
        EXPECT_EQ(setup.tcp.Count(TCP_DISCONNECT_IND), 0u)
            << "the stream is intact, the connection must stay";
        EXPECT_EQ(setup.conn->GetState(), TCP_STATE_CONNECTED);
        return;
    }
    // The ping itself may make the client's kernel reset the stream before
    // all of the started frame went out, so that start may be cut short.
    tail += setup.server.Read(frame.size());
    EXPECT_TRUE(setup.server.WaitForEnd());
    EXPECT_LT(tail.size(), frame.size());
    EXPECT_EQ(tail, frame.substr(0, tail.size())) << "only the start of the failed frame may follow";
    EXPECT_TRUE(setup.tcp.WaitForCount(TCP_DISCONNECT_IND, 1));
}

TEST(Tcp, DisconnectEndsTheConnectionAndTheReaperDeletesIt)
{
    ClientSetup setup;
    EXPECT_EQ(setup.conn->Disconnect(), 0u);
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DISCONNECT_IND, 1));
    EXPECT_TRUE(setup.server.WaitForEnd());
    EXPECT_TRUE(setup.tcp.WaitForConnections(0));
    const auto events = setup.tcp.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].msg, TCP_DISCONNECT_IND);
}

TEST(Tcp, PeerClosingEndsTheConnection)
{
    ClientSetup setup;
    setup.server = TestSocket();
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DISCONNECT_IND, 1));
    EXPECT_TRUE(setup.tcp.WaitForConnections(0));
}

TEST(Tcp, FailedConnectGivesDisconnectIndicationAlone)
{
    struct Case
    {
        const char* name;
        const char* host;
        bool listening;  // a loopback listener waits on the port
    };
    // A port nobody listens on (taken from a closed listener), and address 0,
    // from a name that cannot be resolved or given as such: it must not reach
    // a service of this host, which is what Linux makes of address 0.
    const Case cases[] = {
        {"refused", "127.0.0.1", false},
        {"unresolvable", "no-such-host.invalid", true},
        {"address 0", "0.0.0.0", true},
    };
    std::uint16_t closedPort = 0;
    {
        closedPort = TestSocket::ListenLoopback().Port();
    }
    const TestSocket listener = TestSocket::ListenLoopback();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingTcp tcp(TCP_OPT_LENGTH_PREFIX);
        CTcpConnection* conn = nullptr;
        EXPECT_EQ(tcp.Connect(c.host, c.listening ? listener.Port() : closedPort, &conn), TCP_FAILED);
        EXPECT_NE(conn, nullptr);
        // The failure is reported after a pause of one second.
        ASSERT_TRUE(tcp.WaitForCount(TCP_DISCONNECT_IND, 1, 3000ms));
        ASSERT_EQ(tcp.Events().size(), 1u);
        EXPECT_TRUE(tcp.HasTrace("connect error "));
        EXPECT_TRUE(tcp.WaitForConnections(0));
        pollfd fd{listener.Fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&fd, 1, 0), 0) << "the connection reached the listener";
    }
}

// A port that is taken cannot be listened on; the waiting connection then
// ends at once instead of waiting on some other port.
TEST(Tcp, ListenOnATakenPortEndsTheWaitingConnection)
{
    const TestSocket taken = TestSocket::ListenLoopback();
    RecordingTcp tcp(TCP_OPT_LENGTH_PREFIX);
    EXPECT_EQ(tcp.Listen(taken.Port()), TCP_FAILED);
    ASSERT_TRUE(tcp.WaitForCount(TCP_DISCONNECT_IND, 1));
    EXPECT_EQ(tcp.Events().size(), 1u);
    EXPECT_TRUE(tcp.HasTrace("bind error "));
    EXPECT_TRUE(tcp.HasTrace("listen error "));
    EXPECT_EQ(tcp.GetListenPort(), 0);
    EXPECT_TRUE(tcp.WaitForConnections(0));
}

TEST(Tcp, ServerIndicatesTheClientAndWaitsForTheNext)
{
    RecordingTcp tcp(TCP_OPT_LENGTH_PREFIX);
    tcp.Listen(0);
    const std::uint16_t port = tcp.GetListenPort();
    ASSERT_NE(port, 0);
    TestSocket first = TestSocket::ConnectLoopback(port);
    ASSERT_TRUE(tcp.WaitForCount(TCP_CONNECT_IND, 1));
    auto events = tcp.Events();
    EXPECT_EQ(events[0].data, "127.0.0.1");
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(first.Fd(), reinterpret_cast<sockaddr*>(&local), &length);
    EXPECT_EQ(events[0].length, ntohs(local.sin_port));
    EXPECT_EQ(events[0].conn->GetFlags(), TCP_OPT_LENGTH_PREFIX | TCP_ROLE_SERVER);
    EXPECT_TRUE(tcp.WaitForConnections(2)) << "a new connection must wait for the next client";

    TestSocket second = TestSocket::ConnectLoopback(port);
    ASSERT_TRUE(tcp.WaitForCount(TCP_CONNECT_IND, 2));
    first.Write(Frame("one"));
    second.Write(Frame("two"));
    ASSERT_TRUE(tcp.WaitForCount(TCP_DATA_IND, 2));
    events = tcp.Events();
    ASSERT_EQ(events[2].conn->Send(reinterpret_cast<const std::uint8_t*>("r"), 1), TCP_OK);
}

TEST(Tcp, TwoConnectionsFinishingTogetherAreBothReaped)
{
    ClientSetup setup;
    CTcpConnection* second = nullptr;
    setup.tcp.Connect("127.0.0.1", setup.listener.Port(), &second);
    TestSocket secondServer = setup.listener.Accept();
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_CONNECT_IND, 2));
    EXPECT_EQ(setup.tcp.GetConnectionCount(), 2u);
    setup.server = TestSocket();
    secondServer = TestSocket();
    ASSERT_TRUE(setup.tcp.WaitForCount(TCP_DISCONNECT_IND, 2));
    EXPECT_TRUE(setup.tcp.WaitForConnections(0));
}

TEST(Tcp, DestroyingTheEndpointShutsDownLiveConnectionsSilently)
{
    TestSocket listener = TestSocket::ListenLoopback();
    TestSocket first;
    TestSocket second;
    std::vector<Event> events;
    {
        RecordingTcp tcp(TCP_OPT_LENGTH_PREFIX);
        tcp.Connect("127.0.0.1", listener.Port());
        first = listener.Accept();
        tcp.Connect("127.0.0.1", listener.Port());
        second = listener.Accept();
        ASSERT_TRUE(tcp.WaitForCount(TCP_CONNECT_IND, 2));
        EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { tcp.StopAll(); }));
        EXPECT_EQ(tcp.GetConnectionCount(), 0u);
        events = tcp.Events();
    }
    EXPECT_EQ(events.size(), 2u) << "no indication after the stop";
    EXPECT_TRUE(first.WaitForEnd());
    EXPECT_TRUE(second.WaitForEnd());
}

// Many connections opened, used and closed from several threads while the
// reaper runs, then the endpoints destroyed with connections still alive:
// meant for the thread and address sanitizer builds.
TEST(Tcp, ManyConnectionsOpenAndCloseWithoutRaces)
{
    RecordingTcp server(TCP_OPT_LENGTH_PREFIX | TCP_OPT_NODELAY);
    server.Listen(0);
    const std::uint16_t port = server.GetListenPort();
    RecordingTcp client(TCP_OPT_LENGTH_PREFIX);

    constexpr int ROUNDS = 40;
    for (int i = 0; i < ROUNDS; ++i) {
        client.Connect("127.0.0.1", port);
    }
    ASSERT_TRUE(client.WaitForCount(TCP_CONNECT_IND, ROUNDS, 5000ms));
    ASSERT_TRUE(server.WaitForCount(TCP_CONNECT_IND, ROUNDS, 5000ms));

    std::vector<CTcpConnection*> connections;
    for (const auto& e : client.Events()) {
        if (e.msg == TCP_CONNECT_IND) {
            connections.push_back(e.conn);
        }
    }
    std::vector<std::thread> senders;
    for (int t = 0; t < 2; ++t) {
        senders.emplace_back([&, t] {
            for (std::size_t i = static_cast<std::size_t>(t); i < connections.size(); i += 2) {
                for (int n = 0; n < 5; ++n) {
                    // A send may fail once the peer has gone; only a crash counts.
                    static_cast<void>(connections[i]->Send(reinterpret_cast<const std::uint8_t*>("ping"), 4));
                }
                if (i % 3 == 0) {
                    connections[i]->Disconnect();
                }
            }
        });
    }
    for (auto& s : senders) {
        s.join();
    }
    // A third of the connections end now, the others stay alive until the
    // endpoints go.
    const std::size_t ended = (connections.size() + 2) / 3;
    EXPECT_TRUE(client.WaitForCount(TCP_DISCONNECT_IND, ended, 5000ms));
    EXPECT_TRUE(server.WaitForCount(TCP_DISCONNECT_IND, ended, 5000ms));
}

}  // namespace
