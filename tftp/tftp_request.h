#pragma once
// Parser of a received RRQ/WRQ datagram. Pure: it reads only the bytes it is
// given and never past their end, and keeps views into them, so the packet
// must outlive the result. Used by the transfer thread that owns the packet.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tftp/tftp_wire.h"

struct TftpOption
{
    std::string_view name;  // as the client wrote it
    std::string_view value;
};

struct TftpParsedRequest
{
    std::uint16_t opcode = 0;  // TFTP_RRQ or TFTP_WRQ
    std::string_view fileName;
    std::string_view mode;
    // True when at least one option string follows the mode; the request is
    // then answered with an OACK even if no option is recognised.
    bool hasOptions = false;
    std::vector<TftpOption> options;  // complete name/value pairs in order
};

struct TftpRequestParse
{
    bool ok = false;
    TftpError error{};  // the answer when !ok
    TftpParsedRequest request;
};

// Walks the NUL-terminated strings after the opcode. Fails with
// "Request not null-terminated" when a string runs into the end of the
// datagram (this covers requests shorter than 4 bytes) and with
// "Missing mode" when the datagram ends after the file name. A trailing
// option name without a value is ignored, as no value can be granted for it.
TftpRequestParse ParseTftpRequest(std::span<const std::uint8_t> packet);

// True for "netascii" and "ascii" in any case: the file is translated as a
// text file (see netascii.h). Every other mode is binary.
bool IsTextMode(std::string_view mode);

// ASCII case-insensitive comparison, shared by the option table, the alias
// lookup and the INI reader.
bool EqualsNoCase(std::string_view a, std::string_view b);
