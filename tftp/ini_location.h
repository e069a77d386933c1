#pragma once
// Where a program of ours finds its INI file. The file beside the program
// file comes first, as it always has, so a copy in a folder of its own keeps
// its own settings; an installed program has nothing beside it in /usr/bin
// and reads the one under /etc/vindle instead. Any thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The system-wide folder of the INI files on an installed system.
inline constexpr char VINDLE_SYSTEM_INI_FOLDER[] = "/etc/vindle";

// Whether there is a file at `path` that can be read as the INI file.
using IniFileReadable = std::function<bool(const std::string& path)>;

// The INI file of the program at `programPath`: IniPathForProgram's when
// `readable` says so, else <systemFolder>/<the same file name> when that one
// is, else empty (no INI file: every setting keeps its default).
std::string ChooseIniFile(std::string_view programPath, std::string_view systemFolder,
                          const IniFileReadable& readable);

// ChooseIniFile asking the file system: a regular file the process may read.
std::string LocateIniFile(std::string_view programPath,
                          std::string_view systemFolder = VINDLE_SYSTEM_INI_FOLDER);

// The whole file at `path` as INI text, or nothing when it cannot be read
// (an empty path names no file).
std::optional<std::string> ReadIniText(const std::string& path);
