// Text-mode translation; see netascii.h.

#include "tftp/netascii.h"

namespace {
constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t END_OF_TEXT = 0x1A;  // the text-mode end-of-file mark
}  // namespace

TextReadStep TextModeRead(TextReadState& state, std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                          bool atEof)
{
    std::size_t i = 0;
    std::size_t o = 0;
    while (!state.ended && o < out.size()) {
        if (state.pendingCr) {
            if (i == in.size()) {
                if (!atEof)
                    break;
                out[o++] = CR;
                state.pendingCr = false;
                continue;
            }
            state.pendingCr = false;
            if (in[i] == LF) {
                out[o++] = LF;
                ++i;
            } else {
                out[o++] = CR;
            }
            continue;
        }
        if (i == in.size())
            break;
        const std::uint8_t c = in[i++];
        if (c == END_OF_TEXT)
            state.ended = true;
        else if (c == CR)
            state.pendingCr = true;
        else
            out[o++] = c;
    }
    if (atEof && i == in.size() && !state.pendingCr)
        state.ended = true;
    return {i, o};
}

std::size_t TextModeWrite(TextWriteState& state, std::span<const std::uint8_t> in,
                          std::span<std::uint8_t> out)
{
    std::size_t o = 0;
    for (std::uint8_t c : in) {
        if (c == LF && !state.lastWasCr)
            out[o++] = CR;
        out[o++] = c;
        state.lastWasCr = c == CR;
    }
    return o;
}
