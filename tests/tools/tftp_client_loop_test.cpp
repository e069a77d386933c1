// The client's transfer loops against a scripted server on 127.0.0.1: each
// test plays the server side packet by packet on its own thread, so that the
// cases real servers rarely produce (lost ACKs, strangers, bad OACKs) can be
// provoked on purpose.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/test_socket.h"
#include "tests/common/wait.h"

#include "tools/tftp-client/tftp_client.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Data(std::uint16_t block, std::size_t size, char fill = 'd')
{
    Bytes out = {0, TFTP_DATA, static_cast<std::uint8_t>(block >> 8),
                 static_cast<std::uint8_t>(block & 0xFF)};
    out.insert(out.end(), size, static_cast<std::uint8_t>(fill));
    return out;
}

Bytes Ack(std::uint16_t block)
{
    std::uint8_t ack[TFTP_HEADER];
    BuildTftpAck(block, ack);
    return Bytes(ack, ack + TFTP_HEADER);
}

// A UDP socket on 127.0.0.1 with an ephemeral port that remembers who
// sent the last datagram.
class CTestSocket final
{
public:
    std::uint16_t Port() const { return m_socket.Port(); }
    // The next datagram within the timeout, and who sent it.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout = WAIT)
    {
        return m_socket.ReceiveFrom(timeout, &m_from);
    }
    const sockaddr_in& From() const { return m_from; }
    void SendTo(const Bytes& bytes, const sockaddr_in& to) { m_socket.SendTo(bytes, to); }

private:
    TestSocket m_socket = TestSocket::Udp();
    sockaddr_in m_from{};
};

// Runs the server script on a thread while the client transfer runs on the
// test's thread; the thread is joined before the test looks at results.
class ScriptedServer final
{
public:
    explicit ScriptedServer(std::function<void(CTestSocket& listen, CTestSocket& tid)> script)
        : m_thread([this, script] { script(m_listen, m_tid); })
    {
    }
    ~ScriptedServer() { Join(); }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    std::uint16_t Port() const { return m_listen.Port(); }

private:
    CTestSocket m_listen;
    CTestSocket m_tid;
    std::thread m_thread;
};

TftpClientOptions Options(std::uint16_t port)
{
    TftpClientOptions options;
    options.port = port;
    options.timeout = 300ms;
    options.retries = 3;
    return options;
}

// The sink of a get: everything received, in order.
struct Collected
{
    Bytes bytes;
    TftpSink Sink()
    {
        return [this](std::span<const std::uint8_t> data) {
            bytes.insert(bytes.end(), data.begin(), data.end());
            return true;
        };
    }
};

}  // namespace

TEST(TftpClientLoop, DuplicateDataIsAcknowledgedAgainButStoredOnce)
{
    bool ackedTwice = false;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        if (!listen.Receive())
            return;
        const sockaddr_in client = listen.From();
        tid.SendTo(Data(1, 512), client);
        if (tid.Receive() != Ack(1))
            return;
        // As if our first ACK 1 had been lost: the client must say it again.
        tid.SendTo(Data(1, 512), client);
        ackedTwice = tid.Receive() == Ack(1);
        tid.SendTo(Data(2, 3), client);
        tid.Receive();
    });
    TftpClientOptions options = Options(server.Port());
    options.useOptions = false;
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    EXPECT_TRUE(ackedTwice);
    EXPECT_EQ(got.bytes.size(), 515u);
    EXPECT_EQ(result.blocks, 2u);
}

TEST(TftpClientLoop, StrangerGetsUnknownTransferIdAndTheTransferGoesOn)
{
    std::optional<Bytes> strangerGot;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        if (!listen.Receive())
            return;
        const sockaddr_in client = listen.From();
        tid.SendTo(Data(1, 512), client);
        tid.Receive();
        CTestSocket stranger;
        stranger.SendTo(Data(2, 7, 'x'), client);
        strangerGot = stranger.Receive();
        tid.SendTo(Data(2, 0), client);
        tid.Receive();
    });
    TftpClientOptions options = Options(server.Port());
    options.useOptions = false;
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    ASSERT_TRUE(strangerGot.has_value());
    const std::optional<TftpPacket> error = ParseTftpPacket(*strangerGot);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->opcode, TFTP_ERROR);
    EXPECT_EQ(error->errorCode, TFTP_EBADID);
    // The stranger's bytes never reached the file.
    EXPECT_EQ(got.bytes, Bytes(512, 'd'));
}

TEST(TftpClientLoop, RaisedBlockSizeIsRefusedWithError8)
{
    std::optional<Bytes> answer;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        if (!listen.Receive())
            return;
        tid.SendTo(B(std::string("\0\6blksize\0002048\0", 15)), listen.From());
        answer = tid.Receive();
    });
    TftpClientOptions options = Options(server.Port());
    options.blksize = 1024;
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_ERR_PROTOCOL);
    ASSERT_TRUE(answer.has_value());
    const std::optional<TftpPacket> error = ParseTftpPacket(*answer);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->errorCode, TFTP_EOPTNEG);
}

TEST(TftpClientLoop, RefusedOptionsAreAskedForAgainWithoutThem)
{
    std::vector<Bytes> requests;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        std::optional<Bytes> first = listen.Receive();
        if (!first)
            return;
        requests.push_back(*first);
        tid.SendTo(BuildTftpError(TFTP_EOPTNEG, "no options here"), listen.From());
        std::optional<Bytes> second = listen.Receive();
        if (!second)
            return;
        requests.push_back(*second);
        tid.SendTo(Data(1, 5), listen.From());
        tid.Receive();
    });
    TftpClientOptions options = Options(server.Port());
    options.blksize = 1428;
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], BuildTftpRequest(TFTP_RRQ, "f", "octet",
                                            std::vector<TftpOption>{{"blksize", "1428"}, {"tsize", "0"}}));
    EXPECT_EQ(requests[1], BuildTftpRequest(TFTP_RRQ, "f", "octet", {}));
    EXPECT_EQ(result.blksize, 512u);
    EXPECT_FALSE(result.optionsAcknowledged);
}

TEST(TftpClientLoop, SilentServerEndsInTimeoutAfterTheRetries)
{
    CTestSocket silent;
    TftpClientOptions options = Options(silent.Port());
    // 50 waits of 20 ms take a second. Waits of the default length would
    // take 50 s, well past the deadline, which a busy machine cannot reach.
    options.timeout = 20ms;
    options.retries = 49;
    ASSERT_GT(50 * TftpClientOptions{}.timeout, 2 * HANG_DEADLINE);
    Collected got;
    TftpTransferResult result;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { result = TftpGet(options, "f", got.Sink()); }));
    // And each wait lasted its time: a busy machine only makes them longer.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50 * options.timeout);
    EXPECT_EQ(result.status, TFTP_CLIENT_ERR_TIMEOUT);
    // The request once and again after each of the 49 empty waits.
    int requests = 0;
    while (silent.Receive(0ms))
        ++requests;
    EXPECT_EQ(requests, 50);
}

TEST(TftpClientLoop, WriteDoesNotAnswerADuplicateAckWithData)
{
    std::vector<Bytes> received;
    bool quietAfterDuplicate = false;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        if (!listen.Receive())
            return;
        const sockaddr_in client = listen.From();
        tid.SendTo(Ack(0), client);
        std::optional<Bytes> first = tid.Receive();
        if (!first)
            return;
        received.push_back(*first);
        tid.SendTo(Ack(1), client);
        std::optional<Bytes> second = tid.Receive();
        if (!second)
            return;
        received.push_back(*second);
        // A duplicate ACK 1 must not make the client send block 2 again
        // (RFC 1123: the sorcerer's apprentice syndrome).
        tid.SendTo(Ack(1), client);
        quietAfterDuplicate = !tid.Receive(100ms).has_value();
        tid.SendTo(Ack(2), client);
    });
    TftpClientOptions options = Options(server.Port());
    options.useOptions = false;
    const Bytes file(600, 'w');
    std::size_t offset = 0;
    const TftpTransferResult result = TftpPut(
        options, "up",
        [&](std::span<std::uint8_t> out) -> std::optional<std::size_t> {
            const std::size_t take = std::min(out.size(), file.size() - offset);
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), take, out.begin());
            offset += take;
            return take;
        },
        file.size());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    EXPECT_TRUE(quietAfterDuplicate);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].size(), 4u + 512u);
    EXPECT_EQ(received[1], Data(2, 88, 'w'));
}

TEST(TftpClientLoop, WindowedReadRecoversFromALostAckAndALostData)
{
    // Nine blocks of 8 bytes and a short tenth, each filled with its number.
    Bytes file;
    for (std::uint16_t block = 1; block <= 10; ++block)
        file.insert(file.end(), block < 10 ? 8 : 3, static_cast<std::uint8_t>('0' + block % 10));
    auto data = [&](std::uint16_t block) {
        Bytes out = Data(block, 0);
        const auto from = file.begin() + (block - 1) * 8;
        out.insert(out.end(), from, from + (block < 10 ? 8 : 3));
        return out;
    };
    std::optional<Bytes> request;
    std::vector<std::optional<Bytes>> acks;
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        request = listen.Receive();
        if (!request)
            return;
        const sockaddr_in client = listen.From();
        auto window = [&](std::initializer_list<std::uint16_t> blocks) {
            for (std::uint16_t block : blocks)
                tid.SendTo(data(block), client);
            acks.push_back(tid.Receive());
        };
        tid.SendTo(B(std::string("\0\6blksize\0"
                                 "8\0windowsize\0"
                                 "4\0",
                                 25)),
                   client);
        acks.push_back(tid.Receive());
        // The client's ACK 4 is lost (dropAck below); as after its timeout,
        // the server sends the window again at once.
        for (std::uint16_t block : {1, 2, 3, 4})
            tid.SendTo(data(block), client);
        window({1, 2, 3, 4});
        // Block 6 is lost on the way.
        window({5, 7, 8});
        window({6, 7, 8, 9});
        window({10});
    });
    TftpClientOptions options = Options(server.Port());
    options.blksize = 8;
    options.tsize = false;
    options.windowsize = 4;
    options.timeout = 2000ms;  // only the scripted losses, never a timeout
    options.dropAck = 2;       // ACK 0 is the first
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    EXPECT_EQ(request, BuildTftpRequest(TFTP_RRQ, "f", "octet",
                                        std::vector<TftpOption>{{"blksize", "8"}, {"windowsize", "4"}}));
    // A re-sent window draws one ACK of the last block in order, not one
    // per block; a gap draws the ACK of the block before it; the last
    // block is acknowledged although it does not fill the window.
    const std::vector<std::optional<Bytes>> expected = {Ack(0), Ack(4), Ack(5), Ack(9), Ack(10)};
    EXPECT_EQ(acks, expected);
    EXPECT_EQ(result.windowsize, 4u);
    EXPECT_EQ(got.bytes, file);
}

TEST(TftpClientLoop, AckDelayIsSpentBeforeEachNewBlocksAckOnly)
{
    std::atomic<int> pauses{0};
    std::vector<int> pausesAtAck;  // as each ACK arrived
    ScriptedServer server([&](CTestSocket& listen, CTestSocket& tid) {
        if (!listen.Receive())
            return;
        // Block 1 twice, as if its ACK had been lost, then the last block.
        for (const auto& [block, size] : {std::pair<std::uint16_t, std::size_t>{1, 512}, {1, 512}, {2, 1}}) {
            tid.SendTo(Data(block, size), listen.From());
            if (tid.Receive() == Ack(block))
                pausesAtAck.push_back(pauses.load());
        }
    });
    TftpClientOptions options = Options(server.Port());
    options.useOptions = false;
    options.ackDelay = 7ms;
    options.pause = [&](std::chrono::milliseconds delay) { pauses += delay == 7ms ? 1 : 100; };
    Collected got;
    const TftpTransferResult result = TftpGet(options, "f", got.Sink());
    server.Join();
    EXPECT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
    // Each new block's ACK comes after its delay; the repeated one at once.
    EXPECT_EQ(pausesAtAck, (std::vector<int>{1, 1, 2}));
}
