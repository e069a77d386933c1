// Helpers shared by the net/ tests: a free UDP port, a capture of the
// process's standard output that can be waited on, and an event counter.
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

// Redirects file descriptor 1 into a pipe for its lifetime. Test assertions
// must run after Stop() (or the destructor), or their output is captured.
class StdoutCapture final
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // True once the captured text contains `text`, false at the deadline.
    bool WaitForText(const std::string& text, std::chrono::milliseconds timeout = WAIT);
    // Restores standard output and returns everything captured.
    const std::string& Stop();

private:
    void Drain(int timeoutMs);

    int m_savedFd = -1;
    int m_readFd = -1;
    std::string m_text;
};

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
