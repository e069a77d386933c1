// The simulated box's update download in the lab: vindle-tftpd serves on
// the tool side (port 69 of the lab's tool address), the box in its own
// namespace gets an update command over its configuration service and
// fetches the file with the TFTP client. What the box logs and keeps must
// be exactly the file that was served.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/cfg_clt.h"
#include "tests/common/lab.h"
#include "tools/tftp-client/tftp_packet.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UpdateClient final : public CCfgClt
{
public:
    ~UpdateClient() override { StopAll(); }
    void OnInfo() override
    {
        std::lock_guard lock(m_mutex);
        m_info = true;
        m_changed.notify_all();
    }
    bool WaitForInfo()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, LAB_WAIT, [this] { return m_info; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_info = false;
};

class BoxUpdateLab : public LabTest
{
protected:
    int MinBoxes() const override { return 1; }

    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/vindle-box-update.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        s_dir = pattern;
        fs::create_directory(s_dir / "served");
        fs::create_directory(s_dir / "kept");
        // Served from the program's folder, the server's default home.
        fs::copy_file(VINDLE_TFTPD_PATH, s_dir / "served" / "vindle-tftpd");
        std::ofstream(s_dir / "served" / "vindle-tftpd.ini") << "[LISTEN-ON]\n" << Lab().ToolIp() << "\n";
        std::ofstream image(s_dir / "served" / "fw.bin", std::ios::binary);
        for (std::size_t i = 0; i < 3 * 1024 * 1024 + 100; ++i)
            image.put(static_cast<char>(i * 131 + i / 4099));
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(s_dir, ignored);
    }

    void SetUp() override
    {
        LabTest::SetUp();
        if (HasFatalFailure())
            return;
        m_server = std::make_unique<LabProcess>(
            LAB_TOOL_SIDE, std::vector<std::string>{(s_dir / "served" / "vindle-tftpd").string()},
            LabProcess::Output::CaptureMerged);
        ASSERT_TRUE(m_server->WaitForText("Accepting requests")) << m_server->Captured();
    }

    void TearDown() override
    {
        m_client.reset();
        if (m_box)
            m_box->Stop();
        if (m_server)
            m_server->Stop();
    }

    void StartBox(std::vector<std::string> args)
    {
        ASSERT_FALSE(ToolPath("vindle-box").empty()) << "vindle-box is not built";
        args.insert(args.begin(), {ToolPath("vindle-box"), "--no-interface-change", "--update-dir",
                                   (s_dir / "kept").string()});
        m_box = std::make_unique<LabProcess>(1, args, LabProcess::Output::Capture);
        ASSERT_TRUE(m_box->WaitForText("config: listening")) << m_box->Captured();
        m_client = std::make_unique<UpdateClient>();
        m_client->Connect(Lab().Box(1).ip.c_str(), CFG_SERVICE_PORT);
        ASSERT_TRUE(m_client->WaitForInfo()) << m_box->Captured();
    }

    std::uint32_t Update(const std::string& file, const std::string& info = "hw-1")
    {
        const std::string command = "appcfg cmd c=3 " + file + " " + info;
        std::uint32_t count = 0;
        // Far below the tool's hour: a few MiB on a veth pair take well under a second.
        return m_client->SendCommand(command.c_str(), 20000, &count);
    }

    static std::string ExpectedLog(const std::string& file, std::uint32_t blksize, const std::string& tsize)
    {
        const Bytes bytes = ReadFile(s_dir / "served" / file);
        char line[200];
        std::snprintf(line, sizeof line, "update: received '%s': %zu bytes, crc32 %08x, blksize %u, tsize %s",
                      file.c_str(), bytes.size(), TftpCrc32(0, bytes), blksize, tsize.c_str());
        return line;
    }

    static inline fs::path s_dir;
    std::unique_ptr<LabProcess> m_server;
    std::unique_ptr<LabProcess> m_box;
    std::unique_ptr<UpdateClient> m_client;
};

TEST_F(BoxUpdateLab, BoxFetchesTheFileFromTheToolWithOptionsAndKeepsItIntact)
{
    StartBox({});
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    const std::string size = std::to_string(fs::file_size(s_dir / "served" / "fw.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 1428, size))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_dir / "kept" / "fw.bin"), ReadFile(s_dir / "served" / "fw.bin"));
    fs::remove(s_dir / "kept" / "fw.bin");
}

TEST_F(BoxUpdateLab, BoxFetchesWithAPlainRequestWhenOptionsAreSwitchedOff)
{
    StartBox({"--update-no-options"});
    ASSERT_EQ(Update("fw.bin"), CFG_OK) << m_box->Captured();
    // RFC 1350 alone: 512-byte blocks and no size to check against.
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 512, "none"))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_dir / "kept" / "fw.bin"), ReadFile(s_dir / "served" / "fw.bin"));
    fs::remove(s_dir / "kept" / "fw.bin");
}

TEST_F(BoxUpdateLab, BlanksInTheFileNameAndTheInfoFieldDoNotSplitTheName)
{
    // The tool sends "c=3 FILE INFO" unquoted; the box knows its own info
    // field, so whatever stands before it is the file name, blanks and all.
    fs::copy_file(s_dir / "served" / "fw.bin", s_dir / "served" / "fw 2.bin",
                  fs::copy_options::overwrite_existing);
    StartBox({"--info-field", "Serie 7"});
    ASSERT_EQ(Update("fw 2.bin", "Serie 7"), CFG_OK) << m_box->Captured();
    const std::string size = std::to_string(fs::file_size(s_dir / "served" / "fw 2.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw 2.bin", 1428, size))) << m_box->Captured();
    EXPECT_EQ(ReadFile(s_dir / "kept" / "fw 2.bin"), ReadFile(s_dir / "served" / "fw 2.bin"));
    fs::remove(s_dir / "kept" / "fw 2.bin");
}

TEST_F(BoxUpdateLab, MissingFileIsAnErrorWithTheServersReason)
{
    StartBox({});
    ASSERT_EQ(Update("missing.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_NE(m_client->GetField(0).find("File Not Found"), std::string::npos) << m_client->GetField(0);
    // Nothing half-written is left behind.
    EXPECT_FALSE(fs::exists(s_dir / "kept" / "missing.bin"));
    EXPECT_FALSE(fs::exists(s_dir / "kept" / "missing.bin.part"));
}

TEST_F(BoxUpdateLab, GoodDownloadStillGetsTheConfiguredRefusal)
{
    StartBox({"--update-answer", "error", "--update-error", "falsche Hardware"});
    ASSERT_EQ(Update("fw.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_EQ(m_client->GetField(0), " falsche Hardware");
    const std::string size = std::to_string(fs::file_size(s_dir / "served" / "fw.bin"));
    EXPECT_TRUE(m_box->WaitForText(ExpectedLog("fw.bin", 1428, size))) << m_box->Captured();
    fs::remove(s_dir / "kept" / "fw.bin");
}

TEST_F(BoxUpdateLab, AnUnreachableServerEndsInAnErrorNotAHang)
{
    // Nothing listens on this port on the tool side.
    StartBox({"--tftp-port", "6999"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Update("fw.bin"), CFG_ERROR_REPLY) << m_box->Captured();
    EXPECT_NE(m_client->GetField(0).find("download failed"), std::string::npos) << m_client->GetField(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

} // namespace
