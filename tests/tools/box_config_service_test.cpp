// The simulated box's configuration service in-process on 127.0.0.1: it
// serves at most 64 connections at once and 8 from one address (peers come
// from addresses of 127/8), and closes one whose frame does not complete in
// time, while an idle connection stays.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "box_config_service.h"
#include "tests/common/test_socket.h"

namespace {

// One TCP connection to the service, closed on destruction.
class CPeer final
{
public:
    // From 127.0.0.from: the service tells peers apart by address.
    explicit CPeer(std::uint16_t port, std::uint8_t from = 1)
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        EXPECT_TRUE(m_socket.Bind(htonl((INADDR_LOOPBACK & 0xFFFFFF00u) | from), 0));
        const sockaddr_in to = TestSocket::Loopback(port);
        EXPECT_EQ(::connect(m_socket.Fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    }

    void Send(const std::string& bytes) { ::send(m_socket.Fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // The next read within 10 s: > 0 bytes (the greeting), 0 for the end of
    // the connection (also by reset), -1 for nothing.
    ssize_t Next()
    {
        char buffer[4096];
        if (!m_socket.WaitReadable(std::chrono::seconds(10)))
            return -1;
        return std::max<ssize_t>(::recv(m_socket.Fd(), buffer, sizeof buffer, 0), 0);
    }
    bool StillOpen()
    {
        char byte;
        return ::recv(m_socket.Fd(), &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
    }

private:
    TestSocket m_socket;
};

class BoxConfigServiceTest : public ::testing::Test
{
protected:
    void Start(unsigned frameTimeoutMs)
    {
        m_options.configPort = 0;
        m_options.configBindIp = htonl(INADDR_LOOPBACK);
        m_options.frameTimeoutMs = frameTimeoutMs;
        BoxIdentity box{{2, 0x77, 0, 0, 0, 2}, htonl(INADDR_LOOPBACK), htonl(0xFF000000u), 0};
        m_state = std::make_unique<BoxState>("", std::vector<BoxIdentity>{box});
        m_service = std::make_unique<BoxConfigService>(m_options, *m_state);
        std::string error;
        ASSERT_TRUE(m_service->Start(error)) << error;
    }

    BoxOptions m_options;
    std::unique_ptr<BoxState> m_state;
    std::unique_ptr<BoxConfigService> m_service;
};

}  // namespace

TEST_F(BoxConfigServiceTest, TheSixtyFifthConnectionIsClosedAtOnceAndTheOthersAreServed)
{
    ASSERT_NO_FATAL_FAILURE(Start(30000));
    // Each greeted before the next connects, so the service has counted
    // exactly the ones before it; every address within its own share.
    constexpr std::size_t SHARE = BoxConfigService::MAX_CONNECTIONS_PER_PEER;
    std::vector<std::unique_ptr<CPeer>> peers;
    for (std::size_t i = 0; i < BoxConfigService::MAX_CONNECTIONS; ++i) {
        peers.push_back(std::make_unique<CPeer>(m_service->Port(), static_cast<std::uint8_t>(2 + i / SHARE)));
        ASSERT_GT(peers.back()->Next(), 0) << "connection " << i + 1 << " got no greeting";
    }
    CPeer refused(m_service->Port(), 200);
    EXPECT_EQ(refused.Next(), 0) << "the 65th connection was not closed";
    for (const auto& peer : peers)
        EXPECT_TRUE(peer->StillOpen());
}

TEST_F(BoxConfigServiceTest, OnePeerHoldingUnfinishedFramesDoesNotLockOutAnother)
{
    ASSERT_NO_FATAL_FAILURE(Start(30000));
    // The flooding peer begins a frame on each connection and never ends it.
    std::vector<std::unique_ptr<CPeer>> flood;
    std::size_t greeted = 0;
    for (std::size_t i = 0; i < BoxConfigService::MAX_CONNECTIONS; ++i) {
        flood.push_back(std::make_unique<CPeer>(m_service->Port(), 2));
        if (flood.back()->Next() > 0) {
            ++greeted;
            flood.back()->Send(std::string("\x10\x00\x01", 3));
        }
    }
    EXPECT_EQ(greeted, BoxConfigService::MAX_CONNECTIONS_PER_PEER);
    CPeer other(m_service->Port(), 3);
    EXPECT_GT(other.Next(), 0) << "another peer was locked out";
}

TEST_F(BoxConfigServiceTest, AFrameThatDoesNotCompleteInTimeEndsItsConnectionButIdlenessDoesNot)
{
    ASSERT_NO_FATAL_FAILURE(Start(300));
    // The idle peer comes first: were idleness timed, it would end first.
    CPeer idle(m_service->Port());
    ASSERT_GT(idle.Next(), 0);
    CPeer trickling(m_service->Port());
    ASSERT_GT(trickling.Next(), 0);
    // The length of a 16-byte frame, and then nothing more.
    trickling.Send(std::string("\x10\x00\x01", 3));
    EXPECT_EQ(trickling.Next(), 0) << "the unfinished frame did not end the connection";
    EXPECT_TRUE(idle.StillOpen());
}
