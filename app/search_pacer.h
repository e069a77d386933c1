#pragma once
// Paces the searches that set-IP replies start. A box answers a set-IP
// request once, but anyone on the segment can forge replies, and each one
// used to broadcast a new search: a flood of replies became a flood of
// broadcasts. Now the first reply starts a search at once, and replies
// within a second of the last search so started are folded into one
// trailing search a second after it, so the last reply of a burst still
// leads to a fresh list. At most one search per second comes from replies.
//
// Pure: the caller passes the time and runs the timer for Due(). One thread
// (the user-interface thread).

#include <chrono>
#include <optional>

class CSearchPacer final
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds INTERVAL{1000};

    // A set-IP reply arrived at now. True: start a search now. False: a
    // trailing search is due at Due().
    [[nodiscard]] bool OnReply(Clock::time_point now);
    // The timer for Due() fired at now. True: start the trailing search now.
    // False: nothing is pending, or the timer fired early (arm it again for
    // Due()).
    [[nodiscard]] bool OnTimer(Clock::time_point now);
    // When the trailing search is due; nullopt when none is pending.
    std::optional<Clock::time_point> Due() const;

private:
    std::optional<Clock::time_point> m_LastSearch;
    bool m_bPending = false;
};
