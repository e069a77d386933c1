#pragma once
// What uploads may never touch: the program's own folder, unless the INI
// names it as a home, and any file called like the program's INI file or
// like the INI file it was started with.
// Without an INI file the home is the program's folder; an uploaded INI
// there would configure the server at its next start (a home of "/" with
// overwriting on, say). Built once at start-up, read by transfer threads.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "tftp/tftp_path.h"

struct TftpWriteGuard
{
    bool programFolderKnown = false;
    std::uint64_t programDevice = 0;  // the program folder's identity
    std::uint64_t programInode = 0;
    // The INI names the program folder as a home (bare path or alias).
    bool programFolderIsHome = false;
    std::string iniName;  // file name of the program's INI file
    // File name of the INI file read at start-up (one named on the command
    // line, or the system-wide one); empty when it is the program's.
    std::string usedIniName;
};

// The guard for the program at `programPath`; `programFolderIsHome` comes
// from the [HOME] section (TftpHomesNameFolder, before the default applies),
// `iniPath` is the INI file read at start-up (empty: none or the program's).
TftpWriteGuard MakeTftpWriteGuard(std::string_view programPath, bool programFolderIsHome,
                                  std::string_view iniPath = {});

// Whether one of the configured home paths is the folder `folder` (by
// identity, so another spelling or a link to it counts too).
bool TftpHomesNameFolder(std::span<const TftpHomeEntry> homes, std::string_view folder);

// Whether an upload may create or replace `name` in the folder with the
// identity `folder`.
bool TftpWriteAllowed(const TftpWriteGuard& guard, const vindle::platform::FileFacts& folder,
                      std::string_view name);
