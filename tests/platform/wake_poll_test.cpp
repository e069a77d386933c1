// The wake handle and the readiness wait together, as a poll loop uses them:
// a wake from another thread ends the wait, a drained handle no longer does.
#include <thread>

#include <gtest/gtest.h>

#include "platform/poll.h"
#include "platform/wake.h"

using vindle::platform::kPollReadable;
using vindle::platform::PollHandles;
using vindle::platform::PollItem;
using vindle::platform::PollResult;
using vindle::platform::WakeHandle;

TEST(WakePoll, WakeFromAnotherThreadEndsTheWaitAndDrainResetsIt)
{
    WakeHandle wake;
    ASSERT_TRUE(wake.Valid());

    PollItem item{wake.PollHandle(), kPollReadable, 0};
    EXPECT_EQ(PollHandles(&item, 1, 0), PollResult::kTimeout);

    std::thread waker([&wake] { wake.Wake(); });
    // Without limit: only the wake can end this wait.
    PollResult result = PollHandles(&item, 1, -1);
    while (result == PollResult::kInterrupted)
        result = PollHandles(&item, 1, -1);
    waker.join();
    ASSERT_EQ(result, PollResult::kReady);
    EXPECT_EQ(item.ready & kPollReadable, kPollReadable);

    // Several wakes before one drain are one readiness.
    wake.Wake();
    wake.Drain();
    EXPECT_EQ(PollHandles(&item, 1, 0), PollResult::kTimeout);
    EXPECT_EQ(item.ready, 0);
}
