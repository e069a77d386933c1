// Report lines; see tftp_report.h.

#include "tftp/tftp_report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include <arpa/inet.h>
#include <unistd.h>

#include "tftp/tftp_transfer.h"

namespace
{

// Long enough for a line that carries a local path of TFTP_MAX_PATH.
constexpr std::size_t REPORT_LINE_MAX = 2 * TFTP_MAX_PATH + 256;

std::atomic<TftpReportSink> g_sink{nullptr};
std::atomic<void*> g_sinkContext{nullptr};

void WriteToStdout(std::string_view line)
{
    while (!line.empty()) {
        const ssize_t n = write(STDOUT_FILENO, line.data(), line.size());
        if (n <= 0)
            return;   // nobody listens; reports are best effort
        line.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Emit(char* buffer, int length)
{
    if (length < 0)
        return;
    std::size_t size = static_cast<std::size_t>(length);
    if (size > REPORT_LINE_MAX - 2)
        size = REPORT_LINE_MAX - 2;   // truncated, but still one whole line
    buffer[size++] = '\n';
    const std::string_view line(buffer, size);
    if (TftpReportSink sink = g_sink.load())
        sink(g_sinkContext.load(), line);
    else
        WriteToStdout(line);
}

} // namespace

std::string EscapeReportText(std::string_view text)
{
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

void SetTftpReportSink(TftpReportSink sink, void* context)
{
    g_sinkContext.store(context);
    g_sink.store(sink);
}

void ReportLine(const char* format, ...)
{
    char buffer[REPORT_LINE_MAX];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer - 1, format, args);
    va_end(args);
    Emit(buffer, length);
}

void ReportTransfer(const TftpRequest& request, std::string_view message)
{
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &request.client.sin_addr, address, sizeof address);
    const unsigned port = ntohs(request.client.sin_port);
    const std::string text = EscapeReportText(message);
    char buffer[REPORT_LINE_MAX];
    int length;
    if (request.localPath.empty())
        length = std::snprintf(buffer, sizeof buffer - 1, "Client %s:%u, %s", address, port, text.c_str());
    else
        length = std::snprintf(buffer, sizeof buffer - 1, "Client %s:%u %s, %s", address, port,
                               EscapeReportText(request.localPath).c_str(), text.c_str());
    Emit(buffer, length);
}
