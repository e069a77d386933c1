// Pure rules of the simulated box; see box_rules.h.

#include "box_rules.h"

std::string EscapeLogText(std::string_view text)
{
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}
