// A window's run of datagrams, sent over a real loopback socket: the
// client must see the same datagrams whether the kernel segmented them or
// they left one by one.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tftp/tftp_transport.h"

namespace {

// A receiving socket on loopback and a transport connected to it.
struct LoopbackPair
{
    CUniqueFd receiver{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    TftpTransport transport;

    LoopbackPair()
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(receiver.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(getsockname(receiver.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
        transport.socket.Reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        EXPECT_EQ(connect(transport.socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval wait = {5, 0};
        setsockopt(receiver.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }

    std::vector<std::uint8_t> Receive()
    {
        std::vector<std::uint8_t> datagram(70000);
        const ssize_t n = recv(receiver.Get(), datagram.data(), datagram.size(), 0);
        datagram.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return datagram;
    }
};

TEST(TftpTransport, RunArrivesAsSeparateDatagramsWithOrWithoutSegmentation)
{
    struct Case
    {
        const char* name;
        std::size_t segment;
        std::size_t length;
        bool segmentation;
    };
    const Case cases[] = {
        {"segmented, short last", 1432, 1432 * 5 + 100, true},
        {"segmented, full last", 516, 516 * 64, true},
        {"one by one", 1432, 1432 * 5 + 100, false},
        {"a single datagram", 8196, 700, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPair pair;
        pair.transport.noSegmentation = !c.segmentation;
        std::vector<std::uint8_t> run(c.length);
        for (std::size_t i = 0; i < run.size(); ++i)
            run[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        ASSERT_TRUE(pair.transport.SendRun(run.data(), run.size(), c.segment));
        // Loopback segments on every kernel we run on: a fallback here
        // would hide that the fast path no longer works.
        EXPECT_EQ(pair.transport.noSegmentation, !c.segmentation);
        for (std::size_t offset = 0; offset < run.size(); offset += c.segment) {
            const std::size_t size = std::min(c.segment, run.size() - offset);
            const std::vector<std::uint8_t> datagram = pair.Receive();
            ASSERT_EQ(datagram.size(), size) << "at offset " << offset;
            EXPECT_TRUE(std::equal(datagram.begin(), datagram.end(),
                                   run.begin() + static_cast<std::ptrdiff_t>(offset)));
        }
    }
}

}  // namespace
