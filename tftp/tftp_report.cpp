// Report lines; see tftp_report.h.

#include "tftp/tftp_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/native_types.h"

#include "tftp/tftp_transfer.h"

namespace {

// Long enough for a line that carries a local path of TFTP_MAX_PATH.
constexpr std::size_t REPORT_LINE_MAX = 2 * TFTP_MAX_PATH + 256;

void WriteToStdout(std::string_view line)
{
    while (!line.empty()) {
        const long n = vindle::platform::WriteStandardOutput(line.data(), line.size());
        if (n <= 0)
            return;  // nobody listens; reports are best effort
        line.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Emit(const TftpReporter& reporter, char* buffer, int length)
{
    if (length < 0)
        return;
    std::size_t size = static_cast<std::size_t>(length);
    if (size > REPORT_LINE_MAX - 2)
        size = REPORT_LINE_MAX - 2;  // truncated, but still one whole line
    buffer[size++] = '\n';
    reporter.Emit(std::string_view(buffer, size));
}

}  // namespace

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

void TftpReporter::SetSink(TftpLineSink sink)
{
    auto shared = sink ? std::make_shared<const TftpLineSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(m_mutex);
    m_sink = std::move(shared);
}

void TftpReporter::Emit(std::string_view line) const
{
    std::shared_ptr<const TftpLineSink> sink;
    {
        std::lock_guard lock(m_mutex);
        sink = m_sink;
    }
    if (sink)
        (*sink)(line);
    else
        WriteToStdout(line);
}

void ReportLine(const TftpReporter& reporter, const char* format, ...)
{
    char buffer[REPORT_LINE_MAX];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer - 1, format, args);
    va_end(args);
    Emit(reporter, buffer, length);
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
    Emit(*request.server->reporter, buffer, length);
}

std::string ClientErrorText(std::span<const std::uint8_t> packet)
{
    // Bytes a short packet lacks read as zero.
    const int high = packet.size() > 2 ? packet[2] : 0;
    const int low = packet.size() > 3 ? packet[3] : 0;
    const int code = high << 8 | low;
    const char* text = reinterpret_cast<const char*>(packet.data() + TFTP_HEADER);
    const std::size_t room = packet.size() > TFTP_HEADER ? packet.size() - TFTP_HEADER : 0;
    const std::string_view said = room > 0 ? std::string_view(text, strnlen(text, room)) : std::string_view();
    return "Error Code " + std::to_string(code) + " at Client, " + EscapeReportText(said);
}
