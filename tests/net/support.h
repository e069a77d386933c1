// Helpers shared by the net/ tests: a free UDP port and an event counter.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "tests/common/wait.h"

namespace nettest {

// A UDP port that is free on every local address right now.
std::uint16_t FreeUdpPort();

// Network-order IPv4 address of dotted text.
std::uint32_t Ipv4(const char* pszDotted);

// Counts events and lets a test wait until a count is reached.
class Counter final
{
public:
    void Add()
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    int Get()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    bool WaitFor(int count, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

}  // namespace nettest
