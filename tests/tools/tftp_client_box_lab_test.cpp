// The simulated box's update download in the lab: vindle-tftpd serves on
// the tool side (port 69 of the lab's tool address), the box in its own
// namespace gets an update command over its configuration service and
// fetches the file with the TFTP client. What the box logs and keeps must
// be exactly the file that was served. Asked to, the box then reboots and
// comes back as a real box does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/cfg_clt.h"
#include "tests/common/lab.h"
#include "tests/common/recording_cfg_clt.h"
#include "tests/common/tftpd.h"
#include "tools/tftp-client/tftp_packet.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Sends a search from port 4000 (where replies go) and, when asked to,
// again until a search reply arrives there.
bool Search(const std::string& boxIp, bool untilAnswered)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(4000);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    inet_pton(AF_INET, boxIp.c_str(), &address.sin_addr);
    const std::uint8_t search[52] = {0x01};
    std::uint8_t reply[64] = {};
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        ::sendto(fd, search, sizeof search, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (!untilAnswered)
            break;
        pollfd pfd{fd, POLLIN, 0};
        answered = ::poll(&pfd, 1, 500) == 1 && ::recv(fd, reply, sizeof reply, 0) == 52 && reply[0] == 0x81;
    }
    ::close(fd);
    return answered || !untilAnswered;
}

class BoxUpdateLab : public LabTest
{
protected:
    int MinBoxes() const override { return 1; }

    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/vindle-box-update.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        s_kept = pattern;
        // Served from the program's folder, the server's default home.
        s_server = std::make_unique<TftpdProcess>(VINDLE_TFTPD_PATH);
        std::ofstream image(Served() / "fw.bin", std::ios::binary);
        for (std::size_t i = 0; i < 3 * 1024 * 1024 + 100; ++i)
            image.put(static_cast<char>(i * 131 + i / 4099));
    }

    static void TearDownTestSuite()
    {
        s_server.reset();
        std::error_code ignored;
        fs::remove_all(s_kept, ignored);
    }

    static const fs::path& Served() { return s_server->Folder(); }

    void SetUp() override
    {
        LabTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(s_server->Start("[LISTEN-ON]\n" + Lab().ToolIp() + "\n"));
    }

    void TearDown() override
    {
        m_client.reset();
        if (m_box)
            m_box->Stop();
        s_server->Stop();
    }

    void StartBox(std::vector<std::string> args)
    {
        ASSERT_FALSE(ToolPath("vindle-box").empty()) << "vindle-box is not built";
        args.insert(args.begin(),
                    {ToolPath("vindle-box"), "--no-interface-change", "--update-dir", s_kept.string()});
        m_box = std::make_unique<LabProcess>(1, args, LabProcess::Output::Capture);
        ASSERT_TRUE(m_box->WaitForText("config: listening")) << m_box->Captured();
        m_client = std::make_unique<RecordingCfgClt>();
        m_client->Connect(Lab().Box(1).ip.c_str(), CFG_SERVICE_PORT);
        ASSERT_TRUE(m_client->log.WaitForPrefix("info ")) << m_box->Captured();
    }

    std::uint32_t Update(const std::string& file, const std::string& info = "hw-1")
    {
        const std::string command = "appcfg cmd c=3 " + file + " " + info;
        // Far below the tool's hour: a few MiB on a veth pair take well under a second.
        return m_client->RunCommand(command, std::chrono::milliseconds(20000)).status;
    }

    static std::string ExpectedLog(const std::string& file, std::uint32_t blksize, const std::string& tsize)
    {
        const Bytes bytes = ReadFile(Served() / file);
        char line[200];
        std::snprintf(line, sizeof line, "update: received '%s': %zu bytes, crc32 %08x, blksize %u, tsize %s",
                      file.c_str(), bytes.size(), TftpCrc32(0, bytes), blksize, tsize.c_str());
        return line;
    }

    static inline fs::path s_kept;
    static inline std::unique_ptr<TftpdProcess> s_server;
    std::unique_ptr<LabProcess> m_box;
    std::unique_ptr<RecordingCfgClt> m_client;
};

TEST_F(BoxUpdateLab, BoxFetchesTheFileFromTheToolWithOptionsAndKeepsItIntact)
{
    StartBox({});
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    const std::string size = std::to_string(fs::file_size(Served() / "fw.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 1428, size))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_kept / "fw.bin"), ReadFile(Served() / "fw.bin"));
    fs::remove(s_kept / "fw.bin");
}

TEST_F(BoxUpdateLab, BoxFetchesWithAPlainRequestWhenOptionsAreSwitchedOff)
{
    StartBox({"--update-no-options"});
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    // RFC 1350 alone: 512-byte blocks and no size to check against.
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 512, "none"))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_kept / "fw.bin"), ReadFile(Served() / "fw.bin"));
    fs::remove(s_kept / "fw.bin");
}

TEST_F(BoxUpdateLab, ASlowBoxAskingForAWindowGetsTheFileBlockByBlock)
{
    // The server grants no window, so the box falls back to lock-step; the
    // delay before each ACK slows the download but leaves it intact.
    StartBox({"--update-windowsize", "8", "--update-ack-delay", "1"});
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    EXPECT_TRUE(m_box->WaitForText("asking for windowsize 8")) << m_box->Captured();
    const std::string size = std::to_string(fs::file_size(Served() / "fw.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 1428, size) + ", windowsize 1"))
        << m_box->Captured();
    EXPECT_EQ(ReadFile(s_kept / "fw.bin"), ReadFile(Served() / "fw.bin"));
    fs::remove(s_kept / "fw.bin");
}

TEST_F(BoxUpdateLab, BlanksInTheFileNameAndTheInfoFieldDoNotSplitTheName)
{
    // The tool sends "c=3 FILE INFO" unquoted; the box knows its own info
    // field, so whatever stands before it is the file name, blanks and all.
    fs::copy_file(Served() / "fw.bin", Served() / "fw 2.bin", fs::copy_options::overwrite_existing);
    StartBox({"--info-field", "Serie 7"});
    ASSERT_EQ(Update("fw 2.bin", "Serie 7"), CFG_OK) << m_box->Captured();
    const std::string size = std::to_string(fs::file_size(Served() / "fw 2.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw 2.bin", 1428, size))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_kept / "fw 2.bin"), ReadFile(Served() / "fw 2.bin"));
    fs::remove(s_kept / "fw 2.bin");
}

TEST_F(BoxUpdateLab, MissingFileIsAnErrorWithTheServersReason)
{
    StartBox({});
    ASSERT_EQ(Update("missing.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_NE(m_client->GetField(0).find("File Not Found"), std::string::npos) << m_client->GetField(0);
    // Nothing half-written is left behind.
    EXPECT_FALSE(fs::exists(s_kept / "missing.bin"));
    EXPECT_FALSE(fs::exists(s_kept / "missing.bin.part"));
}

TEST_F(BoxUpdateLab, GoodDownloadStillGetsTheConfiguredRefusal)
{
    StartBox({"--update-answer", "error", "--update-error", "falsche Hardware"});
    ASSERT_EQ(Update("fw.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_EQ(m_client->GetField(0), " falsche Hardware");
    const std::string size = std::to_string(fs::file_size(Served() / "fw.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 1428, size))) << m_box->Captured();
    fs::remove(s_kept / "fw.bin");
}

TEST_F(BoxUpdateLab, AnUnreachableServerEndsInAnErrorNotAHang)
{
    // Nothing listens on this port on the tool side.
    StartBox({"--tftp-port", "6999"});
    // A hang would run into the tool's own timeout, which ends the wait
    // with CFG_FAILED; the box's error reply says it gave up by itself.
    ASSERT_EQ(Update("fw.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_NE(m_client->GetField(0).find("download failed"), std::string::npos) << m_client->GetField(0);
}

TEST_F(BoxUpdateLab, AfterOkTheBoxRebootsAndComesBackWithItsNewFirmware)
{
    const std::string boxIp = Lab().Box(1).ip;
    StartBox({"--reboot-after-update", "--reboot-time", "8000", "--update-firmware", "fw-2.0"});
    EXPECT_EQ(m_client->GetField(5), "fw-1.0");  // the field after the gateway
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    ASSERT_TRUE(m_box->WaitForText("config: rebooting, away for 8000 ms")) << m_box->Captured();
    // Sent at once, far within the eight seconds of the reboot: ignored.
    ASSERT_TRUE(Search(boxIp, false));
    EXPECT_TRUE(m_box->WaitForText("discovery: rebooting, ignored request type 0x01")) << m_box->Captured();
    ASSERT_TRUE(m_box->WaitForText("config: back after reboot", std::chrono::seconds(30)))
        << m_box->Captured();
    EXPECT_TRUE(Search(boxIp, true)) << m_box->Captured();
    m_client = std::make_unique<RecordingCfgClt>();
    m_client->Connect(boxIp.c_str(), CFG_SERVICE_PORT);
    ASSERT_TRUE(m_client->log.WaitForPrefix("info ")) << m_box->Captured();
    EXPECT_EQ(m_client->GetField(5), "fw-2.0");
    fs::remove(s_kept / "fw.bin");
}

}  // namespace
