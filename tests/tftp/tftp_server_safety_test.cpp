// What a client can and cannot reach through the server: links out of the
// home, FIFOs, and report lines built from what the client sent.

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_wire.h"
#include "tftp_test_support.h"

namespace
{

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
    StartServer();
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
        {TFTP_RRQ, "up/outside.bin", "2 Access violation"},
        // Without O_NONBLOCK the open of a FIFO would wait for a writer and
        // the client would hear nothing.
        {TFTP_RRQ, "pipe", "1 File Not Found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TftpTestClient client;
        EXPECT_EQ(Refusal(client, m_port, c.opcode, c.name), c.answer);
    }
    EXPECT_EQ(ReadFile(outside), ToBytes("secret"));
    // A link that stays inside is served.
    TftpTestClient client;
    std::string error;
    auto data = client.ReadFile(m_port, "current.bin", 512, &error);
    ASSERT_TRUE(data) << error;
    EXPECT_EQ(*data, ReadFile(Home() / "image.bin"));
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
    EXPECT_TRUE(m_reports.WaitForLine(prefix + Home().string() +
                                      "/x\\x0aClient 10.0.0.1:69 /etc/passwd, 9 Blocks Served, File Not Found\n"))
        << m_reports.All();
    client.SendTo(m_port, ErrorPacket(1, "bye\r\nClient 10.0.0.1:69, Access Denied"));
    EXPECT_TRUE(m_reports.WaitFor("Error Code 1 at Client, bye\\x0d\\x0aClient 10.0.0.1:69, Access Denied\n"));
}

} // namespace
