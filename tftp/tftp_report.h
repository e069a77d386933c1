#pragma once
// Report lines of a TFTP server. Called from the server's threads and from
// every transfer thread at once: each line is composed in the caller's own
// stack buffer and handed to the sink in one call, so lines never mix.
// The default sink writes to standard output with one write(2) per line.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

struct TftpRequest;

// Receives one complete line including its "\n". Called on any server
// thread; must be thread-safe.
using TftpLineSink = std::function<void(std::string_view line)>;

// Where one server's report lines go.
class TftpReporter final
{
public:
    // Replaces the sink (an empty one restores standard output). Any thread;
    // a line being written at that moment may still reach the old sink.
    void SetSink(TftpLineSink sink);
    // Hands one line (with its "\n") to the sink.
    void Emit(std::string_view line) const;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const TftpLineSink> m_sink;
};

// Text a client sent (a file name, an error text), made safe for a report
// line: bytes below 0x20 and 0x7f become "\xNN" (lower-case hex), so the
// text can neither end the line nor forge another one. Every other byte is
// kept, bytes from 0x80 on too, so UTF-8 names stay readable. Pure.
std::string EscapeReportText(std::string_view text);

// Prints the formatted message followed by a line break.
void ReportLine(const TftpReporter& reporter, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints "Client %s:%u %s, %s" with the client's address and port, the
// resolved local path and `message`, or "Client %s:%u, %s" while no local
// path is resolved, to the reporter of the request's server. Path and
// message pass through EscapeReportText, as both may carry what the client
// sent.
void ReportTransfer(const TftpRequest& request, std::string_view message);

// "Error Code %i at Client, %s": what a client's ERROR packet (opcode, code,
// text) says. The bytes a short packet lacks read as no code and no text;
// the text ends at its NUL or at the end of the packet, and its control
// characters are escaped (EscapeReportText).
std::string ClientErrorText(std::span<const std::uint8_t> packet);
