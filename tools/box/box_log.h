#pragma once
// One line per event on standard output, flushed at once so that a test
// reading the output sees each line as it happens. Control characters in
// the line are escaped (EscapeLogText), so a peer's text stays on its line.
// Safe from any thread.

void BoxLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
