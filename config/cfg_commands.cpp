#include "config/cfg_commands.h"

namespace {

const char* UpdateCommandPrefix(std::int32_t kind)
{
    switch (kind) {
    case UPDATE_SYSTEM:
        return "appcfg cmd c=3 ";
    case UPDATE_APPLICATION:
        return "appcfg cmd c=6 ";
    case UPDATE_SOFTWARE:
        return "appcfg cmd c=7 ";
    default:
        return nullptr;
    }
}

// Windows-1252 0x80..0x9F. The five bytes the character set leaves free
// keep their C1 control code points, as the system's own conversion does.
constexpr char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else
            return false;
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

void AppendUtf8(std::string& out, char16_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::string BoxTextToUtf8(std::string_view text)
{
    if (IsValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? CP1252_HIGH[byte - 0x80] : static_cast<char16_t>(byte));
    }
    return out;
}

std::optional<std::string> BuildUpdateCommand(std::int32_t kind, std::string_view file, std::string_view info)
{
    const char* prefix = UpdateCommandPrefix(kind);
    if (prefix == nullptr)
        return std::nullopt;
    std::string command = prefix;
    command.append(file).append(" ").append(info);
    if (command.size() >= CMD_BUFFER_SIZE)
        return std::nullopt;
    return command;
}

std::optional<std::string> BuildPasswordCommand(std::string_view password)
{
    std::string command = CMD_SET_PASSWORD;
    command.append(" \"1=").append(password).append("\"");
    if (command.size() >= CMD_BUFFER_SIZE)
        return std::nullopt;
    return command;
}

std::string CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) so that a multi-byte
    // character is dropped whole rather than split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string DeviceInfoField(std::string_view field)
{
    return CutUtf8(field, CMD_BUFFER_SIZE - 1);
}

std::optional<UpdateFile> SplitUpdatePath(std::string_view fullPath)
{
    // The last separator, not a search for the name: in /fw/image.bin/image.bin
    // the name occurs twice and only the last one is the file.
    const std::size_t slash = fullPath.rfind('/');
    if (slash == std::string_view::npos || slash + 1 >= fullPath.size())
        return std::nullopt;
    UpdateFile file{std::string(fullPath.substr(0, slash + 1)), std::string(fullPath.substr(slash + 1))};
    if (file.folder.size() >= CMD_HOME_PATH_SIZE || file.name.size() >= CMD_BUFFER_SIZE)
        return std::nullopt;
    return file;
}
