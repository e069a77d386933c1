#pragma once
// vindlectl's defaults: how long its commands wait, how many boxes at once.

#include <chrono>

#include "config/cfg_commands.h"

inline constexpr auto CONNECT_TIMEOUT = std::chrono::milliseconds(5000);
inline constexpr auto PROBE_TIMEOUT = std::chrono::milliseconds(3000);
inline constexpr auto SHORT_COMMAND_TIMEOUT = std::chrono::milliseconds(CMD_REBOOT_TIMEOUT_MS);

inline constexpr unsigned DEFAULT_SEARCH_WAIT_MS = 2000;    // --wait
inline constexpr unsigned DEFAULT_PARALLEL = 8;             // boxes worked on at once
inline constexpr unsigned DEFAULT_ANSWER_TIMEOUT_S = 3600;  // update --timeout
