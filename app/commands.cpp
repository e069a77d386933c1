#include "app/commands.h"

namespace
{

const char* UpdateCommandPrefix(std::int32_t kind)
{
    switch (kind)
    {
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

}  // namespace

std::optional<std::string> BuildUpdateCommand(std::int32_t kind, std::string_view file,
                                              std::string_view info)
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

std::string UpdateResultText(std::uint32_t status, std::string_view errorText)
{
    if (status == 0)
        return TEXT_UPDATE_OK;
    const std::string_view head = "Update fehlerhaft\n(";
    const std::string_view tail = ")";
    const std::size_t room = CMD_BUFFER_SIZE - 1 - head.size() - tail.size();
    std::string text(head);
    text.append(CutUtf8(errorText, room)).append(tail);
    return text;
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
    UpdateFile file{std::string(fullPath.substr(0, slash + 1)),
                    std::string(fullPath.substr(slash + 1))};
    if (file.folder.size() >= CMD_HOME_PATH_SIZE || file.name.size() >= CMD_BUFFER_SIZE)
        return std::nullopt;
    return file;
}
