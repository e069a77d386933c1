// The upload guard; see tftp_write_guard.h.

#include "tftp/tftp_write_guard.h"

namespace {

bool SameFolder(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

TftpWriteGuard MakeTftpWriteGuard(std::string_view programPath, bool programFolderIsHome,
                                  std::string_view iniPath)
{
    TftpWriteGuard guard;
    struct stat folder = {};
    if (stat(DirectoryOfProgram(programPath).c_str(), &folder) == 0) {
        guard.programFolderKnown = true;
        guard.programDevice = folder.st_dev;
        guard.programInode = folder.st_ino;
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
    struct stat wanted = {};
    if (stat(std::string(folder).c_str(), &wanted) != 0)
        return false;
    for (const TftpHomeEntry& home : homes) {
        struct stat info = {};
        if (!home.path.empty() && stat(home.path.c_str(), &info) == 0 && SameFolder(info, wanted))
            return true;
    }
    return false;
}

bool TftpWriteAllowed(const TftpWriteGuard& guard, const struct stat& folder, std::string_view name)
{
    if (name == guard.iniName || (!guard.usedIniName.empty() && name == guard.usedIniName))
        return false;
    if (!guard.programFolderKnown || guard.programFolderIsHome)
        return true;
    return folder.st_dev != guard.programDevice || folder.st_ino != guard.programInode;
}
