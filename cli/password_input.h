#pragma once

#include <string>

#include "cli/fleet_commands.h"

int ReadPassword(const PasswdOptions& options, std::string& password);
