#pragma once
// Text-mode translation of files transferred in "netascii"/"ascii" mode.
// Pure; each transfer keeps its own state record, as a line end may be split
// across two blocks.
//
// Reading a file: a CR LF pair is delivered as a single LF and a byte 0x1A
// ends the data. Writing a file: each LF is stored as CR LF; an LF that the
// client already sent as CR LF is stored as that one CR LF, not CR CR LF.

#include <cstddef>
#include <cstdint>
#include <span>

struct TextReadState
{
    bool pendingCr = false;  // a CR was consumed and not yet delivered
    bool ended = false;      // 0x1A or the end of the file was seen
};

struct TextReadStep
{
    std::size_t consumed;  // bytes taken from the input
    std::size_t produced;  // bytes written to the output
};

// Translates file bytes into wire bytes until the input is used up or the
// output is full. With atEof, the input is the last of the file, so a CR at
// its end is delivered as it is.
TextReadStep TextModeRead(TextReadState& state, std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                          bool atEof);

struct TextWriteState
{
    bool lastWasCr = false;
};

// Translates wire bytes into file bytes; `out` must hold 2 * in.size() bytes.
// Returns the number of bytes written to `out`.
std::size_t TextModeWrite(TextWriteState& state, std::span<const std::uint8_t> in,
                          std::span<std::uint8_t> out);
