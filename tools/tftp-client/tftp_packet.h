#pragma once
// The TFTP wire vocabulary as the client sees it (RFC 1350, with the option
// extension of RFC 2347 and the blksize and tsize options of RFC 2348 and
// RFC 2349), and pure builders and parsers for its packets. Nothing here does
// I/O; the transfer loops in tftp_client.cpp put these on the wire.
//
// This client is deliberately independent of the server in tftp/: it is the
// second implementation that keeps the server honest in the end-to-end tests.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint16_t TFTP_RRQ = 1;    // read request
inline constexpr std::uint16_t TFTP_WRQ = 2;    // write request
inline constexpr std::uint16_t TFTP_DATA = 3;   // block number + up to blksize bytes
inline constexpr std::uint16_t TFTP_ACK = 4;    // block number
inline constexpr std::uint16_t TFTP_ERROR = 5;  // error code + text
inline constexpr std::uint16_t TFTP_OACK = 6;   // RFC 2347 option acknowledgment

inline constexpr std::uint16_t TFTP_EUNDEF = 0;     // not defined, see the text
inline constexpr std::uint16_t TFTP_ENOTFOUND = 1;  // file not found
inline constexpr std::uint16_t TFTP_EACCESS = 2;    // access violation
inline constexpr std::uint16_t TFTP_ENOSPACE = 3;   // disk full or allocation exceeded
inline constexpr std::uint16_t TFTP_EBADOP = 4;     // illegal TFTP operation
inline constexpr std::uint16_t TFTP_EBADID = 5;     // unknown transfer ID
inline constexpr std::uint16_t TFTP_EEXISTS = 6;    // file already exists
inline constexpr std::uint16_t TFTP_ENOUSER = 7;    // no such user
inline constexpr std::uint16_t TFTP_EOPTNEG = 8;    // RFC 2347: option negotiation refused

inline constexpr std::uint16_t TFTP_PORT = 69;
inline constexpr std::uint32_t TFTP_DEFAULT_BLKSIZE = 512;  // RFC 1350
inline constexpr std::uint32_t TFTP_MIN_BLKSIZE = 8;        // RFC 2348
inline constexpr std::uint32_t TFTP_MAX_BLKSIZE = 65464;    // RFC 2348
// Header of DATA and ACK: opcode and block number.
inline constexpr std::size_t TFTP_HEADER = 4;

struct TftpOption
{
    std::string name;
    std::string value;

    bool operator==(const TftpOption&) const = default;
};

// A packet a client receives: DATA, ACK, ERROR or OACK. `data` points into
// the buffer that was parsed and is valid only as long as that buffer.
struct TftpPacket
{
    std::uint16_t opcode = 0;
    std::uint16_t block = 0;             // DATA, ACK
    std::uint16_t errorCode = 0;         // ERROR
    std::string text;                    // ERROR message
    std::span<const std::uint8_t> data;  // DATA payload
    std::vector<TftpOption> options;     // OACK, in wire order
};

// RRQ or WRQ: opcode, name, mode and the option pairs, each NUL-terminated.
// Empty when a string holds a NUL (it could not be framed) or the packet
// would exceed `maxSize` (RFC 2347 keeps requests within 512 bytes).
std::vector<std::uint8_t> BuildTftpRequest(std::uint16_t opcode, std::string_view name, std::string_view mode,
                                           std::span<const TftpOption> options, std::size_t maxSize = 512);
void BuildTftpAck(std::uint16_t block, std::uint8_t (&out)[TFTP_HEADER]);
// The text is cut at its first NUL, if any.
std::vector<std::uint8_t> BuildTftpError(std::uint16_t code, std::string_view text);

// Parses DATA, ACK, ERROR and OACK. nullopt for anything shorter than its
// header, another opcode, or an OACK that is not a whole sequence of
// NUL-terminated name/value pairs. An ERROR whose text lacks its terminator
// is still accepted with the text up to the end of the datagram, because the
// code alone is enough to end a transfer and some servers send it that way.
std::optional<TftpPacket> ParseTftpPacket(std::span<const std::uint8_t> bytes);

// A decimal option value as RFC 2348/2349 define them: digits only, no sign,
// no blanks, fitting in 64 bits.
std::optional<std::uint64_t> ParseTftpNumber(std::string_view text);

// Case-insensitive ASCII comparison, as option names and modes are compared.
bool TftpEqualNoCase(std::string_view a, std::string_view b);

// netascii (RFC 764 as RFC 1350 uses it): a line end travels as CR LF, a
// bare CR as CR NUL. The decoder keeps a CR that ends one block until the
// next block shows what follows it.
class TftpNetasciiDecoder final
{
public:
    void Decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out);
    // Flushes a CR that ended the data.
    void Finish(std::vector<std::uint8_t>& out);

private:
    bool m_pendingCr = false;
};

void TftpNetasciiEncode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out);

// CRC-32 (the IEEE 802.3 polynomial, as zlib computes it) over a stream:
// start with 0 and feed the previous result back in.
std::uint32_t TftpCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes);
