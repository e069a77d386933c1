#pragma once
// Process-wide configuration of the TFTP server: the record filled from the
// INI file at start-up, the two settings beside it, and the progress hand-off
// to the application.
//
// Threads: everything is written on the thread that loads the configuration,
// before the request loop and any transfer start, and only read afterwards;
// the exceptions are the home directory (SetTftpHomeDirectory, guarded by a
// lock) and the progress hook (atomics), which the application may change
// while transfers run.

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include <netinet/in.h>

#include "tftp/ini_reader.h"
#include "tftp/tftp_path.h"
#include "tftp/tftp_wire.h"
#include "tftp/tftp_write_guard.h"

struct ListenEndpoint
{
    int socket = -1;
    sockaddr_in address{};        // as bound, port included
    std::uint32_t ip = 0;         // network byte order; 0 = free entry
    std::uint16_t port = 0;       // host byte order, the port actually bound
};

// Client addresses as host-order numbers, so that ranges compare numerically.
struct ClientRange
{
    std::uint32_t low = 0;        // 0 ends the list
    std::uint32_t high = 0;
};

enum class TftpLogLevel : std::uint8_t
{
    None = 0,
    Errors = 1,
    All = 2,
};

struct TftpConfig
{
    std::array<ListenEndpoint, TFTP_MAX_LISTEN> endpoints{};
    // Configured listen addresses (network order, 0 ends) and their ports.
    std::array<std::uint32_t, TFTP_MAX_LISTEN> listenIp{};
    std::array<std::uint16_t, TFTP_MAX_LISTEN> listenPort{};
    // Either one bare home directory (entry 0 without alias) or aliases.
    std::array<TftpHomeEntry, TFTP_MAX_HOMES> homes{};
    std::array<ClientRange, TFTP_MAX_CLIENT_RANGES> clients{};
    bool overwrite = false;
    std::uint32_t portLow = 0;    // both 0: transfers take any free port
    std::uint32_t portHigh = 0;
    int maxSocket = 0;            // highest listening socket plus one
    TftpLogLevel logLevel = TftpLogLevel::None;
    TftpWriteGuard writeGuard;    // what uploads may not touch
};

extern TftpConfig g_tftpConfig;
// Largest block size granted; [TFTP-OPTIONS] "blksize" sets it.
extern std::uint32_t MaxBlockSize;
// Interval in seconds; the receive timeout is half of it, rounded up.
extern std::uint16_t DefaultInterval;

// The progress hand-off: called on a read transfer's thread after each read
// from the file with the share read so far (0..100), while both are set.
// The application clears ProgressReceiver before the receiver goes away.
using TftpProgressFunction = void (*)(void* receiver, std::int32_t percent);
extern std::atomic<TftpProgressFunction> ProgressNotifier;
extern std::atomic<void*> ProgressReceiver;

// Replaces the path of home entry 0 (a "/" is appended when missing). With a
// configuration without aliases this is the bare home directory for every
// request resolved afterwards. Any thread.
void SetTftpHomeDirectory(std::string_view directory);
// A copy of the home entries, taken under the lock. Any thread.
std::array<TftpHomeEntry, TFTP_MAX_HOMES> TftpHomeSnapshot();

// Section appliers: each reads one section's entries into `config` (and the
// two settings) and reports every warning as it goes.
void ApplyLoggingSection(const IniSection& section, TftpConfig& config);
void ApplyListenOnSection(const IniSection& section, TftpConfig& config);
void ApplyHomeSection(const IniSection& section, TftpConfig& config, std::string_view programDirectory);
void ApplyOptionsSection(const IniSection& section, TftpConfig& config);
void ApplyAllowedClientsSection(const IniSection& section, TftpConfig& config);

// Steps 1 to 5 of the start-up: resets the configuration and both settings,
// reads every section of `ini` (an empty stream means no INI file) and,
// without [LISTEN-ON] entries, takes the machine's interface addresses.
// Opens no socket.
void ConfigureTftp(std::istream& ini, std::string_view programPath);

// Every IPv4 address of the machine, loopback included, port 69, at most 8;
// used when [LISTEN-ON] names none.
void AddInterfaceAddresses();

// Opens a listening socket for each configured address and prints the
// start-up summary. Returns the number of endpoints opened.
std::size_t OpenListeningEndpoints();
// Closes every listening socket.
void CloseListeningEndpoints();

// The whole start-up for the program: INI file beside the program file,
// sockets and summary.
void LoadTftpConfig();

// Whether the client (network-order address) may use the server.
bool TftpClientAllowed(std::uint32_t ip);

// The program file's path ("/proc/self/exe" resolved).
std::string TftpProgramPath();
