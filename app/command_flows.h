#pragma once
// The command flows on a connected box that end in something the operator
// is told: an update (command, wait, verdict) and the password (command,
// confirmation). Each takes the configuration client it works on and returns
// a status for UserText, so the flows run against any box, a simulated one
// on loopback included, without a window. Run them on the thread that may
// wait: an update waits up to an hour, the password up to twice 5 s.

#include <chrono>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/user_text.h"
#include "config/cfg_commands.h"

class CCfgClt;

struct UpdateVerdict
{
    bool bCancelled = false;  // the wait was ended by a stop request: nothing to show
    AppStatus status = AppStatus::UpdateFailed;
    std::string boxText;  // the box's error text of an "error" answer, else empty
};

// Sends the update command and waits up to timeout for the box's answer.
// "ok" is UpdateDone; "error" is UpdateFailed with the box's text; no
// connection, no "info" yet, the end of the connection or no answer in time
// is UpdateFailed without text. A stop request on stop ends the wait at once
// with bCancelled.
[[nodiscard]] UpdateVerdict RunUpdate(CCfgClt& client, std::string_view command,
                                      std::chrono::milliseconds timeout, std::stop_token stop);

// Sets the box's password: "appcfg config c=2 p=root" with the password as
// its parameter; once the box answers "ok", "appcfg cmd c=1 16" follows
// (its answer does not matter). PasswordSet, PasswordFailed, or
// PasswordTooLong when the command would not fit (nothing is sent then).
[[nodiscard]] AppStatus SetBoxPassword(CCfgClt& client, std::string_view password);
