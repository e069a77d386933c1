#include "cli/signal_watch.h"

#include <csignal>

#include <pthread.h>

#include "net/stop_signals.h"

void BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatch::SignalWatch(std::function<void(int count)> onSignal) : m_onSignal(std::move(onSignal))
{
    // The wake-up at the end is one of the signals, aimed at the watch
    // thread: it must find them blocked there.
    BlockStopSignals();
    m_thread = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch()
{
    m_stop.store(true);
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
}

void SignalWatch::Watch()
{
    const sigset_t set = StopSignals();
    int count = 0;
    while (true) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (m_stop.load())
            return;
        m_onSignal(++count);
    }
}
