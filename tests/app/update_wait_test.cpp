#include "app/update_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/common/wait.h"

namespace
{

using namespace std::chrono_literals;
using Outcome = CUpdateWait::Outcome;

TEST(UpdateWait, EveryWayOutEndsTheWaitAtOnce)
{
    struct Case
    {
        const char* name;
        void (*finish)(CUpdateWait&);
        Outcome outcome;
        std::uint32_t status;
        const char* text;
    };
    const Case cases[] = {
        {"ok", [](CUpdateWait& w) { w.Answer(0, {}); }, Outcome::Answered, 0, ""},
        {"error keeps the box text",
         [](CUpdateWait& w) { w.Answer(0x80000000u, " no space left"); }, Outcome::Answered,
         0x80000000u, " no space left"},
        {"connection ended", [](CUpdateWait& w) { w.ConnectionEnded(); }, Outcome::Disconnected,
         0xFFFFFFFFu, ""},
        {"program ends", [](CUpdateWait& w) { w.Cancel(); }, Outcome::Cancelled, 0xFFFFFFFFu, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        CUpdateWait wait;
        wait.Arm();
        EXPECT_TRUE(wait.Waiting());
        std::thread other([&] { c.finish(wait); });
        // The hour-long wait of an update must end as soon as one of the
        // events arrives, not at its own timeout.
        CUpdateWait::Result result;
        EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { result = wait.Wait(std::chrono::hours(1)); }));
        other.join();
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.text, c.text);
        EXPECT_FALSE(wait.Waiting());
    }
}

TEST(UpdateWait, AnAnswerBeforeArmingBelongsToAnEarlierCommand)
{
    CUpdateWait wait;
    wait.Answer(0, {});
    wait.ConnectionEnded();
    wait.Arm();
    EXPECT_EQ(wait.Wait(20ms).outcome, Outcome::TimedOut);
}

TEST(UpdateWait, TheFirstOutcomeStands)
{
    CUpdateWait wait;
    wait.Arm();
    wait.Answer(0x80000000u, "first");
    wait.Answer(0, {});
    wait.ConnectionEnded();
    wait.Cancel();
    const CUpdateWait::Result result = wait.Wait(20ms);
    EXPECT_EQ(result.outcome, Outcome::Answered);
    EXPECT_EQ(result.text, "first");
}

TEST(UpdateWait, ACancelBeforeTheWaitStartsStillEndsIt)
{
    // The operator may quit between the start of an update and the moment its
    // thread begins to wait.
    CUpdateWait wait;
    wait.Cancel();
    wait.Arm();
    EXPECT_FALSE(wait.Waiting());
    EXPECT_EQ(wait.Wait(2000ms).outcome, Outcome::Cancelled);
}

TEST(UpdateWait, NoOutcomeWithinTheTimeIsATimeout)
{
    CUpdateWait wait;
    wait.Arm();
    const CUpdateWait::Result result = wait.Wait(30ms);
    EXPECT_EQ(result.outcome, Outcome::TimedOut);
    EXPECT_NE(result.status, 0u);
}

}  // namespace
