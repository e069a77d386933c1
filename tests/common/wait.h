#pragma once
// Waiting in tests: the one deadline for an expected event, an event
// counter with the latch built on it, and a log of recorded events, both of which a test thread can wait
// on while other threads feed them. Every wait ends at a deadline, so a
// missing event fails the test instead of hanging it, and nothing here
// measures how fast anything happened: the suite runs on loaded machines
// and under the thread sanitizer.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The deadline for one expected event. Generous on purpose: waits end as
// soon as the event arrives, so only a failing test pays for it.
inline constexpr std::chrono::milliseconds WAIT{5000};

// The deadline for "this call returned at all": far beyond any delay the
// code has by design, so that it only trips on a hang.
inline constexpr std::chrono::milliseconds HANG_DEADLINE{20000};

// Counts events from any thread; a test waits until a count is reached.
class Counter
{
public:
    Counter() = default;
    Counter(const Counter&) = delete;
    Counter& operator=(const Counter&) = delete;

    void Add()
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    int Get()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    // True once `count` events were counted, false at the deadline.
    [[nodiscard]] bool WaitFor(int count, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// A counter that releases its waiters once `count` events came; more
// events change nothing.
class Latch final
{
public:
    explicit Latch(int count = 1) : m_target(count) {}

    void CountDown() { m_counter.Add(); }
    // True once the count was reached, false at the deadline.
    [[nodiscard]] bool Wait(std::chrono::milliseconds timeout = WAIT)
    {
        return m_counter.WaitFor(m_target, timeout);
    }
    [[nodiscard]] bool Done() { return m_counter.Get() >= m_target; }

private:
    Counter m_counter;
    const int m_target;
};

// Events as text, in the order they were recorded, from any thread.
class EventLog final
{
public:
    void Add(std::string event)
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
        m_changed.notify_all();
    }
    // True once `count` events equal to `event` were recorded.
    [[nodiscard]] bool WaitFor(std::string_view event, std::size_t count = 1,
                               std::chrono::milliseconds timeout = WAIT)
    {
        return WaitUntil([&] { return CountLocked(event, false) >= count; }, timeout);
    }
    // True once `count` events that start with `prefix` were recorded.
    [[nodiscard]] bool WaitForPrefix(std::string_view prefix, std::size_t count = 1,
                                     std::chrono::milliseconds timeout = WAIT)
    {
        return WaitUntil([&] { return CountLocked(prefix, true) >= count; }, timeout);
    }
    // True once at least `count` events of any kind were recorded.
    [[nodiscard]] bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = WAIT)
    {
        return WaitUntil([&] { return m_events.size() >= count; }, timeout);
    }
    std::vector<std::string> Events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    bool Saw(std::string_view prefix)
    {
        std::lock_guard lock(m_mutex);
        return CountLocked(prefix, true) > 0;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

private:
    template <typename Predicate>
    bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, predicate);
    }
    std::size_t CountLocked(std::string_view text, bool bPrefix) const
    {
        std::size_t n = 0;
        for (const std::string& e : m_events)
            n += (bPrefix ? std::string_view(e).substr(0, text.size()) == text : e == text) ? 1 : 0;
        return n;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// Runs `call` on a thread of its own; true when it returned before the
// deadline. For calls whose one fault worth catching is never returning:
// timing how fast they return would fail on a busy machine. When the call
// hangs for good, the test hangs in the join and the test runner's timeout
// ends it; a call that only ran late fails the test after it returns.
template <typename Call>
[[nodiscard]] bool ReturnsBefore(std::chrono::milliseconds deadline, Call call)
{
    Latch returned;
    std::thread caller([&] {
        call();
        returned.CountDown();
    });
    const bool bReturned = returned.Wait(deadline);
    caller.join();
    return bReturned;
}
