// The terminal (POSIX) or console (Windows) a program talks to.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vindle::platform {

// True when `stream` is a terminal or console (not a file or pipe).
bool IsTerminal(std::FILE* stream);

// Makes `stream`, a terminal, understand the cursor movements that redraw
// lines in place (ESC [ ... A, J, K). True when it does.
bool EnableInPlaceRedraw(std::FILE* stream);

// Writes `text` to standard error at once, past any buffer of stdio.
void WriteStandardError(std::string_view text);

enum class Echo {
    Shown,
    Hidden,  // a terminal's echo is off while the line is typed
};

// Reads standard input up to the end of the line, without the line end.
// With Echo::Hidden on a terminal the typed text is not shown, and the Enter
// that was not shown either is written as a line end to `echoTo`; a stop
// request (Ctrl-C) while the line is typed ends the program as usual, but
// with the echo on again.
std::string ReadInputLine(Echo echo, std::FILE* echoTo);

}  // namespace vindle::platform
