#pragma once
// Takes the core's console lines (net/core_output.h) for its lifetime, one
// text per stream, and lets a test wait for a text while workers write.
// A test that uses it links vindle_net.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

#include "net/core_output.h"
#include "tests/common/wait.h"

class CoreOutputCapture final
{
public:
    CoreOutputCapture()
    {
        SetCoreOutput([this](CoreStream stream, std::string_view text) {
            std::lock_guard lock(m_mutex);
            (stream == CoreStream::Out ? m_out : m_err).append(text);
            m_changed.notify_all();
        });
    }
    ~CoreOutputCapture() { Stop(); }
    CoreOutputCapture(const CoreOutputCapture&) = delete;
    CoreOutputCapture& operator=(const CoreOutputCapture&) = delete;

    // True once the stream's text contains `text`, false at the deadline.
    [[nodiscard]] bool WaitForText(std::string_view text, CoreStream stream = CoreStream::Out,
                                   std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        const std::string& captured = stream == CoreStream::Out ? m_out : m_err;
        return m_changed.wait_for(lock, timeout, [&] { return captured.find(text) != std::string::npos; });
    }
    // Gives the lines back to the default streams; returns what standard
    // output would have shown.
    std::string Stop()
    {
        SetCoreOutput({});
        return Out();
    }
    std::string Out()
    {
        std::lock_guard lock(m_mutex);
        return m_out;
    }
    std::string Err()
    {
        std::lock_guard lock(m_mutex);
        return m_err;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_out;
    std::string m_err;
};
