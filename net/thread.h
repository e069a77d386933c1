// Worker threads and locks of the networking foundation.
//
// CThread owns one worker thread that calls the virtual OnThread() again and
// again until it is asked to stop; the endpoint classes (CUdp, CTcp,
// CTcpConnection) derive from it and trace through its Trace and Output.
// CEvent is the auto-reset event the thread and the endpoints wait on,
// CMutex the re-entrant lock that CTcp guards its connection list with.
//
// Threading contract: Begin, End, StopWorkers and destruction are called by
// the owner's thread (never two of them at once, never by the worker itself);
// Trigger, IsRunning and Self may be called from any thread.
//
// The guard rule: a class whose workers call into it (it overrides their
// callbacks or Output) declares a CWorkerGuard naming itself as its last
// member, so that the workers stop before any part of it goes and never run
// on a half-destroyed object.
//
// NOTE: the same holds at the other end of the object's life. A worker that
// Begin starts inside a base-class constructor already runs while the derived
// constructors are still at work and may call into the half-built object (at
// the least a data race on the virtual table). Classes meant as bases
// therefore let the most derived constructor start the worker (CUdp offers
// UdpStart::Deferred for that).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Size of the buffer a trace line is formatted into, terminating zero
// included; longer lines are cut.
inline constexpr std::size_t TRACE_LINE_SIZE = 256;

// Auto-reset event: Set() lets exactly one Wait() pass; any number of Set()
// calls while nobody waits are remembered as one.
class CEvent final
{
public:
    CEvent() = default;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    void Wait();
    // Returns true when the event was signalled within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    std::mutex m_Mutex;
    std::condition_variable m_Signal;
    bool m_bSignalled = false;
};

class CThread
{
public:
    CThread();
    // Stops a worker that is still running (only the base hooks run by then)
    // and waits for a worker that End(0) left to finish by itself.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the worker. A nonzero bWaitForTrigger makes every cycle wait for
    // Trigger() (or a stop request) first. A previous worker is stopped and
    // waited for. Failures are only reported on standard output.
    void Begin(int bWaitForTrigger);
    // Asks the worker to stop: clears m_bRunning, calls OnThreadInitEnd() on
    // the calling thread and wakes the worker. With a nonzero bWait also waits
    // for the worker to end and releases it.
    void End(int bWait);
    // The body of the worker thread; only the thread entry calls it.
    void ThreadWorker();
    // Lets a worker that waits for triggers run one more cycle.
    void Trigger();
    // 1 when called on this object's worker thread, else 0.
    int Self() const;
    // 1 while the worker is to keep looping, else 0.
    int IsRunning() const;
    // Stops the worker and every thread it runs, and waits for them; does
    // nothing when none runs. The base version is End(1) on a started
    // worker; classes that own more threads extend it.
    virtual void StopWorkers();

    // One cycle of the worker loop. The base version pauses a second (less
    // when a stop request arrives) and writes "Thread running\n" to standard
    // output.
    virtual void OnThread();
    // Once on the worker before the first cycle.
    virtual void OnThreadStart();
    // Once on the worker after the last cycle.
    virtual void OnThreadEnd();
    // On the stopping thread at the moment of the stop request, possibly
    // while the worker is inside a cycle (used to cut a blocking wait short).
    virtual void OnThreadInitEnd();

    // printf-style diagnostic line handed to Output, cut to fit
    // TRACE_LINE_SIZE. Callable from any thread.
    void Trace(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    // Trace sink; the base version discards the line and returns 0.
    virtual long Output(const char* pszLine);

protected:
    // Pauses the calling worker for up to dwMilliseconds, but returns early
    // when a stop request arrives. Returns 1 when the whole pause elapsed, 0
    // when it was cut short by End or destruction.
    int Idle(unsigned long dwMilliseconds);

    std::thread m_hThread;
    CEvent m_hStartEvent;
    CEvent m_hWakeEvent;
    // Read by the worker once per cycle, written by the controlling thread.
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_bWaitForTrigger{0};

private:
    static void ThreadEntry(CThread* pThread);
    void RequestStop();
    // Waits for the worker to end and releases it. bDestroying: called by the
    // destructor, which cannot leave the handle held.
    void ReleaseWorker(bool bDestroying);

    std::atomic<std::thread::id> m_WorkerId{};
    // Lets Idle() notice a stop request at once.
    std::mutex m_IdleMutex;
    std::condition_variable m_IdleWake;
};

// Stops workers at the very start of an object's destruction. Declared as
// the last member of the most derived class, it goes right after that
// class's destructor body and before every other member and every base, so
// no callback of the workers reaches a half-destroyed object, and no
// destructor has to remember to stop them by hand. Calls StopWorkers on each
// named object, in the given order.
class CWorkerGuard final
{
public:
    template <class... Workers>
    explicit CWorkerGuard(Workers&... workers) : m_Workers{static_cast<CThread*>(&workers)...}
    {
    }
    ~CWorkerGuard();
    CWorkerGuard(const CWorkerGuard&) = delete;
    CWorkerGuard& operator=(const CWorkerGuard&) = delete;

private:
    std::vector<CThread*> m_Workers;
};

// Re-entrant mutex: the holder may lock it again and unlocks it once per lock.
// Unlocking a mutex the calling thread does not hold, or destroying a held
// one, is a fault in the caller: builds without NDEBUG (debug and sanitizer
// builds) stop at it with an assertion.
class CMutex final
{
public:
    CMutex() = default;
    ~CMutex();
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    // Waits without time limit until the calling thread holds the mutex.
    // Returns 0 (acquired); the argument has no effect.
    unsigned long Lock(unsigned long dwTimeout = 0);
    // Releases one lock of the calling thread. Returns nonzero on success,
    // 0 when the caller does not hold the mutex (nothing changes then; a
    // build without NDEBUG asserts instead).
    unsigned long UnLock();

private:
    std::mutex m_hMutex;
    std::condition_variable m_Released;
    std::thread::id m_Owner{};
    std::uint32_t m_dwDepth = 0;
};

// Scoped lock of a CMutex.
class CMutexLocker final
{
public:
    explicit CMutexLocker(CMutex& mutex) : m_Mutex(mutex) { m_Mutex.Lock(); }
    ~CMutexLocker() { m_Mutex.UnLock(); }
    CMutexLocker(const CMutexLocker&) = delete;
    CMutexLocker& operator=(const CMutexLocker&) = delete;

private:
    CMutex& m_Mutex;
};

// Declared companion of CMutex; nothing in the system creates, takes or
// releases one.
class CSema final
{
public:
    CSema& operator=(const CSema&) = default;

private:
    [[maybe_unused]] void* m_hSema = nullptr;
};
