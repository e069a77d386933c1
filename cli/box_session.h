#pragma once
// What vindlectl needs from a box's configuration service and from the
// update file server, as small interfaces. The update engine and the
// commands know only these; cfg_box_session.cpp and tftp_file_server.cpp
// adapt the core's client and server to them, and the engine's tests use
// fakes.

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

// A transfer event of the file server, by client address.
struct FileServeEvent
{
    enum class Kind
    {
        Progress,
        Finished,
        Failed,
    };
    Kind kind = Kind::Progress;
    // Network byte order; 0 when the server cannot tell which client it is
    // (then the one box whose transfer runs is meant).
    std::uint32_t client = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t fileSize = 0;
    // 0..100 when the server tells only the share sent (bytesSent is then
    // derived from the file's size), else -1.
    int percent = -1;
    std::string message;  // Failed: the report text
};

// Serves one file to the boxes while an update runs.
class UpdateFileServer
{
public:
    virtual ~UpdateFileServer() = default;
    // Serves the files of `folder` on (address, port 69) with transfer ports
    // from the range (both 0: any). Returns an empty string or the reason it
    // cannot serve.
    [[nodiscard]] virtual std::string Start(const std::string& folder, std::uint32_t address,
                                            std::uint16_t port, std::uint16_t portLow,
                                            std::uint16_t portHigh) = 0;
    // Called on transfer threads; set before Start.
    virtual void SetEventHandler(std::function<void(const FileServeEvent&)> handler) = 0;
    // Ends every running transfer: the boxes get a TFTP error.
    virtual void AbortTransfers() = 0;
    virtual void Stop() = 0;
};
