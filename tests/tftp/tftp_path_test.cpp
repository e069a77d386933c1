// Request name resolution and the INI file's place.

#include <gtest/gtest.h>

#include <vector>

#include "tftp/tftp_path.h"

namespace {

TEST(TftpPath, ResolvesNamesBelowTheBareHomeDirectory)
{
    const std::vector<TftpHomeEntry> homes = {{"", "/srv/tftp/"}};
    struct Case
    {
        const char* name;
        const char* request;
        const char* error;  // nullptr: resolves to `path`
        const char* path;
    };
    const Case cases[] = {
        {"plain", "file.bin", nullptr, "/srv/tftp/file.bin"},
        {"leading slash removed", "/file.bin", nullptr, "/srv/tftp/file.bin"},
        {"leading backslash removed", "\\file.bin", nullptr, "/srv/tftp/file.bin"},
        {"backslash is a separator", "sub\\file.bin", nullptr, "/srv/tftp/sub/file.bin"},
        // Only one separator is removed; the rest still lands below the home.
        {"two leading slashes", "//etc/passwd", nullptr, "/srv/tftp//etc/passwd"},
        {"dots inside a name are fine", "a..b", nullptr, "/srv/tftp/a..b"},
        {"parent at the start", "../x", "Access violation", nullptr},
        {"parent inside", "a/../x", "Access violation", nullptr},
        {"parent at the end", "a/..", "Access violation", nullptr},
        {"parent alone", "..", "Access violation", nullptr},
        {"parent with backslashes", "a\\..\\..\\x", "Access violation", nullptr},
        {"absolute parent", "/../etc/passwd", "Access violation", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TftpPathResult result = ResolveRequestName(c.request, homes);
        if (c.error == nullptr) {
            ASSERT_TRUE(result.ok) << result.error.text;
            EXPECT_EQ(result.localPath, c.path);
        } else {
            ASSERT_FALSE(result.ok);
            EXPECT_STREQ(result.error.text, c.error);
            EXPECT_EQ(result.error.code, 2);
        }
    }
}

TEST(TftpPath, ResolvesNamesThroughAliases)
{
    const std::vector<TftpHomeEntry> homes = {
        {"fw", "/srv/fw/"}, {"logs", "/var/boxlogs/"}, {"", ""}, {"late", "/x/"}};
    struct Case
    {
        const char* name;
        const char* request;
        const char* error;
        const char* path;
    };
    const Case cases[] = {
        {"alias", "fw/image.bin", nullptr, "/srv/fw/image.bin"},
        {"alias in other case", "FW/image.bin", nullptr, "/srv/fw/image.bin"},
        {"second alias with slash", "/logs/a/b.txt", nullptr, "/var/boxlogs/a/b.txt"},
        {"no directory", "image.bin", "Missing directory/alias", nullptr},
        {"unknown alias", "web/image.bin", "No such directory/alias", nullptr},
        // The table ends at the first free entry.
        {"alias after a free entry", "late/x", "No such directory/alias", nullptr},
        {"parent through an alias", "fw/../secret", "Access violation", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TftpPathResult result = ResolveRequestName(c.request, homes);
        if (c.error == nullptr) {
            ASSERT_TRUE(result.ok) << result.error.text;
            EXPECT_EQ(result.localPath, c.path);
        } else {
            ASSERT_FALSE(result.ok);
            EXPECT_STREQ(result.error.text, c.error);
        }
    }
}

TEST(TftpPath, RefusesALocalPathThatDoesNotFit)
{
    const std::vector<TftpHomeEntry> homes = {{"", "/srv/tftp/"}};
    const std::string longName(TFTP_MAX_PATH, 'a');
    const TftpPathResult result = ResolveRequestName(longName, homes);
    ASSERT_FALSE(result.ok);
    EXPECT_STREQ(result.error.text, "File name too long");
    EXPECT_TRUE(ResolveRequestName(std::string(TFTP_MAX_PATH - 10, 'a'), homes).ok);
}

TEST(TftpPath, IniFileReplacesTheProgramsExtension)
{
    EXPECT_EQ(IniPathForProgram("/opt/vindle/vindle-tftpd"), "/opt/vindle/vindle-tftpd.ini");
    EXPECT_EQ(IniPathForProgram("/opt/vindle/vindle.exe"), "/opt/vindle/vindle.ini");
    EXPECT_EQ(IniPathForProgram("/opt/v1.2/vindle"), "/opt/v1.2/vindle.ini");
    EXPECT_EQ(IniPathForProgram("/opt/v1.2/vindle.bin"), "/opt/v1.2/vindle.ini");
    EXPECT_EQ(IniPathForProgram("vindle"), "vindle.ini");
    EXPECT_EQ(DirectoryOfProgram("/opt/vindle/vindle"), "/opt/vindle/");
    EXPECT_EQ(DirectoryOfProgram("vindle"), "./");
}

}  // namespace
