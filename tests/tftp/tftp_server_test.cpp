// The server over loopback, driven with hand-made packets.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftp_wire.h"
#include "tftp_test_support.h"

namespace {

using namespace std::chrono_literals;

// Percentages of the Progress events a server raised, in order. The
// handler shares them, so it may outlive the log.
class ProgressLog
{
public:
    TftpEventFunction Handler() const
    {
        return [shared = m_shared](const TftpTransferEvent& event) {
            if (event.kind != TftpTransferEvent::Kind::Progress)
                return;
            {
                std::lock_guard lock(shared->mutex);
                shared->values.push_back(TftpPercentSent(event));
            }
            shared->changed.notify_all();
        };
    }
    // The values once `count` have arrived, or those there are after WAIT.
    std::vector<int> Values(std::size_t count) const
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->changed.wait_for(lock, WAIT, [&] { return m_shared->values.size() >= count; });
        return m_shared->values;
    }

private:
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<int> values;
    };
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};

TEST_F(TftpServerTest, ReadWithoutOptionsStartsAtOnceFromATransferPort)
{
    StartServer();
    const Bytes file = RandomBytes(700);
    WriteFile(Home() / "f.bin", file);
    ProgressLog progress;
    m_server.SetEventHandler(progress.Handler());

    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto first = client.Receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Opcode(), TFTP_DATA);
    EXPECT_EQ(first->Block(), 1);
    EXPECT_EQ(first->Payload(), Bytes(file.begin(), file.begin() + 512));
    EXPECT_NE(first->fromPort, m_port);
    // The share sent: 512 * 100 / 700 = 73 once block 1 has left.
    EXPECT_EQ(progress.Values(1), std::vector<int>{73});

    client.SendTo(first->fromPort, Ack(1));
    auto second = client.Receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Block(), 2);
    EXPECT_EQ(second->Payload(), Bytes(file.begin() + 512, file.end()));
    EXPECT_EQ(progress.Values(2), (std::vector<int>{73, 100}));
    client.SendTo(first->fromPort, Ack(2));
    EXPECT_TRUE(m_reports.WaitFor("f.bin, 2 Blocks Served"));
}

TEST_F(TftpServerTest, ReadsFileSizesAroundTheBlockEdges)
{
    StartServer();
    // A file of a multiple of the block size ends with an empty block.
    const struct
    {
        std::size_t size;
        std::uint32_t blockSize;
    } cases[] = {{0, 512},
                 {1, 512},
                 {511, 512},
                 {512, 512},
                 {1024, 512},
                 {1025, 512},
                 {1468, 1468},
                 {65464, 65464},
                 {200000, 65464},
                 {100000, 8},
                 // Around the 256 KB read-ahead ring (as many whole blocks
                 // as fit, at least two): ends on, just past and well past a
                 // wrap of the ring.
                 {262144, 512},
                 {262144 + 512, 512},
                 {3 * 262144 + 1, 512},
                 {1428 * 183, 1428},
                 {1428 * 183 * 2 + 7, 1428},
                 {65464 * 9 + 1, 65464}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes in blocks of " + std::to_string(c.blockSize));
        const Bytes file = RandomBytes(c.size, static_cast<unsigned>(c.size));
        WriteFile(Home() / "edge.bin", file);
        TftpTestClient client;
        std::string error;
        const std::uint32_t granted = c.blockSize < 512 ? 512 : c.blockSize;
        auto data = client.ReadFile(m_port, "edge.bin", granted, &error);
        ASSERT_TRUE(data) << error;
        EXPECT_EQ(*data, file);
    }
}

TEST_F(TftpServerTest, EmptyFileIsOneEmptyBlockAndFullProgress)
{
    StartServer();
    WriteFile(Home() / "empty.bin", {});
    ProgressLog progress;
    m_server.SetEventHandler(progress.Handler());
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "empty.bin", "octet"));
    auto packet = client.Receive();
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->Opcode(), TFTP_DATA);
    EXPECT_EQ(packet->Block(), 1);
    EXPECT_TRUE(packet->Payload().empty());
    client.SendTo(packet->fromPort, Ack(1));
    EXPECT_TRUE(m_reports.WaitFor("empty.bin, 1 Blocks Served"));
    EXPECT_EQ(progress.Values(1), std::vector<int>{100});
}

TEST_F(TftpServerTest, OptionsAreAnsweredWithOackBeforeTheFirstBlock)
{
    StartServer("[TFTP-OPTIONS]\nblksize=4096\n");
    const Bytes file = RandomBytes(5000);
    WriteFile(Home() / "f.bin", file);
    struct Case
    {
        const char* name;
        std::vector<std::pair<std::string, std::string>> options;
        std::vector<std::pair<std::string, std::string>> echo;
        std::size_t firstBlock;
    };
    const Case cases[] = {
        {"blksize and tsize",
         {{"blksize", "1024"}, {"tsize", "0"}},
         {{"blksize", "1024"}, {"tsize", "5000"}},
         1024},
        {"blksize limited by the INI", {{"blksize", "100000"}}, {{"blksize", "4096"}}, 4096},
        {"only unknown options", {{"windowsize", "8"}}, {}, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet", c.options));
        auto oack = client.Receive();
        ASSERT_TRUE(oack);
        EXPECT_EQ(oack->Opcode(), TFTP_OACK);
        EXPECT_EQ(oack->Options(), c.echo);
        // Byte for byte: opcode 6, then each name and value with its NUL,
        // nothing after the last one.
        Bytes expected = {0, 6};
        for (const auto& [name, value] : c.echo)
            for (const std::string& text : {name, value}) {
                expected.insert(expected.end(), text.begin(), text.end());
                expected.push_back(0);
            }
        EXPECT_EQ(oack->bytes, expected);
        // No DATA before the client acknowledged the OACK.
        EXPECT_FALSE(client.Receive(100ms));
        client.SendTo(oack->fromPort, Ack(0));
        auto data = client.Receive();
        ASSERT_TRUE(data);
        EXPECT_EQ(data->Block(), 1);
        EXPECT_EQ(data->Payload().size(), c.firstBlock);
        client.SendTo(oack->fromPort, ErrorPacket(0, "enough"));
    }
}

TEST_F(TftpServerTest, WriteWithoutOptionsAcknowledgesEachBlock)
{
    StartServer();
    const Bytes file = RandomBytes(700);
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "up.bin", "octet"));
    auto ack0 = client.Receive();
    ASSERT_TRUE(ack0);
    EXPECT_EQ(ack0->Opcode(), TFTP_ACK);
    EXPECT_EQ(ack0->Block(), 0);
    client.SendTo(ack0->fromPort, Data(1, Bytes(file.begin(), file.begin() + 512)));
    auto ack1 = client.Receive();
    ASSERT_TRUE(ack1);
    EXPECT_EQ(ack1->Block(), 1);
    // A duplicate block is neither acknowledged nor counted.
    client.SendTo(ack0->fromPort, Data(1, Bytes(file.begin(), file.begin() + 512)));
    EXPECT_FALSE(client.Receive(200ms));
    client.SendTo(ack0->fromPort, Data(2, Bytes(file.begin() + 512, file.end())));
    auto ack2 = client.Receive();
    ASSERT_TRUE(ack2);
    EXPECT_EQ(ack2->Block(), 2);
    EXPECT_TRUE(m_reports.WaitFor("up.bin, 2 Blocks Received"));
    // The final ACK is sent only after the file is stored and closed.
    EXPECT_EQ(ReadFile(Home() / "up.bin"), file);
}

TEST_F(TftpServerTest, WriteEndedByTheClientLeavesNothingBehind)
{
    StartServer();
    const Bytes file = RandomBytes(3 * 512);
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "partial.bin", "octet"));
    auto ack = client.Receive();
    ASSERT_TRUE(ack);
    for (std::uint16_t block = 1; block <= 3; ++block) {
        client.SendTo(ack->fromPort,
                      Data(block, Bytes(file.begin() + (block - 1) * 512, file.begin() + block * 512)));
        auto reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Block(), block);
    }
    client.SendTo(ack->fromPort, ErrorPacket(0, "user cancelled"));
    EXPECT_TRUE(m_reports.WaitFor("Error Code 0 at Client, user cancelled"));
    // The transfer thread has ended once the server stops: a file that did
    // not arrive whole is not published, under any name.
    m_server.Stop();
    EXPECT_TRUE(std::filesystem::is_empty(Home()));
}

TEST_F(TftpServerTest, WriteWithTsizeGetsZeroAndBlockSizeInItsOack)
{
    StartServer();
    const Bytes file = RandomBytes(3000);
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "up.bin", "octet", {{"tsize", "3000"}, {"blksize", "2048"}}));
    auto oack = client.Receive();
    ASSERT_TRUE(oack);
    EXPECT_EQ(oack->Options(),
              (std::vector<std::pair<std::string, std::string>>{{"tsize", "0"}, {"blksize", "2048"}}));
    client.SendTo(oack->fromPort, Data(1, Bytes(file.begin(), file.begin() + 2048)));
    auto ack1 = client.Receive();
    ASSERT_TRUE(ack1);
    EXPECT_EQ(ack1->Block(), 1);
    client.SendTo(oack->fromPort, Data(2, Bytes(file.begin() + 2048, file.end())));
    ASSERT_TRUE(client.Receive());
    EXPECT_TRUE(m_reports.WaitFor("up.bin, 2 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "up.bin"), file);
}

TEST_F(TftpServerTest, RequestsAreRefusedWithTheirErrorTexts)
{
    StartServer();
    WriteFile(Home() / "exists.bin", ToBytes("keep me"));
    std::filesystem::create_directories(Home() / "dir");
    struct Case
    {
        const char* name;
        Bytes packet;
        std::uint16_t code;
        const char* text;
        bool fromListener;  // answered from the listening port
    };
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"parent first", Request(TFTP_RRQ, "../x", "octet"), 2, "Access violation", false},
        {"parent inside", Request(TFTP_RRQ, "a/../x", "octet"), 2, "Access violation", false},
        {"parent with backslash", Request(TFTP_WRQ, "a\\..\\x", "octet"), 2, "Access violation", false},
        {"missing file", Request(TFTP_RRQ, "nothing.bin", "octet"), 1, "File Not Found", false},
        {"directory", Request(TFTP_RRQ, "dir", "octet"), 1, "File Not Found", false},
        {"existing file", Request(TFTP_WRQ, "exists.bin", "octet"), 6, "File already exists", false},
        {"folder missing", Request(TFTP_WRQ, "no/such/x.bin", "octet"), 2, "Invalid Path", false},
        {"not terminated", ToBytes("\0\1file.bin\0oct"sv), 4, "Request not null-terminated", false},
        {"missing mode", ToBytes("\0\1file.bin\0"sv), 4, "Missing mode", false},
        {"read request of 3 bytes", ToBytes("\0\1x"sv), 4, "Request not null-terminated", false},
        {"ack to the server port", Ack(1), 5, "Unknown transfer ID", true},
        {"data to the server port", Data(1, ToBytes("x")), 5, "Unknown transfer ID", true},
        {"empty datagram", Bytes{}, 5, "Unknown transfer ID", true},
        {"one byte", Bytes{0}, 5, "Unknown transfer ID", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        client.SendTo(m_port, c.packet);
        auto reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Opcode(), TFTP_ERROR);
        EXPECT_EQ(reply->Block(), c.code);
        EXPECT_EQ(reply->ErrorText(), c.text);
        // 4 bytes, the text and its NUL, nothing more.
        EXPECT_EQ(reply->bytes.size(), 4 + std::strlen(c.text) + 1);
        EXPECT_EQ(reply->bytes.back(), 0);
        EXPECT_EQ(reply->fromPort == m_port, c.fromListener);
        EXPECT_TRUE(m_reports.WaitFor(c.text));
    }
    EXPECT_EQ(ReadFile(Home() / "exists.bin"), ToBytes("keep me"));
}

TEST_F(TftpServerTest, ExistingFileIsNeverTruncatedWhenOverwritingIsOff)
{
    StartServer();
    // Existence, not readability, decides: a file nobody may read is still
    // an existing file.
    WriteFile(Home() / "locked.bin", ToBytes("secret"));
    chmod((Home() / "locked.bin").c_str(), 0);
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "locked.bin", "octet"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ErrorText(), "File already exists");
    EXPECT_EQ(std::filesystem::file_size(Home() / "locked.bin"), 6u);
}

TEST_F(TftpServerTest, OverwriteReplacesAnExistingFile)
{
    StartServer("[TFTP-OPTIONS]\noverwrite=y\n");
    WriteFile(Home() / "f.bin", RandomBytes(5000, 1));
    const Bytes replacement = RandomBytes(700, 2);
    TftpTestClient client;
    std::string error;
    ASSERT_TRUE(client.WriteFile(m_port, "f.bin", replacement, 512, &error)) << error;
    EXPECT_TRUE(m_reports.WaitFor("f.bin, 2 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "f.bin"), replacement);
}

TEST_F(TftpServerTest, SlashAndLeadingSeparatorNameTheSameFile)
{
    StartServer();
    std::filesystem::create_directories(Home() / "sub");
    const Bytes file = RandomBytes(100);
    WriteFile(Home() / "sub" / "f.bin", file);
    for (const char* name : {"sub/f.bin", "/sub/f.bin", "sub\\f.bin", "\\sub\\f.bin"}) {
        SCOPED_TRACE(name);
        TftpTestClient client;
        auto data = client.ReadFile(m_port, name);
        ASSERT_TRUE(data);
        EXPECT_EQ(*data, file);
    }
}

TEST_F(TftpServerTest, AliasesResolveTheFirstComponent)
{
    const std::filesystem::path fw = m_temp.Path() / "fw";
    std::filesystem::create_directories(fw);
    StartServer("[HOME]\nfw=" + fw.string() + "\n", false);
    const Bytes file = RandomBytes(600);
    WriteFile(fw / "image.bin", file);
    TftpTestClient client;
    auto data = client.ReadFile(m_port, "FW/image.bin");
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, file);
    std::string error;
    EXPECT_FALSE(client.ReadFile(m_port, "image.bin", 512, &error));
    EXPECT_EQ(error, "Missing directory/alias");
    EXPECT_FALSE(client.ReadFile(m_port, "web/image.bin", 512, &error));
    EXPECT_EQ(error, "No such directory/alias");
}

TEST_F(TftpServerTest, LocalPathThatDoesNotFitIsRefused)
{
    StartServer();
    // The home and the name together exceed the longest path the system takes.
    m_server.SetHomeDirectory("/" + std::string(TFTP_MAX_PATH - 300, 'h'));
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, std::string(400, 'n'), "octet"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Block(), 2);
    EXPECT_EQ(reply->ErrorText(), "File name too long");
}

TEST_F(TftpServerTest, HomeDirectoryReplacementAppliesToLaterRequests)
{
    StartServer();
    const std::filesystem::path updates = m_temp.Path() / "updates";
    std::filesystem::create_directories(updates);
    const Bytes file = RandomBytes(900);
    WriteFile(updates / "image.bin", file);
    m_server.SetHomeDirectory(updates.string());
    TftpTestClient client;
    auto data = client.ReadFile(m_port, "image.bin");
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, file);
}

TEST_F(TftpServerTest, ReadResendsOnDuplicateAckAndTimesOutAfterFourWaits)
{
    StartServer("[TFTP-OPTIONS]\ninterval=1\n");  // timeout 1 s
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto first = client.Receive();
    ASSERT_TRUE(first);
    client.SendTo(first->fromPort, Ack(1));
    auto second = client.Receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Block(), 2);
    // A duplicate ACK gets the current block again at once.
    client.SendTo(first->fromPort, Ack(1));
    auto again = client.Receive(500ms);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Block(), 2);
    // Then silence: block 2 is sent after each of three empty waits and the
    // fourth ends the transfer.
    int resent = 0;
    for (;;) {
        auto packet = client.Receive(3000ms);
        ASSERT_TRUE(packet);
        if (packet->Opcode() == TFTP_ERROR) {
            EXPECT_EQ(packet->ErrorText(), "Timeout");
            break;
        }
        EXPECT_EQ(packet->Block(), 2);
        ++resent;
    }
    EXPECT_EQ(resent, 3);
    EXPECT_TRUE(m_reports.WaitFor("f.bin, Timeout"));
}

// At the server's maximum a new request takes the place of the oldest
// transfer whose client never answered, which ends with "Too many
// transfers"; a transfer whose client answered keeps its place.
TEST_F(TftpServerTest, UnansweredTransfersGiveWayAtTheServersMaximum)
{
    StartServer("[TFTP-OPTIONS]\nmax-transfers=2\nmax-transfers-per-client=8\ninterval=120\n");
    WriteFile(Home() / "f.bin", RandomBytes(3000));
    // Starts a read and returns the port its first block came from.
    auto start = [&](TftpTestClient& client) -> std::uint16_t {
        client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
        auto packet = client.Receive();
        return packet && packet->Opcode() == TFTP_DATA ? packet->fromPort : 0;
    };
    // Acknowledges block 1 and waits for block 2, which leaves only once
    // the answer counts.
    auto answer = [](TftpTestClient& client, std::uint16_t port) {
        client.SendTo(port, Ack(1));
        auto packet = client.Receive();
        return packet && packet->Opcode() == TFTP_DATA && packet->Block() == 2;
    };
    TftpTestClient answered;
    TftpTestClient silent;
    TftpTestClient third;
    TftpTestClient fourth;
    const std::uint16_t answeredPort = start(answered);
    ASSERT_NE(answeredPort, 0);
    ASSERT_TRUE(answer(answered, answeredPort));
    ASSERT_NE(start(silent), 0);

    const std::uint16_t thirdPort = start(third);
    ASSERT_NE(thirdPort, 0);
    auto displaced = silent.Receive();
    ASSERT_TRUE(displaced);
    EXPECT_EQ(displaced->Opcode(), TFTP_ERROR);
    EXPECT_EQ(displaced->ErrorText(), "Too many transfers");

    // Both places are held by clients that answered: a new request is
    // refused.
    ASSERT_TRUE(answer(third, thirdPort));
    fourth.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto refusal = fourth.Receive();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->Opcode(), TFTP_ERROR);
    EXPECT_EQ(refusal->fromPort, m_port);
    EXPECT_EQ(refusal->ErrorText(), "Too many transfers");
    // The answered transfer goes on.
    answered.SendTo(answeredPort, Ack(2));
    auto block3 = answered.Receive();
    ASSERT_TRUE(block3);
    EXPECT_EQ(block3->Block(), 3);
}

TEST_F(TftpServerTest, WriteResendsTheLastAckWhenDataStaysAway)
{
    StartServer("[TFTP-OPTIONS]\ninterval=1\n");
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "w.bin", "octet"));
    auto ack0 = client.Receive();
    ASSERT_TRUE(ack0);
    int resent = 0;
    for (;;) {
        auto packet = client.Receive(3000ms);
        ASSERT_TRUE(packet);
        if (packet->Opcode() == TFTP_ERROR) {
            EXPECT_EQ(packet->ErrorText(), "Timeout");
            break;
        }
        EXPECT_EQ(packet->Opcode(), TFTP_ACK);
        EXPECT_EQ(packet->Block(), 0);
        ++resent;
    }
    EXPECT_EQ(resent, 3);
}

// 65537 blocks of 512 bytes: the block numbers run up to 65535, then on
// with 0 and 1.
constexpr std::size_t WRAP_FILE_SIZE = 65536 * 512 + 100;

TEST_F(TftpServerTest, BlockNumbersWrapFrom65535ToZero)
{
    StartServer();
    const Bytes file = RandomBytes(WRAP_FILE_SIZE);
    WriteFile(Home() / "wrap.bin", file);
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "wrap.bin", "octet"));
    Bytes received;
    std::vector<std::uint16_t> numbers;  // from the 65534th DATA on
    bool askedAgain = false;
    for (std::size_t index = 1;;) {
        auto packet = client.Receive();
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->Opcode(), TFTP_DATA);
        if (index >= 65534)
            numbers.push_back(packet->Block());
        // The ACK of 65535 once more after block 0 came: in lock-step it
        // asks for block 0 again and acknowledges nothing.
        if (index == 65536 && !askedAgain) {
            askedAgain = true;
            client.SendTo(packet->fromPort, Ack(65535));
            continue;
        }
        const Bytes payload = packet->Payload();
        received.insert(received.end(), payload.begin(), payload.end());
        client.SendTo(packet->fromPort, Ack(packet->Block()));
        ++index;
        if (payload.size() < 512)
            break;
    }
    EXPECT_EQ(numbers, (std::vector<std::uint16_t>{65534, 65535, 0, 0, 1}));
    EXPECT_TRUE(received == file);
    EXPECT_TRUE(m_reports.WaitFor("wrap.bin, 65537 Blocks Served"));
}

TEST_F(TftpServerTest, ClientThatCannotAcknowledgeBlockZeroGetsFileTooLarge)
{
    // A window gets to the wrap quickly.
    StartServer("[TFTP-OPTIONS]\nwindowsize=16\ninterval=1\n");
    WriteFile(Home() / "wrap.bin", RandomBytes(WRAP_FILE_SIZE));
    TftpTestClient client;
    auto oack = client.Negotiate(m_port, Request(TFTP_RRQ, "wrap.bin", "octet", {{"windowsize", "16"}}));
    ASSERT_TRUE(oack);
    client.SendTo(oack->fromPort, Ack(0));
    // Each window's last block is acknowledged, up to 65535: a client that
    // counts only to 65535 never acknowledges block 0.
    for (std::size_t index = 1; index <= 65535; ++index) {
        auto packet = client.Receive();
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->Opcode(), TFTP_DATA);
        ASSERT_EQ(packet->Block(), index);
        if (index % 16 == 0 || index == 65535)
            client.SendTo(packet->fromPort, Ack(packet->Block()));
    }
    for (;;) {
        auto packet = client.Receive(3000ms);
        ASSERT_TRUE(packet);
        if (packet->Opcode() == TFTP_ERROR) {
            EXPECT_EQ(packet->ErrorText(), "File too large for client");
            break;
        }
        EXPECT_TRUE(packet->Block() == 0 || packet->Block() == 1) << packet->Block();
    }
}

TEST_F(TftpServerTest, UploadBlockNumbersWrapFrom65535ToZero)
{
    StartServer();
    const Bytes file = RandomBytes(WRAP_FILE_SIZE, 5);
    TftpTestClient client;
    std::string error;
    // The client expects each ACK to carry the number of the block it sent.
    ASSERT_TRUE(client.WriteFile(m_port, "up.bin", file, 512, &error)) << error;
    EXPECT_TRUE(m_reports.WaitFor("up.bin, 65537 Blocks Received"));
    EXPECT_TRUE(ReadFile(Home() / "up.bin") == file);
}

TEST_F(TftpServerTest, ClientErrorEndsTheTransferWithoutAnswer)
{
    StartServer();
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto first = client.Receive();
    ASSERT_TRUE(first);
    client.SendTo(first->fromPort, ErrorPacket(3, "disk full here"));
    EXPECT_TRUE(m_reports.WaitFor("Error Code 3 at Client, disk full here"));
    EXPECT_FALSE(client.Receive(200ms));
}

// Each report is one whole line: "Client address:port", then the local path
// once the name is resolved, then the message. An ERROR from the client is
// never answered, not even a bare two-byte one sent to the server port.
TEST_F(TftpServerTest, ReportLinesNameTheClientAndThePathOnceResolved)
{
    using namespace std::string_view_literals;
    StartServer();
    WriteFile(Home() / "f.bin", RandomBytes(700));
    const std::string home = Home().string() + "/";
    struct Case
    {
        const char* name;
        // Plays the client's part; returns the line the server must report
        // for a client at "127.0.0.1:<port>".
        std::string (*play)(TftpTestClient& client, std::uint16_t serverPort, const std::string& home);
        bool answered;  // whether the last packet sent draws an answer
    };
    const Case cases[] = {
        {"read served",
         [](TftpTestClient& c, std::uint16_t port, const std::string& home) {
             c.SendTo(port, Request(TFTP_RRQ, "f.bin", "octet"));
             auto first = c.Receive();
             c.SendTo(first ? first->fromPort : 0, Ack(1));
             auto second = c.Receive();
             c.SendTo(second ? second->fromPort : 0, Ack(2));
             return home + "f.bin, 2 Blocks Served";
         },
         false},
        {"write received",
         [](TftpTestClient& c, std::uint16_t port, const std::string& home) {
             c.SendTo(port, Request(TFTP_WRQ, "lines.bin", "octet"));
             auto ack0 = c.Receive();
             c.SendTo(ack0 ? ack0->fromPort : 0, Data(1, ToBytes("x")));
             return home + "lines.bin, 1 Blocks Received";
         },
         true},
        {"error after the path is known",
         [](TftpTestClient& c, std::uint16_t port, const std::string& home) {
             c.SendTo(port, Request(TFTP_RRQ, "none.bin", "octet"));
             return home + "none.bin, File Not Found";
         },
         true},
        {"error before the path is known",
         [](TftpTestClient& c, std::uint16_t port, const std::string&) {
             c.SendTo(port, Request(TFTP_RRQ, "../f.bin", "octet"));
             return std::string(", Access violation");
         },
         true},
        {"listener answers an acknowledgment",
         [](TftpTestClient& c, std::uint16_t port, const std::string&) {
             c.SendTo(port, Ack(7));
             return std::string(", Unknown transfer ID");
         },
         true},
        {"client error to the server port",
         [](TftpTestClient& c, std::uint16_t port, const std::string&) {
             c.SendTo(port, ErrorPacket(3, "bye"));
             return std::string(", Error Code 3 at Client, bye");
         },
         false},
        {"bare error opcode to the server port",
         [](TftpTestClient& c, std::uint16_t port, const std::string&) {
             c.SendTo(port, ToBytes("\0\5"sv));
             return std::string(", Error Code 0 at Client, ");
         },
         false},
        // The read loop's own text already names the client; the report puts
        // the usual prefix with the path in front of it.
        {"client error during a read",
         [](TftpTestClient& c, std::uint16_t port, const std::string& home) {
             c.SendTo(port, Request(TFTP_RRQ, "f.bin", "octet"));
             auto first = c.Receive();
             c.SendTo(first ? first->fromPort : 0, ErrorPacket(2, "stop"));
             return home + "f.bin, Client 127.0.0.1:" + std::to_string(c.LocalPort()) +
                    ", Error Code 2 at Client, stop";
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        const std::string tail = c.play(client, m_port, home);
        const std::string prefix = "Client 127.0.0.1:" + std::to_string(client.LocalPort());
        const std::string line = prefix + (tail.starts_with(",") ? "" : " ") + tail + "\n";
        EXPECT_TRUE(m_reports.WaitForLine(line)) << m_reports.All();
        EXPECT_EQ(client.Receive(200ms).has_value(), c.answered);
    }
    // A client's ERROR during a write is reported without the client prefix.
    TftpTestClient writer;
    writer.SendTo(m_port, Request(TFTP_WRQ, "cancelled.bin", "octet"));
    auto ack0 = writer.Receive();
    ASSERT_TRUE(ack0);
    writer.SendTo(ack0->fromPort, ErrorPacket(0, "cancelled"));
    EXPECT_TRUE(m_reports.WaitForLine("Error Code 0 at Client, cancelled\n"));
}

TEST_F(TftpServerTest, UnexpectedOpcodeDuringATransferIsAnError)
{
    StartServer();
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto first = client.Receive();
    ASSERT_TRUE(first);
    client.SendTo(first->fromPort, Data(1, ToBytes("x")));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ErrorText(), "Unexpected Option Code");
}

TEST_F(TftpServerTest, OversizedDatagramToTheServerPortIsACommunicationError)
{
    StartServer();
    TftpTestClient client;
    Bytes big = Request(TFTP_RRQ, "f.bin", "octet");
    big.resize(600, 'x');
    client.SendTo(m_port, big);
    EXPECT_TRUE(m_reports.WaitFor("Communication Error"));
    EXPECT_FALSE(client.Receive(200ms));
}

// During a transfer the receive buffer is 512 bytes for a read's replies and
// block size + 4 for a write's DATA; anything longer is a failed receive,
// which ends the transfer without an ERROR packet.
TEST_F(TftpServerTest, OversizedDatagramDuringATransferIsACommunicationError)
{
    StartServer();
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    struct Case
    {
        const char* name;
        Bytes request;
        Bytes oversized;
        const char* path;
    };
    Bytes longAck = Ack(1);
    longAck.resize(513, 'x');
    const Case cases[] = {
        {"reply of 513 bytes during a read", Request(TFTP_RRQ, "f.bin", "octet"), longAck, "f.bin"},
        {"DATA of 512 + 5 bytes during a write", Request(TFTP_WRQ, "big.bin", "octet"),
         Data(1, RandomBytes(513)), "big.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        client.SendTo(m_port, c.request);
        auto first = client.Receive();
        ASSERT_TRUE(first);
        client.SendTo(first->fromPort, c.oversized);
        EXPECT_TRUE(m_reports.WaitFor(std::string(c.path) + ", Communication Error"));
        EXPECT_FALSE(client.Receive(200ms));
    }
}

TEST_F(TftpServerTest, ClientOutsideTheAllowedRangesIsDenied)
{
    StartServer("[ALLOWED-CLIENTS]\n10.0.0.5\n");
    WriteFile(Home() / "f.bin", RandomBytes(10));
    // Whatever it sends, even an ERROR packet, gets the same answer.
    for (const Bytes& packet : {Request(TFTP_RRQ, "f.bin", "octet"), ErrorPacket(0, "x"), Ack(3)}) {
        TftpTestClient client;
        client.SendTo(m_port, packet);
        auto reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Block(), 2);
        EXPECT_EQ(reply->ErrorText(), "Access Denied");
    }
}

TEST_F(TftpServerTest, NoPortIsFreeWhenTheRangeIsTaken)
{
    // A one-port range whose port one transfer holds.
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    const unsigned port = ntohs(address.sin_port);
    ASSERT_GE(port, 1024u);
    StartServer("[TFTP-OPTIONS]\nport-range=" + std::to_string(port) + "-" + std::to_string(port) + "\n");
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    TftpTestClient first;
    first.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto data = first.Receive();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->fromPort, port);
    TftpTestClient second;
    second.SendTo(m_port, Request(TFTP_RRQ, "f.bin", "octet"));
    auto reply = second.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ErrorText(), "No port is free");
    EXPECT_EQ(reply->fromPort, m_port);
    first.SendTo(data->fromPort, ErrorPacket(0, "done"));
}

TEST_F(TftpServerTest, ManyTransfersAtOnceFinishIntact)
{
    // All from 127.0.0.1, so the per-client limit (16 by default) is raised.
    StartServer("[TFTP-OPTIONS]\noverwrite=y\nmax-transfers-per-client=40\n");
    constexpr int TRANSFERS = 40;
    const Bytes file = RandomBytes(300000);
    WriteFile(Home() / "shared.bin", file);
    std::atomic<int> intact{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < TRANSFERS; ++i) {
        threads.emplace_back([&, i] {
            TftpTestClient client;
            const std::uint32_t blockSize = i % 2 ? 1024 : 8192;
            if (i % 4 == 3) {
                const Bytes upload = RandomBytes(100000 + i, static_cast<unsigned>(i));
                const std::string name = "up" + std::to_string(i) + ".bin";
                if (client.WriteFile(m_port, name, upload, blockSize))
                    intact += 1;
                return;
            }
            auto data = client.ReadFile(m_port, "shared.bin", blockSize);
            if (data && *data == file)
                intact += 1;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(intact.load(), TRANSFERS);
    for (int i = 3; i < TRANSFERS; i += 4)
        EXPECT_EQ(ReadFile(Home() / ("up" + std::to_string(i) + ".bin")),
                  RandomBytes(100000 + i, static_cast<unsigned>(i)));
}

TEST_F(TftpServerTest, NetasciiReadDeliversLfAndWriteStoresCrLf)
{
    StartServer();
    WriteFile(Home() / "text.txt", ToBytes("one\r\ntwo\r\n\x1A"
                                           "garbage"));
    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_RRQ, "text.txt", "NETASCII"));
    auto data = client.Receive();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->Payload(), ToBytes("one\ntwo\n"));
    client.SendTo(data->fromPort, Ack(1));

    client.SendTo(m_port, Request(TFTP_WRQ, "up.txt", "netascii"));
    auto ack = client.Receive();
    ASSERT_TRUE(ack);
    client.SendTo(ack->fromPort, Data(1, ToBytes("a\nb\r\n")));
    ASSERT_TRUE(client.Receive());
    EXPECT_TRUE(m_reports.WaitFor("up.txt, 1 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "up.txt"), ToBytes("a\r\nb\r\n"));
}

TEST_F(TftpServerTest, StoppingTheServerEndsRunningTransfers)
{
    StartServer();
    WriteFile(Home() / "f.bin", RandomBytes(2000));
    TftpTestClient client;
    // The longest interval gives the transfer a receive timeout of a minute,
    // far beyond the deadline: only the stop itself can end it in time.
    static_assert(std::chrono::seconds(TFTP_MAX_INTERVAL / 2) > HANG_DEADLINE);
    client.SendTo(m_port,
                  Request(TFTP_RRQ, "f.bin", "octet", {{"interval", std::to_string(TFTP_MAX_INTERVAL)}}));
    auto oack = client.Receive();
    ASSERT_TRUE(oack);
    client.SendTo(oack->fromPort, Ack(0));
    auto first = client.Receive();
    ASSERT_TRUE(first);
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [this] { m_server.Stop(); }));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ErrorText(), "Server shutting down");
}

}  // namespace
