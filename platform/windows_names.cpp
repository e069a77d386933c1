// The Windows name checks; see windows_names.h. Compiled on both sides.
#include "platform/windows_names.h"

#include <array>

namespace vindle::platform {

namespace {

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

// COM and LPT take a digit 0-9 or a superscript 1-3 (in UTF-8).
bool IsPortSuffix(std::string_view suffix)
{
    if (suffix.size() == 1)
        return suffix[0] >= '0' && suffix[0] <= '9';
    return suffix == "\xC2\xB9" || suffix == "\xC2\xB2" || suffix == "\xC2\xB3";
}

// Windows takes the part before the first dot, trailing blanks dropped, as
// the device a name means: "nul.txt" and "CON .log" are devices too.
bool NamesDevice(std::string_view component)
{
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> plain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const std::string_view device : plain)
        if (EqualsNoCase(base, device))
            return true;
    if (base.size() < 4)
        return false;
    const std::string_view stem = base.substr(0, 3);
    return (EqualsNoCase(stem, "COM") || EqualsNoCase(stem, "LPT")) && IsPortSuffix(base.substr(3));
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

}  // namespace

WindowsNameFault CheckWindowsName(std::string_view name)
{
    if (!name.empty() && IsSeparator(name.front()))
        return WindowsNameFault::Rooted;
    if (name.size() >= 2 && name[1] == ':' && Upper(name[0]) >= 'A' && Upper(name[0]) <= 'Z')
        return WindowsNameFault::Rooted;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return WindowsNameFault::BadCharacter;
        if (c == ':')
            return WindowsNameFault::Stream;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view component = name.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == "." || component == "..")
            continue;
        if (component.back() == '.' || component.back() == ' ')
            return WindowsNameFault::TrailingDotBlank;
        if (NamesDevice(component))
            return WindowsNameFault::Device;
    }
    return WindowsNameFault::None;
}

}  // namespace vindle::platform
