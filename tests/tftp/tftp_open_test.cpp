// Opening beneath the home on a real file system: links that stay inside
// are followed, links that leave are refused and only regular files are
// served. Every case runs with the kernel's lookup and with the walk it
// falls back to.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tftp/tftp_open.h"
#include "tftp_test_support.h"

namespace
{

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
};

const Case CASES[] = {
    {"inner/img.bin", nullptr},
    {"in-rel", nullptr},
    {"in-abs", nullptr},
    {"in-dir/img.bin", nullptr},
    {"in-chain", nullptr},
    {"dangling-in", "File Not Found"},
    {"out-rel", "Access violation"},
    {"out-abs", "Access violation"},
    {"out-dir/secret.bin", "Access violation"},
    {"out-dir/new.bin", "Access violation"},
    {"dangling-out", "Access violation"},
    {"dangling-out-rel", "Access violation"},
    {"loop", "Access violation"},
    {"fifo", "File Not Found"},
    {"null", "File Not Found"},
    {"inner", "File Not Found"},
    {"", "File Not Found"},
    {"missing/x.bin", "File Not Found"},
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
    }
    EXPECT_EQ(ReadFile(Home() / "inner" / "img.bin"), ToBytes("inside"));
    EXPECT_EQ(ReadFile(Outside() / "secret.bin"), ToBytes("secret"));
}

INSTANTIATE_TEST_SUITE_P(Calls, TftpOpenTest, ::testing::Values(TftpFsCalls::Modern, TftpFsCalls::Portable),
                         [](const auto& info) {
                             return info.param == TftpFsCalls::Modern ? std::string("Kernel")
                                                                      : std::string("Walk");
                         });

} // namespace
