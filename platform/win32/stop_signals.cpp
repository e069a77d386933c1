// Windows side of the stop requests: a console control handler counts them
// and the waiting thread takes them one by one.
#include "platform/stop_signals.h"

#include <condition_variable>
#include <mutex>

#include <windows.h>

namespace vindle::platform {
namespace {

std::mutex g_lock;
std::condition_variable g_arrived;
int g_pending = 0;
// An interruption takes no request away from a later waiter.
bool g_interrupted = false;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
        {
            std::lock_guard lock(g_lock);
            ++g_pending;
        }
        g_arrived.notify_all();
        // NOTE: for CTRL_CLOSE_EVENT Windows ends the process when the
        // handler returns or after a few seconds, whichever is first.
        return TRUE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

void BlockStopRequests()
{
    static const bool installed = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    (void)installed;
}

void WaitForStopRequest()
{
    std::unique_lock lock(g_lock);
    g_arrived.wait(lock, [] { return g_pending > 0 || g_interrupted; });
    if (g_interrupted)
        g_interrupted = false;
    else
        --g_pending;
}

void InterruptStopWait(std::thread&)
{
    {
        std::lock_guard lock(g_lock);
        g_interrupted = true;
    }
    g_arrived.notify_all();
}

}  // namespace vindle::platform
