#pragma once
// CInitCfg: the tool's discovery endpoint. A UDP endpoint on (adapter
// address, CFG_DISCOVERY_PORT) that broadcasts search and set-IP requests and
// reports every box reply through OnSearchReply / OnSetIpReply.
//
// Threads: the callbacks run on the endpoint's receive thread, one datagram
// at a time; SendInitCfgMsg runs on the caller's thread and keeps no shared
// state. A class that overrides the callbacks starts receiving only when it
// is complete (see the protected constructor) and follows the guard rule of
// thread.h.

#include <cstdint>

#include "discovery/init_cfg_msg.h"
#include "net/udp.h"

// Bytes of socket receive buffer asked for, so that a search answered by many
// boxes at once (a thousand and more) loses no reply before the receive
// thread reads them. Each queued datagram costs the kernel far more than its
// 52 bytes.
inline constexpr int CFG_RECV_BUFFER_BYTES = 8 * 1024 * 1024;

class CInitCfg : public CUdp
{
public:
    // dwAdapterAddr: the chosen adapter's IPv4 address, network byte order.
    // Binds port CFG_DISCOVERY_PORT there and starts receiving at once.
    explicit CInitCfg(std::uint32_t dwAdapterAddr);

    // Handles one datagram (see the .cpp for the rules); runs on the receive
    // thread.
    void OnReceive(const std::uint8_t* pData, std::uint16_t wLength, const char* pszFrom, std::uint16_t wPort,
                   void* pContext) override;

    // A CFG_SEARCH_RSP / CFG_SET_IP_RSP arrived. Addresses in network byte
    // order; the gateway is 0 when the reply was shorter than 52 bytes. pMac
    // points at the 6 MAC bytes of the received datagram and is valid during
    // the call only. Every reply is reported, also a repeated one. The base
    // versions do nothing.
    virtual void OnSearchReply(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                               const std::uint8_t* pMac);
    virtual void OnSetIpReply(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                              const std::uint8_t* pMac);

protected:
    // For derived classes: a class that overrides the callbacks passes
    // UdpStart::Deferred and calls StartReceiving() at the end of its own
    // constructor, so that no reply reaches it half-built. wLocalPort is
    // CFG_DISCOVERY_PORT except in tests; port 0 makes an endpoint that
    // neither binds nor receives, whose OnReceive can be fed by hand.
    CInitCfg(std::uint32_t dwAdapterAddr, std::uint16_t wLocalPort, UdpStart start);

private:
    void RaiseReceiveBuffer();

    // Last: the receive thread stops before this object goes.
    CWorkerGuard m_StopGuard{*this};
};

// Broadcasts one 52-byte discovery request through pEndpoint to
// CFG_BROADCAST_ADDR:CFG_DISCOVERY_PORT. pMac is the target box's 6-byte MAC,
// or null for a search; ip, netmask and gateway (network byte order) go out
// unchanged. Returns the status of CUdp::Send: UDP_SEND_OK,
// UDP_SEND_UNRESOLVED or UDP_SEND_FAILED (also for a null endpoint).
[[nodiscard]] std::uint32_t SendInitCfgMsg(const std::uint8_t* pMac, CUdp* pEndpoint, std::uint8_t type,
                                           std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway);
