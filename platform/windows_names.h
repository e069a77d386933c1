// What Windows would read into a file name beyond "a file in this folder":
// devices (CON, NUL, COM1, ... in any component, with or without an
// extension), alternate data streams (name:stream), drive letters and the
// \\?\ and \\.\ forms, and the trailing dots and blanks Windows silently
// drops (so that "a.txt." would open "a.txt"). Pure, so that both sides test
// it; the Windows side refuses every name it faults before any open.
#pragma once

#include <string_view>

namespace vindle::platform {

enum class WindowsNameFault
{
    None,
    Rooted,            // starts at a root, a drive (C:) or a \\?\ or \\.\ prefix
    Stream,            // a colon: an alternate data stream
    Device,            // a component names a device
    TrailingDotBlank,  // a component ends in '.' or ' '
    BadCharacter,      // a control character or one of < > " | ? *
};

// Checks `relativeName`, components separated by '/' or '\'. Empty
// components, "." and ".." are left to the caller's own checks.
WindowsNameFault CheckWindowsName(std::string_view relativeName);

}  // namespace vindle::platform
