#pragma once
// Turns a request's file name into a local path under a home directory or
// an alias path. Pure: no file system access. Whatever name a client sends,
// the result lies inside the chosen directory: every separator ("/" or "\")
// becomes "/", a ".." component is refused and one leading separator is
// dropped, so the name is always appended below the directory.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tftp/tftp_wire.h"

// One [HOME] entry. An empty alias in entry 0 makes its path the bare home
// directory; otherwise the entries up to the first empty alias are aliases.
// Paths end with "/".
struct TftpHomeEntry
{
    std::string alias;
    std::string path;
};

struct TftpPathResult
{
    bool ok = false;
    TftpError error{};  // the answer when !ok
    std::string localPath;
    std::string relativeName;  // the name below the directory, "/"-separated
};

// Errors: "Access violation" for a ".." component, "Missing directory/alias"
// and "No such directory/alias" with aliases configured, "File name too long"
// when the local path would exceed TFTP_MAX_PATH characters.
TftpPathResult ResolveRequestName(std::string_view name, std::span<const TftpHomeEntry> homes);

// Path of the INI file for a program file: the file name's extension
// replaced by ".ini", or ".ini" appended when the name has none. A dot in a
// folder name is never taken for the extension.
std::string IniPathForProgram(std::string_view programPath);

// The folder of a program file, ending with "/" ("./" for a bare name).
std::string DirectoryOfProgram(std::string_view programPath);
