#pragma once
// Discovery responder of the simulated box: binds the discovery port on all
// addresses of the box's interface, answers every search with one reply per
// played box and adopts set-IP requests for one of its MACs. Keeps its own
// encoder on purpose: it is the peer the tool's code is tested against and
// must not share that code's faults.
//
// Threads: Start and Stop on the owner's thread; requests are served on the
// responder's own thread.

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

#include <netinet/in.h>

#include "box_options.h"
#include "box_service.h"
#include "box_state.h"

class BoxDiscovery final : public BoxService
{
public:
    BoxDiscovery(const BoxOptions& options, BoxState& state);
    ~BoxDiscovery() override;

    const char* Name() const override { return "discovery"; }
    bool Start(std::string& error) override;
    void Stop() override;

private:
    void Run();
    void Serve(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    void AnswerSearch(const sockaddr_in& from);
    void AnswerSetIp(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    // Sends one reply as the options say; false (logged) when it failed.
    bool SendReply(std::uint8_t type, const BoxIdentity& box, const sockaddr_in& from);
    // Waits the reply delay; false when a stop came first.
    bool Delay();

    const BoxOptions m_options;
    BoxState& m_state;
    int m_socket = -1;
    int m_wake = -1;  // eventfd that Stop signals
    std::thread m_thread;
};
