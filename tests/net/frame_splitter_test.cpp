// TcpFrameSplitter: the same frames come out however the stream is cut, and
// a length that ends the stream is reported where it stands.

#include "net/frame_splitter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Fed
{
    std::vector<std::string> frames;
    FrameStatus end = FrameStatus::NeedMore;
    std::size_t endLength = 0;
};

// Feeds `stream` in pieces of at most `piece` bytes, as recv would deliver
// them, until the stream is used up or it ends with Empty or TooLong.
Fed Feed(const std::string& stream, std::size_t piece, std::span<std::uint8_t> buffer)
{
    TcpFrameSplitter splitter(buffer);
    Fed fed;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::span<std::uint8_t> space = splitter.Space();
        const std::size_t count = std::min({piece, space.size(), stream.size() - at});
        std::memcpy(space.data(), stream.data() + at, count);
        at += count;
        const FrameStatus status = splitter.Add(count);
        if (status == FrameStatus::Complete) {
            const auto payload = splitter.Payload();
            EXPECT_EQ(payload.data(), buffer.data());
            fed.frames.emplace_back(payload.begin(), payload.end());
        } else if (status != FrameStatus::NeedMore) {
            fed.end = status;
            fed.endLength = splitter.Length();
            break;
        }
    }
    return fed;
}

std::string Frame(const std::string& payload)
{
    return std::string{static_cast<char>(payload.size() & 0xFF), static_cast<char>(payload.size() >> 8)} +
           payload;
}

}  // namespace

TEST(TcpFrameSplitter, GivesTheSameFramesForEveryPieceSize)
{
    std::array<std::uint8_t, 300> buffer{};
    const std::string big(300, 'x');  // exactly the buffer
    struct Row
    {
        const char* name;
        std::string stream;
        std::vector<std::string> frames;
        FrameStatus end;
        std::size_t endLength;
    };
    const Row rows[] = {
        {"frames back to back",
         Frame("info|a|") + Frame("b") + Frame(big),
         {"info|a|", "b", big},
         FrameStatus::NeedMore,
         0},
        {"stream ends inside a payload",
         Frame("ok") + Frame("abc").substr(0, 4),
         {"ok"},
         FrameStatus::NeedMore,
         0},
        {"stream ends inside a length", Frame("ok") + "\x05", {"ok"}, FrameStatus::NeedMore, 0},
        // An empty frame ends the stream; what follows it is never read.
        {"empty frame", Frame("ok") + std::string("\0\0", 2) + Frame("late"), {"ok"}, FrameStatus::Empty, 0},
        // One byte more than the buffer holds, little-endian: 0x2D 0x01.
        {"length beyond the buffer", Frame("ok") + Frame(big + "y"), {"ok"}, FrameStatus::TooLong, 301},
    };
    for (const Row& row : rows) {
        for (std::size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            const Fed fed = Feed(row.stream, piece, buffer);
            EXPECT_EQ(fed.frames, row.frames);
            EXPECT_EQ(fed.end, row.end);
            EXPECT_EQ(fed.endLength, row.endLength);
        }
    }
}

TEST(TcpFrameSplitter, InPieceOnlyWhileAPieceIsPartlyReceived)
{
    std::array<std::uint8_t, 8> buffer{};
    TcpFrameSplitter splitter(buffer);
    const std::string stream = Frame("abc");
    const bool expected[] = {false, true, false, true, true};  // before each of the 5 bytes
    for (std::size_t i = 0; i < stream.size(); ++i) {
        EXPECT_EQ(splitter.InPiece(), expected[i]) << "before byte " << i;
        splitter.Space()[0] = static_cast<std::uint8_t>(stream[i]);
        EXPECT_EQ(splitter.Add(1), i + 1 == stream.size() ? FrameStatus::Complete : FrameStatus::NeedMore);
    }
    EXPECT_FALSE(splitter.InPiece());
    EXPECT_EQ(splitter.Space().size(), 2u);  // the next frame's length
}
