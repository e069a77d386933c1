#include "app/search_pacer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TimePoint = CSearchPacer::Clock::time_point;

// Feeds replies at the given times (ms) and fires the timer exactly when a
// trailing search is due; returns when searches started (ms).
std::vector<long> Searches(const std::vector<long>& replies)
{
    CSearchPacer pacer;
    std::vector<long> searches;
    const TimePoint t0{};
    const auto ms = [&](TimePoint t) { return static_cast<long>((t - t0) / 1ms); };
    std::size_t next = 0;
    for (;;) {
        const auto due = pacer.Due();
        const bool bReply = next < replies.size();
        if (!bReply && !due)
            break;
        if (bReply && (!due || t0 + std::chrono::milliseconds(replies[next]) < *due)) {
            const TimePoint at = t0 + std::chrono::milliseconds(replies[next++]);
            if (pacer.OnReply(at))
                searches.push_back(ms(at));
        } else if (pacer.OnTimer(*due)) {
            searches.push_back(ms(*due));
        }
    }
    return searches;
}

std::vector<long> Every(long step, long from, long to)
{
    std::vector<long> times;
    for (long t = from; t <= to; t += step)
        times.push_back(t);
    return times;
}

TEST(SearchPacer, RepliesStartAtMostOneSearchPerSecondAndTheLastStillLeadsToOne)
{
    struct Case
    {
        const char* name;
        std::vector<long> replies;
        std::vector<long> searches;
    };
    const Case cases[] = {
        {"one reply searches at once", {0}, {0}},
        {"replies a second apart each search at once", {0, 1000, 2500}, {0, 1000, 2500}},
        // The forged flood: 500 replies within a second.
        {"500 in a second: one at once, one trailing", Every(2, 0, 998), {0, 1000}},
        {"a steady flood: one per second", Every(10, 0, 3500), {0, 1000, 2000, 3000, 4000}},
        {"a reply right after the trailing search waits again", {0, 10, 1001}, {0, 1000, 2000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<long> searches = Searches(c.replies);
        EXPECT_EQ(searches, c.searches);
        for (std::size_t i = 1; i < searches.size(); ++i)
            EXPECT_GE(searches[i] - searches[i - 1], 1000);
    }
}

TEST(SearchPacer, ATimerThatFiresEarlyOrLateNeverAddsASearch)
{
    CSearchPacer pacer;
    const TimePoint t0{};
    ASSERT_TRUE(pacer.OnReply(t0));
    EXPECT_FALSE(pacer.OnTimer(t0 + 500ms)) << "nothing pending";
    ASSERT_FALSE(pacer.OnReply(t0 + 100ms));
    ASSERT_EQ(pacer.Due(), t0 + 1000ms);
    EXPECT_FALSE(pacer.OnTimer(t0 + 999ms)) << "early: armed again";
    EXPECT_EQ(pacer.Due(), t0 + 1000ms);
    // A reply that finds the timer late starts the pending search itself.
    EXPECT_TRUE(pacer.OnReply(t0 + 1200ms));
    EXPECT_FALSE(pacer.Due().has_value());
    EXPECT_FALSE(pacer.OnTimer(t0 + 1300ms));
}

}  // namespace
