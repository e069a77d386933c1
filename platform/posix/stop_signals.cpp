// POSIX side of the stop requests: SIGINT and SIGTERM, blocked in every
// thread and taken with sigwait.
#include "platform/stop_signals.h"

#include <csignal>

#include <pthread.h>

namespace vindle::platform {
namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void BlockStopRequests()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopRequest()
{
    const sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

void InterruptStopWait(std::thread& waiter)
{
    // The wake-up is one of the signals, aimed at the waiting thread.
    pthread_kill(waiter.native_handle(), SIGTERM);
}

}  // namespace vindle::platform
