#pragma once
// Reassembly of the length-prefixed frames of a TCP stream (a 2-byte
// little-endian length, then that many payload bytes). Pure: it does no I/O
// and only tells the receiving code where the next bytes belong, so a frame
// may arrive in pieces of any size. Owned by the connection thread that
// receives; the payload lands in a buffer the owner lends it.

#include <cstddef>
#include <cstdint>
#include <span>

enum class FrameStatus : std::uint8_t
{
    NeedMore,  // the frame is not complete yet
    Complete,  // Payload() holds the frame
    Empty,     // a frame of length 0, which ends the stream
    TooLong,   // the length exceeds the payload buffer; the stream is lost
};

class TcpFrameSplitter
{
public:
    // `payloadBuffer` must outlive the splitter; its size is the largest
    // payload accepted.
    explicit TcpFrameSplitter(std::span<std::uint8_t> payloadBuffer);

    // Where the next received bytes go: the rest of the length field or of
    // the payload. Never empty.
    std::span<std::uint8_t> Space();
    // True while part of the current length field or payload has arrived.
    bool InPiece() const { return m_Filled > 0; }
    // Takes `count` bytes (1..Space().size()) that were received into
    // Space(). After Complete, Empty or TooLong the next call starts a new
    // frame.
    [[nodiscard]] FrameStatus Add(std::size_t count);

    // The payload of the frame that Add just completed; valid until the
    // next Add.
    std::span<const std::uint8_t> Payload() const { return m_Payload.first(m_Length); }
    // The length field of the current or last frame.
    std::size_t Length() const { return m_Length; }

private:
    std::span<std::uint8_t> m_Payload;
    std::uint8_t m_Header[2] = {0, 0};
    bool m_InHeader = true;
    std::size_t m_Filled = 0;  // bytes of the current piece received
    std::size_t m_Length = 0;
};
