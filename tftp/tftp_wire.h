#pragma once
// The TFTP wire vocabulary of the built-in server: opcodes, error codes with
// the texts this server sends, option names and the size limits. Nothing
// about the wire is defined anywhere else.

#include <cstddef>
#include <cstdint>

// The well-known server port (RFC 1350). Tests and the standalone server
// pick another one through [LISTEN-ON] "address:port".
inline constexpr std::uint16_t TFTP_PORT = 69;

// Opcodes (RFC 1350, OACK from RFC 2347).
inline constexpr std::uint16_t TFTP_RRQ = 1;    // read request
inline constexpr std::uint16_t TFTP_WRQ = 2;    // write request
inline constexpr std::uint16_t TFTP_DATA = 3;   // data block
inline constexpr std::uint16_t TFTP_ACK = 4;    // acknowledgment
inline constexpr std::uint16_t TFTP_ERROR = 5;  // error, ends the transfer
inline constexpr std::uint16_t TFTP_OACK = 6;   // option acknowledgment

// Error codes (RFC 1350, 8 from RFC 2347).
inline constexpr std::uint16_t TFTP_ENOTDEFINED = 0;  // not defined, see message
inline constexpr std::uint16_t TFTP_ENOTFOUND = 1;    // file not found
inline constexpr std::uint16_t TFTP_EACCESS = 2;      // access violation
inline constexpr std::uint16_t TFTP_ENOSPACE = 3;     // disk full or allocation exceeded
inline constexpr std::uint16_t TFTP_EBADOP = 4;       // illegal TFTP operation
inline constexpr std::uint16_t TFTP_EBADID = 5;       // unknown transfer ID
inline constexpr std::uint16_t TFTP_EEXISTS = 6;      // file already exists
inline constexpr std::uint16_t TFTP_ENOUSER = 7;      // no such user
inline constexpr std::uint16_t TFTP_EOPTNEG = 8;      // option negotiation refused

// An error this server sends: code and the complete text of the packet.
struct TftpError
{
    std::uint16_t code;
    const char* text;
};

inline constexpr TftpError TFTP_ERR_THREAD = {TFTP_ENOTDEFINED, "Thread Creation Error"};
inline constexpr TftpError TFTP_ERR_SOCKET = {TFTP_ENOTDEFINED, "Thread Socket Creation Error"};
inline constexpr TftpError TFTP_ERR_NO_PORT = {TFTP_ENOTDEFINED, "No port is free"};
inline constexpr TftpError TFTP_ERR_CONNECT = {TFTP_ENOTDEFINED, "Connect Failed"};
inline constexpr TftpError TFTP_ERR_TIMEOUT = {TFTP_ENOTDEFINED, "Timeout"};
// The block number wrapped to 0 and the client never acknowledged block 0.
inline constexpr TftpError TFTP_ERR_WRAPPED = {TFTP_ENOTDEFINED, "File too large for client"};
inline constexpr TftpError TFTP_ERR_OPCODE = {TFTP_ENOTDEFINED, "Unexpected Option Code"};
inline constexpr TftpError TFTP_ERR_SHUTDOWN = {TFTP_ENOTDEFINED, "Server shutting down"};
// [TFTP-OPTIONS] max-transfers and max-transfers-per-client are reached.
inline constexpr TftpError TFTP_ERR_TOO_MANY = {TFTP_ENOTDEFINED, "Too many transfers"};
inline constexpr TftpError TFTP_ERR_TOO_MANY_CLIENT = {TFTP_ENOTDEFINED,
                                                       "Too many transfers from this client"};
inline constexpr TftpError TFTP_ERR_NOT_FOUND = {TFTP_ENOTFOUND, "File Not Found"};
inline constexpr TftpError TFTP_ERR_DENIED = {TFTP_EACCESS, "Access Denied"};
inline constexpr TftpError TFTP_ERR_VIOLATION = {TFTP_EACCESS, "Access violation"};
inline constexpr TftpError TFTP_ERR_NO_ALIAS_DIR = {TFTP_EACCESS, "Missing directory/alias"};
inline constexpr TftpError TFTP_ERR_BAD_ALIAS = {TFTP_EACCESS, "No such directory/alias"};
inline constexpr TftpError TFTP_ERR_INVALID_PATH = {TFTP_EACCESS, "Invalid Path"};
inline constexpr TftpError TFTP_ERR_NAME_TOO_LONG = {TFTP_EACCESS, "File name too long"};
inline constexpr TftpError TFTP_ERR_DISK_FULL = {TFTP_ENOSPACE, "Disk full or allocation exceeded"};
inline constexpr TftpError TFTP_ERR_UNTERMINATED = {TFTP_EBADOP, "Request not null-terminated"};
inline constexpr TftpError TFTP_ERR_MISSING_MODE = {TFTP_EBADOP, "Missing mode"};
inline constexpr TftpError TFTP_ERR_UNKNOWN_TID = {TFTP_EBADID, "Unknown transfer ID"};
inline constexpr TftpError TFTP_ERR_EXISTS = {TFTP_EEXISTS, "File already exists"};

// Sizes.
inline constexpr std::size_t TFTP_HEADER = 4;               // opcode + block number / error code
inline constexpr std::size_t TFTP_REQUEST_MAX = 512;        // largest request and reply during a read
inline constexpr std::size_t TFTP_OACK_MAX = 512;           // the OACK is built into a 512-byte packet
inline constexpr std::size_t TFTP_ERROR_MAX = 512;          // an ERROR packet never exceeds this
inline constexpr std::uint32_t TFTP_DEFAULT_BLKSIZE = 512;  // RFC 1350
inline constexpr std::uint32_t TFTP_MIN_BLKSIZE = 512;      // smaller requests are raised to this
// RFC 2348 allows up to 65464 so that a DATA packet (4 + 65464 bytes) fits
// into one IPv4 UDP datagram (at most 65507 bytes of payload).
inline constexpr std::uint32_t TFTP_MAX_BLKSIZE = 65464;
// "interval" (seconds, this server's own option): 1..120 in a request,
// 1..120 in the INI file where 0 means the default of 3.
inline constexpr std::uint32_t TFTP_DEFAULT_INTERVAL = 3;
inline constexpr std::uint32_t TFTP_MAX_INTERVAL = 120;
// "windowsize" (RFC 7440): blocks sent per acknowledgment, 1..65535. The
// server grants at most its configured maximum, and with the default of 1
// it does not recognise the option at all.
inline constexpr std::uint32_t TFTP_MAX_WINDOWSIZE = 65535;
// A window leaves as one burst, which the client's socket must hold whole:
// a Linux socket's default receive buffer takes twelve 8 KiB datagrams or
// three of 64 KiB, and every tail it drops costs a full timeout. The window
// granted therefore carries at most this much data.
inline constexpr std::uint32_t TFTP_MAX_WINDOW_BYTES = 65536;
// Waits without a usable packet that are tolerated before a transfer fails.
inline constexpr std::uint32_t TFTP_MAX_RETRIES = 3;
// Capacities of the configuration tables.
inline constexpr std::size_t TFTP_MAX_LISTEN = 8;
inline constexpr std::size_t TFTP_MAX_HOMES = 8;
inline constexpr std::size_t TFTP_MAX_ALIAS = 63;  // characters of an alias name
inline constexpr std::size_t TFTP_MAX_CLIENT_RANGES = 32;
// Longest local path (PATH_MAX including the terminator).
inline constexpr std::size_t TFTP_MAX_PATH = 4095;

// Option names (RFC 2348, RFC 2349, RFC 7440, and this server's "interval").
inline constexpr const char* TFTP_OPT_BLKSIZE = "blksize";
inline constexpr const char* TFTP_OPT_TSIZE = "tsize";
inline constexpr const char* TFTP_OPT_INTERVAL = "interval";
inline constexpr const char* TFTP_OPT_WINDOWSIZE = "windowsize";

// Modes that select the text translation; every other mode is binary.
inline constexpr const char* TFTP_MODE_NETASCII = "netascii";
inline constexpr const char* TFTP_MODE_ASCII = "ascii";
