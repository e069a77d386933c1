// The password line as vindlectl reads it, from input that is not a
// terminal (a pipe or file): no echo handling, no stray line end on the
// message stream, the line end (also CR LF) cut off, the next line left for
// the next read.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "platform/console.h"

using vindle::platform::Echo;
using vindle::platform::IsTerminal;
using vindle::platform::ReadInputLine;

TEST(ConsoleInput, LinesFromAFileComeWithoutLineEndsAndWithoutEcho)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path input = dir / "vindle_console_input.txt";
    const std::filesystem::path echo = dir / "vindle_console_echo.txt";
    {
        std::ofstream out(input, std::ios::binary);
        out << "s3cret pw\r\nsecond\nlast";
    }
    ASSERT_NE(std::freopen(input.string().c_str(), "rb", stdin), nullptr);
    std::FILE* echoTo = std::fopen(echo.string().c_str(), "wb");
    ASSERT_NE(echoTo, nullptr);

    EXPECT_FALSE(IsTerminal(stdin));
    EXPECT_EQ(ReadInputLine(Echo::Hidden, echoTo), "s3cret pw");
    EXPECT_EQ(ReadInputLine(Echo::Shown, echoTo), "second");
    EXPECT_EQ(ReadInputLine(Echo::Hidden, echoTo), "last");
    EXPECT_EQ(ReadInputLine(Echo::Hidden, echoTo), "");

    std::fclose(echoTo);
    EXPECT_EQ(std::filesystem::file_size(echo), 0u);
    // Windows keeps the file that stdin still reads from.
    std::error_code ignored;
    std::filesystem::remove(input, ignored);
    std::filesystem::remove(echo);
}
