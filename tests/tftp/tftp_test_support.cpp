// Test helpers; see tftp_test_support.h.

#include "tftp_test_support.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include "platform/native_types.h"

#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftp_wire.h"

struct CapturedLines
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;

    // Whether a line satisfies `match`, once one does or after the timeout.
    template <typename Match>
    bool WaitFor(std::chrono::milliseconds timeout, Match match)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout,
                                [&] { return std::any_of(lines.begin(), lines.end(), match); });
    }
};

ReportCapture::ReportCapture() : m_lines(std::make_shared<CapturedLines>())
{
    m_reporter.SetSink(Sink());
}

TftpLineSink ReportCapture::Sink() const
{
    return [lines = m_lines](std::string_view line) {
        {
            std::lock_guard lock(lines->mutex);
            lines->lines.emplace_back(line);
        }
        lines->changed.notify_all();
    };
}

std::vector<std::string> ReportCapture::Lines() const
{
    std::lock_guard lock(m_lines->mutex);
    return m_lines->lines;
}

std::string ReportCapture::All() const
{
    std::string all;
    for (const std::string& line : Lines())
        all += line;
    return all;
}

bool ReportCapture::WaitFor(std::string_view text, std::chrono::milliseconds timeout) const
{
    return m_lines->WaitFor(timeout,
                            [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

bool ReportCapture::WaitForLine(std::string_view line, std::chrono::milliseconds timeout) const
{
    return m_lines->WaitFor(timeout, [&](const std::string& reported) { return reported == line; });
}

TempFolder::TempFolder()
{
    // A name no one else has: create_directory fails on one that exists.
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("vindle-tftp-" + std::to_string(entropy()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error))
            m_path = candidate;
    }
    std::filesystem::create_directories(m_path / "home");
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

Bytes RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes data(size);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    return data;
}

void WriteFile(const std::filesystem::path& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

namespace {
// WAIT is longer than the server's retransmission timeout (2 s), so that a
// lost datagram under load is recovered by the server's resend.
static_assert(WAIT > std::chrono::milliseconds(2000));

void PutString(Bytes& packet, std::string_view text)
{
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0);
}
void PutU16(Bytes& packet, std::uint16_t value)
{
    packet.push_back(static_cast<std::uint8_t>(value >> 8));
    packet.push_back(static_cast<std::uint8_t>(value));
}
}  // namespace

Bytes Request(std::uint16_t opcode, std::string_view name, std::string_view mode,
              const std::vector<std::pair<std::string, std::string>>& options)
{
    Bytes packet;
    PutU16(packet, opcode);
    PutString(packet, name);
    PutString(packet, mode);
    for (const auto& [key, value] : options) {
        PutString(packet, key);
        PutString(packet, value);
    }
    return packet;
}

Bytes Ack(std::uint16_t block)
{
    Bytes packet;
    PutU16(packet, TFTP_ACK);
    PutU16(packet, block);
    return packet;
}

Bytes Data(std::uint16_t block, const Bytes& data)
{
    Bytes packet;
    PutU16(packet, TFTP_DATA);
    PutU16(packet, block);
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

Bytes ErrorPacket(std::uint16_t code, std::string_view text)
{
    Bytes packet;
    PutU16(packet, TFTP_ERROR);
    PutU16(packet, code);
    PutString(packet, text);
    return packet;
}

std::string Packet::ErrorText() const
{
    if (Opcode() != TFTP_ERROR || bytes.size() < 5)
        return {};
    const char* text = reinterpret_cast<const char*>(bytes.data() + 4);
    return std::string(text, strnlen(text, bytes.size() - 4));
}

std::vector<std::pair<std::string, std::string>> Packet::Options() const
{
    std::vector<std::string> strings;
    std::size_t pos = 2;
    while (pos < bytes.size()) {
        const char* start = reinterpret_cast<const char*>(bytes.data() + pos);
        const std::size_t length = strnlen(start, bytes.size() - pos);
        strings.emplace_back(start, length);
        pos += length + 1;
    }
    std::vector<std::pair<std::string, std::string>> options;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2)
        options.emplace_back(strings[i], strings[i + 1]);
    return options;
}

TftpTestClient::TftpTestClient()
{
    const int size = 1 << 20;
    setsockopt(m_socket.Fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void TftpTestClient::SendTo(std::uint16_t port, const Bytes& packet)
{
    m_socket.SendTo(packet, TestSocket::Loopback(port));
}

std::uint16_t TftpTestClient::LocalPort() const
{
    return m_socket.Port();
}

std::optional<Packet> TftpTestClient::Receive(std::chrono::milliseconds timeout)
{
    sockaddr_in from{};
    std::optional<Bytes> datagram = m_socket.ReceiveFrom(timeout, &from);
    if (!datagram)
        return std::nullopt;
    Packet packet;
    packet.bytes = std::move(*datagram);
    packet.fromPort = ntohs(from.sin_port);
    return packet;
}

std::optional<Packet> TftpTestClient::Negotiate(std::uint16_t serverPort, const Bytes& request)
{
    SendTo(serverPort, request);
    auto answer = Receive(WAIT);
    if (!answer || answer->Opcode() != TFTP_OACK)
        return std::nullopt;
    return answer;
}

std::optional<Bytes> TftpTestClient::ReadFile(std::uint16_t serverPort, std::string_view name,
                                              std::uint32_t blockSize, std::string* error)
{
    std::vector<std::pair<std::string, std::string>> options;
    if (blockSize != 512)
        options.emplace_back("blksize", std::to_string(blockSize));
    SendTo(serverPort, Request(TFTP_RRQ, name, "octet", options));
    Bytes data;
    std::uint16_t expected = 1;
    for (;;) {
        auto packet = Receive(WAIT);
        if (!packet) {
            if (error)
                *error = "no packet";
            return std::nullopt;
        }
        if (packet->Opcode() == TFTP_OACK) {
            SendTo(packet->fromPort, Ack(0));
            continue;
        }
        if (packet->Opcode() != TFTP_DATA) {
            if (error)
                *error = packet->ErrorText();
            return std::nullopt;
        }
        if (packet->Block() == expected) {
            const Bytes payload = packet->Payload();
            data.insert(data.end(), payload.begin(), payload.end());
            ++expected;
        }
        SendTo(packet->fromPort, Ack(packet->Block()));
        if (packet->bytes.size() - 4 < blockSize)
            return data;
    }
}

bool TftpTestClient::WriteFile(std::uint16_t serverPort, std::string_view name, const Bytes& data,
                               std::uint32_t blockSize, std::string* error)
{
    std::vector<std::pair<std::string, std::string>> options;
    if (blockSize != 512)
        options.emplace_back("blksize", std::to_string(blockSize));
    SendTo(serverPort, Request(TFTP_WRQ, name, "octet", options));
    std::uint16_t block = 0;
    std::size_t offset = 0;
    bool finalSent = false;
    Bytes last;
    for (;;) {
        auto packet = Receive(WAIT);
        if (!packet || (packet->Opcode() != TFTP_ACK && packet->Opcode() != TFTP_OACK)) {
            if (error)
                *error = packet ? packet->ErrorText() : "no packet";
            return false;
        }
        if (packet->Opcode() == TFTP_ACK && packet->Block() != block) {
            // The server resends its last ACK when our block got lost.
            if (packet->Block() == static_cast<std::uint16_t>(block - 1) && !last.empty())
                SendTo(packet->fromPort, last);
            continue;
        }
        if (finalSent)
            return true;
        const std::size_t size = std::min<std::size_t>(blockSize, data.size() - offset);
        ++block;
        last = Data(block, Bytes(data.begin() + offset, data.begin() + offset + size));
        SendTo(packet->fromPort, last);
        offset += size;
        finalSent = size < blockSize;
    }
}

void TftpServerTest::StartServer(const std::string& extraIni, bool withHome, const std::string& iniPath)
{
    std::string ini = "[LISTEN-ON]\n127.0.0.1:0\n";
    if (withHome)
        ini += "[HOME]\n" + Home().string() + "\n";
    ini += extraIni;
    std::istringstream stream(ini);
    m_server.SetReportSink(m_reports.Sink());
    ASSERT_EQ(m_server.Start(stream, (m_temp.Path() / "vindle-tftpd").string(), iniPath), TFTP_SERVER_OK)
        << m_reports.All();
    m_port = m_server.ListenPort(0);
    ASSERT_NE(m_port, 0);
}

void TftpServerTest::TearDown()
{
    m_server.Stop();
}
