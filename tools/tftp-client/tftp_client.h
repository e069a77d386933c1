#pragma once
// A small blocking TFTP client: one read or write transfer per call, on the
// calling thread, over its own UDP socket. Used by the vindle-tftp command,
// by the simulated box's update download and by the end-to-end tests.
//
// A call never blocks longer than about (retries + 1) timeouts without
// progress; every wait is bounded. The client answers a datagram from a
// foreign port with ERROR 5 and carries on (RFC 1350), re-acknowledges a
// duplicate DATA block, and never re-sends DATA on a duplicate ACK, which
// would start the sorcerer's apprentice syndrome (RFC 1123 4.2.3.1).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "tools/tftp-client/tftp_packet.h"

inline constexpr std::uint32_t TFTP_CLIENT_OK = 0;
// The local socket could not be made, or the server address is not usable.
inline constexpr std::uint32_t TFTP_CLIENT_ERR_SOCKET = 0x80000000u;
// No answer within the retries: the server is gone or the path drops packets.
inline constexpr std::uint32_t TFTP_CLIENT_ERR_TIMEOUT = 0x80000001u;
// The server sent ERROR; errorCode and message hold what it said.
inline constexpr std::uint32_t TFTP_CLIENT_ERR_SERVER = 0x80000002u;
// The server broke the protocol (bad OACK, oversized block, ...); the client
// sent it an ERROR and gave up. message says what was wrong.
inline constexpr std::uint32_t TFTP_CLIENT_ERR_PROTOCOL = 0x80000003u;
// The local sink or source failed (disk full, unreadable file).
inline constexpr std::uint32_t TFTP_CLIENT_ERR_LOCAL = 0x80000004u;
// Bad arguments (block size out of range, unknown mode, request too long).
inline constexpr std::uint32_t TFTP_CLIENT_ERR_ARGUMENT = 0x80000005u;

enum class TftpMode
{
    Octet,
    Netascii,
};

struct TftpClientOptions
{
    std::string server = "127.0.0.1";  // dotted IPv4 address or host name
    std::uint16_t port = TFTP_PORT;
    TftpMode mode = TftpMode::Octet;
    // false: a plain RFC 1350 request without any option.
    bool useOptions = true;
    // Requested with the blksize option when useOptions is set and this is
    // not 0 (0 leaves the option out).
    std::uint32_t blksize = TFTP_DEFAULT_BLKSIZE;
    // Ask for (read) or announce (write) the transfer size.
    bool tsize = true;
    std::chrono::milliseconds timeout{1000};
    // Re-sendings after a wait without progress before the transfer fails.
    unsigned retries = 5;
    // RFC 7440: a read asks for a window of this many blocks (with
    // useOptions; 1 leaves the option out). The server grants it by echoing
    // it in its OACK; without the echo the read goes block by block.
    std::uint16_t windowsize = 1;
    // Waited before each acknowledgment of a new DATA block, as a slow box
    // does; re-sent acknowledgments go out at once.
    std::chrono::milliseconds ackDelay{0};
    // How that wait is spent; null sleeps. Tests put a recorder here.
    std::function<void(std::chrono::milliseconds)> pause;
    // Loss on purpose: the dropData-th DATA and the dropAck-th ACK of the
    // transfer (1-based, every datagram of that kind counted, in whichever
    // direction it travels, re-sendings included) are dropped, once each.
    // 0 drops nothing. An ACK 0 after an OACK counts as an ACK.
    std::uint64_t dropData = 0;
    std::uint64_t dropAck = 0;
};

struct TftpTransferResult
{
    std::uint32_t status = TFTP_CLIENT_ERR_ARGUMENT;
    std::uint16_t errorCode = 0;                   // for TFTP_CLIENT_ERR_SERVER
    std::string message;                           // human-readable reason when status != 0
    std::uint64_t bytes = 0;                       // octets on the wire (before netascii decoding)
    std::uint64_t blocks = 0;                      // DATA blocks transferred
    std::uint32_t blksize = TFTP_DEFAULT_BLKSIZE;  // in force for the transfer
    std::uint16_t windowsize = 1;                  // in force for the transfer
    bool optionsAcknowledged = false;              // the server answered with OACK
    std::optional<std::uint64_t> tsize;            // the size the server announced (read)
};

// Receives the file's bytes in order; returns false when it cannot take them
// (the transfer then ends with ERROR 3 to the server).
using TftpSink = std::function<bool(std::span<const std::uint8_t>)>;
// Fills the span from the start; returns the count (less than the span's
// size only at the end), or nullopt on a read failure.
using TftpSource = std::function<std::optional<std::size_t>(std::span<std::uint8_t>)>;

// Reads the file `name` from the server.
TftpTransferResult TftpGet(const TftpClientOptions& options, const std::string& name, const TftpSink& sink);
// Writes to the file `name` on the server. `size` is announced with tsize
// when known (octet mode only, where it equals the octets sent).
TftpTransferResult TftpPut(const TftpClientOptions& options, const std::string& name,
                           const TftpSource& source, std::optional<std::uint64_t> size);

// Convenience forms over local files. The get form writes to a temporary
// file beside `localPath` and renames it into place only on success, so a
// failed download never leaves a truncated file under the final name.
TftpTransferResult TftpGetFile(const TftpClientOptions& options, const std::string& name,
                               const std::string& localPath);
TftpTransferResult TftpPutFile(const TftpClientOptions& options, const std::string& name,
                               const std::string& localPath);

// What an OACK grants, checked against what was requested (RFC 2347: a
// server may only acknowledge options the client asked for; RFC 2348: it may
// lower blksize but never raise it, and not below 8; RFC 7440: the same for
// windowsize, not below 1). `error` is set, and the client must answer
// ERROR 8, when the OACK breaks those rules.
struct TftpOackTerms
{
    std::uint32_t blksize = TFTP_DEFAULT_BLKSIZE;
    std::uint16_t windowsize = 1;
    std::optional<std::uint64_t> tsize;
    std::string error;
};
TftpOackTerms TftpAcceptOack(std::span<const TftpOption> requested, std::span<const TftpOption> acknowledged);

// A short text for a status, for logs and the command line.
std::string TftpDescribe(const TftpTransferResult& result);
