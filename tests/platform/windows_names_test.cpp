// The Windows name checks are pure: the same table runs on both sides.
#include <gtest/gtest.h>

#include <string_view>

#include "platform/windows_names.h"

namespace {

using vindle::platform::CheckWindowsName;
using Fault = vindle::platform::WindowsNameFault;

struct NameCase
{
    std::string_view name;
    Fault expected;
};

TEST(WindowsNames, RefusesWhatWindowsReadsAsMoreThanAFile)
{
    const NameCase cases[] = {
        {"firmware.bin", Fault::None},
        {"boxes/a/firmware.bin", Fault::None},
        {".hidden", Fault::None},
        {"console.bin", Fault::None},      // starts like CON, is no device
        {"com10", Fault::None},            // only one digit makes a port
        {"lpt", Fault::None},
        {"a b/c.d.e", Fault::None},
        {"NUL", Fault::Device},
        {"nul.txt", Fault::Device},
        {"sub/Con", Fault::Device},
        {"con .log", Fault::Device},       // blanks before the extension are dropped
        {"aux/file", Fault::Device},       // any component counts
        {"PRN.tar.gz", Fault::Device},
        {"COM1", Fault::Device},
        {"com9.bin", Fault::Device},
        {"COM0", Fault::Device},
        {"lpt5", Fault::Device},
        {"LPT\xC2\xB9", Fault::Device},    // superscript one
        {"CONIN$", Fault::Device},
        {"conout$.x", Fault::Device},
        {"file.bin:stream", Fault::Stream},
        {"file.bin::$DATA", Fault::Stream},
        {"dir/x:y", Fault::Stream},
        {"C:/Windows/win.ini", Fault::Rooted},
        {"c:win.ini", Fault::Rooted},
        {"\\\\?\\C:\\x", Fault::Rooted},
        {"\\\\.\\PhysicalDrive0", Fault::Rooted},
        {"/etc/passwd", Fault::Rooted},
        {"\\server\\share", Fault::Rooted},
        {"file.bin.", Fault::TrailingDotBlank},
        {"file.bin ", Fault::TrailingDotBlank},
        {"dir./file", Fault::TrailingDotBlank},
        {"dir /file", Fault::TrailingDotBlank},
        {"...", Fault::TrailingDotBlank},
        {"a*b", Fault::BadCharacter},
        {"what?", Fault::BadCharacter},
        {"a|b", Fault::BadCharacter},
        {"a\"b", Fault::BadCharacter},
        {"a<b>", Fault::BadCharacter},
        {"tab\there", Fault::BadCharacter},
        {"./a/../b", Fault::None},         // "." and ".." are the caller's
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(CheckWindowsName(c.name), c.expected) << c.name;
}

}  // namespace
