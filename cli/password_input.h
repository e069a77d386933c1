#pragma once
// The new password for `vindlectl passwd`: from --password-file, typed twice
// without echo on a terminal, or one line of standard input. Checked for
// what the box's command can carry before anything is sent.

#include <string>

#include "cli/error_or.h"
#include "cli/fleet_commands.h"

ErrorOr<std::string> ReadPassword(const PasswdOptions& options);
