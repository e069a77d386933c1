// UDP endpoint: one socket bound to a local IPv4 address and port, with a
// worker thread that hands every datagram to the virtual OnReceive.
//
// Threads: OnReceive and the worker's traces run on the endpoint's worker;
// Send runs on the caller's thread, concurrently with receiving. A derived
// class that overrides OnReceive or Output follows the guard rule of
// thread.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/socket_api.h"
#include "net/thread.h"

inline constexpr std::uint32_t UDP_SEND_OK = 0;
inline constexpr std::uint32_t UDP_SEND_FAILED = 0x80000000;      // the socket refused the datagram
inline constexpr std::uint32_t UDP_SEND_UNRESOLVED = 0x80000001;  // host unknown or 0.0.0.0; nothing sent

inline constexpr std::size_t UDP_RECV_BUFFER_SIZE = 2048;

// When a CUdp constructor starts the receive worker.
enum class UdpStart
{
    Now,       // at the end of the CUdp constructor
    Deferred,  // when the derived constructor calls StartReceiving()
};

// What a local port of 0 means to a CUdp constructor.
enum class UdpPortZero
{
    SendOnly,   // nothing is bound and no worker runs
    Ephemeral,  // a port the system chooses is bound and received on
};

class CUdp : public CThread
{
public:
    // dwLocalAddr in network byte order (0 = every local address), wLocalPort
    // in host byte order. Port 0 makes a send-only endpoint: nothing is bound
    // and no worker runs. With a nonzero address the endpoint receives the
    // unicast and broadcast datagrams arriving on the interface that owns the
    // address, and its datagrams leave with that address as source.
    CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext);
    // The fourth argument is accepted for compatibility and ignored.
    CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext, const char* pszIgnored);
    // Stops the worker (if a derived class's guard has not done so) and
    // closes the socket.
    ~CUdp() override;

    // Socket library start and shutdown; nothing to do on POSIX. Init returns
    // 0 on success, 0xFFFFFFFF on failure; Exit returns 0.
    [[nodiscard]] static std::uint32_t Init();
    static std::uint32_t Exit();

    // IPv4 address of a host name or dotted text, network byte order; 0 when
    // it cannot be found. Dotted text is converted as is: an invalid one gives
    // 0xFFFFFFFF and "0.0.0.0" gives 0.
    static std::uint32_t Resolve(const char* pszHost);

    // Sends one datagram to host:wPort (host byte order). UDP_SEND_OK,
    // UDP_SEND_UNRESOLVED or UDP_SEND_FAILED.
    [[nodiscard]] std::uint32_t Send(const char* pszHost, std::uint16_t wPort, const std::uint8_t* pData,
                                     std::uint16_t wLength);

    // The port the endpoint receives on, host byte order (the one the
    // system chose for UdpPortZero::Ephemeral); 0 for a send-only endpoint.
    std::uint16_t GetLocalPort() const { return m_wLocalPort; }

    void OnThread() override;

    // One received datagram. pData points into m_RecvBuf and is overwritten
    // by the next datagram; pszFrom (dotted sender address) is valid during
    // the call only; wPort is in host byte order. Base version: nothing.
    virtual void OnReceive(const std::uint8_t* pData, std::uint16_t wLength, const char* pszFrom,
                           std::uint16_t wPort, void* pContext);

protected:
    // For derived classes that override OnReceive or Output. NOTE: a worker
    // started by the CUdp constructor already runs while the derived
    // constructor is still at work, and may call into the half-built object
    // (a data race on the virtual table at the least). A derived class passes
    // UdpStart::Deferred and calls StartReceiving() as the last step of its
    // own constructor instead.
    CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext, UdpStart start,
         UdpPortZero portZero = UdpPortZero::SendOnly);
    // Starts the receive worker of an endpoint with a nonzero port, unless it
    // runs already.
    void StartReceiving();

    SOCKET m_Socket = INVALID_SOCKET;
    std::uint8_t m_RecvBuf[UDP_RECV_BUFFER_SIZE];
    pollfd m_ReadSet{};
    timeval m_SelectTimeout{};
    std::uint32_t m_dwLocalAddr = 0;
    void* m_pContext = nullptr;

private:
    // Waits for a datagram; > 0 readable, < 0 stop request, no socket or failure.
    int WaitForDatagram();
    void ReceiveOne();

    // Nonzero when the socket is tied to the interface of m_dwLocalAddr, so
    // that sends must name m_dwLocalAddr as their source.
    int m_bDeviceBound = 0;
    // Nonzero while the socket has no local address because its bind failed;
    // only the worker reads or clears it once it runs.
    int m_bUnbound = 0;
    std::uint16_t m_wLocalPort = 0;
};
