#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "ui/uiqueue.h"

TEST(UiQueue, RunsOnTheUiThreadInPostingOrder)
{
    CUiQueue queue;
    std::vector<int> seen;
    std::vector<bool> onUiThread;
    constexpr int COUNT = 500;
    std::thread worker([&] {
        for (int i = 0; i < COUNT; ++i)
            queue.Post([&, i] {
                seen.push_back(i);
                onUiThread.push_back(QThread::currentThread() == qApp->thread());
            });
    });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == COUNT; }, 2000));
    for (int i = 0; i < COUNT; ++i)
        ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(std::count(onUiThread.begin(), onUiThread.end(), true), COUNT);
}

TEST(UiQueue, KeepsEachWorkersOrderWhenSeveralPost)
{
    CUiQueue queue;
    std::vector<std::pair<int, int>> seen;
    constexpr int COUNT = 300;
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < COUNT; ++i)
                queue.Post([&, w, i] { seen.emplace_back(w, i); });
        });
    for (std::thread& t : workers)
        t.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 3 * COUNT; }, 2000));
    int next[3] = {0, 0, 0};
    for (const auto& [w, i] : seen) {
        ASSERT_EQ(i, next[w]);
        ++next[w];
    }
}

TEST(UiQueue, NothingRunsAfterClose)
{
    int nRuns = 0;
    {
        CUiQueue queue;
        std::thread worker([&] {
            for (int i = 0; i < 10; ++i)
                queue.Post([&] { ++nRuns; });
        });
        worker.join();
        // Posted but not yet run when the window closes its queue.
        queue.Close();
        EXPECT_FALSE(queue.IsOpen());
        EXPECT_FALSE(queue.Post([&] { ++nRuns; }));
        QApplication::processEvents();
    }
    QApplication::processEvents();
    EXPECT_EQ(nRuns, 0);
}

TEST(UiQueue, WorkerPostsWhileTheUiThreadWaitsForIt)
{
    // The user-interface thread waits for a worker (as for a command's
    // reply) while the worker reports to the user interface: posting must
    // not wait for the user-interface thread.
    CUiQueue queue;
    int nRuns = 0;
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            queue.Post([&] { ++nRuns; });
        done.set_value();
    });
    EXPECT_EQ(finished.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    worker.join();
    EXPECT_EQ(nRuns, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return nRuns == 100; }, 2000));
}

TEST(UiQueue, ClosingWhileAWorkerPostsIsSafe)
{
    std::atomic<bool> bStop{false};
    std::atomic<int> nPosted{0};
    int nRuns = 0;
    auto pQueue = std::make_unique<CUiQueue>();
    std::thread worker([&] {
        while (!bStop.load()) {
            if (pQueue->Post([&] { ++nRuns; }))
                ++nPosted;
            else
                std::this_thread::yield();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return nRuns > 50; }, 2000));
    pQueue->Close();
    const int nAtClose = nRuns;
    QApplication::processEvents();
    EXPECT_EQ(nRuns, nAtClose);
    bStop = true;
    worker.join();
    pQueue.reset();
    EXPECT_GE(nPosted.load(), nAtClose);
}
