// Opening beneath the home on a real file system: links that stay inside
// are followed, links that leave are refused, only regular files are
// served, and an upload replaces its target only when committed. Every case
// runs with the kernel's lookup and with the walk it falls back to.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tftp/tftp_open.h"
#include "tftp/tftp_upload.h"
#include "tftp_test_support.h"

namespace {

namespace fs = std::filesystem;

class TftpOpenTest : public ::testing::TestWithParam<TftpFsCalls>
{
protected:
    void SetUp() override
    {
        // <root>/home is served; <root>/outside must stay out of reach.
        fs::create_directories(Home() / "inner");
        fs::create_directories(Outside());
        WriteFile(Home() / "inner" / "img.bin", ToBytes("inside"));
        WriteFile(Outside() / "secret.bin", ToBytes("secret"));
        const auto link = [&](const fs::path& target, const char* name) {
            fs::create_symlink(target, Home() / name);
        };
        link("../outside/secret.bin", "out-rel");
        link(Outside() / "secret.bin", "out-abs");
        link(Outside(), "out-dir");
        link("/nonexistent/x.bin", "dangling-out");
        link("inner/../../outside/new.bin", "dangling-out-rel");
        link("inner/img.bin", "in-rel");
        link(Home() / "inner" / "img.bin", "in-abs");
        link("inner", "in-dir");
        link("in-dir/../inner/./img.bin", "in-chain");
        link("inner/missing.bin", "dangling-in");
        link("loop", "loop");
        ASSERT_EQ(mkfifo((Home() / "fifo").c_str(), 0644), 0);
        ASSERT_EQ(mknod((Home() / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0)
            << "creating a character device needs CAP_MKNOD";
    }

    fs::path Home() const { return m_temp.Path() / "home"; }
    fs::path Outside() const { return m_temp.Path() / "outside"; }
    std::string Local(const std::string& name) const { return Home().string() + "/" + name; }

    TempFolder m_temp;
};

// Expected answer per name: nullptr means the open succeeds.
struct Case
{
    const char* name;
    const char* readError;
    const char* writeError;  // with overwriting on
};

const Case CASES[] = {
    {"inner/img.bin", nullptr, nullptr},
    {"in-rel", nullptr, nullptr},
    {"in-abs", nullptr, nullptr},
    {"in-dir/img.bin", nullptr, nullptr},
    {"in-chain", nullptr, nullptr},
    // Writing through an in-home link whose target is missing creates it.
    {"dangling-in", "File Not Found", nullptr},
    {"out-rel", "Access violation", "Access violation"},
    {"out-abs", "Access violation", "Access violation"},
    {"out-dir/secret.bin", "Access violation", "Access violation"},
    {"out-dir/new.bin", "Access violation", "Access violation"},
    {"dangling-out", "Access violation", "Access violation"},
    {"dangling-out-rel", "Access violation", "Access violation"},
    {"loop", "Access violation", "Access violation"},
    {"fifo", "File Not Found", "Invalid Path"},
    {"null", "File Not Found", "Invalid Path"},
    {"inner", "File Not Found", "Invalid Path"},
    {"", "File Not Found", "Invalid Path"},
    {"missing/x.bin", "File Not Found", "Invalid Path"},
};

TEST_P(TftpOpenTest, LinksAreFollowedOnlyInsideTheHomeAndOnlyRegularFilesOpen)
{
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.name);
        CUniqueFd file;
        std::uint64_t size = 0;
        // A FIFO without a writer would block a plain open forever.
        const TftpFileStatus read = OpenForReading(Local(c.name), c.name, file, size, GetParam());
        EXPECT_EQ(read.ok, c.readError == nullptr);
        if (c.readError != nullptr) {
            EXPECT_STREQ(read.error.text, c.readError);
        } else {
            EXPECT_EQ(size, 6u);
            // The descriptor reads like any blocking file once handed out.
            EXPECT_EQ(fcntl(file.Get(), F_GETFL) & O_NONBLOCK, 0);
        }

        CTftpUpload upload;
        CUniqueFd data;
        const TftpFileStatus write =
            upload.Begin(Local(c.name), c.name, {.overwrite = true}, data, GetParam());
        EXPECT_EQ(write.ok, c.writeError == nullptr);
        if (c.writeError != nullptr) {
            EXPECT_STREQ(write.error.text, c.writeError);
        }
        // Begun uploads are dropped here: nothing may change before a commit.
    }
    EXPECT_EQ(ReadFile(Home() / "inner" / "img.bin"), ToBytes("inside"));
    EXPECT_EQ(ReadFile(Outside() / "secret.bin"), ToBytes("secret"));
    EXPECT_FALSE(fs::exists(Home() / "inner" / "missing.bin"));
    EXPECT_FALSE(fs::exists(Outside() / "new.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Home() / "inner"), fs::directory_iterator()), 1);
}

TEST_P(TftpOpenTest, UploadReplacesTheLinkedFileOnlyWhenCommitted)
{
    // Written through an in-home link, the upload lands on the link's target
    // and the link stays a link.
    const auto write = [&](const char* name, const std::string& text, bool commit) {
        CTftpUpload upload;
        CUniqueFd data;
        EXPECT_TRUE(upload.Begin(Local(name), name, {.overwrite = true}, data, GetParam()).ok);
        EXPECT_EQ(::write(data.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
        if (commit) {
            EXPECT_EQ(upload.Commit(data), TFTP_UPLOAD_OK);
        }
    };
    CUniqueFd reader;
    std::uint64_t size = 0;
    ASSERT_TRUE(OpenForReading(Local("in-rel"), "in-rel", reader, size, GetParam()).ok);
    write("in-rel", "half", false);
    EXPECT_EQ(ReadFile(Home() / "inner" / "img.bin"), ToBytes("inside"));
    write("in-rel", "replaced", true);
    EXPECT_EQ(ReadFile(Home() / "inner" / "img.bin"), ToBytes("replaced"));
    EXPECT_TRUE(fs::is_symlink(Home() / "in-rel"));
    // A reader that opened the old file still reads it whole.
    char old[16] = {};
    EXPECT_EQ(read(reader.Get(), old, sizeof old), 6);
    EXPECT_STREQ(old, "inside");
    // An upload that is not committed creates no new name either, and no
    // temporary file stays behind.
    write("inner/new.bin", "part", false);
    EXPECT_EQ(std::distance(fs::directory_iterator(Home() / "inner"), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Calls, TftpOpenTest, ::testing::Values(TftpFsCalls::Modern, TftpFsCalls::Portable),
                         [](const auto& info) {
                             return info.param == TftpFsCalls::Modern ? std::string("Kernel")
                                                                      : std::string("Walk");
                         });

}  // namespace
