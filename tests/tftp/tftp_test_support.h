#pragma once
// Helpers for the TFTP server tests: a report capture, a temporary home
// folder, a server started on 127.0.0.1 with a free port, and a small UDP
// client that speaks raw TFTP packets. Used from the test's main thread
// (TftpTestClient also from worker threads, one client per thread).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/test_socket.h"
#include "tests/common/tftpd.h"
#include "tests/common/wait.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"

using Bytes = std::vector<std::uint8_t>;

struct CapturedLines;

// Collects the report lines of what it is given to: a server's sink
// (Sink()) or the reporter of ReadTftpSettings (Reporter()).
class ReportCapture final
{
public:
    ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    // Lines handed to it land here, also after the capture is gone.
    TftpLineSink Sink() const;
    const TftpReporter& Reporter() const { return m_reporter; }

    std::vector<std::string> Lines() const;
    std::string All() const;
    // True once a line containing `text` was reported within the timeout.
    bool WaitFor(std::string_view text, std::chrono::milliseconds timeout = WAIT) const;
    // True once exactly this line (with its "\n") was reported.
    bool WaitForLine(std::string_view line, std::chrono::milliseconds timeout = WAIT) const;

private:
    std::shared_ptr<CapturedLines> m_lines;
    TftpReporter m_reporter;
};

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder final
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

Bytes RandomBytes(std::size_t size, unsigned seed = 1);
void WriteFile(const std::filesystem::path& path, const Bytes& data);
Bytes ToBytes(std::string_view text);

// Packet builders.
Bytes Request(std::uint16_t opcode, std::string_view name, std::string_view mode,
              const std::vector<std::pair<std::string, std::string>>& options = {});
Bytes Ack(std::uint16_t block);
Bytes Data(std::uint16_t block, const Bytes& data);
Bytes ErrorPacket(std::uint16_t code, std::string_view text);

struct Packet
{
    Bytes bytes;
    std::uint16_t fromPort = 0;
    std::uint16_t Opcode() const
    {
        return bytes.size() >= 2 ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]) : 0;
    }
    std::uint16_t Block() const
    {
        return bytes.size() >= 4 ? static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]) : 0;
    }
    std::string ErrorText() const;
    Bytes Payload() const { return bytes.size() > 4 ? Bytes(bytes.begin() + 4, bytes.end()) : Bytes{}; }
    // The OACK's name/value strings in order.
    std::vector<std::pair<std::string, std::string>> Options() const;
};

// A UDP socket on 127.0.0.1 with a free port.
class TftpTestClient final
{
public:
    TftpTestClient();

    void SendTo(std::uint16_t port, const Bytes& packet);
    // The port (host order) the server sees as this client's.
    std::uint16_t LocalPort() const;
    std::optional<Packet> Receive(std::chrono::milliseconds timeout = WAIT);
    // Sends a request with options to the server port; returns the OACK
    // that answers it, or nullopt when anything else or nothing came.
    std::optional<Packet> Negotiate(std::uint16_t serverPort, const Bytes& request);

    // A whole read with this client's socket: request to the server port,
    // then DATA/ACK until a short block. Returns the data, or nullopt (and
    // `error` set) on an ERROR or a missing packet.
    std::optional<Bytes> ReadFile(std::uint16_t serverPort, std::string_view name,
                                  std::uint32_t blockSize = 512, std::string* error = nullptr);
    // A whole write (no options unless blockSize != 512).
    bool WriteFile(std::uint16_t serverPort, std::string_view name, const Bytes& data,
                   std::uint32_t blockSize = 512, std::string* error = nullptr);

private:
    TestSocket m_socket = TestSocket::Udp();
};

// Starts the server on 127.0.0.1 with a free port and a temporary home
// folder; TearDown stops it and joins every thread.
class TftpServerTest : public ::testing::Test
{
protected:
    void TearDown() override;

    // INI text appended after the [LISTEN-ON] and, unless `withHome` is
    // false, the [HOME] sections, as if read from `iniPath` (empty: the
    // program's own INI file). The server must start.
    void StartServer(const std::string& extraIni = {}, bool withHome = true, const std::string& iniPath = {});
    std::filesystem::path Home() const { return m_temp.Path() / "home"; }
    TempFolder m_temp;
    ReportCapture m_reports;
    TftpServer m_server;  // goes before the capture and the folder
    std::uint16_t m_port = 0;
};
