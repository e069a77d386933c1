// A window's run of datagrams, sent over a real loopback socket: the
// client must see the same datagrams whether the kernel segmented them or
// they left one by one.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

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

// Each datagram is one part (a packet in the ring) or two (a header, and
// data from elsewhere, as from a mapped file); either way the client sees
// the same datagrams, segmented by the kernel or sent one by one.
TEST(TftpTransport, RunArrivesAsSeparateDatagramsWithOrWithoutSegmentation)
{
    struct Case
    {
        const char* name;
        std::size_t segment;
        std::size_t length;
        bool segmentation;
        std::size_t perDatagram;
    };
    const Case cases[] = {
        {"segmented, short last", 1432, 1432 * 5 + 100, true, 1},
        {"segmented, full last", 516, 516 * 64, true, 1},
        {"one by one", 1432, 1432 * 5 + 100, false, 1},
        {"a single datagram", 8196, 700, true, 1},
        {"header and data, segmented", 1432, 1432 * 5 + 100, true, 2},
        {"header and data, one by one", 8196, 8196 * 3 + 4, false, 2},
        {"header and data, a single datagram", 516, 516, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPair pair;
        pair.transport.noSegmentation = !c.segmentation;
        std::vector<std::uint8_t> run(c.length);
        for (std::size_t i = 0; i < run.size(); ++i)
            run[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        // The datagrams' parts: split after the 4-byte header when there
        // are two, and taken from copies so that no part touches the next.
        std::vector<std::vector<std::uint8_t>> pieces;
        std::vector<iovec> parts;
        for (std::size_t offset = 0; offset < run.size(); offset += c.segment) {
            const std::size_t size = std::min(c.segment, run.size() - offset);
            const std::size_t split = c.perDatagram == 2 ? 4 : size;
            pieces.emplace_back(run.begin() + static_cast<std::ptrdiff_t>(offset),
                                run.begin() + static_cast<std::ptrdiff_t>(offset + split));
            pieces.emplace_back(run.begin() + static_cast<std::ptrdiff_t>(offset + split),
                                run.begin() + static_cast<std::ptrdiff_t>(offset + size));
        }
        for (std::size_t j = 0; j < pieces.size(); ++j) {
            if (c.perDatagram == 2 || j % 2 == 0)
                parts.push_back({pieces[j].data(), pieces[j].size()});
        }
        ASSERT_TRUE(pair.transport.SendRun(parts, c.perDatagram, c.segment));
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
