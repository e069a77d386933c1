// The INI file's place; see ini_location.h.

#include "tftp/ini_location.h"

#include <fstream>
#include <sstream>

#include "platform/files.h"

#include "tftp/tftp_path.h"

std::string ChooseIniFile(std::string_view programPath, std::string_view systemFolder,
                          const IniFileReadable& readable)
{
    const std::string beside = IniPathForProgram(programPath);
    if (readable(beside))
        return beside;
    std::string system(systemFolder);
    if (!system.empty() && system.back() != '/')
        system += '/';
    system += beside.substr(beside.rfind('/') + 1);
    if (readable(system))
        return system;
    return {};
}

std::string LocateIniFile(std::string_view programPath, std::string_view systemFolder)
{
    return ChooseIniFile(programPath, systemFolder, [](const std::string& path) {
        // A folder or a FIFO of that name is no INI file; one that opens
        // but cannot be read would silently hide the one further on.
        return vindle::platform::InspectInputFile(path).state == vindle::platform::InputFile::State::Readable;
    });
}

std::optional<std::string> ReadIniText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return std::move(text).str();
}
