// Text-mode translation, including line ends split across blocks.

#include <gtest/gtest.h>

#include <string>

#include "tftp/netascii.h"
#include "tftp_test_support.h"

namespace {

// Feeds the input in pieces of `piece` bytes into an output of `block` bytes
// at a time, as the transfer does.
std::string ReadText(const std::string& file, std::size_t piece, std::size_t block)
{
    TextReadState state;
    std::string wire;
    std::size_t pos = 0;
    std::vector<std::uint8_t> out(block);
    while (!state.ended) {
        const std::size_t size = std::min(piece, file.size() - pos);
        const bool atEof = pos + size == file.size();
        const auto* data = reinterpret_cast<const std::uint8_t*>(file.data()) + pos;
        const TextReadStep step = TextModeRead(state, {data, size}, out, atEof);
        pos += step.consumed;
        wire.append(reinterpret_cast<const char*>(out.data()), step.produced);
        if (step.consumed == 0 && step.produced == 0 && !state.ended && atEof)
            break;
    }
    return wire;
}

TEST(Netascii, ReadingTurnsCrLfIntoLfAndStopsAtEndOfText)
{
    struct Case
    {
        const char* name;
        std::string file;
        std::string wire;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"crlf", "a\r\nb\r\n", "a\nb\n"},
        {"bare lf stays", "a\nb", "a\nb"},
        {"bare cr stays", "a\rb", "a\rb"},
        {"cr at the very end", "ab\r", "ab\r"},
        {"cr cr lf", "a\r\r\nb", "a\r\nb"},
        {"end of text mark",
         "ab\x1A"
         "cd",
         "ab"},
        {"cr before end of text",
         "ab\r\x1A"
         "cd",
         "ab\r"},
        {"binary zero passes", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {1u, 2u, 3u, 64u}) {
            for (std::size_t block : {1u, 2u, 512u}) {
                SCOPED_TRACE(std::string(c.name) + " piece " + std::to_string(piece) + " block " +
                             std::to_string(block));
                EXPECT_EQ(ReadText(c.file, piece, block), c.wire);
            }
        }
    }
}

TEST(Netascii, WritingStoresEachLineEndAsCrLfOnce)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> blocks;
        std::string file;
    };
    const Case cases[] = {
        {"lf becomes crlf", {"a\nb\n"}, "a\r\nb\r\n"},
        // An RFC client already sends CR LF; it must not become CR CR LF.
        {"crlf from the client stays", {"a\r\nb\r\n"}, "a\r\nb\r\n"},
        {"crlf split across blocks", {"a\r", "\nb"}, "a\r\nb"},
        {"lone cr stays", {"a\rb"}, "a\rb"},
        {"empty", {""}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextWriteState state;
        std::string file;
        for (const std::string& block : c.blocks) {
            std::vector<std::uint8_t> out(2 * block.size() + 1);
            const std::size_t n = TextModeWrite(
                state, {reinterpret_cast<const std::uint8_t*>(block.data()), block.size()}, out);
            file.append(reinterpret_cast<const char*>(out.data()), n);
        }
        EXPECT_EQ(file, c.file);
    }
}

}  // namespace
