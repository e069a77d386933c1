#pragma once
// A discovery endpoint that records every reply, for tests that feed
// CInitCfg by hand or run it against simulated boxes. Link
// vindle_discovery to use it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "discovery/init_cfg.h"
#include "tests/common/wait.h"

struct InitCfgReply
{
    char kind;  // 'S' search, 'I' set-IP
    std::uint32_t ip, netmask, gateway;
    std::vector<std::uint8_t> mac;
};

// Final, because its receive thread starts in the constructor: a class
// derived from it would still be incomplete while the thread already calls
// the callbacks.
class RecordingInitCfg final : public CInitCfg
{
public:
    // Port 0 neither binds nor receives: the test calls Feed instead.
    RecordingInitCfg(std::uint32_t dwAdapterAddr, std::uint16_t wPort)
        : CInitCfg(dwAdapterAddr, wPort, wPort == 0 ? UdpStart::Now : UdpStart::Deferred)
        , m_bReceiving(wPort != 0)
    {
        if (m_bReceiving)
            StartReceiving();
    }
    // Without a receive thread there is nothing to stop, and stopping it
    // anyway would complain on standard output.
    ~RecordingInitCfg() override
    {
        if (m_bReceiving)
            End(1);
    }

    void OnSearchReply(std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                       const std::uint8_t* pMac) override
    {
        Record({'S', ip, netmask, gateway, {pMac, pMac + 6}});
    }
    void OnSetIpReply(std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                      const std::uint8_t* pMac) override
    {
        Record({'I', ip, netmask, gateway, {pMac, pMac + 6}});
    }

    // Hands a datagram to the endpoint as its receive thread would: at the
    // start of the receive buffer, whose bytes beyond the length must not
    // be read as data. Only for an endpoint on port 0.
    void Feed(const std::vector<std::uint8_t>& datagram)
    {
        std::memset(m_RecvBuf, 0xEE, sizeof m_RecvBuf);
        if (!datagram.empty())
            std::memcpy(m_RecvBuf, datagram.data(), datagram.size());
        OnReceive(m_RecvBuf, static_cast<std::uint16_t>(datagram.size()), "10.77.0.2", 4000, this);
    }

    std::vector<InitCfgReply> Replies()
    {
        std::lock_guard lock(m_mutex);
        return m_replies;
    }
    // Waits until `count` replies have arrived; returns all of them.
    std::vector<InitCfgReply> WaitForReplies(std::size_t count, std::chrono::milliseconds timeout = WAIT)
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait_for(lock, timeout, [&] { return m_replies.size() >= count; });
        return m_replies;
    }
    // Replies so far after letting stragglers arrive for `settle`.
    std::vector<InitCfgReply> RepliesAfter(std::chrono::milliseconds settle)
    {
        std::unique_lock lock(m_mutex);
        m_arrived.wait_for(lock, settle, [] { return false; });
        return m_replies;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_replies.clear();
    }

private:
    void Record(InitCfgReply reply)
    {
        std::lock_guard lock(m_mutex);
        m_replies.push_back(std::move(reply));
        m_arrived.notify_all();
    }

    const bool m_bReceiving;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<InitCfgReply> m_replies;
};
