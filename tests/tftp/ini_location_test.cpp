// Which INI file a program reads: beside it first, then /etc/vindle.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tftp/ini_location.h"
#include "tftp_test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(IniLocation, PrefersTheFileBesideTheProgramOverTheSystemOne)
{
    struct Case
    {
        const char* name;
        const char* program;
        std::set<std::string> readable;
        const char* expected;
    };
    const Case cases[] = {
        {"both: beside wins",
         "/opt/vindle/vindle",
         {"/opt/vindle/vindle.ini", "/etc/vindle/vindle.ini"},
         "/opt/vindle/vindle.ini"},
        {"only the system one", "/usr/bin/vindle", {"/etc/vindle/vindle.ini"}, "/etc/vindle/vindle.ini"},
        {"neither", "/usr/bin/vindle", {}, ""},
        // Each program has its own file; another program's is no fallback.
        {"another program's file", "/usr/sbin/vindle-tftpd", {"/etc/vindle/vindle.ini"}, ""},
        {"the server's system file",
         "/usr/sbin/vindle-tftpd",
         {"/etc/vindle/vindle-tftpd.ini"},
         "/etc/vindle/vindle-tftpd.ini"},
        // The system file is named after the program file, as the one beside.
        {"extension replaced", "/opt/v1.2/vindle.bin", {"/etc/vindle/vindle.ini"}, "/etc/vindle/vindle.ini"},
        {"bare program name", "vindle", {"vindle.ini", "/etc/vindle/vindle.ini"}, "vindle.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string chosen =
            ChooseIniFile(c.program, VINDLE_SYSTEM_INI_FOLDER,
                          [&](const std::string& path) { return c.readable.count(path) == 1; });
        EXPECT_EQ(chosen, c.expected);
    }
}

TEST(IniLocation, FindsRealFilesBesideTheProgramBeforeTheSystemFolder)
{
    // The temporary "etc" stands in for /etc/vindle; nothing outside the
    // temporary folder is read or written. Paths are '/'-separated, as the
    // program's own path is on every system.
    TempFolder temp;
    const fs::path bin = temp.Path() / "bin";
    const fs::path etc = temp.Path() / "etc";
    fs::create_directories(bin);
    fs::create_directories(etc);
    const std::string program = (bin / "vindle-tftpd").generic_string();

    EXPECT_EQ(LocateIniFile(program, etc.generic_string()), "");

    WriteFile(etc / "vindle-tftpd.ini", ToBytes("[HOME]\n/srv/tftp\n"));
    EXPECT_EQ(LocateIniFile(program, etc.generic_string()), (etc / "vindle-tftpd.ini").generic_string());

    // A folder of the INI file's name beside the program is not a file.
    fs::create_directory(bin / "vindle-tftpd.ini");
    EXPECT_EQ(LocateIniFile(program, etc.generic_string()), (etc / "vindle-tftpd.ini").generic_string());
    fs::remove(bin / "vindle-tftpd.ini");

    WriteFile(bin / "vindle-tftpd.ini", ToBytes("[HOME]\n/tmp\n"));
    EXPECT_EQ(LocateIniFile(program, etc.generic_string()), (bin / "vindle-tftpd.ini").generic_string());
}

}  // namespace
