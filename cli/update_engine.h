#pragma once
// The fleet update: which box starts when, how often a failed attempt is
// retried and after what pause, when the run stops starting boxes, what a
// Ctrl-C does, and the record of every box for the report.
//
// The engine knows the boxes only through BoxSession and the time only
// through EngineClock, so its rules are tested with fakes and a clock that
// never sleeps. Threads: Run blocks its caller and runs up to `parallel`
// workers of its own, joined before it returns. Cancel and OnFileEvent may
// be called from any thread while Run runs; the observer is called on the
// workers and on the file server's threads, never under the engine's lock.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/box_session.h"
#include "cli/exit_codes.h"
#include "cli/fleet_defaults.h"
#include "cli/update_file_server.h"

enum class BoxResultKind
{
    NotStarted,  // the failure limit stopped new starts first
    Ok,
    BoxError,        // the box answered "error"; text in errorText
    Timeout,         // no answer in time
    ConnectionLost,  // the connection ended before the answer
    Unreachable,     // nothing answers on the configuration port
    NotBack,         // answered "ok" but did not come back in time
    Cancelled,
    Unverified,  // answered "ok" without the whole file served to it
};

// What the file server told of a box's transfers during one attempt.
enum class ServeSeen
{
    Nothing,
    Running,
    Whole,   // a transfer to the box ended with the whole file
    Broken,  // a transfer to the box failed and none ended whole
};

struct BoxRecord
{
    std::uint32_t ip = 0;  // network byte order
    std::string mac;       // as discovery or the box's info gave it
    BoxResultKind result = BoxResultKind::NotStarted;
    std::string errorText;  // BoxError
    unsigned attempts = 0;
    std::uint64_t bytesServed = 0;  // over every attempt
    double seconds = 0;             // from the first start to the verdict
    std::vector<std::string> infoBefore;
    std::vector<std::string> infoAfter;
    // Working state, not reported.
    std::uint64_t transferBase = 0;  // bytes of finished transfers
    std::uint64_t fileSize = 0;
    bool running = false;
    ServeSeen served = ServeSeen::Nothing;
};

// "ok", the box's own text, "timeout", "connection lost", ...
std::string ResultText(const BoxRecord& record);

// How far a Ctrl-C has gone.
enum class CancelLevel
{
    None,
    Finish,  // no new box or retry starts; running commands finish
    Now,     // running commands and transfers end now
};

struct UpdatePlan
{
    std::int32_t kind = 0;  // UpdateKind of config/cfg_commands.h
    std::string fileName;   // the bare name the box fetches
    std::uint64_t fileSize = 0;
    unsigned parallel = DEFAULT_PARALLEL;
    unsigned retries = 0;      // further attempts after a failed one
    unsigned maxFailures = 0;  // 0: no limit
    bool retryErrors = false;  // also retry an "error" answer
    // Take a box's "ok" without the file served to it (a box that fetches
    // from elsewhere).
    bool trustBox = false;
    // After "ok", how long the server's news of the transfer's end may lag.
    std::chrono::milliseconds serveGrace{5000};
    std::chrono::milliseconds connectTimeout{CONNECT_TIMEOUT};
    std::chrono::milliseconds commandTimeout{std::chrono::seconds(DEFAULT_ANSWER_TIMEOUT_S)};
    std::chrono::milliseconds firstPause{1000};  // before the first retry; doubles each time
    std::chrono::milliseconds maxPause{30000};
    std::chrono::milliseconds waitBack{0};  // 0: do not wait for the box to come back
    std::chrono::milliseconds waitBackPoll{1000};
};

class EngineClock
{
public:
    virtual ~EngineClock() = default;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
    // Waits on cv (lock held) until stop() holds or the pause has passed;
    // returns stop().
    virtual bool Pause(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       std::chrono::milliseconds pause, const std::function<bool()>& stop) = 0;
};

class SteadyEngineClock final : public EngineClock
{
public:
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
    bool Pause(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::chrono::milliseconds pause, const std::function<bool()>& stop) override
    {
        return cv.wait_for(lock, pause, stop);
    }
};

struct EngineEvent
{
    enum class Kind
    {
        Started,      // an attempt begins (record.attempts counts it)
        Retrying,     // an attempt failed; the next follows after `pause`
        Progress,     // bytes served changed
        WaitingBack,  // "ok" arrived; waiting for the box to return
        Finished,     // the verdict is in record.result
    };
    Kind kind = Kind::Started;
    std::size_t box = 0;                 // index into the records
    BoxRecord record;                    // a copy taken at the event
    std::chrono::milliseconds pause{0};  // Retrying
};

struct EngineDeps
{
    BoxSessionFactory sessions;
    // Pre-flight: which of the addresses answer on the configuration port;
    // unset means all do.
    std::function<std::vector<bool>(const std::vector<std::uint32_t>&)> probe;
    // Wait-back: whether the box at ip answers a search within the time;
    // unset means only the configuration service is checked.
    std::function<bool(std::uint32_t ip, std::chrono::milliseconds)> answersDiscovery;
    // Hard cancel: end every running transfer.
    std::function<void()> abortTransfers;
    std::function<void(const EngineEvent&)> observer;
    EngineClock* clock = nullptr;
};

class UpdateEngine final
{
public:
    UpdateEngine(UpdatePlan plan, EngineDeps deps, std::vector<BoxRecord> boxes);
    ~UpdateEngine();
    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;

    // Pre-flight, then every box, then returns. Call once.
    void Run();
    // First call: no new box or retry starts, running commands finish.
    // Second call: running commands and transfers end now (Cancelled).
    void Cancel();
    CancelLevel Cancellation() const { return m_cancelLevel.load(); }
    // A transfer event of the file server; any thread.
    void OnFileEvent(const FileServeEvent& event);

    std::vector<BoxRecord> Records() const;
    // EXIT_ALL_DONE when every box ended "ok", else EXIT_SOME_FAILED.
    int ExitCode() const;

private:
    void Worker();
    void UpdateBox(std::size_t index);
    // One attempt; true when the verdict is final.
    bool Attempt(std::size_t index, BoxSession& session);
    // After "ok": whether the whole file went to the box, or the operator
    // takes the box's word.
    bool ServedWhole(std::size_t index);
    void WaitBack(std::size_t index);
    bool Register(BoxSession* session);
    void Unregister(BoxSession* session);
    void Emit(EngineEvent::Kind kind, std::size_t index, std::chrono::milliseconds pause = {});
    bool MayStartBox() const;  // m_lock held

    const UpdatePlan m_plan;
    const EngineDeps m_deps;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<BoxRecord> m_boxes;
    std::vector<BoxSession*> m_sessions;  // live sessions, for a hard cancel
    std::size_t m_next = 0;
    unsigned m_failures = 0;
    std::atomic<CancelLevel> m_cancelLevel{CancelLevel::None};
};
