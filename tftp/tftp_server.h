#pragma once
// The TFTP server's life: the server thread body with its request loop, and
// a start/stop pair for the standalone server and tests. The configuration
// is process-wide (tftp_config.h), so one server runs per process.
//
// Threads: TftpServerThread runs on the caller's thread (the application
// starts one for it); StartTftpServer runs the loop on a thread of its own.
// TftpServerStop and StopTftpServer may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string_view>

// Statuses of StartTftpServer.
inline constexpr std::uint32_t TFTP_SERVER_OK = 0;
// No listening socket could be opened; the server does not run.
inline constexpr std::uint32_t TFTP_SERVER_NO_ENDPOINT = 0x80000000u;
// A server runs already in this process.
inline constexpr std::uint32_t TFTP_SERVER_RUNNING = 0x80000001u;
// The request loop's thread could not be started.
inline constexpr std::uint32_t TFTP_SERVER_THREAD_FAILED = 0xFFFFFFFFu;

// Body of the server thread: reads the INI file beside the program file,
// opens the listening sockets, prints the summary and serves requests until
// TftpServerStop. Before returning it waits for its transfers to end and
// closes its sockets.
void TftpServerThread();

// Asks the running request loop and every transfer to end; returns at once.
// A stop asked for before TftpServerThread reached its loop still counts.
void TftpServerStop();

// Configures the server from `ini` as if it were the INI file of the program
// at `programPath` (whose folder is the default home directory), opens the
// listening sockets and prints the summary on the caller's thread, then
// serves requests on a new thread. [LISTEN-ON] "127.0.0.1:0" takes a free
// port; TftpListenPort tells which.
[[nodiscard]] std::uint32_t StartTftpServer(std::istream& ini, std::string_view programPath);

// Stops a server started with StartTftpServer and joins its threads.
// Does nothing when none runs.
void StopTftpServer();

// The port (host order) of listening endpoint `index`, 0 when there is none.
std::uint16_t TftpListenPort(std::size_t index = 0);
