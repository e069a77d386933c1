// Request name resolution; see tftp_path.h.

#include "tftp/tftp_path.h"

#include "tftp/tftp_request.h"

namespace {

TftpPathResult Refuse(const TftpError& error)
{
    TftpPathResult result;
    result.error = error;
    return result;
}

bool HasParentComponent(std::string_view name)
{
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        if (name.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

TftpPathResult ResolveRequestName(std::string_view name, std::span<const TftpHomeEntry> homes)
{
    std::string relative(name);
    for (char& c : relative)
        if (c == '\\')
            c = '/';
    if (HasParentComponent(relative))
        return Refuse(TFTP_ERR_VIOLATION);
    if (!relative.empty() && relative.front() == '/')
        relative.erase(0, 1);

    TftpPathResult result;
    if (homes.empty())
        return Refuse(TFTP_ERR_INVALID_PATH);
    if (homes[0].alias.empty()) {
        result.localPath = homes[0].path;
    } else {
        const std::size_t slash = relative.find('/');
        if (slash == std::string::npos)
            return Refuse(TFTP_ERR_NO_ALIAS_DIR);
        const std::string_view alias = std::string_view(relative).substr(0, slash);
        const TftpHomeEntry* match = nullptr;
        for (const TftpHomeEntry& home : homes) {
            if (home.alias.empty())
                break;
            if (EqualsNoCase(home.alias, alias)) {
                match = &home;
                break;
            }
        }
        if (match == nullptr)
            return Refuse(TFTP_ERR_BAD_ALIAS);
        result.localPath = match->path;
        relative.erase(0, slash + 1);
    }
    if (result.localPath.size() + relative.size() > TFTP_MAX_PATH)
        return Refuse(TFTP_ERR_NAME_TOO_LONG);
    result.localPath += relative;
    result.relativeName = std::move(relative);
    result.ok = true;
    return result;
}

std::string IniPathForProgram(std::string_view programPath)
{
    const std::size_t slash = programPath.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = programPath.rfind('.');
    std::string path(programPath);
    // A dot that starts the file name marks a hidden file, not an extension.
    if (dot != std::string_view::npos && dot > nameStart)
        path.erase(dot);
    return path + ".ini";
}

std::string DirectoryOfProgram(std::string_view programPath)
{
    const std::size_t slash = programPath.rfind('/');
    if (slash == std::string_view::npos)
        return "./";
    return std::string(programPath.substr(0, slash + 1));
}
