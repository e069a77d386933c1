// What a client can and cannot reach through the server: links out of the
// home, FIFOs, the server's own configuration, replacing uploads that break
// off, and report lines built from what the client sent.

#include <gtest/gtest.h>

#include <filesystem>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_wire.h"
#include "tftp_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sends one request and returns the server's ERROR text ("" for another answer).
std::string Refusal(TftpTestClient& client, std::uint16_t port, std::uint16_t opcode, const std::string& name)
{
    client.SendTo(port, Request(opcode, name, "octet"));
    auto reply = client.Receive();
    if (!reply)
        return "no answer";
    return reply->Opcode() == TFTP_ERROR ? std::to_string(reply->Block()) + " " + reply->ErrorText() : "";
}

TEST_F(TftpServerTest, LinksOutOfTheHomeAndFifosAreRefusedAtOnce)
{
    StartServer("[TFTP-OPTIONS]\noverwrite=y\n");
    const fs::path outside = m_temp.Path() / "outside.bin";
    WriteFile(outside, ToBytes("secret"));
    WriteFile(Home() / "image.bin", RandomBytes(700));
    fs::create_symlink(outside, Home() / "out.bin");
    fs::create_symlink(m_temp.Path(), Home() / "up");
    fs::create_symlink("image.bin", Home() / "current.bin");
    ASSERT_EQ(mkfifo((Home() / "pipe").c_str(), 0666), 0);
    const struct
    {
        std::uint16_t opcode;
        const char* name;
        const char* answer;
    } cases[] = {
        {TFTP_RRQ, "out.bin", "2 Access violation"},
        {TFTP_WRQ, "out.bin", "2 Access violation"},
        {TFTP_RRQ, "up/outside.bin", "2 Access violation"},
        {TFTP_WRQ, "up/new.bin", "2 Access violation"},
        // Without O_NONBLOCK the open of a FIFO would wait for a writer and
        // the client would hear nothing.
        {TFTP_RRQ, "pipe", "1 File Not Found"},
        {TFTP_WRQ, "pipe", "2 Invalid Path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        EXPECT_EQ(Refusal(client, m_port, c.opcode, c.name), c.answer);
    }
    EXPECT_EQ(ReadFile(outside), ToBytes("secret"));
    EXPECT_FALSE(fs::exists(m_temp.Path() / "new.bin"));
    // A link that stays inside is served.
    TftpTestClient client;
    std::string error;
    auto data = client.ReadFile(m_port, "current.bin", 512, &error);
    ASSERT_TRUE(data) << error;
    EXPECT_EQ(*data, ReadFile(Home() / "image.bin"));
}

// The default home is the program's folder, where the server reads its INI
// file at start-up. StartServer names the program <temp>/vindle-tftpd.
TEST_F(TftpServerTest, UploadsNeverPlantTheServersConfiguration)
{
    const struct
    {
        const char* name;
        std::string ini;
        bool homeIsProgramFolder;
        bool plainUploadAllowed;
    } setups[] = {
        {"default home", "[TFTP-OPTIONS]\noverwrite=y\n", true, false},
        {"program folder named", "[HOME]\n" + m_temp.Path().string() + "\n[TFTP-OPTIONS]\noverwrite=y\n",
         true, true},
        {"other home", "[HOME]\n" + Home().string() + "\n", false, true},
    };
    for (const auto& s : setups) {
        SCOPED_TRACE(s.name);
        StartServer(s.ini, false);
        const fs::path folder = s.homeIsProgramFolder ? m_temp.Path() : Home();
        WriteFile(m_temp.Path() / "readable.bin", ToBytes("read me"));
        TftpTestClient client;
        EXPECT_EQ(Refusal(client, m_port, TFTP_WRQ, "vindle-tftpd.ini"), "2 Access violation");
        EXPECT_FALSE(fs::exists(folder / "vindle-tftpd.ini"));
        std::string error;
        EXPECT_EQ(client.WriteFile(m_port, "plain.bin", ToBytes("data"), 512, &error), s.plainUploadAllowed)
            << error;
        EXPECT_EQ(fs::exists(folder / "plain.bin"), s.plainUploadAllowed);
        if (!s.plainUploadAllowed) {
            EXPECT_EQ(error, "Access violation");
        }
        if (s.homeIsProgramFolder) {
            // Reading there works as before.
            auto data = client.ReadFile(m_port, "readable.bin", 512, &error);
            ASSERT_TRUE(data) << error;
            EXPECT_EQ(*data, ToBytes("read me"));
        }
        m_server.Stop();
        fs::remove(folder / "plain.bin");
    }
}

// Started with another INI file (named on the command line, or the one in
// /etc/vindle), the server refuses uploads of its name too: a home that
// holds it would otherwise take a configuration for the next start.
TEST_F(TftpServerTest, UploadsNeverPlantTheIniFileInUse)
{
    StartServer("[TFTP-OPTIONS]\noverwrite=y\n", true, (Home() / "site.ini").string());
    TftpTestClient client;
    EXPECT_EQ(Refusal(client, m_port, TFTP_WRQ, "site.ini"), "2 Access violation");
    EXPECT_EQ(Refusal(client, m_port, TFTP_WRQ, "vindle-tftpd.ini"), "2 Access violation");
    EXPECT_FALSE(fs::exists(Home() / "site.ini"));
    std::string error;
    EXPECT_TRUE(client.WriteFile(m_port, "plain.bin", ToBytes("data"), 512, &error)) << error;
}

// Plays a write of `file` under `name` up to (not including) the block
// `stopBefore`, then sends an ERROR instead.
void BreakOffUpload(std::uint16_t port, const std::string& name, const Bytes& file, std::uint16_t stopBefore)
{
    TftpTestClient writer;
    writer.SendTo(port, Request(TFTP_WRQ, name, "octet"));
    auto ack = writer.Receive();
    ASSERT_TRUE(ack);
    ASSERT_EQ(ack->Opcode(), TFTP_ACK);
    for (std::uint16_t block = 1; block < stopBefore; ++block) {
        const auto begin = file.begin() + (block - 1) * 512;
        writer.SendTo(ack->fromPort, Data(block, Bytes(begin, begin + 512)));
        auto reply = writer.Receive();
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->Block(), block);
    }
    writer.SendTo(ack->fromPort, ErrorPacket(0, "cancelled"));
}

TEST_F(TftpServerTest, ReplacingUploadKeepsTheOldFileUntilItsLastBlock)
{
    StartServer("[TFTP-OPTIONS]\noverwrite=y\n");
    // Larger than the read-ahead ring, so the reader goes back to the file
    // after the replacement.
    const Bytes old = RandomBytes(300000, 1);
    WriteFile(Home() / "fw.bin", old);

    // A reader is told the old size and holds after block 1.
    TftpTestClient reader;
    reader.SendTo(m_port, Request(TFTP_RRQ, "fw.bin", "octet", {{"tsize", "0"}}));
    auto packet = reader.Receive();
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->Options(), (std::vector<std::pair<std::string, std::string>>{{"tsize", "300000"}}));
    const std::uint16_t readerPort = packet->fromPort;
    reader.SendTo(readerPort, Ack(0));

    // A write broken off after three blocks changes nothing.
    BreakOffUpload(m_port, "fw.bin", RandomBytes(5 * 512, 2), 4);
    ASSERT_TRUE(m_reports.WaitFor("Error Code 0 at Client, cancelled"));
    EXPECT_EQ(ReadFile(Home() / "fw.bin"), old);

    // A whole upload replaces the file in one step.
    const Bytes replacement = RandomBytes(1000, 3);
    TftpTestClient writer;
    std::string error;
    ASSERT_TRUE(writer.WriteFile(m_port, "fw.bin", replacement, 512, &error)) << error;
    EXPECT_EQ(ReadFile(Home() / "fw.bin"), replacement);

    // The reader still gets every byte of the old file. Blocks the server
    // sent again while the reader held are skipped.
    Bytes received;
    std::uint16_t expected = 1;
    for (;;) {
        packet = reader.Receive(5s);
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->Opcode(), TFTP_DATA) << packet->ErrorText();
        if (packet->Block() != expected)
            continue;
        const Bytes payload = packet->Payload();
        received.insert(received.end(), payload.begin(), payload.end());
        reader.SendTo(readerPort, Ack(expected++));
        if (payload.size() < 512)
            break;
    }
    EXPECT_EQ(received, old);
    // Every transfer thread has ended once the server stops: no temporary
    // file is left beside the new one.
    m_server.Stop();
    EXPECT_EQ(std::distance(fs::directory_iterator(Home()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadFile(Home() / "fw.bin"), replacement);
}

// A home of 64 KiB on a tmpfs in a mount namespace of the test's own
// (ctest runs each test in a process of its own, so it is single-threaded
// here). Skipped where namespaces or mounts are not allowed.
class TftpFullHomeTest : public TftpServerTest
{
protected:
    void SetUp() override
    {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "no mount namespace of our own";
        if (mount("tmpfs", Home().c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "no tmpfs";
        m_mounted = true;
    }
    void TearDown() override
    {
        TftpServerTest::TearDown();
        if (m_mounted)
            (void)umount2(Home().c_str(), MNT_DETACH);
    }
    std::uint64_t FreeBytes() const
    {
        struct statvfs info = {};
        return statvfs(Home().c_str(), &info) == 0 ? info.f_bavail * info.f_frsize : 0;
    }

    bool m_mounted = false;
};

// Uploads that do not fit fail with "Disk full" and leave nothing behind:
// no file under their name, no temporary file, no space taken, and the
// file one of them would have replaced is as it was. One that announces
// more than there is is refused before it sends a byte.
TEST_F(TftpFullHomeTest, UploadsThatDoNotFitLeaveNothingBehind)
{
    StartServer("[TFTP-OPTIONS]\noverwrite=y\n");
    const Bytes old = RandomBytes(1000, 1);
    WriteFile(Home() / "old.bin", old);
    const std::uint64_t free = FreeBytes();
    ASSERT_GT(free, 0u);

    TftpTestClient client;
    client.SendTo(m_port, Request(TFTP_WRQ, "big.bin", "octet", {{"tsize", std::to_string(free + 4096)}}));
    auto refusal = client.Receive();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->Opcode(), TFTP_ERROR);
    EXPECT_EQ(refusal->Block(), TFTP_ENOSPACE);
    EXPECT_EQ(refusal->ErrorText(), "Disk full or allocation exceeded");

    const Bytes tooLarge = RandomBytes(2 * 64 * 1024, 2);
    for (const char* name : {"new1.bin", "new2.bin", "old.bin", "new3.bin"}) {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_FALSE(client.WriteFile(m_port, name, tooLarge, 8192, &error));
        EXPECT_EQ(error, "Disk full or allocation exceeded");
    }
    // Every transfer thread has ended once the server stops.
    m_server.Stop();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Home()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"old.bin"});
    EXPECT_EQ(ReadFile(Home() / "old.bin"), old);
    EXPECT_EQ(FreeBytes(), free);
}

TEST(TftpReport, EscapesControlCharactersAndKeepsEverythingElse)
{
    const struct
    {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"fw/image v2.bin", "fw/image v2.bin"},
        {"a\nClient 1.2.3.4:69 x, 9 Blocks Served", "a\\x0aClient 1.2.3.4:69 x, 9 Blocks Served"},
        {"\r\t\x1b[2J", "\\x0d\\x09\\x1b[2J"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1f\x20\x7e\x7f", "\\x1f ~\\x7f"},
        {"back\\slash %s", "back\\slash %s"},
        {"gr\xc3\xbc\xc3\x9f \xff", "gr\xc3\xbc\xc3\x9f \xff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(EscapeReportText(c.in), c.out);
    }
}

TEST_F(TftpServerTest, ClientTextCannotForgeAReportLine)
{
    StartServer();
    TftpTestClient client;
    EXPECT_EQ(Refusal(client, m_port, TFTP_RRQ, "x\nClient 10.0.0.1:69 /etc/passwd, 9 Blocks Served"),
              "1 File Not Found");
    const std::string prefix = "Client 127.0.0.1:" + std::to_string(client.LocalPort()) + " ";
    EXPECT_TRUE(
        m_reports.WaitForLine(prefix + Home().string() +
                              "/x\\x0aClient 10.0.0.1:69 /etc/passwd, 9 Blocks Served, File Not Found\n"))
        << m_reports.All();
    client.SendTo(m_port, ErrorPacket(1, "bye\r\nClient 10.0.0.1:69, Access Denied"));
    EXPECT_TRUE(
        m_reports.WaitFor("Error Code 1 at Client, bye\\x0d\\x0aClient 10.0.0.1:69, Access Denied\n"));
}

}  // namespace
