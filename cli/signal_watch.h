#pragma once
// Ctrl-C during an update: SIGINT and SIGTERM are taken on a thread of
// their own instead of by a handler, so that the reaction may lock and
// call into the engine.

#include <atomic>
#include <functional>
#include <thread>

// Blocks SIGINT and SIGTERM in the calling thread and so in every thread it
// starts afterwards: only SignalWatch takes them. Comes before the first
// thread of a run starts.
void BlockStopSignals();

// Calls onSignal with the count so far (1, 2, ...) for every SIGINT or
// SIGTERM while it lives; the first asks the run to finish, the second to
// end now. A signal that came before the watch started is taken at once.
class SignalWatch final
{
public:
    explicit SignalWatch(std::function<void(int count)> onSignal);
    // Wakes the watch and joins it; no call of onSignal runs afterwards.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    void Watch();

    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
