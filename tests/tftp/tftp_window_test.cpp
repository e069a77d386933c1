// Windowed transfers (RFC 7440) over loopback: the server driven packet by
// packet through loss, duplicates and timeouts.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tftp/tftp_server.h"
#include "tftp/tftp_wire.h"
#include "tftp_test_support.h"

namespace {

using namespace std::chrono_literals;
using Blocks = std::vector<std::uint16_t>;

// A window of 4 and a timeout of 1 second (interval 1), so that the
// server's re-sendings come quickly.
class TftpWindowTest : public TftpServerTest
{
protected:
    void SetUp() override { StartServer("[TFTP-OPTIONS]\nwindowsize=4\ninterval=1\noverwrite=y\n"); }

    // Receives `count` DATA packets and returns their block numbers; keeps
    // the payload of each block for the final comparison.
    Blocks ReceiveData(TftpTestClient& client, std::size_t count)
    {
        Blocks numbers;
        for (std::size_t i = 0; i < count; ++i) {
            auto packet = client.Receive();
            if (!packet || packet->Opcode() != TFTP_DATA)
                break;
            m_transferPort = packet->fromPort;
            numbers.push_back(packet->Block());
            m_received[packet->Block()] = packet->Payload();
        }
        return numbers;
    }

    std::uint16_t m_transferPort = 0;
    std::map<std::uint16_t, Bytes> m_received;
};

TEST_F(TftpWindowTest, ReadFollowsTheAcknowledgmentsThroughLossDuplicatesAndTimeouts)
{
    // Eleven blocks, the last one short.
    const Bytes file = RandomBytes(10 * 512 + 100);
    WriteFile(Home() / "f.bin", file);
    TftpTestClient client;
    auto oack = client.Negotiate(m_port, Request(TFTP_RRQ, "f.bin", "octet", {{"windowsize", "8"}}));
    ASSERT_TRUE(oack);
    EXPECT_EQ(oack->Options(), (std::vector<std::pair<std::string, std::string>>{{"windowsize", "4"}}));
    const std::uint16_t port = oack->fromPort;

    client.SendTo(port, Ack(0));
    EXPECT_EQ(ReceiveData(client, 4), (Blocks{1, 2, 3, 4}));
    // An ACK inside the window moves it on; blocks 3 and 4 are still on
    // their way, so only the blocks it takes in leave.
    client.SendTo(port, Ack(2));
    EXPECT_EQ(ReceiveData(client, 2), (Blocks{5, 6}));
    // Blocks 3 and 4 were lost: the same ACK again gets the window anew.
    client.SendTo(port, Ack(2));
    EXPECT_EQ(ReceiveData(client, 4), (Blocks{3, 4, 5, 6}));
    // A stale ACK from before the window draws nothing, so what follows the
    // ACK of the window's end is the next window.
    client.SendTo(port, Ack(1));
    client.SendTo(port, Ack(6));
    EXPECT_EQ(ReceiveData(client, 4), (Blocks{7, 8, 9, 10}));
    // The same ACK again says that none of the new window arrived.
    client.SendTo(port, Ack(6));
    EXPECT_EQ(ReceiveData(client, 4), (Blocks{7, 8, 9, 10}));
    // An ACK in the middle; the window then ends with the file.
    client.SendTo(port, Ack(8));
    EXPECT_EQ(ReceiveData(client, 1), (Blocks{11}));
    // Silence: after the timeout the window goes again from its first block.
    EXPECT_EQ(ReceiveData(client, 3), (Blocks{9, 10, 11}));
    client.SendTo(port, Ack(11));
    EXPECT_TRUE(m_reports.WaitFor("f.bin, 11 Blocks Served")) << m_reports.All();

    Bytes received;
    for (std::uint16_t block = 1; block <= 11; ++block)
        received.insert(received.end(), m_received[block].begin(), m_received[block].end());
    EXPECT_EQ(received, file);
}

// A binary file goes out in windows straight from its pages: one cut short
// meanwhile ends that transfer with an error, whose data is gone, and never
// the server.
TEST_F(TftpWindowTest, FileCutShortDuringAWindowedReadEndsOnlyThatTransfer)
{
    WriteFile(Home() / "cut.bin", RandomBytes(40 * 512, 3));
    TftpTestClient client;
    auto oack = client.Negotiate(m_port, Request(TFTP_RRQ, "cut.bin", "octet", {{"windowsize", "4"}}));
    ASSERT_TRUE(oack);
    client.SendTo(oack->fromPort, Ack(0));
    EXPECT_EQ(ReceiveData(client, 4), (Blocks{1, 2, 3, 4}));
    std::filesystem::resize_file(Home() / "cut.bin", 0);
    client.SendTo(oack->fromPort, Ack(4));
    // The client hears of it at once, as of a failed read.
    auto error = client.Receive();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Opcode(), TFTP_ERROR);
    EXPECT_EQ(error->ErrorText(), "Input/output error");
    EXPECT_TRUE(m_reports.WaitFor("cut.bin, Input/output error")) << m_reports.All();
    EXPECT_EQ(m_reports.All().find("Blocks Served"), std::string::npos) << m_reports.All();

    // The server goes on serving.
    const Bytes file = RandomBytes(3 * 512 + 1, 4);
    WriteFile(Home() / "next.bin", file);
    TftpTestClient next;
    next.SendTo(m_port, Request(TFTP_RRQ, "next.bin", "octet", {}));
    Bytes received;
    for (std::uint16_t block = 1; block <= 4; ++block) {
        auto packet = next.Receive();
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->Block(), block);
        const Bytes payload = packet->Payload();
        received.insert(received.end(), payload.begin(), payload.end());
        next.SendTo(packet->fromPort, Ack(block));
    }
    EXPECT_EQ(received, file);
}

// However the file changes under a read, in lock-step (read ahead into
// memory) or in windows (sent from the file's pages), the client gets only
// bytes the file held when the transfer began, then an ERROR: never the end
// of the file, and the report never says "Served".
TEST_F(TftpWindowTest, FileChangedDuringAReadIsNeverServed)
{
    enum class Change
    {
        Cut,
        Rewrite,
        Grow,
    };
    struct Row
    {
        const char* name;
        std::uint32_t window;
        Change change;
        std::uintmax_t cutTo;
    };
    const Row rows[] = {
        {"lock-step cut", 1, Change::Cut, 600},
        {"lock-step rewrite", 1, Change::Rewrite, 0},
        {"lock-step grow", 1, Change::Grow, 0},
        {"window cut at a block", 4, Change::Cut, 600},
        {"window cut inside a page", 4, Change::Cut, 2048 + 100},
        {"window rewrite", 4, Change::Rewrite, 0},
        {"window grow", 4, Change::Grow, 0},
    };
    unsigned seed = 10;
    std::ptrdiff_t failures = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::filesystem::path path = Home() / "changing.bin";
        const Bytes file = RandomBytes(40 * 512, ++seed);
        WriteFile(path, file);
        TftpTestClient client;
        std::vector<std::pair<std::string, std::string>> options = {{"tsize", "0"}};
        if (row.window > 1)
            options.emplace_back("windowsize", std::to_string(row.window));
        auto oack = client.Negotiate(m_port, Request(TFTP_RRQ, "changing.bin", "octet", options));
        ASSERT_TRUE(oack);
        client.SendTo(oack->fromPort, Ack(0));
        ASSERT_EQ(ReceiveData(client, row.window).size(), row.window);

        const auto stamp = std::filesystem::last_write_time(path);
        switch (row.change) {
        case Change::Cut:
            std::filesystem::resize_file(path, row.cutTo);
            break;
        case Change::Rewrite:
            WriteFile(path, RandomBytes(file.size(), 1000 + seed));
            break;
        case Change::Grow:
            WriteFile(path, RandomBytes(file.size() + 1000, 2000 + seed));
            break;
        }
        // File times may be coarser than the test is fast.
        std::filesystem::last_write_time(path, stamp + 5s);

        // Acknowledge every block as it comes until the server gives up.
        client.SendTo(oack->fromPort, Ack(static_cast<std::uint16_t>(row.window)));
        std::optional<Packet> packet;
        for (int i = 0; i < 100; ++i) {
            packet = client.Receive();
            if (!packet || packet->Opcode() != TFTP_DATA)
                break;
            const std::size_t offset = (packet->Block() - 1) * 512u;
            ASSERT_LE(offset + packet->Payload().size(), file.size());
            EXPECT_EQ(packet->Payload(),
                      Bytes(file.begin() + static_cast<std::ptrdiff_t>(offset),
                            file.begin() + static_cast<std::ptrdiff_t>(offset + packet->Payload().size())))
                << "block " << packet->Block();
            ASSERT_EQ(packet->Payload().size(), 512u) << "the file's end reached the client";
            client.SendTo(oack->fromPort, Ack(packet->Block()));
        }
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->Opcode(), TFTP_ERROR);
        EXPECT_EQ(packet->ErrorText(), "Input/output error");
        // The line is out before the ERROR leaves.
        ++failures;
        const auto lines = m_reports.Lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) {
                                    return line.find("changing.bin, Input/output error") != std::string::npos;
                                }),
                  failures)
            << m_reports.All();
        EXPECT_EQ(m_reports.All().find("Blocks Served"), std::string::npos) << m_reports.All();
    }
}

// Nothing a client sends to a transfer port makes the server send more
// than the file once plus one window per timeout: repeated ACKs of the
// block before the window, requests, and ACKs of every single block.
TEST_F(TftpServerTest, RepeatedAcksCannotMultiplyTheWindowsSent)
{
    // A timeout of 60 s, so that no resend after a silence takes part.
    StartServer("[TFTP-OPTIONS]\nwindowsize=8\ninterval=120\n");
    const Bytes file = RandomBytes(40 * 512 + 100, 7);
    WriteFile(Home() / "f.bin", file);
    TftpTestClient client;
    auto oack = client.Negotiate(m_port, Request(TFTP_RRQ, "f.bin", "octet", {{"windowsize", "8"}}));
    ASSERT_TRUE(oack);
    const std::uint16_t port = oack->fromPort;
    Bytes received(file.size() + 512);
    // Receives `count` DATA packets and returns their block numbers.
    auto receive = [&](std::size_t count) {
        Blocks numbers;
        for (std::size_t i = 0; i < count; ++i) {
            auto packet = client.Receive();
            if (!packet || packet->Opcode() != TFTP_DATA)
                break;
            numbers.push_back(packet->Block());
            const Bytes payload = packet->Payload();
            std::copy(payload.begin(), payload.end(), received.begin() + (packet->Block() - 1) * 512);
        }
        return numbers;
    };

    client.SendTo(port, Ack(0));
    EXPECT_EQ(receive(8), (Blocks{1, 2, 3, 4, 5, 6, 7, 8}));
    // Fifty repeats and two requests draw the window once; the ACK of its
    // end then draws the next one, and nothing came in between.
    for (int i = 0; i < 50; ++i) {
        client.SendTo(port, Ack(0));
        if (i == 20)
            client.SendTo(port, Request(TFTP_RRQ, "f.bin", "octet", {{"windowsize", "8"}}));
        if (i == 30)
            client.SendTo(port, Request(TFTP_WRQ, "f.bin", "octet"));
    }
    client.SendTo(port, Ack(8));
    EXPECT_EQ(receive(8), (Blocks{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(receive(8), (Blocks{9, 10, 11, 12, 13, 14, 15, 16}));

    // A client that acknowledges every block gets each further block once.
    for (std::uint16_t block = 9; block <= 16; ++block)
        client.SendTo(port, Ack(block));
    for (std::uint16_t expected = 17; expected <= 41; ++expected) {
        const Blocks next = receive(1);
        ASSERT_EQ(next, Blocks{expected});
        client.SendTo(port, Ack(expected));
    }
    EXPECT_TRUE(m_reports.WaitFor("f.bin, 41 Blocks Served")) << m_reports.All();
    received.resize(file.size());
    EXPECT_EQ(received, file);
}

TEST_F(TftpWindowTest, WriteAcknowledgesWindowEndsGapsAndTimeouts)
{
    // Ten blocks, the last one short.
    const Bytes file = RandomBytes(9 * 512 + 300, 5);
    auto block = [&](std::uint16_t n) {
        const auto from = file.begin() + (n - 1) * 512;
        return Data(n, Bytes(from, n == 10 ? file.end() : from + 512));
    };
    TftpTestClient client;
    auto oack = client.Negotiate(m_port, Request(TFTP_WRQ, "up.bin", "octet", {{"windowsize", "4"}}));
    ASSERT_TRUE(oack);
    EXPECT_EQ(oack->Options(), (std::vector<std::pair<std::string, std::string>>{{"windowsize", "4"}}));
    const std::uint16_t port = oack->fromPort;
    auto nextAck = [&]() -> int {
        auto packet = client.Receive();
        return packet && packet->Opcode() == TFTP_ACK ? packet->Block() : -1;
    };

    // Only the window's last block is acknowledged.
    for (std::uint16_t n : {1, 2, 3, 4})
        client.SendTo(port, block(n));
    EXPECT_EQ(nextAck(), 4);
    // Block 6 lost: the first block out of order draws the ACK of the last
    // block in order, the next one nothing.
    for (std::uint16_t n : {5, 7, 8})
        client.SendTo(port, block(n));
    EXPECT_EQ(nextAck(), 5);
    // Half a window, then silence: the timeout acknowledges what came. A
    // request on the transfer's port is no reply and changes nothing.
    client.SendTo(port, block(6));
    client.SendTo(port, Request(TFTP_WRQ, "up.bin", "octet"));
    client.SendTo(port, block(7));
    EXPECT_EQ(nextAck(), 7);
    // A block sent twice (its ACK was lost) is acknowledged again.
    for (std::uint16_t n : {8, 9, 9})
        client.SendTo(port, block(n));
    EXPECT_EQ(nextAck(), 9);
    client.SendTo(port, block(10));
    EXPECT_EQ(nextAck(), 10);
    EXPECT_TRUE(m_reports.WaitFor("up.bin, 10 Blocks Received")) << m_reports.All();
    EXPECT_EQ(ReadFile(Home() / "up.bin"), file);
}

TEST_F(TftpWindowTest, ClientWithoutTheOptionStaysInLockStep)
{
    WriteFile(Home() / "f.bin", RandomBytes(3 * 512));
    for (const bool withOptions : {false, true}) {
        SCOPED_TRACE(withOptions ? "blksize only" : "RFC 1350 request");
        TftpTestClient client;
        std::vector<std::pair<std::string, std::string>> options;
        if (withOptions)
            options = {{"blksize", "512"}};
        client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet", options));
        if (withOptions) {
            auto oack = client.Receive();
            ASSERT_TRUE(oack);
            ASSERT_EQ(oack->Opcode(), TFTP_OACK);
            client.SendTo(oack->fromPort, Ack(0));
        }
        // One block at a time: a repeated ACK 0 draws block 1 again, where a
        // window would already have sent block 2.
        EXPECT_EQ(ReceiveData(client, 1), (Blocks{1}));
        client.SendTo(m_transferPort, Ack(0));
        EXPECT_EQ(ReceiveData(client, 1), (Blocks{1}));
        client.SendTo(m_transferPort, ErrorPacket(0, "done"));
    }
}

}  // namespace
