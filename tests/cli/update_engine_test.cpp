// The update engine's rules against scripted boxes and a clock that never
// sleeps: retries and their growing pauses, errors, the failure limit,
// pre-flight, one and two cancels, wait-back and the byte count.

#include "cli/update_engine.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

BoxAnswer Ok()
{
    return {BoxOutcome::Answered, true, {}};
}
BoxAnswer Error(std::string text)
{
    return {BoxOutcome::Answered, false, std::move(text)};
}
BoxAnswer Ended(BoxOutcome outcome)
{
    return {outcome, false, {}};
}

std::uint32_t Ip(int last)
{
    return htonl(0x0A4D0000u | static_cast<std::uint32_t>(last));
}

// Time moves only when the engine pauses; every pause is recorded.
class FakeClock final : public EngineClock
{
public:
    std::chrono::steady_clock::time_point Now() const override { return m_now; }
    bool Pause(std::condition_variable&, std::unique_lock<std::mutex>& lock, std::chrono::milliseconds pause,
               const std::function<bool()>& stop) override
    {
        pauses.push_back(pause);
        m_now += pause;
        if (duringPause && !stop()) {
            // What other threads do while the engine waits.
            lock.unlock();
            duringPause();
            lock.lock();
        }
        return stop();
    }
    std::vector<std::chrono::milliseconds> pauses;
    std::function<void()> duringPause;

private:
    std::chrono::steady_clock::time_point m_now{};
};

// The boxes: per address a list of answers, one per attempt (the last one
// repeats). A Blocking answer waits until the session is cancelled.
constexpr BoxOutcome Blocking = static_cast<BoxOutcome>(99);

struct FakeFleet
{
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::uint32_t, std::vector<BoxAnswer>> answers;
    std::map<std::uint32_t, std::size_t> used;
    std::vector<std::string> commands;
    std::string firmware = "fw-1.0";
    int sessions = 0;
    int blocked = 0;
    std::function<void(std::uint32_t)> onCommand;

    BoxSessionFactory Factory();
};

class FakeSession final : public BoxSession
{
public:
    explicit FakeSession(FakeFleet& fleet) : m_fleet(fleet) {}
    bool Open(std::uint32_t ip, std::chrono::milliseconds) override
    {
        m_ip = ip;
        std::lock_guard lock(m_fleet.lock);
        m_info = {"box", "02-77-00-00-00-02", "10.77.0.2", "", "", m_fleet.firmware, "hw-1", "up", "echo-me"};
        return !m_cancelled;
    }
    std::vector<std::string> Info() const override { return m_info; }
    BoxAnswer Command(std::string_view command, std::chrono::milliseconds) override
    {
        if (m_fleet.onCommand)
            m_fleet.onCommand(m_ip);
        std::unique_lock lock(m_fleet.lock);
        m_fleet.commands.emplace_back(command);
        const auto& script = m_fleet.answers[m_ip];
        std::size_t& n = m_fleet.used[m_ip];
        const BoxAnswer answer = script.empty() ? Ok() : script[std::min(n, script.size() - 1)];
        ++n;
        if (answer.outcome != Blocking)
            return answer;
        ++m_fleet.blocked;
        m_fleet.changed.notify_all();
        m_fleet.changed.wait(lock, [this] { return m_cancelled; });
        return Ended(BoxOutcome::Cancelled);
    }
    void Cancel() override
    {
        std::lock_guard lock(m_fleet.lock);
        m_cancelled = true;
        m_fleet.changed.notify_all();
    }

private:
    FakeFleet& m_fleet;
    std::uint32_t m_ip = 0;
    std::vector<std::string> m_info;
    bool m_cancelled = false;
};

BoxSessionFactory FakeFleet::Factory()
{
    return [this] {
        std::lock_guard guard(lock);
        ++sessions;
        return std::make_unique<FakeSession>(*this);
    };
}

std::vector<BoxRecord> Boxes(int count)
{
    std::vector<BoxRecord> boxes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        boxes[static_cast<std::size_t>(i)].ip = Ip(2 + i);
    return boxes;
}

struct Harness
{
    FakeFleet fleet;
    FakeClock clock;
    UpdatePlan plan;
    EngineDeps deps;
    int aborts = 0;

    Harness()
    {
        plan.fileName = "fw.bin";
        plan.fileSize = 1000;
        plan.parallel = 1;
        // The scripted boxes fetch no file; the rules that judge the
        // served file have a test of their own.
        plan.trustBox = true;
        deps.sessions = fleet.Factory();
        deps.clock = &clock;
        deps.abortTransfers = [this] { ++aborts; };
    }
};

TEST(UpdateEngine, RetriesFailedAttemptsAfterDoublingPauses)
{
    Harness h;
    h.plan.retries = 3;
    h.fleet.answers[Ip(2)] = {Ended(BoxOutcome::Disconnected), Ended(BoxOutcome::NotSent),
                              Ended(BoxOutcome::TimedOut), Ok()};
    UpdateEngine engine(h.plan, h.deps, Boxes(1));
    engine.Run();
    const BoxRecord box = engine.Records()[0];
    EXPECT_EQ(box.result, BoxResultKind::Ok);
    EXPECT_EQ(box.attempts, 4u);
    EXPECT_EQ(h.clock.pauses, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s}));
    // The seconds count the pauses too: 1 + 2 + 4.
    EXPECT_DOUBLE_EQ(box.seconds, 7.0);
    // Every attempt echoes the box's ninth info field after the file name.
    ASSERT_EQ(h.fleet.commands.size(), 4u);
    EXPECT_EQ(h.fleet.commands[0], "appcfg cmd c=3 fw.bin echo-me");
    EXPECT_EQ(engine.ExitCode(), 0);
}

TEST(UpdateEngine, JudgesEachWayAnAttemptEnds)
{
    struct Row
    {
        const char* name;
        std::vector<BoxAnswer> answers;
        bool retryErrors;
        BoxResultKind result;
        std::string text;
        unsigned attempts;
    };
    const Row rows[] = {
        {"an error answer is final",
         {Error("Flash voll"), Ok()},
         false,
         BoxResultKind::BoxError,
         "Flash voll",
         1},
        {"an error is retried when asked", {Error("busy"), Ok()}, true, BoxResultKind::Ok, "ok", 2},
        {"retries run out", {Ended(BoxOutcome::TimedOut)}, false, BoxResultKind::Timeout, "timeout", 3},
        {"a lost connection",
         {Ended(BoxOutcome::Disconnected)},
         false,
         BoxResultKind::ConnectionLost,
         "connection lost",
         3},
        {"a cancelled wait is final",
         {Ended(BoxOutcome::Cancelled)},
         false,
         BoxResultKind::Cancelled,
         "cancelled",
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        h.plan.retries = 2;
        h.plan.retryErrors = row.retryErrors;
        h.fleet.answers[Ip(2)] = row.answers;
        UpdateEngine engine(h.plan, h.deps, Boxes(1));
        engine.Run();
        const BoxRecord box = engine.Records()[0];
        EXPECT_EQ(box.result, row.result);
        EXPECT_EQ(ResultText(box), row.text);
        EXPECT_EQ(box.attempts, row.attempts);
        EXPECT_EQ(engine.ExitCode(), row.result == BoxResultKind::Ok ? 0 : 1);
    }
}

TEST(UpdateEngine, StartsNoBoxAfterTheFailureLimitAndSkipsUnreachableOnes)
{
    Harness h;
    h.plan.maxFailures = 2;
    for (int i = 2; i < 8; ++i)
        h.fleet.answers[Ip(i)] = {Error("bad image")};
    // The second box is unreachable: judged before the start, and not a
    // failure of the update itself.
    h.deps.probe = [](const std::vector<std::uint32_t>& ips) {
        std::vector<bool> reachable(ips.size(), true);
        reachable[1] = false;
        return reachable;
    };
    UpdateEngine engine(h.plan, h.deps, Boxes(6));
    engine.Run();
    const auto boxes = engine.Records();
    const BoxResultKind expected[] = {BoxResultKind::BoxError,   BoxResultKind::Unreachable,
                                      BoxResultKind::BoxError,   BoxResultKind::NotStarted,
                                      BoxResultKind::NotStarted, BoxResultKind::NotStarted};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(boxes[i].result, expected[i]);
    }
    EXPECT_EQ(boxes[1].attempts, 0u);
    EXPECT_EQ(h.fleet.sessions, 2);
    EXPECT_EQ(engine.ExitCode(), 1);
}

TEST(UpdateEngine, FirstCancelLetsTheRunningBoxFinishAndStartsNoOther)
{
    Harness h;
    h.plan.retries = 3;
    UpdateEngine engine(h.plan, h.deps, Boxes(3));
    h.fleet.onCommand = [&](std::uint32_t) { engine.Cancel(); };
    engine.Run();
    const auto boxes = engine.Records();
    EXPECT_EQ(boxes[0].result, BoxResultKind::Ok);
    EXPECT_EQ(boxes[1].result, BoxResultKind::Cancelled);
    EXPECT_EQ(boxes[2].result, BoxResultKind::Cancelled);
    EXPECT_EQ(boxes[1].attempts, 0u);
    EXPECT_EQ(h.aborts, 0);
    EXPECT_EQ(engine.ExitCode(), 1);
}

TEST(UpdateEngine, FirstCancelEndsRetriesWithTheLastVerdict)
{
    Harness h;
    h.plan.retries = 5;
    h.fleet.answers[Ip(2)] = {Ended(BoxOutcome::TimedOut)};
    UpdateEngine engine(h.plan, h.deps, Boxes(1));
    h.fleet.onCommand = [&](std::uint32_t) { engine.Cancel(); };
    engine.Run();
    EXPECT_EQ(engine.Records()[0].result, BoxResultKind::Timeout);
    EXPECT_EQ(engine.Records()[0].attempts, 1u);
}

TEST(UpdateEngine, SecondCancelEndsRunningCommandsAndTransfers)
{
    Harness h;
    h.plan.parallel = 2;
    for (int i = 2; i < 5; ++i)
        h.fleet.answers[Ip(i)] = {Ended(Blocking)};
    UpdateEngine engine(h.plan, h.deps, Boxes(3));
    std::thread run([&] { engine.Run(); });
    {
        std::unique_lock lock(h.fleet.lock);
        ASSERT_TRUE(h.fleet.changed.wait_for(lock, 2s, [&] { return h.fleet.blocked == 2; }));
    }
    engine.Cancel();
    engine.Cancel();
    run.join();
    const auto boxes = engine.Records();
    EXPECT_EQ(boxes[0].result, BoxResultKind::Cancelled);
    EXPECT_EQ(boxes[1].result, BoxResultKind::Cancelled);
    EXPECT_EQ(boxes[2].result, BoxResultKind::Cancelled);
    EXPECT_EQ(boxes[2].attempts, 0u);
    EXPECT_EQ(h.aborts, 1);
}

TEST(UpdateEngine, WaitBackRecordsTheInfoAfterOrReportsABoxThatStaysAway)
{
    for (const bool comesBack : {true, false}) {
        SCOPED_TRACE(comesBack);
        Harness h;
        h.plan.waitBack = 10s;
        int searches = 0;
        h.deps.answersDiscovery = [&](std::uint32_t, std::chrono::milliseconds) {
            h.fleet.firmware = "fw-2.0";
            return comesBack && ++searches >= 3;
        };
        UpdateEngine engine(h.plan, h.deps, Boxes(1));
        engine.Run();
        const BoxRecord box = engine.Records()[0];
        ASSERT_GE(box.infoBefore.size(), 6u);
        EXPECT_EQ(box.infoBefore[5], "fw-1.0");
        if (comesBack) {
            EXPECT_EQ(box.result, BoxResultKind::Ok);
            ASSERT_GE(box.infoAfter.size(), 6u);
            EXPECT_EQ(box.infoAfter[5], "fw-2.0");
        } else {
            EXPECT_EQ(box.result, BoxResultKind::NotBack);
            EXPECT_TRUE(box.infoAfter.empty());
            EXPECT_EQ(engine.ExitCode(), 1);
        }
    }
}

TEST(UpdateEngine, CountsServedBytesPerClientOverEveryAttempt)
{
    Harness h;
    h.plan.parallel = 2;
    h.plan.retries = 1;
    h.fleet.answers[Ip(2)] = {Ended(BoxOutcome::Disconnected), Ok()};
    UpdateEngine* engine = nullptr;
    std::map<std::uint32_t, int> calls;
    h.fleet.onCommand = [&](std::uint32_t ip) {
        // Each transfer is reported while its box waits for the answer.
        if (ip == Ip(2)) {
            engine->OnFileEvent({FileServeEvent::Kind::Progress, ip, 400, 1000, -1, {}});
            if (calls[ip]++ == 0)
                engine->OnFileEvent({FileServeEvent::Kind::Failed, ip, 0, 1000, -1, "Timeout"});
            else
                engine->OnFileEvent({FileServeEvent::Kind::Finished, ip, 1000, 1000, -1, {}});
        }
        // Another client's events do not count for this box.
        engine->OnFileEvent({FileServeEvent::Kind::Finished, Ip(9), 1000, 1000, -1, {}});
    };
    UpdateEngine built(h.plan, h.deps, Boxes(1));
    engine = &built;
    built.Run();
    // 400 bytes of the failed transfer, then the whole file.
    EXPECT_EQ(built.Records()[0].bytesServed, 1400u);
    // The server may log a transfer's end after its box answered "ok".
    built.OnFileEvent({FileServeEvent::Kind::Finished, Ip(2), 1000, 1000, -1, {}});
    EXPECT_EQ(built.Records()[0].bytesServed, 2400u);
}

TEST(UpdateEngine, AttributesAShareWithoutClientToTheOnlyRunningBox)
{
    Harness h;
    UpdateEngine engine(h.plan, h.deps, Boxes(2));
    h.fleet.onCommand = [&](std::uint32_t) {
        engine.OnFileEvent({FileServeEvent::Kind::Progress, 0, 0, 0, 50, {}});
    };
    engine.Run();
    EXPECT_EQ(engine.Records()[0].bytesServed, 500u);
    EXPECT_EQ(engine.Records()[1].bytesServed, 500u);
}

TEST(UpdateEngine, AnOkCountsOnlyWithTheWholeFileServedToTheBox)
{
    using Kind = FileServeEvent::Kind;
    struct Row
    {
        const char* name;
        std::vector<FileServeEvent> beforeAnswer;
        std::vector<FileServeEvent> afterAnswer;  // while the engine waits for them
        bool trustBox;
        BoxResultKind result;
    };
    const FileServeEvent whole{Kind::Finished, Ip(2), 1000, 1000, 100, {}};
    const FileServeEvent half{Kind::Progress, Ip(2), 500, 1000, -1, {}};
    const FileServeEvent failed{Kind::Failed, Ip(2), 0, 1000, -1, "Timeout"};
    const FileServeEvent otherBox{Kind::Finished, Ip(9), 1000, 1000, 100, {}};
    const Row rows[] = {
        {"the box fetched the file", {half, whole}, {}, false, BoxResultKind::Ok},
        {"the server's end comes after the answer", {half}, {whole}, false, BoxResultKind::Ok},
        {"a failed fetch that was tried again", {failed, whole}, {}, false, BoxResultKind::Ok},
        {"nothing fetched", {}, {}, false, BoxResultKind::Unverified},
        {"only another box fetched", {otherBox}, {}, false, BoxResultKind::Unverified},
        {"half fetched", {half}, {}, false, BoxResultKind::Unverified},
        {"the fetch failed", {half, failed}, {whole}, false, BoxResultKind::Unverified},
        {"the operator takes the box's word", {}, {}, true, BoxResultKind::Ok},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        h.plan.trustBox = row.trustBox;
        h.plan.retries = 2;
        UpdateEngine engine(h.plan, h.deps, Boxes(1));
        h.fleet.onCommand = [&](std::uint32_t) {
            for (const FileServeEvent& event : row.beforeAnswer)
                engine.OnFileEvent(event);
        };
        h.clock.duringPause = [&] {
            for (const FileServeEvent& event : row.afterAnswer)
                engine.OnFileEvent(event);
        };
        engine.Run();
        const BoxRecord box = engine.Records()[0];
        EXPECT_EQ(box.result, row.result);
        EXPECT_EQ(box.attempts, 1u);
        EXPECT_EQ(engine.ExitCode(), row.result == BoxResultKind::Ok ? 0 : 1);
        if (row.result == BoxResultKind::Unverified) {
            EXPECT_EQ(ResultText(box), "unverified");
        }
    }
}

}  // namespace
