// Names are UTF-8 in the program and UTF-16 at the Win32 API; these two
// functions are the only crossing.
#pragma once

#include <string>
#include <string_view>

namespace vindle::platform::win32 {

std::wstring Utf16(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

}  // namespace vindle::platform::win32
