#pragma once
// Report lines of the TFTP server. Called from the server thread and from
// every transfer thread at once: each line is composed in the caller's own
// stack buffer and handed to the sink in one call, so lines never mix.
// The default sink writes to standard output with one write(2) per line.

#include <string>
#include <string_view>

struct TftpRequest;

// Receives one complete line including its "\n". Called on any server
// thread; must be thread-safe.
using TftpReportSink = void (*)(void* context, std::string_view line);

// Replaces the sink (nullptr restores standard output). Set it while no
// server runs.
void SetTftpReportSink(TftpReportSink sink, void* context);

// Text a client sent (a file name, an error text), made safe for a report
// line: bytes below 0x20 and 0x7f become "\xNN" (lower-case hex), so the
// text can neither end the line nor forge another one. Every other byte is
// kept, bytes from 0x80 on too, so UTF-8 names stay readable. Pure.
std::string EscapeReportText(std::string_view text);

// Prints the formatted message followed by a line break.
void ReportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints "Client %s:%u %s, %s" with the client's address and port, the
// resolved local path and `message`, or "Client %s:%u, %s" while no local
// path is resolved. Path and message pass through EscapeReportText, as
// both may carry what the client sent.
void ReportTransfer(const TftpRequest& request, std::string_view message);
