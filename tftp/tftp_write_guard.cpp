// The upload guard; see tftp_write_guard.h.

#include "tftp/tftp_write_guard.h"

namespace {

using vindle::platform::FileFacts;

bool SameFolder(const FileFacts& a, const FileFacts& b)
{
    return a.device == b.device && a.inode == b.inode;
}

}  // namespace

TftpWriteGuard MakeTftpWriteGuard(std::string_view programPath, bool programFolderIsHome,
                                  std::string_view iniPath)
{
    TftpWriteGuard guard;
    FileFacts folder;
    if (vindle::platform::PathFacts(DirectoryOfProgram(programPath).c_str(), folder)) {
        guard.programFolderKnown = true;
        guard.programDevice = folder.device;
        guard.programInode = folder.inode;
    }
    guard.programFolderIsHome = programFolderIsHome;
    const std::string ownIni = IniPathForProgram(programPath);
    guard.iniName = ownIni.substr(ownIni.rfind('/') + 1);
    // A home that holds the INI file in use (/etc/vindle, say) must not take
    // an upload that configures the next start either.
    const std::string_view usedName = iniPath.substr(iniPath.rfind('/') + 1);
    if (usedName != guard.iniName)
        guard.usedIniName = usedName;
    return guard;
}

bool TftpHomesNameFolder(std::span<const TftpHomeEntry> homes, std::string_view folder)
{
    FileFacts wanted;
    if (!vindle::platform::PathFacts(std::string(folder).c_str(), wanted))
        return false;
    for (const TftpHomeEntry& home : homes) {
        FileFacts info;
        if (!home.path.empty() && vindle::platform::PathFacts(home.path.c_str(), info) && SameFolder(info, wanted))
            return true;
    }
    return false;
}

bool TftpWriteAllowed(const TftpWriteGuard& guard, const FileFacts& folder, std::string_view name)
{
    if (name == guard.iniName || (!guard.usedIniName.empty() && name == guard.usedIniName))
        return false;
    if (!guard.programFolderKnown || guard.programFolderIsHome)
        return true;
    return folder.device != guard.programDevice || folder.inode != guard.programInode;
}
