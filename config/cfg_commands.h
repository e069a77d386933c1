#pragma once
// The configuration commands the main window and vindlectl send to a box,
// the texts the window shows for their results, and the split of a chosen
// update file into the folder the TFTP server serves and the name the box
// asks for. Pure functions: the callers use them on any thread, the tests
// check them without a box.
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

// The verdict of an update: "Update erfolgreich durchgeführt" for status 0,
// otherwise "Update fehlerhaft\n(<error text>)", the box's text as UTF-8
// (BoxTextToUtf8) cut on a character boundary so that the message fits
// CMD_BUFFER_SIZE.
std::string UpdateResultText(std::uint32_t status, std::string_view errorText);

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

// Texts the operator sees.
inline constexpr const char* TEXT_CONNECTED = "verbunden";
inline constexpr const char* TEXT_NOT_CONNECTED = "nicht verbunden";
inline constexpr const char* TEXT_UPDATE_OK = "Update erfolgreich durchgeführt";
inline constexpr const char* TEXT_UPDATE_FAILED = "Update fehlerhaft\n(%s)";
inline constexpr const char* TEXT_UPDATE_CAPTION = "Information";
inline constexpr const char* TEXT_PASSWORD_OK = "Kennwort erfolgreich gesetzt";
inline constexpr const char* TEXT_PASSWORD_FAILED = "Kennwort konnte nicht gesetzt werden";
// Refusals of this program's own making.
inline constexpr const char* TEXT_UPDATE_BUSY =
    "Es läuft bereits ein Update.\nBitte warten Sie, bis die Box geantwortet hat.";
inline constexpr const char* TEXT_UPDATE_NAME_TOO_LONG =
    "Der Dateiname ist zu lang für den Update-Befehl.";
inline constexpr const char* TEXT_UPDATE_PATH_INVALID =
    "Der Ordner der Update-Datei kann nicht verwendet werden (Pfad zu lang).";
inline constexpr const char* TEXT_PASSWORD_TOO_LONG =
    "Das Kennwort ist zu lang (höchstens 226 Zeichen).";
inline constexpr const char* TEXT_QUIT_DURING_UPDATE =
    "Es läuft noch ein Update.\nTrotzdem beenden? Das Warten auf die Antwort der Box wird abgebrochen.";
