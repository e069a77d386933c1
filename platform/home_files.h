// Files beneath a home folder, found without ever leaving it. Pure name
// checks refuse "..", but a symbolic link (or, on Windows, a junction) in the
// home or below it could still lead anywhere; here every link on the way is
// followed only while it stays inside the home, and the lookup runs relative
// to a handle of the home, so nothing can swap a component between a check
// and the open. Called on transfer threads; every handle lives in the
// caller's objects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace vindle::platform {

// Which system calls a lookup uses. Modern: the kernel resolves beneath the
// home (Linux openat2 with RESOLVE_BENEATH) and uploads start as unnamed
// files (O_TMPFILE). Portable: a walk through the name component by
// component that refuses links it did not check, and a hidden temporary name
// for uploads, which is also what Modern falls back to where the kernel or
// file system lacks a call. Windows has one way only.
enum class HomeCalls
{
    Modern,
    Portable,
};

enum class HomeLookup
{
    Found,     // the folder was found; the last name may or may not exist
    Escapes,   // a link leads out of the home, or links loop
    NotFound,  // a folder on the way is missing or cannot be searched
};

// Where a name leads: the folder it ends in and the last component in it,
// with every link on the way resolved. `name` is "." when the name ends in a
// folder. `info` describes the last component when `exists`.
struct HomeTarget
{
    UniqueFd folder;
    // The folder's full path where the system opens by name only (Windows);
    // empty on POSIX, where everything goes through `folder`.
    std::string folderPath;
    std::string name;
    bool exists = false;
    FileFacts info;
};

// Looks `relativeName` ('/' between components) up beneath the home, which
// is `localPath` without its trailing `relativeName`. Links that stay inside
// the home are followed, the last component's too; an absolute link counts
// as inside when it starts with the home's path.
HomeLookup LookUpBeneath(std::string_view localPath, std::string_view relativeName, HomeCalls calls,
                         HomeTarget& target);

enum class HomeOpen
{
    Opened,
    Escapes,   // the name leads out of the home
    NotFound,  // missing, unreadable, or not a regular file
    Locked,    // another program holds the file and shares no reading
};

// Opens a regular file beneath the home for reading, never waiting on a
// FIFO or device (those are refused). `file` and `size` are set when opened.
HomeOpen OpenBeneathForReading(std::string_view localPath, std::string_view relativeName, UniqueFd& file,
                               std::uint64_t& size, HomeCalls calls);

}  // namespace vindle::platform
