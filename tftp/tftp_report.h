#pragma once
// Report lines of the TFTP server. Called from the server thread and from
// every transfer thread at once: each line is composed in the caller's own
// stack buffer and handed to the sink in one call, so lines never mix.
// The default sink writes to standard output with one write(2) per line.

#include <string_view>

struct TftpRequest;

// Receives one complete line including its "\n". Called on any server
// thread; must be thread-safe.
using TftpReportSink = void (*)(void* context, std::string_view line);

// Replaces the sink (nullptr restores standard output). Set it while no
// server runs.
void SetTftpReportSink(TftpReportSink sink, void* context);

// Prints the formatted message followed by a line break.
void ReportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints "Client %s:%u %s, %s" with the client's address and port, the
// resolved local path and `message`, or "Client %s:%u, %s" while no local
// path is resolved.
void ReportTransfer(const TftpRequest& request, std::string_view message);
