#pragma once
// Configuration of a TFTP server: the record filled from its INI text at
// start-up, the settings beside it, the home entries, and the default
// server's names for them.
//
// Threads: a server's settings are written on the thread that starts it,
// before its request loop and any transfer start, and only read afterwards;
// the exception is the home entries (TftpHomes, guarded by a lock), whose
// entry 0 the owner may replace while transfers run.

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/native_types.h"

#include "tftp/ini_reader.h"
#include "tftp/tftp_path.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_wire.h"
#include "tftp/tftp_write_guard.h"

struct ListenEndpoint
{
    int socket = -1;
    sockaddr_in address{};   // as bound, port included
    std::uint32_t ip = 0;    // network byte order; 0 = free entry
    std::uint16_t port = 0;  // host byte order, the port actually bound
};

// Client addresses as host-order numbers, so that ranges compare numerically.
struct ClientRange
{
    std::uint32_t low = 0;  // 0 ends the list
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
    std::uint32_t portLow = 0;  // both 0: transfers take any free port
    std::uint32_t portHigh = 0;
    TftpLogLevel logLevel = TftpLogLevel::None;
    TftpWriteGuard writeGuard;  // what uploads may not touch
};

// [TFTP-OPTIONS] "max-transfers" and "max-transfers-per-client": requests
// beyond them are refused, so that a flood cannot take every thread, socket
// and buffer of the machine.
inline constexpr std::uint32_t TFTP_DEFAULT_MAX_TRANSFERS = 256;
inline constexpr std::uint32_t TFTP_DEFAULT_MAX_TRANSFERS_PER_CLIENT = 16;

// Everything one server reads from its INI text.
struct TftpSettings
{
    TftpConfig config;
    // Largest block size granted; "blksize" sets it.
    std::uint32_t maxBlockSize = TFTP_MAX_BLKSIZE;
    // Largest window granted; "windowsize" sets it. 1 keeps every transfer
    // in lock-step and leaves the option unrecognised.
    std::uint32_t maxWindowSize = 1;
    // Interval in seconds; the receive timeout is half of it, rounded up.
    std::uint16_t defaultInterval = TFTP_DEFAULT_INTERVAL;
    std::uint32_t maxTransfers = TFTP_DEFAULT_MAX_TRANSFERS;
    std::uint32_t maxTransfersPerClient = TFTP_DEFAULT_MAX_TRANSFERS_PER_CLIENT;
};

// The home entries of a running server, guarded against the owner replacing
// entry 0 while a transfer resolves its name. Any thread.
class TftpHomes final
{
public:
    void Assign(const std::array<TftpHomeEntry, TFTP_MAX_HOMES>& homes);
    // Replaces the path of entry 0 (a "/" is appended when missing).
    void SetHomeDirectory(std::string_view directory);
    std::array<TftpHomeEntry, TFTP_MAX_HOMES> Snapshot() const;

private:
    mutable std::mutex m_mutex;
    std::array<TftpHomeEntry, TFTP_MAX_HOMES> m_homes{};
};

// Section appliers: each reads one section's entries into `settings` and
// reports every warning as it goes.
void ApplyLoggingSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter);
void ApplyListenOnSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter);
void ApplyHomeSection(const IniSection& section, TftpSettings& settings, std::string_view programDirectory,
                      const TftpReporter& reporter);
void ApplyOptionsSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter);
void ApplyAllowedClientsSection(const IniSection& section, TftpSettings& settings,
                                const TftpReporter& reporter);

// Reads every section of `ini` (an empty stream means no INI file) as the
// INI file of the program at `programPath`, read from `iniPath` when that is
// not the file beside the program, and, without [LISTEN-ON] entries, takes
// the machine's interface addresses. Opens no socket.
TftpSettings ReadTftpSettings(std::istream& ini, std::string_view programPath, const TftpReporter& reporter,
                              std::string_view iniPath = {});

// Every IPv4 address of the machine, loopback included, port 69, at most 8;
// used when [LISTEN-ON] names none.
void AddInterfaceAddresses(TftpConfig& config);

// Opens a listening socket for each configured address and prints the
// start-up summary with `homes`. Returns the number of endpoints opened.
std::size_t OpenListeningEndpoints(TftpSettings& settings,
                                   const std::array<TftpHomeEntry, TFTP_MAX_HOMES>& homes,
                                   const TftpReporter& reporter);
// Closes every listening socket.
void CloseListeningEndpoints(TftpConfig& config);

// Whether the client (network-order address) may use the server.
bool TftpClientAllowed(const TftpConfig& config, std::uint32_t ip);

// The program file's path ("/proc/self/exe" resolved).
std::string TftpProgramPath();

// --- The default server (tftp_server.h) under its long-standing names --------

// The percentage hand-off of the default server: the receiver set in
// ProgressReceiver gets, through ProgressNotifier, the share of a read sent
// (0..100) whenever it changes, on the transfer's thread.
using TftpProgressFunction = void (*)(void* receiver, std::int32_t percent);
extern std::atomic<TftpProgressFunction> ProgressNotifier;

// Who receives the default server's percentages, kept as the handler of the
// server's event hub. Set and Clear wait for a notifier call still running
// with the old receiver, so once they return the old receiver is never
// called again: its owner may go. Any thread, but not from within the
// notifier.
class TftpProgressReceiver final
{
public:
    // nullptr: nobody receives.
    void Set(void* receiver);
    // Set(nullptr), but only while `receiver` is the one set: an owner that
    // goes takes away only itself.
    void Clear(void* receiver);
    void* Get() const;

private:
    void SetLocked(void* receiver);

    mutable std::mutex m_mutex;  // m_receiver, and the handler matching it
    void* m_receiver = nullptr;
};
extern TftpProgressReceiver ProgressReceiver;
// The largest block size the default server grants, from its [TFTP-OPTIONS]
// "blksize" once it has started.
extern std::atomic<std::uint32_t> MaxBlockSize;

// Replaces the path of the default server's home entry 0.
void SetTftpHomeDirectory(std::string_view directory);
