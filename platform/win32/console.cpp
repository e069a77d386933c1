// Windows side of the console: SetConsoleMode for the echo and for the
// cursor movements of the in-place progress.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

namespace vindle::platform {
namespace {

HANDLE HandleOf(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

// The console's echo off while it lives, as it was afterwards. A Ctrl-C
// while it is off ends the process in the default handler; the console
// itself turns the echo back on for the shell.
class EchoOff final
{
public:
    EchoOff(HANDLE input, std::FILE* echoTo) : m_input(input), m_echoTo(echoTo)
    {
        m_restore = ::GetConsoleMode(input, &m_saved) != 0;
        if (m_restore)
            ::SetConsoleMode(input, m_saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    ~EchoOff()
    {
        if (!m_restore)
            return;
        ::SetConsoleMode(m_input, m_saved);
        // The typed Enter was not echoed either.
        std::fputs("\n", m_echoTo);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    HANDLE m_input;
    std::FILE* m_echoTo;
    DWORD m_saved = 0;
    bool m_restore = false;
};

std::string ReadLine()
{
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line += static_cast<char>(c);
    return line;
}

}  // namespace

bool IsTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    // _isatty is true for NUL as well; only a console has a console mode.
    return ::GetConsoleMode(HandleOf(stream), &mode) != 0;
}

void WriteStandardError(std::string_view text)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool EnableInPlaceRedraw(std::FILE* stream)
{
    const HANDLE output = HandleOf(stream);
    DWORD mode = 0;
    if (::GetConsoleMode(output, &mode) == 0)
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string ReadInputLine(Echo echo, std::FILE* echoTo)
{
    std::string line;
    if (echo == Echo::Shown) {
        line = ReadLine();
    } else {
        const EchoOff echoOff(HandleOf(stdin), echoTo);
        line = ReadLine();
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace vindle::platform
