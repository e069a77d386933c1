#pragma once
// How long vindlectl's commands wait for a box.

#include <chrono>

#include "config/cfg_commands.h"

inline constexpr auto CONNECT_TIMEOUT = std::chrono::milliseconds(5000);
inline constexpr auto PROBE_TIMEOUT = std::chrono::milliseconds(3000);
inline constexpr auto SHORT_COMMAND_TIMEOUT = std::chrono::milliseconds(CMD_REBOOT_TIMEOUT_MS);
