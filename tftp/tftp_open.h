#pragma once
// Finds a request's file beneath its home folder without ever leaving it.
// The pure name checks of tftp_path.h refuse "..", but a symbolic link in the
// home (or in a folder below it) could still lead anywhere; here every link
// on the way is followed only while it stays inside the home, and the lookup
// runs relative to a descriptor of the home, so nothing can swap a component
// between a check and the open. Called on transfer threads; every handle
// lives in the caller's objects.

#include <cstdint>
#include <string>
#include <string_view>

#include <sys/stat.h>

#include "tftp/tftp_transfer.h"
#include "tftp/tftp_wire.h"

// Which system calls a lookup uses. Modern: the kernel resolves beneath the
// home (openat2 with RESOLVE_BENEATH) and uploads start as unnamed files
// (O_TMPFILE). Portable: a walk through the name component by component
// with O_NOFOLLOW and a hidden temporary name for uploads, which is also
// what Modern falls back to where the kernel or file system lacks a call.
enum class TftpFsCalls
{
    Modern,
    Portable,
};

// Outcome of opening: ok, or the error the client gets.
struct TftpFileStatus
{
    bool ok = true;
    TftpError error{};
};

enum class TftpLookupStatus
{
    Found,     // the folder was found; the last name may or may not exist
    Escapes,   // a link leads out of the home, or links loop
    NotFound,  // a folder on the way is missing or cannot be searched
};

// Where a name leads: the folder it ends in and the last component in it,
// with every link on the way resolved. `name` is "." when the name ends in a
// folder. `info` describes the last component when `exists`.
struct TftpTarget
{
    CUniqueFd folder;
    std::string name;
    bool exists = false;
    struct stat info = {};
};

// Looks `relativeName` up beneath the home, which is `localPath` without
// its trailing `relativeName` (how ResolveRequestName composes them).
// Links that stay inside the home are followed, the last component's too;
// an absolute link counts as inside when it starts with the home's path.
TftpLookupStatus LookUpBeneath(std::string_view localPath, std::string_view relativeName, TftpFsCalls calls,
                               TftpTarget& target);

// Opens a read request's file: a regular file beneath the home, opened
// without blocking (a FIFO or a device is refused, never waited on), then
// switched to blocking reads. `file` and `size` are set on success. Errors:
// "Access violation" for a name that leads out of the home, "File Not Found"
// for anything else (missing, unreadable, or not a regular file).
[[nodiscard]] TftpFileStatus OpenForReading(std::string_view localPath, std::string_view relativeName,
                                            CUniqueFd& file, std::uint64_t& size,
                                            TftpFsCalls calls = TftpFsCalls::Modern);
