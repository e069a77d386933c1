#pragma once
// Finds a request's file beneath its home folder without ever leaving it
// (platform/home_files.h does the lookup) and says what the client hears
// when it cannot. Called on transfer threads; every handle lives in the
// caller's objects.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/home_files.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftp_wire.h"

// The lookups themselves are the platform's; see platform/home_files.h.
using TftpFsCalls = vindle::platform::HomeCalls;
using TftpLookupStatus = vindle::platform::HomeLookup;
using TftpTarget = vindle::platform::HomeTarget;
using vindle::platform::LookUpBeneath;

// Outcome of opening: ok, or the error the client gets.
struct TftpFileStatus
{
    bool ok = true;
    TftpError error{};
};

// Opens a read request's file: a regular file beneath the home, opened
// without blocking (a FIFO or a device is refused, never waited on), then
// switched to blocking reads. `file` and `size` are set on success. Errors:
// "Access violation" for a name that leads out of the home, "File Not Found"
// for anything else (missing, unreadable, or not a regular file); a file
// another program holds locked (Windows) is an "Access violation" too.
[[nodiscard]] TftpFileStatus OpenForReading(std::string_view localPath, std::string_view relativeName,
                                            CUniqueFd& file, std::uint64_t& size,
                                            TftpFsCalls calls = TftpFsCalls::Modern);
