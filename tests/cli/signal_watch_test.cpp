// The watch takes every stop signal on its own thread, counting them, and
// its end needs no signal from outside: it never hangs a finished run.

#include "cli/signal_watch.h"

#include <csignal>

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/wait.h"

namespace {

TEST(SignalWatch, CountsStopSignalsAndEndsWhenDestroyed)
{
    BlockStopSignals();
    // One sent before the watch starts is taken too.
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    Latch first, second;
    std::atomic<int> calls{0};
    {
        SignalWatch watch([&](int count) {
            ++calls;
            (count == 1 ? first : second).CountDown();
        });
        ASSERT_TRUE(first.Wait());
        ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
        ASSERT_TRUE(second.Wait());
    }
    EXPECT_EQ(calls.load(), 2);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGINT));
    EXPECT_FALSE(sigismember(&pending, SIGTERM));
}

}  // namespace
