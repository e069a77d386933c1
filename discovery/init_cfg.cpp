// The discovery endpoint: request sending and reply dispatch. OnReceive runs
// on the CUdp receive thread.

#include "discovery/init_cfg.h"

#include <span>

#include "net/core_output.h"

CInitCfg::CInitCfg(std::uint32_t dwAdapterAddr) : CInitCfg(dwAdapterAddr, CFG_DISCOVERY_PORT, UdpStart::Now)
{
}

CInitCfg::CInitCfg(std::uint32_t dwAdapterAddr, std::uint16_t wLocalPort, UdpStart start)
    : CUdp(dwAdapterAddr, wLocalPort, this, UdpStart::Deferred)
{
    // Before the first datagram can arrive: a burst of replies must find
    // the large buffer already in place.
    RaiseReceiveBuffer();
    if (start == UdpStart::Now)
        StartReceiving();
}

void CInitCfg::RaiseReceiveBuffer()
{
    if (m_Socket == INVALID_SOCKET)
        return;
    const int wanted = CFG_RECV_BUFFER_BYTES;
    const int granted = SocketSetReceiveBuffer(m_Socket, wanted);
    if (granted < wanted)
        Trace("receive buffer limited to %d bytes (raise net.core.rmem_max)\n", granted);
}

void CInitCfg::OnReceive(const std::uint8_t* pData, std::uint16_t wLength, const char*, std::uint16_t, void*)
{
    // Only the type byte is needed to turn a request away, whatever the
    // length.
    if (wLength >= 1 && (pData[0] & CFG_RSP_FLAG) == 0) {
        // A request: only a box serves those. Our own broadcasts come back
        // this way too.
        CoreOutputF(CoreStream::Out, "Invalid client msg %x received\n", pData[0]);
        return;
    }
    // Too short to hold ip and netmask: nothing in it can be read.
    const auto msg = DecodeInitCfgMsg(std::span(pData, wLength));
    if (!msg)
        return;
    // The MAC handed out points into the datagram itself, as callers expect.
    const std::uint8_t* pMac = pData + offsetof(InitCfgMsg, mac);
    switch (msg->type) {
    case CFG_SEARCH_RSP:
        OnSearchReply(msg->ip, msg->netmask, msg->gateway, pMac);
        break;
    case CFG_SET_IP_RSP:
        OnSetIpReply(msg->ip, msg->netmask, msg->gateway, pMac);
        break;
    default:
        // Replies this tool does not know are none of its business.
        break;
    }
}

void CInitCfg::OnSearchReply(std::uint32_t, std::uint32_t, std::uint32_t, const std::uint8_t*)
{
}

void CInitCfg::OnSetIpReply(std::uint32_t, std::uint32_t, std::uint32_t, const std::uint8_t*)
{
}

std::uint32_t SendInitCfgMsg(const std::uint8_t* pMac, CUdp* pEndpoint, std::uint8_t type, std::uint32_t ip,
                             std::uint32_t netmask, std::uint32_t gateway)
{
    if (pEndpoint == nullptr)
        return UDP_SEND_FAILED;
    const auto bytes = EncodeInitCfgMsg(type, pMac, ip, netmask, gateway);
    return pEndpoint->Send(CFG_BROADCAST_ADDR, CFG_DISCOVERY_PORT, bytes.data(),
                           static_cast<std::uint16_t>(bytes.size()));
}
