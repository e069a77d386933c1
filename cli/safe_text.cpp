#include "cli/safe_text.h"

#include "cli/targets.h"

std::string EscapeControls(std::string_view text)
{
    static constexpr char HEX[] = "0123456789abcdef";
    std::string safe;
    safe.reserve(text.size());
    auto escape = [&](unsigned char c) {
        safe += "\\x";
        safe += HEX[c >> 4];
        safe += HEX[c & 0xf];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7f) {
            escape(c);
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            // A terminal in UTF-8 takes U+0080..U+009F as controls: U+009B is
            // a whole escape sequence's introducer.
            escape(c);
            escape(next);
            ++i;
        } else {
            safe += static_cast<char>(c);
        }
    }
    return safe;
}

std::string NeutraliseCsvCell(std::string_view text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        return "'" + std::string(text);
    return std::string(text);
}

std::string CsvRecord(const std::vector<std::string>& cells)
{
    std::string record;
    for (std::size_t i = 0; i < cells.size(); ++i)
        record += (i ? "," : "") + CsvField(EscapeControls(NeutraliseCsvCell(cells[i])));
    return record + '\n';
}
