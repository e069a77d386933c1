#pragma once
// The configuration commands the main window and vindlectl send to a box,
// how a box's own texts are read, and the split of a chosen update file into
// the folder the TFTP server serves and the name the box asks for. Pure
// functions: the callers use them on any thread, the tests check them
// without a box.
//
// The box reads every command from a 256-byte buffer, and the program keeps
// the update file name, the box's info field and the TFTP home path in
// fixed-size slots of the same shape. Input that does not fit is refused
// (commands, paths) or cut (texts shown to the operator), never overflowed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Room of one command text, the result message and the info field slot,
// each with its terminating NUL.
inline constexpr std::size_t CMD_BUFFER_SIZE = 256;
// Room of the TFTP home entry's path, with its terminating NUL.
inline constexpr std::size_t CMD_HOME_PATH_SIZE = 260;

inline constexpr std::uint32_t CMD_REBOOT_TIMEOUT_MS = 5000;
inline constexpr std::uint32_t CMD_PASSWORD_TIMEOUT_MS = 5000;
inline constexpr std::uint32_t CMD_UPDATE_TIMEOUT_MS = 3600000;

inline constexpr const char* CMD_REBOOT = "appcfg cmd c=2";
inline constexpr const char* CMD_SET_PASSWORD = "appcfg config c=2 p=root";
inline constexpr const char* CMD_AFTER_PASSWORD = "appcfg cmd c=1 16";

enum UpdateKind : std::int32_t
{
    UPDATE_SYSTEM = 0,       // "System Update", command c=3
    UPDATE_APPLICATION = 1,  // "Applikations Update", command c=6
    UPDATE_SOFTWARE = 2,     // "Software Update", command c=7
};

// "appcfg cmd c=3 <file> <info>" and its siblings; nullopt when the kind is
// unknown or the text would not fit CMD_BUFFER_SIZE (a file name and info
// field of more than 239 characters together).
std::optional<std::string> BuildUpdateCommand(std::int32_t kind, std::string_view file,
                                              std::string_view info);

// "appcfg config c=2 p=root \"1=<password>\""; nullopt when it would not fit
// CMD_BUFFER_SIZE (a password of more than 226 characters). The password is
// passed as typed: the box's quoting has no escape.
std::optional<std::string> BuildPasswordCommand(std::string_view password);

// A text the box wrote, as UTF-8: unchanged when it already is valid UTF-8,
// otherwise read byte by byte as Windows-1252, the character set of the
// boxes' own German texts.
std::string BoxTextToUtf8(std::string_view text);

// The box's ninth info field as the window keeps it: at most 255 bytes.
std::string DeviceInfoField(std::string_view field);

struct UpdateFile
{
    std::string folder;  // ends with '/'
    std::string name;    // the bare file name the box asks for
};

// Splits a chosen file's full path at its last '/'. nullopt when the path
// names no file (empty, or ending with '/'), when the folder with its
// trailing '/' does not fit the TFTP home path, or when the name does not fit
// its slot.
std::optional<UpdateFile> SplitUpdatePath(std::string_view fullPath);

// Cuts text to at most maxBytes bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);
