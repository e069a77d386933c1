// What Windows adds to the home's safety: names it would read as devices,
// streams, other roots or a shorter name, reparse points, and files another
// program holds. Runs on the Windows build only (under Wine in CI).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <windows.h>

#include "tftp/tftp_open.h"
#include "tftp/tftp_upload.h"

namespace {

namespace fs = std::filesystem;

class TftpWindowsPathTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("vindle-winpath-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(Home() / "inner");
        fs::create_directories(m_root / "outside");
        Put(Home() / "a.bin", "inside");
        Put(Home() / "inner" / "b.bin", "deeper");
        Put(m_root / "outside" / "secret.bin", "secret");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    static void Put(const fs::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    fs::path Home() const { return m_root / "home"; }
    std::string Local(const std::string& name) const { return Home().generic_string() + "/" + name; }

    // The TFTP error text of opening `name` for reading, or "" when it opens.
    std::string ReadOutcome(const std::string& name)
    {
        CUniqueFd file;
        std::uint64_t size = 0;
        const TftpFileStatus status = OpenForReading(Local(name), name, file, size);
        return status.ok ? std::string() : std::string(status.error.text);
    }

    fs::path m_root;
};

TEST_F(TftpWindowsPathTest, NamesWindowsReadsAsMoreThanAFileAreRefused)
{
    const char* violation = "Access violation";
    const struct
    {
        const char* name;
        const char* expected;
    } cases[] = {
        {"a.bin", ""},
        {"inner/b.bin", ""},
        {"inner\\b.bin", ""},
        {"NUL", violation},
        {"con.txt", violation},
        {"inner/aux", violation},
        {"COM1.bin", violation},
        {"lpt9", violation},
        {"a.bin:stream", violation},
        {"a.bin::$DATA", violation},
        {"a.bin.", violation},  // Windows would open a.bin
        {"a.bin ", violation},
        {"inner./b.bin", violation},
        {"C:/windows/win.ini", violation},
        {"//?/C:/windows/win.ini", violation},
        {"missing.bin", "File Not Found"},
        {"inner", "File Not Found"},  // a folder is no file to send
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadOutcome(c.name), c.expected) << c.name;
}

TEST_F(TftpWindowsPathTest, AReparsePointIsNeverFollowed)
{
    // Wine creates symbolic links to folders and files (as Unix links in its
    // drive); where the system refuses, there is nothing to test.
    const fs::path linkToFolder = Home() / "out-dir";
    const fs::path linkToFile = Home() / "out-file";
    const bool folderLink = ::CreateSymbolicLinkW(linkToFolder.c_str(), (m_root / "outside").c_str(),
                                                  SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
    const bool fileLink =
        ::CreateSymbolicLinkW(linkToFile.c_str(), (m_root / "outside" / "secret.bin").c_str(), 0) != 0;
    if (!folderLink && !fileLink)
        GTEST_SKIP() << "no symbolic links here (error " << ::GetLastError() << ")";
    // Windows says "Access violation"; under Wine the lookup ends in "File
    // Not Found". Either way the file outside is not served.
    if (folderLink) {
        EXPECT_NE(ReadOutcome("out-dir/secret.bin"), "");
    }
    if (fileLink) {
        EXPECT_NE(ReadOutcome("out-file"), "");
    }
}

TEST_F(TftpWindowsPathTest, AFileAnotherProgramHoldsIsAnAccessViolation)
{
    const HANDLE held = ::CreateFileW((Home() / "a.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadOutcome("a.bin"), "Access violation");
    ::CloseHandle(held);
    EXPECT_EQ(ReadOutcome("a.bin"), "");
}

TEST_F(TftpWindowsPathTest, AnUploadReplacesTheFileOnlyWhenComplete)
{
    const std::string text = "new content";
    {
        CTftpUpload upload;
        CUniqueFd file;
        ASSERT_TRUE(upload.Begin(Local("a.bin"), "a.bin", {.overwrite = true}, file).ok);
        ASSERT_EQ(vindle::platform::WriteFile(file.Get(), text.data(), text.size()),
                  static_cast<long>(text.size()));
        // Until the commit the old content stays under the name.
        std::ifstream before(Home() / "a.bin", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "inside");
        before.close();
        ASSERT_EQ(upload.Commit(file), TFTP_UPLOAD_OK);
    }
    std::ifstream after(Home() / "a.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), text);
    {
        // Abandoned: nothing stays behind, the file is as it was.
        CTftpUpload upload;
        CUniqueFd file;
        ASSERT_TRUE(upload.Begin(Local("c.bin"), "c.bin", {.overwrite = false}, file).ok);
    }
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Home()))
        ++entries;
    EXPECT_EQ(entries, 2u);  // a.bin and inner
    CTftpUpload refused;
    CUniqueFd none;
    EXPECT_STREQ(refused.Begin(Local("NUL"), "NUL", {.overwrite = true}, none).error.text, "Access violation");
}

}  // namespace
