#pragma once
// What vindlectl needs from a box's configuration service, as a small
// interface. The update engine and the commands know only this;
// core_services.cpp adapts the core's client to it, and the engine's tests
// use fakes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How a command wait ended.
enum class BoxOutcome
{
    Answered,      // "ok" or "error" arrived
    Disconnected,  // the connection ended first
    Cancelled,     // Cancel() from another thread
    TimedOut,      // no answer in time
    NotSent,       // no connection, not ready, or the send failed
};

struct BoxAnswer
{
    BoxOutcome outcome = BoxOutcome::NotSent;
    bool ok = false;   // Answered with "ok"
    std::string text;  // Answered with "error": the box's text
};

// One connection to one box's configuration service. Open, Command and Info
// run on the caller's thread; Cancel may come from any thread and ends a
// waiting Open or Command at once.
class BoxSession
{
public:
    virtual ~BoxSession() = default;
    // Connects to ip (network byte order) and waits for the box's "info".
    // False on refusal, timeout or cancel.
    [[nodiscard]] virtual bool Open(std::uint32_t ip, std::chrono::milliseconds timeout) = 0;
    // The fields of the last "info" message.
    virtual std::vector<std::string> Info() const = 0;
    [[nodiscard]] virtual BoxAnswer Command(std::string_view command, std::chrono::milliseconds timeout) = 0;
    virtual void Cancel() = 0;
};

using BoxSessionFactory = std::function<std::unique_ptr<BoxSession>()>;
