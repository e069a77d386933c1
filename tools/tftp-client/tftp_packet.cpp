// Pure packet builders and parsers of the TFTP client (see tftp_packet.h).
#include "tools/tftp-client/tftp_packet.h"

#include <array>

namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::uint16_t GetU16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void PutString(std::vector<std::uint8_t>& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

bool HasNul(std::string_view text)
{
    return text.find('\0') != std::string_view::npos;
}

// Splits a region into NUL-terminated strings; false when the last one lacks
// its terminator.
bool SplitStrings(std::span<const std::uint8_t> bytes, std::vector<std::string>& out)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == 0) {
            out.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, i - start);
            start = i + 1;
        }
    }
    return start == bytes.size();
}

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> CRC_TABLE = MakeCrcTable();

}  // namespace

std::vector<std::uint8_t> BuildTftpRequest(std::uint16_t opcode, std::string_view name, std::string_view mode,
                                           std::span<const TftpOption> options, std::size_t maxSize)
{
    if (HasNul(name) || HasNul(mode))
        return {};
    std::vector<std::uint8_t> out;
    PutU16(out, opcode);
    PutString(out, name);
    PutString(out, mode);
    for (const TftpOption& option : options) {
        if (HasNul(option.name) || HasNul(option.value))
            return {};
        PutString(out, option.name);
        PutString(out, option.value);
    }
    if (out.size() > maxSize)
        return {};
    return out;
}

void BuildTftpAck(std::uint16_t block, std::uint8_t (&out)[TFTP_HEADER])
{
    out[0] = 0;
    out[1] = TFTP_ACK;
    out[2] = static_cast<std::uint8_t>(block >> 8);
    out[3] = static_cast<std::uint8_t>(block & 0xFF);
}

std::vector<std::uint8_t> BuildTftpError(std::uint16_t code, std::string_view text)
{
    std::vector<std::uint8_t> out;
    PutU16(out, TFTP_ERROR);
    PutU16(out, code);
    PutString(out, text.substr(0, text.find('\0')));
    return out;
}

std::optional<TftpPacket> ParseTftpPacket(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2)
        return std::nullopt;
    TftpPacket packet;
    packet.opcode = GetU16(bytes, 0);
    switch (packet.opcode) {
    case TFTP_DATA:
        if (bytes.size() < TFTP_HEADER)
            return std::nullopt;
        packet.block = GetU16(bytes, 2);
        packet.data = bytes.subspan(TFTP_HEADER);
        return packet;
    case TFTP_ACK:
        if (bytes.size() < TFTP_HEADER)
            return std::nullopt;
        packet.block = GetU16(bytes, 2);
        return packet;
    case TFTP_ERROR: {
        if (bytes.size() < TFTP_HEADER)
            return std::nullopt;
        packet.errorCode = GetU16(bytes, 2);
        std::span<const std::uint8_t> text = bytes.subspan(TFTP_HEADER);
        std::size_t length = 0;
        while (length < text.size() && text[length] != 0)
            ++length;
        packet.text.assign(reinterpret_cast<const char*>(text.data()), length);
        return packet;
    }
    case TFTP_OACK: {
        std::vector<std::string> strings;
        if (!SplitStrings(bytes.subspan(2), strings) || strings.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < strings.size(); i += 2)
            packet.options.push_back({strings[i], strings[i + 1]});
        return packet;
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::uint64_t> ParseTftpNumber(std::string_view text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool TftpEqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

void TftpNetasciiDecoder::Decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out)
{
    for (std::uint8_t byte : in) {
        if (m_pendingCr) {
            m_pendingCr = false;
            if (byte == '\n') {
                out.push_back('\n');
                continue;
            }
            out.push_back('\r');
            if (byte == 0)
                continue;
            // A CR followed by anything else is not valid netascii; keep
            // both bytes rather than lose data.
        }
        if (byte == '\r')
            m_pendingCr = true;
        else
            out.push_back(byte);
    }
}

void TftpNetasciiDecoder::Finish(std::vector<std::uint8_t>& out)
{
    if (m_pendingCr)
        out.push_back('\r');
    m_pendingCr = false;
}

void TftpNetasciiEncode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out)
{
    for (std::uint8_t byte : in) {
        if (byte == '\n') {
            out.push_back('\r');
            out.push_back('\n');
        } else if (byte == '\r') {
            out.push_back('\r');
            out.push_back(0);
        } else {
            out.push_back(byte);
        }
    }
}

std::uint32_t TftpCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes)
{
    crc = ~crc;
    for (std::uint8_t byte : bytes)
        crc = CRC_TABLE[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
