// What a client can and cannot reach through the server: report lines built
// from what the client sent.

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
