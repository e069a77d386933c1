#pragma once
// The operator's texts: what came of a command, and the few fixed texts of
// the main window. Statuses become words here and nowhere else, so a text
// reads the same wherever the window shows it. Pure; any thread.

#include <string>
#include <string_view>

// What came of a command as the operator is told it.
enum class AppStatus
{
    UpdateDone,         // the box answered "ok" to an update
    UpdateFailed,       // an "error" (with the box's text), no answer, or no connection
    UpdateBusy,         // another update still waits for its answer
    UpdateNameTooLong,  // file name and info field do not fit the command
    UpdatePathInvalid,  // the chosen file's folder cannot be served
    PasswordSet,
    PasswordFailed,
    PasswordTooLong,
};

// The one place where a status becomes the operator's text. UpdateFailed
// reads "Update fehlerhaft\n(<boxText>)", the box's text as UTF-8
// (BoxTextToUtf8) cut on a character boundary so that the message fits
// CMD_BUFFER_SIZE; every other status ignores boxText.
std::string UserText(AppStatus status, std::string_view boxText = {});

// Texts the operator sees besides the statuses' (UserText).
inline constexpr const char* TEXT_CONNECTED = "verbunden";
inline constexpr const char* TEXT_NOT_CONNECTED = "nicht verbunden";
inline constexpr const char* TEXT_QUIT_DURING_UPDATE =
    "Es läuft noch ein Update.\nTrotzdem beenden? Das Warten auf die Antwort der Box wird abgebrochen.";
