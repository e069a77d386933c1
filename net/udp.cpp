// UDP endpoint: socket set-up, the receive worker and sending.
#include "net/udp.h"

CUdp::CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext)
    : CUdp(dwLocalAddr, wLocalPort, pContext, UdpStart::Now)
{
}

CUdp::CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext, const char* /*pszIgnored*/)
    : CUdp(dwLocalAddr, wLocalPort, pContext, UdpStart::Now)
{
}

CUdp::CUdp(std::uint32_t dwLocalAddr, std::uint16_t wLocalPort, void* pContext, UdpStart start,
           UdpPortZero portZero)
    : m_dwLocalAddr(dwLocalAddr)
    , m_pContext(pContext)
    , m_wLocalPort(wLocalPort)
{
    m_ReadSet.fd = INVALID_SOCKET;
    m_SelectTimeout.tv_sec = 0;
    m_SelectTimeout.tv_usec = 10000;

    m_Socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (m_Socket == INVALID_SOCKET)
        Trace("socket rec failed\n");

    // Port 0: a send-only endpoint, sending from a port the system chooses.
    if (wLocalPort == 0 && portZero == UdpPortZero::SendOnly)
        return;

    const int on = 1;
    setsockopt(m_Socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (SocketBindUdpEndpoint(m_Socket, m_dwLocalAddr, wLocalPort, &m_bDeviceBound) != 0) {
        Trace(" bind failed");
        m_bUnbound = 1;
    } else if (wLocalPort == 0) {
        m_wLocalPort = SocketLocalPort(m_Socket);
    }

    if (start == UdpStart::Now)
        StartReceiving();
}

CUdp::~CUdp()
{
    Trace("CUdp::~CUdp\n");
    // A send-only endpoint never had a worker, and a derived destructor may
    // have stopped it already; only a worker that exists is stopped here.
    if (m_hThread.joinable() || m_bRunning)
        End(1);
    Trace("CUdp::~CUdp after End\n");
    if (m_Socket != INVALID_SOCKET) {
        closesocket(m_Socket);
        m_Socket = INVALID_SOCKET;
    }
}

void CUdp::StartReceiving()
{
    if (m_wLocalPort != 0 && !m_hThread.joinable())
        Begin(0);
}

std::uint32_t CUdp::Init()
{
    return 0;
}

std::uint32_t CUdp::Exit()
{
    return 0;
}

std::uint32_t CUdp::Resolve(const char* pszHost)
{
    if (pszHost == nullptr || *pszHost == '\0')
        return 0;

    // Anything above '9' makes it a host name. Compared as signed characters,
    // so bytes from 0x80 up do not count.
    bool bName = false;
    for (const char* p = pszHost; *p != '\0'; ++p)
        if (static_cast<signed char>(*p) > 0x39)
            bName = true;

    if (!bName)
        return inet_addr(pszHost);

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* pResult = nullptr;
    if (getaddrinfo(pszHost, nullptr, &hints, &pResult) != 0 || pResult == nullptr)
        return 0;
    std::uint32_t dwAddr = 0;
    if (pResult->ai_addr != nullptr && pResult->ai_family == AF_INET)
        dwAddr = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(pResult);
    return dwAddr;
}

std::uint32_t CUdp::Send(const char* pszHost, std::uint16_t wPort, const std::uint8_t* pData,
                         std::uint16_t wLength)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(wPort);
    to.sin_addr.s_addr = Resolve(pszHost);
    if (to.sin_addr.s_addr == 0)
        return UDP_SEND_UNRESOLVED;

    const std::uint32_t dwSource = m_bDeviceBound ? m_dwLocalAddr : 0;
    if (SocketSendFrom(m_Socket, dwSource, to, pData, wLength) < 0) {
        Trace("sendto failed\n");
        return UDP_SEND_FAILED;
    }
    return UDP_SEND_OK;
}

void CUdp::OnReceive(const std::uint8_t* /*pData*/, std::uint16_t /*wLength*/, const char* /*pszFrom*/,
                     std::uint16_t /*wPort*/, void* /*pContext*/)
{
}

void CUdp::OnThread()
{
    Trace("Thread started\n");
    while (m_bRunning) {
        const int result = WaitForDatagram();
        Trace("Select loop exit read sel: %d %d\n", result, static_cast<int>(m_bRunning));
        if (result < 0) {
            // Without a usable socket every wait fails at once; pausing for
            // one wait period keeps the worker from spinning a core until
            // the endpoint is destroyed.
            if (m_bRunning)
                Idle(static_cast<unsigned long>(TimeoutMilliseconds(m_SelectTimeout)));
            continue;
        }
        Trace("calling read\n");
        ReceiveOne();
    }
    Trace("Thread ended\n");
}

int CUdp::WaitForDatagram()
{
    int result = 0;
    while (result == 0) {
        const timeval timeout = m_SelectTimeout;
        if (m_Socket == INVALID_SOCKET || !m_bRunning)
            return -1;
        m_ReadSet.fd = m_Socket;
        m_ReadSet.events = POLLIN;
        if (m_bUnbound && !SocketIsBound(m_Socket)) {
            // NOTE: poll() merely times out on a datagram socket that has no
            // local address. Such a wait counts as failed, so that a failed
            // bind keeps showing in the traces ("select failed") until a
            // send gives the socket an address to receive on.
            result = -1;
        } else {
            m_bUnbound = 0;
            result = SocketWaitReadable(m_Socket, timeout);
        }
        if (result < 0)
            Trace("select failed\n");
    }
    return result;
}

void CUdp::ReceiveOne()
{
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // NOTE: Linux cuts an oversized datagram to the buffer without failing;
    // MSG_TRUNC makes it report the real length so that such a datagram is
    // dropped whole instead of delivered in part. (Windows fails such a
    // receive, with the same result.)
    const ssize_t received = ::recvfrom(m_Socket, m_RecvBuf, sizeof m_RecvBuf, SOCKET_RECV_TRUNC,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0 || static_cast<std::size_t>(received) > sizeof m_RecvBuf) {
        Trace("receive error\n");
        return;
    }

    char sender[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
    OnReceive(m_RecvBuf, static_cast<std::uint16_t>(received), sender, ntohs(from.sin_port), m_pContext);
}
