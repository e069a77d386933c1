#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

#include <pthread.h>

// SIGINT and SIGTERM are blocked in every thread of an update run, so that
// only SignalWatch's sigtimedwait takes them. Threads inherit the mask, so
// this comes before the first thread starts.
inline void BlockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Takes SIGINT and SIGTERM on a thread of its own while an update runs: the
// first asks the engine to finish, the second to end now. A signal that
// came before the watch started is taken at once.
class SignalWatch final
{
public:
    explicit SignalWatch(std::function<void(int count)> onSignal) : m_onSignal(std::move(onSignal))
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        m_thread = std::thread([this] { Watch(); });
    }
    ~SignalWatch()
    {
        m_stop.store(true);
        m_thread.join();
    }

private:
    void Watch()
    {
        int count = 0;
        const timespec tick{0, 100'000'000};
        while (!m_stop.load()) {
            if (sigtimedwait(&m_set, nullptr, &tick) > 0)
                m_onSignal(++count);
        }
    }

    std::function<void(int)> m_onSignal;
    sigset_t m_set{};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
