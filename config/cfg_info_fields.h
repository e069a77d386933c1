#pragma once
// The "|"-separated fields of the "info" message a box's configuration
// service sends, by position. Fields after the named ones have no agreed
// meaning.

#include <cstddef>
#include <iterator>

inline constexpr std::size_t INFO_FIELD_NAME = 0;
inline constexpr std::size_t INFO_FIELD_MAC = 1;
inline constexpr std::size_t INFO_FIELD_ADDRESS = 2;
inline constexpr std::size_t INFO_FIELD_NETMASK = 3;
inline constexpr std::size_t INFO_FIELD_GATEWAY = 4;
inline constexpr std::size_t INFO_FIELD_FIRMWARE = 5;
inline constexpr std::size_t INFO_FIELD_HARDWARE = 6;
// The field an update command echoes back to the box after the file name,
// and that the window keeps as the device's info.
inline constexpr std::size_t INFO_FIELD_ECHO = 8;

// The named fields' names, in their order (snake_case, as reports use
// them).
inline constexpr const char* INFO_FIELD_NAMES[] = {"name",    "mac",      "address", "netmask",
                                                   "gateway", "firmware", "hardware"};
static_assert(std::size(INFO_FIELD_NAMES) == INFO_FIELD_HARDWARE + 1);
