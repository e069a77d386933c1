// The server on the well-known port and on every interface address, inside
// the lab's namespaces: boxes fetch files from the tool side as they do in
// an update.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <stop_token>
#include <thread>

#include "tests/common/lab.h"
#include "tests/common/tftpd.h"
#include "tftp/tftp_server.h"
#include "tftp_test_support.h"

namespace {

class TftpLabTest : public LabTest
{
protected:
    int MinBoxes() const override { return 2; }

    // Starts the in-process server without [LISTEN-ON]: every address of
    // the tool namespace, port 69.
    void StartOnAllInterfaces(const std::string& extraIni = {})
    {
        std::istringstream ini("[HOME]\n" + (m_temp.Path() / "home").string() + "\n" + extraIni);
        m_server.SetReportSink(m_reports.Sink());
        ASSERT_EQ(m_server.Start(ini, (m_temp.Path() / "vindle").string()), TFTP_SERVER_OK)
            << m_reports.All();
    }

    // Fetches `name` from the tool side into the temporary folder, from box `box`.
    LabRunResult Fetch(int box, const std::string& name, const std::string& out)
    {
        return RunInBox(
            box, "curl -sS -o " + (m_temp.Path() / out).string() + " tftp://" + lab().ToolIp() + "/" + name,
            std::chrono::milliseconds(20000));
    }

    TempFolder m_temp;
    ReportCapture m_reports;
    TftpServer m_server;  // stopped first
};

TEST_F(TftpLabTest, ListensOnEveryInterfaceAtPort69)
{
    StartOnAllInterfaces();
    EXPECT_TRUE(m_reports.WaitFor("listening On: 127.0.0.1:69"));
    EXPECT_TRUE(m_reports.WaitFor("listening On: " + lab().ToolIp() + ":69"));

    const Bytes file = RandomBytes(3 * 1024 * 1024 + 1);
    WriteFile(m_temp.Path() / "home" / "update.bin", file);
    const LabRunResult run = Fetch(1, "update.bin", "box1.bin");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(ReadFile(m_temp.Path() / "box1.bin"), file);
    EXPECT_TRUE(m_reports.WaitFor("Client " + lab().Box(1).ip + ":"));

    // The same server answers on loopback as well.
    TftpTestClient local;
    auto data = local.ReadFile(69, "update.bin", 65464);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, file);
}

TEST_F(TftpLabTest, OnlyAllowedBoxesAreServed)
{
    StartOnAllInterfaces("[ALLOWED-CLIENTS]\n" + lab().Box(1).ip + "\n");
    WriteFile(m_temp.Path() / "home" / "f.bin", RandomBytes(5000));
    EXPECT_EQ(Fetch(1, "f.bin", "allowed.bin").exitCode, 0);
    const LabRunResult denied = Fetch(2, "f.bin", "denied.bin");
    EXPECT_NE(denied.exitCode, 0);
    EXPECT_TRUE(m_reports.WaitFor("Client " + lab().Box(2).ip + ":"));
    EXPECT_TRUE(m_reports.WaitFor("Access Denied"));
}

TEST_F(TftpLabTest, StandaloneServerReadsTheIniBesideItsProgramAndStopsOnSigterm)
{
    const std::string built = ToolPath("vindle-tftpd");
    ASSERT_FALSE(built.empty()) << "vindle-tftpd not found in VINDLE_BUILD_DIR";
    TftpdProcess tftpd(built);
    const Bytes file = RandomBytes(200000);
    WriteFile(m_temp.Path() / "home" / "f.bin", file);
    ASSERT_TRUE(
        tftpd.Start("[HOME]\n" + (m_temp.Path() / "home").string() + "\n[TFTP-OPTIONS]\nblksize=1468\n"));
    LabProcess& server = tftpd.Process();
    EXPECT_NE(server.Captured().find("Accepting requests.."), std::string::npos) << server.Captured();
    EXPECT_NE(server.Captured().find("ini file: " + (tftpd.Folder() / "vindle-tftpd.ini").string() + "\n"),
              std::string::npos)
        << server.Captured();
    EXPECT_NE(server.Captured().find("max blksize: 1468"), std::string::npos) << server.Captured();
    EXPECT_NE(server.Captured().find("listening On: " + lab().ToolIp() + ":69"), std::string::npos);

    const LabRunResult run = RunInBox(
        2, "cd " + m_temp.Path().string() + " && tftp -m octet " + lab().ToolIp() + " -c get f.bin hpa.bin",
        std::chrono::milliseconds(20000));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(ReadFile(m_temp.Path() / "hpa.bin"), file);
    EXPECT_TRUE(server.WaitForText("f.bin, 391 Blocks Served")) << server.Captured();

    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), std::optional<int>(0));
}

TEST_F(TftpLabTest, ServerThreadAsTheApplicationRunsItStopsAndJoins)
{
    // No INI file beside the test program: every interface, port 69, the
    // program's folder as home. It answers once it listens; a request sent
    // before that is lost, so the client asks again until it does (a
    // deadline against hangs only).
    std::jthread server(&TftpServerThread);
    TftpTestClient client;
    std::optional<Packet> answer;
    const auto deadline = std::chrono::steady_clock::now() + HANG_DEADLINE;
    while (!answer && std::chrono::steady_clock::now() < deadline) {
        client.SendTo(69, Request(TFTP_RRQ, "no-such-file.bin", "octet"));
        answer = client.Receive(std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(answer) << "the server thread does not answer on port 69";
    EXPECT_EQ(answer->ErrorText(), "File Not Found");
    server.request_stop();
    server.join();

    // A stop that comes before the thread reaches its wait is not lost:
    // this returns instead of serving on.
    std::stop_source early;
    early.request_stop();
    TftpServerThread(early.get_token());
}

}  // namespace
