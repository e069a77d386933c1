// A CUdp that records what its worker hands up: datagrams and trace lines.
// Shared by the unit and the lab tests of the UDP endpoint.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/udp.h"

#include "support.h"

namespace nettest {

struct Datagram
{
    std::vector<std::uint8_t> data;
    std::string from;
    std::uint16_t port = 0;
    void* pContext = nullptr;
};

class RecordingUdp final : public CUdp
{
public:
    // Port 0: a port the system chooses (GetLocalPort).
    RecordingUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort = 0)
        : CUdp(dwLocalAddr, wLocalPort, &m_context, UdpStart::Deferred, UdpPortZero::Ephemeral)
    {
        StartReceiving();
    }
    ~RecordingUdp() override
    {
        if (m_hThread.joinable())
            End(1);
    }

    void* Context() { return &m_context; }

    long Output(const char* pszLine) override
    {
        std::lock_guard lock(m_mutex);
        m_traces.emplace_back(pszLine);
        m_changed.notify_all();
        return 0;
    }

    void OnReceive(const std::uint8_t* pData, std::uint16_t wLength, const char* pszFrom, std::uint16_t wPort,
                   void* pContext) override
    {
        std::lock_guard lock(m_mutex);
        m_datagrams.push_back({std::vector<std::uint8_t>(pData, pData + wLength), pszFrom, wPort, pContext});
        m_changed.notify_all();
    }

    bool WaitForDatagrams(std::size_t count, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_datagrams.size() >= count; });
    }

    // Waits for a datagram from the given dotted address; returns its index.
    std::optional<std::size_t> WaitForDatagramFrom(const std::string& from,
                                                   std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        std::optional<std::size_t> index;
        m_changed.wait_for(lock, timeout, [&] {
            for (std::size_t i = 0; i < m_datagrams.size(); ++i)
                if (m_datagrams[i].from == from) {
                    index = i;
                    return true;
                }
            return false;
        });
        return index;
    }

    bool WaitForTrace(const std::string& line, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const std::string& trace : m_traces)
                if (trace == line)
                    return true;
            return false;
        });
    }

    std::vector<Datagram> Datagrams()
    {
        std::lock_guard lock(m_mutex);
        return m_datagrams;
    }

    std::vector<std::string> Traces()
    {
        std::lock_guard lock(m_mutex);
        return m_traces;
    }

private:
    int m_context = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Datagram> m_datagrams;
    std::vector<std::string> m_traces;
};

}  // namespace nettest
