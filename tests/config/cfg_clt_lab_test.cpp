// CCfgClt against the simulated box (vindle-box) in the lab: the box's own
// configuration service on the fixed port 1000 of its namespace, the whole
// command set of the tool, and the box's answers.

#include "config/cfg_clt.h"

#include "config/cfg_commands.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/lab.h"
#include "tests/common/recording_cfg_clt.h"

namespace {

using namespace std::chrono_literals;

class CfgLab : public LabTest
{
protected:
    int MinBoxes() const override { return 1; }

    void StartBox(std::vector<std::string> args)
    {
        ASSERT_FALSE(ToolPath("vindle-box").empty()) << "vindle-box is not built";
        // The update step answers as configured; the TFTP download has tests
        // of its own.
        args.insert(args.begin(), {ToolPath("vindle-box"), "--no-update-download"});
        m_box = std::make_unique<LabProcess>(1, args, LabProcess::Output::Capture);
        ASSERT_TRUE(m_box->WaitForText("config: listening")) << m_box->Captured();
    }

    // Connects the client to box 1 and waits for its "info".
    void ConnectReady()
    {
        client.Connect(lab().Box(1).ip.c_str(), CFG_SERVICE_PORT);
        ASSERT_TRUE(client.WaitFor("connected"));
        ASSERT_TRUE(client.log.WaitForPrefix("info ")) << m_box->Captured();
        ASSERT_TRUE(client.IsReady());
    }

    void TearDown() override
    {
        if (m_box) {
            m_box->Stop();
        }
    }

    std::unique_ptr<LabProcess> m_box;
    RecordingCfgClt client;
};

TEST_F(CfgLab, EveryCommandIsAnsweredByTheBox)
{
    StartBox({"--info-field", "serial-0815"});
    ConnectReady();
    EXPECT_EQ(client.InfoField(), "serial-0815");

    const std::optional<std::string> password = BuildPasswordCommand("geheim 1");
    ASSERT_TRUE(password);
    EXPECT_EQ(client.RunCommand(*password, std::chrono::milliseconds(CMD_PASSWORD_TIMEOUT_MS)).status,
              CFG_OK);
    EXPECT_TRUE(m_box->WaitForText("password set to 'geheim 1'")) << m_box->Captured();
    EXPECT_EQ(
        client.RunCommand("appcfg cmd c=1 16", std::chrono::milliseconds(CMD_PASSWORD_TIMEOUT_MS)).status,
        CFG_OK);

    // The update commands echo the file name and the ninth info field.
    for (const char* command : {"c=3", "c=6", "c=7"}) {
        SCOPED_TRACE(command);
        const std::string text = std::string("appcfg cmd ") + command + " update.bin " + client.InfoField();
        EXPECT_EQ(client.RunCommand(text, std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS)).status, CFG_OK);
    }
    EXPECT_TRUE(m_box->WaitForText("update 'update.bin' (serial-0815): ok")) << m_box->Captured();

    EXPECT_EQ(client.RunCommand("appcfg cmd c=99", std::chrono::milliseconds(CMD_PASSWORD_TIMEOUT_MS)).status,
              CFG_ERROR_REPLY);
    EXPECT_EQ(client.GetField(0), " unknown command");
}

TEST_F(CfgLab, UpdateErrorsAndTimeoutsGiveTheirStatuses)
{
    StartBox({"--update-answer", "error", "--update-error", "Datei fehlt", "--update-delay", "2000",
              "--status-interval", "100"});
    ConnectReady();
    // The box answers after 2 s, sending status messages meanwhile that
    // must not end the wait.
    const CfgCommandResult result =
        client.RunCommand("appcfg cmd c=3 a.bin x", std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS));
    EXPECT_EQ(result.status, CFG_ERROR_REPLY);
    EXPECT_STREQ(result.fields.m_szField[0], " Datei fehlt");
    EXPECT_TRUE(client.log.Saw("status "));

    // A much shorter timeout than the box's delay: the wait ends without
    // the answer, which would have made it an error reply.
    EXPECT_EQ(client.RunCommand("appcfg cmd c=6 a.bin x", std::chrono::milliseconds(200)).status, CFG_FAILED);
}

TEST_F(CfgLab, DroppedUpdateEndsTheWaitAndTheConnection)
{
    StartBox({"--update-answer", "drop"});
    ConnectReady();
    // The hour-long update timeout is not what ends the wait.
    std::uint32_t status = CFG_OK;
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] {
        status =
            client.RunCommand("appcfg cmd c=7 sw.bin x", std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS))
                .status;
    }));
    EXPECT_EQ(status, CFG_FAILED);
    EXPECT_TRUE(client.WaitFor("disconnected 0"));
}

// One discovery search (type 1 and 51 zero bytes) broadcast from the tool's
// address, the way the tool sends it.
void BroadcastSearch(const std::string& toolIp)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr(toolIp.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4000);
    to.sin_addr.s_addr = INADDR_BROADCAST;
    unsigned char search[52] = {0x01};
    EXPECT_EQ(::sendto(fd, search, sizeof search, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(sizeof search));
    ::close(fd);
}

TEST_F(CfgLab, RebootTakesTheBoxAwayForAWhile)
{
    StartBox({"--reboot-time", "1500"});
    ConnectReady();
    (void)client.RunCommand("appcfg cmd c=2",
                            std::chrono::milliseconds(CMD_PASSWORD_TIMEOUT_MS));  // not evaluated
    ASSERT_TRUE(client.WaitFor("disconnected 0"));
    ASSERT_TRUE(m_box->WaitForText("config: rebooting")) << m_box->Captured();
    // A rebooting box is gone for discovery too.
    BroadcastSearch(lab().ToolIp());
    ASSERT_TRUE(m_box->WaitForText("discovery: rebooting, ignored request type 0x01")) << m_box->Captured();

    // While it reboots, a connection attempt fails (reported after the
    // 1-second pause); afterwards the box is back with a new "info".
    client.Connect(lab().Box(1).ip.c_str(), CFG_SERVICE_PORT);
    ASSERT_TRUE(client.WaitFor("disconnected 0", 2));
    ASSERT_TRUE(m_box->WaitForText("config: back after reboot", 3000ms)) << m_box->Captured();
    BroadcastSearch(lab().ToolIp());
    ASSERT_TRUE(m_box->WaitForText("discovery: search reply")) << m_box->Captured();
    client.Connect(lab().Box(1).ip.c_str(), CFG_SERVICE_PORT);
    ASSERT_TRUE(client.WaitFor("connected", 2));
    ASSERT_TRUE(client.log.WaitForPrefix("info ", 2));
    EXPECT_EQ(
        client.RunCommand("appcfg cmd c=1 16", std::chrono::milliseconds(CMD_PASSWORD_TIMEOUT_MS)).status,
        CFG_OK);
}

}  // namespace
