// Worker thread, auto-reset event and re-entrant mutex on the standard
// library's threads.
#include "net/thread.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <system_error>

#include "net/core_output.h"

namespace {

void WriteStdout(const char* pszText)
{
    CoreOutput(CoreStream::Out, pszText);
}

constexpr auto START_TIMEOUT = std::chrono::milliseconds(2000);

}  // namespace

void CEvent::Set()
{
    std::lock_guard lock(m_Mutex);
    m_bSignalled = true;
    m_Signal.notify_one();
}

void CEvent::Reset()
{
    std::lock_guard lock(m_Mutex);
    m_bSignalled = false;
}

void CEvent::Wait()
{
    std::unique_lock lock(m_Mutex);
    m_Signal.wait(lock, [this] { return m_bSignalled; });
    m_bSignalled = false;
}

bool CEvent::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_Mutex);
    if (!m_Signal.wait_for(lock, timeout, [this] { return m_bSignalled; }))
        return false;
    m_bSignalled = false;
    return true;
}

CThread::CThread() = default;

CThread::~CThread()
{
    if (m_bRunning) {
        // The derived parts are gone: only the base's empty OnThreadInitEnd
        // would run, so it is left out.
        RequestStop();
        m_hWakeEvent.Set();
        ReleaseWorker(true);
    } else if (m_hThread.joinable()) {
        // End(0) left the worker to finish its cycle by itself; the object
        // must outlive that cycle, so wait for it here.
        ReleaseWorker(true);
    }
}

void CThread::Begin(int bWaitForTrigger)
{
    if (m_hThread.joinable()) {
        RequestStop();
        // A previous worker still waiting for a trigger would keep us waiting
        // forever; wake it, and drop the signal once it is gone so the new
        // worker does not start with a stale trigger.
        m_hWakeEvent.Set();
        ReleaseWorker(false);
        m_hWakeEvent.Reset();
        if (m_hThread.joinable()) {
            // Called by the worker itself: it cannot wait for its own end,
            // so it cannot be replaced either.
            WriteStdout("upps start thread timeout\n");
            return;
        }
    }

    m_bRunning = 1;
    m_bWaitForTrigger = bWaitForTrigger;
    // A worker that started only after an earlier Begin gave up on it has
    // left its signal behind; it must not count for this one.
    m_hStartEvent.Reset();
    try {
        m_hThread = std::thread(&CThread::ThreadEntry, this);
    } catch (const std::system_error&) {
        // No worker: nothing will ever run or need stopping.
        m_bRunning = 0;
        WriteStdout("upps start thread timeout\n");
        return;
    }
    if (!m_hStartEvent.WaitFor(START_TIMEOUT))
        WriteStdout("upps start thread timeout\n");
}

void CThread::End(int bWait)
{
    RequestStop();
    OnThreadInitEnd();
    m_hWakeEvent.Set();
    if (bWait)
        ReleaseWorker(false);
}

void CThread::ThreadEntry(CThread* pThread)
{
    pThread->m_WorkerId = std::this_thread::get_id();
    pThread->m_hStartEvent.Set();
    // Nothing may escape a thread entry; the worker just ends.
    try {
        pThread->ThreadWorker();
    } catch (...) {
    }
}

void CThread::ThreadWorker()
{
    OnThreadStart();
    // The flag is tested before the wait, not after it: a worker woken by a
    // stop request runs one final cycle.
    while (m_bRunning) {
        if (m_bWaitForTrigger)
            m_hWakeEvent.Wait();
        OnThread();
    }
    OnThreadEnd();
}

void CThread::Trigger()
{
    m_hWakeEvent.Set();
}

int CThread::Self() const
{
    return m_WorkerId.load() == std::this_thread::get_id() ? 1 : 0;
}

int CThread::IsRunning() const
{
    return m_bRunning ? 1 : 0;
}

void CThread::StopWorkers()
{
    if (m_hThread.joinable() || m_bRunning)
        End(1);
}

CWorkerGuard::~CWorkerGuard()
{
    for (CThread* pWorker : m_Workers)
        pWorker->StopWorkers();
}

void CThread::OnThread()
{
    // A stop request only shortens the pause: the cycle still ends with its
    // line, so a stopped worker's final cycle is visible like every other.
    Idle(1000);
    WriteStdout("Thread running\n");
}

void CThread::OnThreadStart()
{
}

void CThread::OnThreadEnd()
{
}

void CThread::OnThreadInitEnd()
{
}

void CThread::Trace(const char* pszFormat, ...)
{
    char line[TRACE_LINE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(line, sizeof line, pszFormat, args);
    va_end(args);
    Output(line);
}

long CThread::Output(const char* /*pszLine*/)
{
    return 0;
}

int CThread::Idle(unsigned long dwMilliseconds)
{
    std::unique_lock lock(m_IdleMutex);
    return m_IdleWake.wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                               [this] { return !m_bRunning; })
               ? 0
               : 1;
}

void CThread::RequestStop()
{
    // Under the idle mutex so that a worker about to pause cannot miss it.
    std::lock_guard lock(m_IdleMutex);
    m_bRunning = 0;
    m_IdleWake.notify_all();
}

void CThread::ReleaseWorker(bool bDestroying)
{
    if (Self()) {
        // Waiting for ourselves would never end. The handle stays held, as
        // after End(0), so that the next Begin or the destructor, called from
        // another thread, waits for the end of this worker.
        WriteStdout("upps stop thread timeout\n");
        if (bDestroying)
            m_hThread.detach();
        return;
    }
    if (!m_hThread.joinable()) {
        // No worker to wait for (never started, or already released).
        WriteStdout("upps stop thread timeout\n");
        return;
    }
    m_hThread.join();
    m_WorkerId = std::thread::id();
}

unsigned long CMutex::Lock(unsigned long /*dwTimeout*/)
{
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(m_hMutex);
    m_Released.wait(lock, [&] { return m_dwDepth == 0 || m_Owner == self; });
    m_Owner = self;
    ++m_dwDepth;
    return 0;
}

CMutex::~CMutex()
{
    // A holder would go on to unlock memory that is gone.
    assert(m_dwDepth == 0 && "CMutex destroyed while held");
}

unsigned long CMutex::UnLock()
{
    std::lock_guard lock(m_hMutex);
    const bool bHeld = m_dwDepth != 0 && m_Owner == std::this_thread::get_id();
    // The caller's lock bookkeeping is wrong; in a release build the
    // refusal below keeps the real holder in possession.
    assert(bHeld && "CMutex unlocked by a thread that does not hold it");
    if (!bHeld)
        return 0;
    if (--m_dwDepth == 0) {
        m_Owner = std::thread::id();
        m_Released.notify_one();
    }
    return 1;
}
