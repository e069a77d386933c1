#pragma once
// A TFTP server as an object its program owns: its configuration, home
// entries, listening sockets, request loop thread and running transfers.
// Stop ends every transfer, joins every thread and closes every socket; the
// server may then be started again. Several servers may run in one process.
//
// Threads: Start, Stop and the destructor on the owner's thread (one at a
// time); the setters and queries on any thread. Events and report lines
// arrive on the server's own threads.
//
// One default instance keeps the names the window has always used
// (TftpServerThread, and in tftp_config.h ProgressNotifier,
// ProgressReceiver, SetTftpHomeDirectory).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <stop_token>
#include <string_view>

#include "tftp/tftp_event.h"
#include "tftp/tftp_path.h"

struct TftpSettings;
#include "tftp/tftp_wire.h"

// Statuses of Start (and StartTftpServer).
inline constexpr std::uint32_t TFTP_SERVER_OK = 0;
// No listening socket could be opened; the server does not run.
inline constexpr std::uint32_t TFTP_SERVER_NO_ENDPOINT = 0x80000000u;
// The server runs already.
inline constexpr std::uint32_t TFTP_SERVER_RUNNING = 0x80000001u;
// The event that stops the request loop could not be created (the system
// is out of descriptors or memory); the server does not run.
inline constexpr std::uint32_t TFTP_SERVER_NO_STOP_EVENT = 0x80000002u;
// The request loop's thread could not be started.
inline constexpr std::uint32_t TFTP_SERVER_THREAD_FAILED = 0xFFFFFFFFu;

class TftpServer final
{
public:
    TftpServer();
    // Stops the server and joins its threads.
    ~TftpServer();
    TftpServer(const TftpServer&) = delete;
    TftpServer& operator=(const TftpServer&) = delete;

    // Configures from `ini` as the INI file of the program at `programPath`
    // (whose folder is the default home directory; an empty stream means no
    // INI file), opens the listening sockets, prints the summary and serves
    // requests on a thread of its own. [LISTEN-ON] "127.0.0.1:0" takes a
    // free port; ListenPort tells which. `iniPath` is where `ini` came from
    // when that is not the file beside the program (uploads may not take
    // its name either).
    [[nodiscard]] std::uint32_t Start(std::istream& ini, std::string_view programPath,
                                      std::string_view iniPath = {});
    // Ends every transfer (their clients get "Server shutting down"), joins
    // every thread and closes every socket. Does nothing when not running.
    void Stop();

    // Ends every running transfer and every one that starts until Stop
    // (their clients get "Server shutting down"); the server keeps
    // listening. Any thread, also while Stop runs.
    void EndTransfers();
    // Replaces the path of home entry 0: with a configuration without
    // aliases, the home directory of every request resolved afterwards.
    void SetHomeDirectory(std::string_view directory);
    // Receives every transfer's events on the transfer threads; nullptr
    // clears. After it returns, no call to the old handler runs. Not from
    // within a handler.
    void SetEventHandler(TftpEventFunction handler);
    // Receives every report line of this server instead of standard output;
    // nullptr restores standard output. Set it before Start.
    void SetReportSink(std::function<void(std::string_view line)> sink);

    // The port (host order) of listening endpoint `index`, 0 when there is
    // none or the server does not run.
    std::uint16_t ListenPort(std::size_t index = 0) const;
    // The settings of the last Start. The owner's thread only.
    const TftpSettings& Settings() const;
    // Transfers running now (admitted and not yet ended).
    std::size_t RunningTransfers() const;
    // A copy of the home entries.
    std::array<TftpHomeEntry, TFTP_MAX_HOMES> HomeEntries() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

// --- The default instance ------------------------------------------------------

// Body of the application's server thread (a std::jthread its owner
// joins): configures the default server from the program's INI file
// (LocateIniFile), serves until `stop` is requested, then stops it. Returns
// at once when no socket could be opened. A stop requested before it got
// going still counts.
void TftpServerThread(std::stop_token stop);

// Start and Stop of the default server on a thread of the caller's choice,
// for the window's tests, which give it their own INI text.
[[nodiscard]] std::uint32_t StartTftpServer(std::istream& ini, std::string_view programPath,
                                            std::string_view iniPath = {});
void StopTftpServer();
