#include "cli/signal_watch.h"

#include "platform/stop_signals.h"

void BlockStopSignals()
{
    vindle::platform::BlockStopRequests();
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
    vindle::platform::InterruptStopWait(m_thread);
    m_thread.join();
}

void SignalWatch::Watch()
{
    int count = 0;
    while (true) {
        vindle::platform::WaitForStopRequest();
        if (m_stop.load())
            return;
        m_onSignal(++count);
    }
}
