// CThread start/stop/trigger semantics, the auto-reset event and the
// re-entrant mutex.
#include "net/thread.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/core_output_capture.h"
#include "tests/common/wait.h"

using namespace std::chrono_literals;

namespace {

// Long enough for a cycle that should not happen to show up.
constexpr auto NOTHING_MORE = 200ms;

// True once thread `tid` of this process sleeps (blocked in a wait). The
// worker offers nothing to block on while it goes back to its trigger wait,
// so this looks at the kernel's view of it, with a deadline.
bool WaitUntilAsleep(pid_t tid)
{
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream stat(path);
        std::string line;
        std::getline(stat, line);
        // The state follows the parenthesised command name.
        const auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S')
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Records every hook; a cycle can be held inside OnThread until released.
class RecordingThread : public CThread
{
public:
    ~RecordingThread() override
    {
        if (m_hThread.joinable())
            End(1);
    }

    void OnThreadStart() override { starts.Add(); }
    void OnThreadEnd() override
    {
        cyclesAtEnd = cycles.Get();
        ends.Add();
    }
    void OnThreadInitEnd() override
    {
        initEndOnWorker = Self();
        initEnds.Add();
    }
    void OnThread() override
    {
        selfInCycle = Self();
        workerTid = ::gettid();
        if (holdCycles) {
            entered.Set();
            release.Wait();
        }
        cycles.Add();
    }

    Counter starts, cycles, ends, initEnds;
    std::atomic<int> cyclesAtEnd{-1};
    std::atomic<int> selfInCycle{-1};
    std::atomic<int> initEndOnWorker{-1};
    std::atomic<bool> holdCycles{false};
    std::atomic<pid_t> workerTid{0};
    CEvent entered;
    CEvent release;
};

}  // namespace

TEST(CThread, TriggerWorkerStoppedWhileWaitingRunsOneFinalCycle)
{
    RecordingThread worker;
    worker.Begin(1);
    worker.Trigger();
    ASSERT_TRUE(worker.cycles.WaitFor(1));
    ASSERT_TRUE(WaitUntilAsleep(worker.workerTid));
    // The worker is back in its wait; a stop request wakes it for exactly one
    // more cycle, because the flag is tested before the wait, not after it.
    worker.End(1);
    EXPECT_EQ(worker.cycles.Get(), 2);
    EXPECT_EQ(worker.cyclesAtEnd, 2);
    EXPECT_EQ(worker.ends.Get(), 1);
    EXPECT_EQ(worker.initEnds.Get(), 1);
    EXPECT_EQ(worker.initEndOnWorker, 0) << "OnThreadInitEnd runs on the stopping thread";
    EXPECT_EQ(worker.IsRunning(), 0);
}

TEST(CThread, WorkerStoppedInsideCycleFinishesItAndRunsNoOther)
{
    RecordingThread worker;
    worker.holdCycles = true;
    worker.Begin(1);
    worker.Trigger();
    ASSERT_TRUE(worker.entered.WaitFor(WAIT));

    std::thread stopper([&] { worker.End(1); });
    // End(1) has cleared the flag once OnThreadInitEnd ran; the worker is
    // still inside its cycle and End(1) must wait for it.
    ASSERT_TRUE(worker.initEnds.WaitFor(1));
    EXPECT_EQ(worker.ends.Get(), 0);
    worker.release.Set();
    stopper.join();

    EXPECT_EQ(worker.cycles.Get(), 1);
    EXPECT_EQ(worker.ends.Get(), 1);
}

TEST(CThread, TriggersWhileBusyAreRememberedAsOneCycle)
{
    RecordingThread worker;
    worker.holdCycles = true;
    worker.Begin(1);
    worker.Trigger();
    ASSERT_TRUE(worker.entered.WaitFor(WAIT));
    worker.Trigger();
    worker.Trigger();
    worker.holdCycles = false;
    worker.release.Set();

    ASSERT_TRUE(worker.cycles.WaitFor(2));
    EXPECT_FALSE(worker.cycles.WaitFor(3, NOTHING_MORE)) << "two triggers gave two cycles";
}

TEST(CThread, FreeRunningWorkerLoopsWithoutTriggers)
{
    RecordingThread worker;
    worker.Begin(0);
    EXPECT_TRUE(worker.cycles.WaitFor(5));
    EXPECT_EQ(worker.selfInCycle, 1);
    EXPECT_EQ(worker.Self(), 0);
    worker.End(1);
    EXPECT_EQ(worker.starts.Get(), 1);
    EXPECT_EQ(worker.ends.Get(), 1);
}

TEST(CThread, EndWithoutWaitReturnsAtOnceAndBeginReplacesTheWorker)
{
    RecordingThread worker;
    worker.holdCycles = true;
    worker.Begin(0);
    ASSERT_TRUE(worker.entered.WaitFor(WAIT));

    // The worker is held inside its cycle: End(0) must not wait for it.
    worker.End(0);
    EXPECT_EQ(worker.IsRunning(), 0);
    EXPECT_EQ(worker.ends.Get(), 0);
    worker.holdCycles = false;
    worker.release.Set();
    ASSERT_TRUE(worker.ends.WaitFor(1));

    worker.Begin(1);
    EXPECT_TRUE(worker.starts.WaitFor(2));
    EXPECT_EQ(worker.IsRunning(), 1);
    worker.Trigger();
    EXPECT_TRUE(worker.cycles.WaitFor(2));
    worker.End(1);
    EXPECT_EQ(worker.ends.Get(), 2);
}

TEST(CThread, BeginWithoutEndWakesTheOldTriggerWorkerInsteadOfHanging)
{
    RecordingThread worker;
    worker.Begin(1);
    ASSERT_TRUE(worker.starts.WaitFor(1));
    // The old worker waits for a trigger that nobody sends; Begin must not
    // wait for it forever.
    worker.Begin(1);
    EXPECT_EQ(worker.ends.Get(), 1);
    EXPECT_TRUE(worker.starts.WaitFor(2));
    // The wake-up meant for the old worker does not leak into the new one.
    const int cycles = worker.cycles.Get();
    EXPECT_FALSE(worker.cycles.WaitFor(cycles + 1, NOTHING_MORE));
    worker.Trigger();
    EXPECT_TRUE(worker.cycles.WaitFor(cycles + 1));
}

TEST(CThread, DestructorWaitsForWorkerLeftRunningByEndWithoutWait)
{
    auto* pWorker = new RecordingThread;
    pWorker->holdCycles = true;
    pWorker->Begin(0);
    ASSERT_TRUE(pWorker->entered.WaitFor(WAIT));
    pWorker->End(0);
    pWorker->release.Set();
    // Without the wait the worker would still use the object after delete;
    // the address sanitizer build turns that into a failure.
    delete pWorker;
}

TEST(CThread, BaseWorkerWritesThreadRunningOncePerSecond)
{
    // The base cycle, with a hook that only tells where the worker is.
    class BaseCycle final : public CThread
    {
    public:
        void OnThreadStart() override { workerTid = ::gettid(); }
        std::atomic<pid_t> workerTid{0};
    };

    CoreOutputCapture capture;
    const auto started = std::chrono::steady_clock::now();
    bool bWritten = false;
    bool bAsleep = false;
    {
        BaseCycle thread;
        thread.Begin(0);
        bWritten = capture.WaitForText("Thread running\n");
        // Asleep after a line means inside the next cycle's pause. A stop
        // that came between the line and that pause would end the loop
        // without another cycle, which is right but not what this checks.
        bAsleep = bWritten && WaitUntilAsleep(thread.workerTid);
        thread.End(1);
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string text = capture.Stop();
    ASSERT_TRUE(bWritten);
    ASSERT_TRUE(bAsleep);

    // Nothing but whole lines, and the cycle the stop cut short still ends
    // with its line, as it would have after the full second.
    std::size_t lines = 0;
    for (std::size_t at = 0; text.compare(at, 15, "Thread running\n") == 0; at += 15)
        ++lines;
    EXPECT_EQ(text.size(), lines * 15) << text;
    EXPECT_GE(lines, 2u) << text;
    // Every line before the last one waited out a whole second. A slow
    // machine only adds time, so this bound holds however busy it is; a
    // worker that paused less (or not at all) writes more lines than that.
    EXPECT_LE(std::chrono::seconds(lines - 1), elapsed) << text;
}

TEST(CThread, StopCutsAnIdlePauseShort)
{
    // A pause far longer than any test may take: only the stop can end it.
    class Pausing final : public CThread
    {
    public:
        ~Pausing() override
        {
            if (m_hThread.joinable())
                End(1);
        }
        void OnThread() override
        {
            entered.CountDown();
            pauseResult = Idle(60 * 1000);
        }
        Latch entered;
        std::atomic<int> pauseResult{-1};
    };

    Pausing thread;
    thread.Begin(0);
    ASSERT_TRUE(thread.entered.Wait());
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { thread.End(1); })) << "End(1) waited for the whole pause";
    EXPECT_EQ(thread.pauseResult, 0) << "Idle reports a pause ended by the stop";
}

TEST(CThread, BaseTriggerWorkerStoppedWhileWaitingWritesItsFinalCycle)
{
    // The base cycle, with a hook that only tells where the worker is.
    class BaseCycle final : public CThread
    {
    public:
        void OnThreadStart() override
        {
            workerTid = ::gettid();
            starts.Add();
        }
        std::atomic<pid_t> workerTid{0};
        Counter starts;
    };

    CoreOutputCapture capture;
    {
        BaseCycle thread;
        thread.Begin(1);
        ASSERT_TRUE(thread.starts.WaitFor(1));
        ASSERT_TRUE(WaitUntilAsleep(thread.workerTid));
        // The final cycle's pause ends at once (StopCutsAnIdlePauseShort).
        thread.End(1);
    }
    // The stop wakes the worker for exactly one more cycle.
    EXPECT_EQ(capture.Stop(), "Thread running\n");
}

TEST(CThread, StopMessagesOnlyWhenThereIsNothingToWaitFor)
{
    struct Case
    {
        const char* name;
        void (*run)();
        const char* expected;
    };
    const Case cases[] = {
        {"destroy never started", [] { CThread thread; }, ""},
        {"destroy after End(1)",
         [] {
             RecordingThread thread;
             thread.Begin(1);
             thread.End(1);
         },
         ""},
        {"End(1) without a worker",
         [] {
             CThread thread;
             thread.End(1);
         },
         "upps stop thread timeout\n"},
        {"End(1) twice",
         [] {
             RecordingThread thread;
             thread.Begin(1);
             thread.End(1);
             thread.End(1);
         },
         "upps stop thread timeout\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoreOutputCapture capture;
        c.run();
        EXPECT_EQ(capture.Stop(), c.expected);
    }
}

TEST(CEvent, AutoResetReleasesOneWaitPerSignal)
{
    CEvent event;
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(0ms)) << "two signals without a waiter count once";
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST(CMutex, IsReentrantAndFreeOnlyAfterAsManyUnlocks)
{
    CMutex mutex;
    EXPECT_EQ(mutex.Lock(0), 0UL);
    EXPECT_EQ(mutex.Lock(0), 0UL);

    std::atomic<bool> bAcquired{false};
    CEvent acquired;
    CEvent done;
    std::thread other([&] {
        mutex.Lock(0);
        bAcquired = true;
        acquired.Set();
        done.Wait();
        mutex.UnLock();
    });

    EXPECT_FALSE(acquired.WaitFor(NOTHING_MORE));
    EXPECT_NE(mutex.UnLock(), 0UL);
    EXPECT_FALSE(acquired.WaitFor(NOTHING_MORE)) << "free after one of two unlocks";
    EXPECT_NE(mutex.UnLock(), 0UL);
    EXPECT_TRUE(acquired.WaitFor(WAIT));
    EXPECT_TRUE(bAcquired);
    done.Set();
    other.join();
    EXPECT_EQ(mutex.Lock(0), 0UL);
    EXPECT_NE(mutex.UnLock(), 0UL);
}

#ifdef NDEBUG
// A release build refuses a misplaced unlock and leaves the real holder in
// possession.
TEST(CMutex, UnlockByNonHolderLeavesTheHolderInPossession)
{
    CMutex mutex;
    EXPECT_EQ(mutex.UnLock(), 0UL) << "unlock of a free mutex";
    mutex.Lock(0);
    unsigned long dwForeign = 1;
    std::thread([&] { dwForeign = mutex.UnLock(); }).join();
    EXPECT_EQ(dwForeign, 0UL);
    // Still held exactly once by this thread.
    EXPECT_NE(mutex.UnLock(), 0UL);
    EXPECT_EQ(mutex.UnLock(), 0UL);
}
#else
// Debug and sanitizer builds stop at the caller's fault instead of letting
// the lock bookkeeping drift.
TEST(CMutexDeathTest, MisuseStopsADebugBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case
    {
        const char* name;
        void (*misuse)();
        const char* message;
    };
    const Case cases[] = {
        {"unlock of a free mutex", [] { CMutex().UnLock(); }, "does not hold it"},
        {"unlock by another thread",
         [] {
             CMutex mutex;
             mutex.Lock(0);
             std::thread([&] { mutex.UnLock(); }).join();
             mutex.UnLock();
         },
         "does not hold it"},
        {"destroyed while held", [] { CMutex().Lock(0); }, "destroyed while held"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.misuse(), c.message);
    }
}
#endif

// The guard, declared last, stops the worker after the destructor body and
// before any member goes: the worker's last cycle and OnThreadEnd still find
// every member in place.
TEST(CWorkerGuard, StopsTheWorkerBeforeAnyMemberGoes)
{
    std::vector<std::string> order;
    std::mutex orderLock;
    auto record = [&](const char* what) {
        std::lock_guard lock(orderLock);
        order.push_back(what);
    };
    struct Member
    {
        std::function<void(const char*)> record;
        bool bAlive = true;
        ~Member()
        {
            bAlive = false;
            record("member gone");
        }
    };
    class Guarded final : public CThread
    {
    public:
        explicit Guarded(std::function<void(const char*)> record) : m_Member{std::move(record)} { Begin(1); }
        ~Guarded() override { m_Member.record("destructor body"); }
        void OnThread() override { m_bSawMember = m_bSawMember && m_Member.bAlive; }
        void OnThreadEnd() override { m_Member.record(m_bSawMember ? "worker ended" : "worker saw it gone"); }

    private:
        Member m_Member;
        bool m_bSawMember = true;
        CWorkerGuard m_StopGuard{*this};
    };
    {
        Guarded guarded(record);
        guarded.Trigger();
    }
    const std::vector<std::string> expected{"destructor body", "worker ended", "member gone"};
    EXPECT_EQ(order, expected);
}

TEST(CThread, WorkerThatStopsItselfIsWaitedForByItsOwner)
{
    class SelfStopping final : public CThread
    {
    public:
        ~SelfStopping() override
        {
            if (m_hThread.joinable())
                End(1);
        }
        void OnThread() override
        {
            // Cannot wait for its own end: reported, and left to the owner.
            End(1);
            Idle(50);
            stopped.Add();
        }
        void OnThreadEnd() override { ends.Add(); }
        Counter stopped, ends;
    };

    CoreOutputCapture capture;
    auto pWorker = std::make_unique<SelfStopping>();
    pWorker->Begin(0);
    const bool bStopped = pWorker->stopped.WaitFor(1);
    // The owner's End(1) still finds the worker and waits for its end.
    pWorker->End(1);
    const int ends = pWorker->ends.Get();
    pWorker.reset();
    const std::string text = capture.Stop();
    EXPECT_TRUE(bStopped);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(text, "upps stop thread timeout\n");
}
