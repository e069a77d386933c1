#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

// Runs fn(i) for every i below count on up to `parallel` threads.
template <typename Function>
void ForEachParallel(std::size_t count, std::size_t parallel, Function fn)
{
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < std::min(count, parallel); ++t)
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < count;)
                fn(i);
        });
    for (std::thread& thread : threads)
        thread.join();
}
