#include "config/cfg_commands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Commands, UpdateCommandCarriesKindFileAndInfo)
{
    struct Case
    {
        std::int32_t kind;
        const char* expected;
    };
    const Case cases[] = {{UPDATE_SYSTEM, "appcfg cmd c=3 image.bin X"},
                          {UPDATE_APPLICATION, "appcfg cmd c=6 image.bin X"},
                          {UPDATE_SOFTWARE, "appcfg cmd c=7 image.bin X"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(BuildUpdateCommand(c.kind, "image.bin", "X"), c.expected);
    }
    EXPECT_EQ(BuildUpdateCommand(3, "image.bin", "X"), std::nullopt);
}

TEST(Commands, UpdateCommandBeforeTheFirstInfoHasAnEmptyInfoField)
{
    // The info field is empty until the box's first info message arrived;
    // the command then ends with the blank after the file name.
    EXPECT_EQ(BuildUpdateCommand(UPDATE_SYSTEM, "a.bin", ""), "appcfg cmd c=3 a.bin ");
}

TEST(Commands, UpdateCommandIsRefusedWhenItWouldNotFitTheBoxBuffer)
{
    // 16 fixed characters ("appcfg cmd c=3 " and the blank between the
    // arguments) leave 239 for the file name and the info field together.
    EXPECT_TRUE(BuildUpdateCommand(UPDATE_SYSTEM, std::string(200, 'f'), std::string(39, 'i')));
    EXPECT_FALSE(BuildUpdateCommand(UPDATE_SYSTEM, std::string(200, 'f'), std::string(40, 'i')));
    EXPECT_FALSE(BuildUpdateCommand(UPDATE_SOFTWARE, std::string(240, 'f'), ""));
}

TEST(Commands, PasswordCommandQuotesParameterOne)
{
    EXPECT_EQ(BuildPasswordCommand("geheim"), "appcfg config c=2 p=root \"1=geheim\"");
    EXPECT_EQ(BuildPasswordCommand(""), "appcfg config c=2 p=root \"1=\"");
    // 29 fixed characters leave 226 for the password.
    EXPECT_TRUE(BuildPasswordCommand(std::string(226, 'p')));
    EXPECT_FALSE(BuildPasswordCommand(std::string(227, 'p')));
}

TEST(Commands, CuttingNeverSplitsAMultiByteCharacter)
{
    // "ü" is two bytes; a cut at one byte must drop it whole.
    EXPECT_EQ(CutUtf8("\xC3\xBC", 1), "");
    EXPECT_EQ(CutUtf8("a\xC3\xBC", 2), "a");
    EXPECT_EQ(CutUtf8("a\xC3\xBC", 3), "a\xC3\xBC");
    EXPECT_EQ(CutUtf8("abc", 0), "");
    EXPECT_EQ(DeviceInfoField(std::string(300, 'i')).size(), 255u);
}

TEST(Commands, UpdatePathSplitsAtTheLastSeparator)
{
    struct Case
    {
        const char* name;
        std::string path;
        bool ok;
        const char* folder;
        const char* file;
    };
    const Case cases[] = {
        {"plain", "/srv/fw/image.bin", true, "/srv/fw/", "image.bin"},
        // The name occurs earlier in the path; only the last one is the file.
        {"name repeated in path", "/image.bin/image.bin", true, "/image.bin/", "image.bin"},
        {"root folder", "/image.bin", true, "/", "image.bin"},
        {"no file", "/srv/fw/", false, "", ""},
        {"empty", "", false, "", ""},
        {"relative without folder", "image.bin", false, "", ""},
        // The TFTP home path holds 259 characters and its NUL.
        {"folder fills the home path", "/" + std::string(257, 'd') + "/f", true, nullptr, "f"},
        {"folder too long", "/" + std::string(258, 'd') + "/f", false, "", ""},
        {"name too long", "/d/" + std::string(256, 'n'), false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto split = SplitUpdatePath(c.path);
        ASSERT_EQ(split.has_value(), c.ok);
        if (!c.ok)
            continue;
        if (c.folder != nullptr) {
            EXPECT_EQ(split->folder, c.folder);
        }
        EXPECT_EQ(split->folder.back(), '/');
        EXPECT_EQ(split->name, c.file);
        EXPECT_EQ(split->folder + split->name, c.path);
    }
}

}  // namespace
