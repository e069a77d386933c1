// Request parsing; see tftp_request.h.

#include "tftp/tftp_request.h"

#include <cstring>

namespace {

// Next NUL-terminated string starting at `pos`; false when no NUL follows
// inside the packet.
bool NextString(std::span<const std::uint8_t> packet, std::size_t& pos, std::string_view& out)
{
    const std::uint8_t* begin = packet.data() + pos;
    const void* nul = std::memchr(begin, 0, packet.size() - pos);
    if (nul == nullptr)
        return false;
    const std::size_t length = static_cast<const std::uint8_t*>(nul) - begin;
    out = std::string_view(reinterpret_cast<const char*>(begin), length);
    pos += length + 1;
    return true;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool IsTextMode(std::string_view mode)
{
    return EqualsNoCase(mode, TFTP_MODE_NETASCII) || EqualsNoCase(mode, TFTP_MODE_ASCII);
}

TftpRequestParse ParseTftpRequest(std::span<const std::uint8_t> packet)
{
    TftpRequestParse result;
    if (packet.size() < 2) {
        result.error = TFTP_ERR_UNTERMINATED;
        return result;
    }
    result.request.opcode = static_cast<std::uint16_t>(packet[0] << 8 | packet[1]);
    std::size_t pos = 2;
    if (!NextString(packet, pos, result.request.fileName)) {
        result.error = TFTP_ERR_UNTERMINATED;
        return result;
    }
    if (pos == packet.size()) {
        result.error = TFTP_ERR_MISSING_MODE;
        return result;
    }
    if (!NextString(packet, pos, result.request.mode)) {
        result.error = TFTP_ERR_UNTERMINATED;
        return result;
    }
    result.request.hasOptions = pos < packet.size();
    while (pos < packet.size()) {
        TftpOption option;
        if (!NextString(packet, pos, option.name)) {
            result.error = TFTP_ERR_UNTERMINATED;
            return result;
        }
        if (pos == packet.size())
            break;  // a name without a value
        if (!NextString(packet, pos, option.value)) {
            result.error = TFTP_ERR_UNTERMINATED;
            return result;
        }
        result.request.options.push_back(option);
    }
    result.ok = true;
    return result;
}
