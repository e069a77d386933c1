#pragma once
// Configuration service of the simulated box (TCP, port 1000 by default).
// After accepting a connection it sends an "info" message whose ninth "|"
// field is --info-field, optionally "status|a|b" messages every
// --status-interval, and answers the commands of the tool:
//   "appcfg cmd c=2"                 ok, then the box is away for --reboot-time
//   "appcfg config c=2 p=root ..."   ok (the password is logged)
//   "appcfg cmd c=1 16"              ok
//   "appcfg cmd c=3|6|7 FILE INFO"   RunUpdate's verdict after --update-delay
//   anything else                    "error unknown command"
// With --reboot-after-update an "ok" to an update is followed by a reboot,
// and --update-firmware changes the firmware the next "info" reports.
// At most MAX_CONNECTIONS connections are served at once, at most
// MAX_CONNECTIONS_PER_PEER of them from one peer address; a frame that has
// begun must be complete within --frame-timeout.
// Messages are framed with a 2-byte little-endian length and encrypted with
// the box key; the framing and block order are written here again on purpose
// (only the cipher itself is shared), so that the tool's code is tested
// against an independent peer.
//
// Threads: Start and Stop on the owner's thread; one listener thread and one
// thread per connection, all joined by Stop.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "box_options.h"
#include "box_service.h"
#include "box_state.h"
#include "config/blowfish.h"

class BoxConfigService final : public BoxService
{
public:
    BoxConfigService(const BoxOptions& options, BoxState& state);
    ~BoxConfigService() override;

    // Connections served at once, in all and from one peer address; a
    // further one is closed at once. The share of one peer keeps a peer
    // that opens connections and never finishes a frame from locking out
    // the rest.
    static constexpr std::size_t MAX_CONNECTIONS = 64;
    static constexpr std::size_t MAX_CONNECTIONS_PER_PEER = 8;

    const char* Name() const override { return "config"; }
    // The TCP port listened on, once started (the options may ask for any).
    std::uint16_t Port() const { return m_port.load(); }
    bool Start(std::string& error) override;
    void Stop() override;

private:
    struct Connection
    {
        int fd = -1;
        std::uint32_t peerIp = 0;  // network byte order
        std::size_t box = 0;       // the played box the peer connected to
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    bool OpenListener(std::string& error);
    void CloseListener();
    void Listen();
    void Serve(Connection& connection);
    // Answers one command; false when the connection is to end.
    bool Answer(Connection& connection, const std::string& command);
    bool SendText(int fd, const std::string& text);
    // Reads one frame's payload; false on end of stream, stop or a frame the
    // box does not accept.
    bool ReadFrame(int fd, const char* peer, std::string& payload);
    // Waits up to ms (for data on fd when watchInput), sending due status
    // messages on fd meanwhile. > 0 readable, 0 time over, < 0 stop, reboot
    // or a failed send.
    int WaitTicking(int fd, bool watchInput, int ms, std::chrono::steady_clock::time_point& nextStatus,
                    unsigned& statusValue);
    // Sleeps up to ms; false when stopped first.
    bool Sleep(unsigned ms);
    void Reboot();
    void ReapFinished(bool all);

    const BoxOptions& m_options;
    BoxState& m_state;
    BlowfishContext m_cipher{};
    int m_listener = -1;
    // Written again on the listener's thread when the box comes back.
    std::atomic<std::uint16_t> m_port{0};
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    // Bumped by every reboot; connections of an older generation end.
    std::atomic<unsigned> m_generation{0};
    std::mutex m_mutex;  // m_connections, m_rebootUntil, m_wake
    std::condition_variable m_wake;
    std::list<std::unique_ptr<Connection>> m_connections;
    std::chrono::steady_clock::time_point m_rebootUntil{};
    bool m_rebootPending = false;
};
