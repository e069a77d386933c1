#pragma once
// The wait of one update command for the box's answer. The update thread
// arms it before sending, then waits up to an hour; the connection thread
// hands it the box's "ok" or "error", or tells it that the connection ended;
// the user-interface thread can cut it short when the operator quits. Unlike
// a bare wait inside the configuration client, every way out is an event,
// so nobody ever waits out the hour for an answer that cannot come.
//
// All members may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class CUpdateWait final
{
public:
    enum class Outcome
    {
        Answered,      // the box sent "ok" or "error" (see Status/Text)
        Disconnected,  // the connection ended; no answer can come
        Cancelled,     // the program is ending
        TimedOut,      // no answer within the wait
    };

    struct Result
    {
        Outcome outcome = Outcome::TimedOut;
        std::uint32_t status = 0;  // the SendCommand-style status: 0, or non-zero on failure
        std::string text;          // the box's error text (field slot 0), else empty
    };

    // Starts a new wait; an answer that arrives before Arm is ignored.
    void Arm();
    // The box's answer: status 0 for "ok", non-zero with the text for
    // "error". Ignored while not armed or once the wait has an outcome.
    void Answer(std::uint32_t status, std::string_view text);
    // The connection ended. Ignored while not armed.
    void ConnectionEnded();
    // Ends the current wait and every later one with Cancelled, unless an
    // answer is already there: the program is ending.
    void Cancel();
    // Whether an armed wait has no outcome yet.
    bool Waiting() const;

    // Waits until an outcome arrives or the timeout passes, then disarms.
    Result Wait(std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_bArmed = false;
    bool m_bDone = false;
    bool m_bCancelled = false;
    Result m_Result;
};
