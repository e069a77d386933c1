// TCP endpoint and connections; see tcp.h for the threading contract.

#include "net/tcp.h"

#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include "net/udp.h"

namespace {

// The trace texts print object addresses with %x; the low 32 bits identify an
// object well enough in a trace.
unsigned Hex(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

// One readiness wait: > 0 ready (also on a pending error or hang-up, so that
// the following call reports it), 0 timeout, < 0 failure.
int WaitFor(pollfd& fd, SOCKET socket, short events, int timeoutMs)
{
    fd.fd = socket;
    fd.events = events;
    fd.revents = 0;
    const int result = ::poll(&fd, 1, timeoutMs);
    if (result < 0 && SocketLastError() == SOCKET_EINTR) {
        return 0;
    }
    if (result > 0 && (fd.revents & POLLNVAL) != 0) {
        SocketSetLastError(SOCKET_EBADF);
        return -1;
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------- CTcpConnection

CTcpConnection::CTcpConnection(Key, CTcp* pOwner, std::uint32_t dwFlags, const sockaddr_in& addr,
                               SOCKET listenSocket)
    : m_pCTcp(pOwner)
    , m_dwFlags(dwFlags)
    , m_Addr(addr)
    , m_ListenSocket(listenSocket)
{
    Trace("CTcpConnection()  (%x %x)...\n", Hex(this), Hex(pOwner));
}

CTcpConnection::~CTcpConnection()
{
    Trace("~CTcpConnection() (%x %x)...\n", Hex(this), Hex(m_pCTcp));
    End(1);
    // The thread has ended and nobody may use the object any more (the owner
    // deletes it only after TCP_DISCONNECT_IND or in StopAll), so the socket
    // can be closed without another thread still holding its number.
    if (const SOCKET socket = m_Socket.exchange(INVALID_SOCKET); socket != INVALID_SOCKET) {
        const int result = closesocket(socket);
        Trace("close activesock %d\n", result);
    }
}

long CTcpConnection::Output(const char* pszLine)
{
    return m_pCTcp->Output(pszLine);
}

void CTcpConnection::SetContext(void* pContext)
{
    m_pContext = pContext;
    Trace("CTcpConnection::SetContext(%x) (%x %x)\n", Hex(pContext), Hex(this), Hex(m_pCTcp));
}

void CTcpConnection::OnThreadStart()
{
    Trace("CTcpConnection::OnThreadStart() (%x %x)\n", Hex(this), Hex(m_pCTcp));
}

void CTcpConnection::OnThreadEnd()
{
    Trace("CTcpConnection::OnThreadEnd() (%x %x)\n", Hex(this), Hex(m_pCTcp));
}

void CTcpConnection::OnThreadInitEnd()
{
    const SOCKET socket = m_Socket.load();
    Trace("CTcpConnection::OnThreadInitEnd() (%x %x) m_Socket=%x...\n", Hex(this), Hex(m_pCTcp),
          static_cast<unsigned>(socket));
    // Only shut down here: the thread may still be inside a receive or a
    // send may be under way on another thread, and a closed socket's number
    // can be handed out again at once. The destructor closes it.
    if (socket != INVALID_SOCKET) {
        ::shutdown(socket, SD_BOTH);
    }
    Trace("CTcpConnection::OnThreadInitEnd() exit (%x %x)\n", Hex(this), Hex(m_pCTcp));
}

void CTcpConnection::Indicate(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength)
{
    // A stopping endpoint may already be half destroyed: only its own
    // (empty) handling applies then, so nothing is delivered.
    if (!m_pCTcp->IsStopping()) {
        m_pCTcp->OnReceive(wMsg, data, wLength, 0, m_pContext.load(), this);
    }
}

void CTcpConnection::OnThread()
{
    CTcp* pOwner = m_pCTcp;
    Trace("CTcpConnection::OnThread() (%x %x)...\n", Hex(this), Hex(pOwner));

    if (m_dwState == TCP_STATE_DISCONNECTED) {
        // A finished connection idles like a plain worker until the reaper
        // deletes it; the reaper's stop only shortens the pause, the line
        // still follows.
        CThread::OnThread();
        Trace("CTcpConnection::OnThread() (%x %x) exit (m_dwState = TCP_STATE_DISCONNECTED)\n", Hex(this),
              Hex(pOwner));
        return;
    }

    char szPeer[INET_ADDRSTRLEN] = "";
    std::uint16_t wPeerPort = 0;
    bool bEstablished = false;
    if ((m_dwFlags & TCP_ROLE_SERVER) != 0) {
        bEstablished = AcceptClient(szPeer, sizeof szPeer, wPeerPort);
    } else if ((m_dwFlags & TCP_ROLE_CLIENT) != 0) {
        bEstablished = ConnectToServer();
    } else {
        bEstablished = m_Socket != INVALID_SOCKET;
    }

    if (bEstablished) {
        if ((m_dwFlags & TCP_OPT_NODELAY) != 0) {
            const int on = 1;
            ::setsockopt(m_Socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        Trace("connection established\n");
        m_dwState = TCP_STATE_CONNECTED;
        Indicate(TCP_CONNECT_IND, reinterpret_cast<std::uintptr_t>(szPeer), wPeerPort);
        ReceiveLoop();
    }

    m_bEnding = 1;
    Indicate(TCP_DISCONNECT_IND, 0, 0);
    Trace("server connection cancelled ( %x )\n", Hex(this));
    m_dwState = TCP_STATE_DISCONNECTED;
    {
        // m_bEnding makes a waiting Send give up, so this wait is short.
        std::unique_lock callsDone(m_CallGuard);
    }
    m_bDone = 1;
    pOwner->Trigger();
    Trace("CTcpConnection::OnThread() (%x %x) regular exit\n", Hex(this), Hex(pOwner));
}

bool CTcpConnection::AcceptClient(char* pszPeer, std::size_t peerSize, std::uint16_t& wPeerPort)
{
    int result = 0;
    while (result == 0) {
        if (m_ListenSocket == INVALID_SOCKET || !IsRunning()) {
            result = -1;
            break;
        }
        result = WaitFor(m_ReadSet, m_ListenSocket, POLLIN, TimeoutMilliseconds(m_SelectTimeout));
        if (result < 0) {
            Trace("select failed %s\n", std::strerror(SocketLastError()));
        } else if (result > 0 && (m_ReadSet.revents & POLLIN) == 0) {
            // Error or hang-up without a client: a listening socket that was
            // shut down by the endpoint's stop.
            result = -1;
        }
    }
    Trace("Select loop exit\n");
    if (result < 0) {
        return false;
    }

    sockaddr_in peer{};
    const SOCKET socket = SocketAccept(m_ListenSocket, peer);
    if (socket == INVALID_SOCKET) {
        Trace("accept error %d\n", SocketLastError());
        return false;
    }
    m_Socket = socket;
    ::inet_ntop(AF_INET, &peer.sin_addr, pszPeer, static_cast<socklen_t>(peerSize));
    wPeerPort = ntohs(peer.sin_port);

    // The successor takes over the waiting for the next client.
    m_pCTcp->CreateConnection(m_pCTcp->m_dwFlags | m_dwFlags, m_Addr, m_ListenSocket);
    return true;
}

bool CTcpConnection::ConnectToServer()
{
    const SOCKET socket = SocketOpen(SOCK_STREAM, true);
    if (socket == INVALID_SOCKET) {
        Trace("socket error %d\n", SocketLastError());
        return false;
    }
    m_Socket = socket;

    // NOTE: Linux takes a connect to address 0 (what Resolve gives for a name
    // it cannot resolve) as one to this host, so an unknown box name would
    // reach a local service on the box's port. Other platforms refuse such a
    // connect, and so does this one.
    if (m_Addr.sin_addr.s_addr == htonl(INADDR_ANY)) {
        Trace("connect error %d\n", SOCKET_EADDRNOTAVAIL);
        Idle(1000);
        return false;
    }

    // Connecting without blocking lets a stop request end a connection
    // attempt at once instead of after the system's connect time-out.
    int error = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&m_Addr), sizeof m_Addr) != 0) {
        error = SocketLastError();
        if (error == SOCKET_EINPROGRESS) {
            error = 0;
            pollfd fd{};
            int result = 0;
            while (result == 0 && IsRunning()) {
                result = WaitFor(fd, socket, POLLOUT, TimeoutMilliseconds(m_SelectTimeout));
            }
            if (result <= 0) {
                error = result < 0 ? SocketLastError() : SOCKET_ECANCELED;
            } else {
                socklen_t length = sizeof error;
                ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
    }
    if (error != 0) {
        Trace("connect error %d\n", error);
        Idle(1000);
        return false;
    }
    SocketSetBlocking(socket);
    return true;
}

int CTcpConnection::WaitReadable()
{
    int result = 0;
    while (result == 0) {
        const SOCKET socket = m_Socket.load();
        if (socket == INVALID_SOCKET || !IsRunning()) {
            return -1;
        }
        result = WaitFor(m_ReadSet, socket, POLLIN, TimeoutMilliseconds(m_SelectTimeout));
        if (result < 0) {
            Trace("select failed\n");
        }
    }
    return result;
}

bool CTcpConnection::ReceiveFrame(TcpFrameSplitter& frames, std::size_t& count)
{
    count = 0;
    for (;;) {
        // A piece that arrived in part is waited for; the first read of the
        // length and of the payload follows the loop's wait directly.
        if (frames.InPiece() && WaitReadable() < 0) {
            return false;
        }
        const std::span<std::uint8_t> space = frames.Space();
        const ssize_t received = ::recv(m_Socket, space.data(), space.size(), 0);
        if (received < 0) {
            if (SocketLastError() == SOCKET_EINTR) {
                continue;
            }
            Trace("receive error %d\n", SocketLastError());
            return false;
        }
        if (received == 0) {
            return true;  // end of stream; a truncated frame is never delivered
        }
        switch (frames.Add(static_cast<std::size_t>(received))) {
        case FrameStatus::NeedMore:
            break;
        case FrameStatus::Complete:
            count = frames.Payload().size();
            return true;
        case FrameStatus::Empty:
            return true;
        case FrameStatus::TooLong:
            // Its payload cannot be held, and skipping it would leave the
            // stream to a peer that already broke the framing.
            Trace("frame too long: %d bytes\n", static_cast<int>(frames.Length()));
            return false;
        }
    }
}

void CTcpConnection::ReceiveLoop()
{
    TcpFrameSplitter frames(m_RecvBuf);
    while (IsRunning()) {
        const int result = WaitReadable();
        Trace("Select loop exit read\n");
        if (result < 0) {
            return;
        }
        Trace("calling read\n");

        std::size_t count = 0;
        if ((m_dwFlags & TCP_OPT_LENGTH_PREFIX) != 0) {
            if (!ReceiveFrame(frames, count)) {
                return;
            }
        } else {
            const ssize_t received = ::recv(m_Socket, m_RecvBuf, sizeof m_RecvBuf, 0);
            if (received < 0) {
                if (SocketLastError() == SOCKET_EINTR) {
                    continue;
                }
                Trace("receive error %d\n", SocketLastError());
                return;
            }
            count = static_cast<std::size_t>(received);
        }
        Trace("(%x): %d bytes received\n", Hex(this), static_cast<int>(count));
        if (count == 0) {
            // End of stream; in the length-prefixed mode an empty frame too.
            return;
        }
        Indicate(TCP_DATA_IND, reinterpret_cast<std::uintptr_t>(m_RecvBuf),
                 static_cast<std::uint16_t>(count));
    }
}

bool CTcpConnection::SendAll(const std::uint8_t* pData, std::size_t length, std::size_t& sent)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TCP_SEND_TIMEOUT_MS);
    pollfd fd{};
    while (sent < length) {
        const SOCKET socket = m_Socket.load();
        if (socket == INVALID_SOCKET) {
            SocketSetLastError(SOCKET_ENOTCONN);
            return false;
        }
        const ssize_t count = ::send(socket, pData + sent, length - sent, SOCKET_SEND_FLAGS | SOCKET_SEND_NOWAIT);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        const int error = count < 0 ? SocketLastError() : 0;
        if (count < 0 && error != SOCKET_EAGAIN && error != SOCKET_EWOULDBLOCK && error != SOCKET_EINTR) {
            return false;
        }
        // The peer does not read fast enough: wait for room, but not for a
        // connection that is ending, and not forever.
        if (m_bEnding != 0 || !IsRunning() || std::chrono::steady_clock::now() >= deadline) {
            SocketSetLastError(SOCKET_ETIMEDOUT);
            return false;
        }
        if (WaitFor(fd, socket, POLLOUT, TimeoutMilliseconds(m_SelectTimeout)) < 0) {
            return false;
        }
    }
    return true;
}

std::uint32_t CTcpConnection::Send(const std::uint8_t* pData, std::uint16_t wLength)
{
    std::shared_lock call(m_CallGuard);
    Trace("CTcpConnection::Send() (%x %x)...\n", Hex(this), Hex(m_pCTcp));
    std::uint32_t dwRet = TCP_OK;
    std::uint8_t frame[TCP_RECV_BUFFER_SIZE];
    const std::uint8_t* pSend = pData;
    std::size_t length = wLength;
    if ((m_dwFlags & TCP_OPT_LENGTH_PREFIX) != 0) {
        if (wLength > TCP_MAX_FRAME_PAYLOAD) {
            Trace("send failed: frame of %d bytes too long\n", static_cast<int>(wLength));
            dwRet = TCP_FAILED;
        } else {
            frame[0] = static_cast<std::uint8_t>(wLength);
            frame[1] = static_cast<std::uint8_t>(wLength >> 8);
            if (wLength > 0) {
                std::memcpy(frame + 2, pData, wLength);
            }
            pSend = frame;
            length = wLength + 2u;
        }
    }
    if (dwRet == TCP_OK) {
        std::lock_guard lock(m_SendLock);
        std::size_t sent = 0;
        if (!SendAll(pSend, length, sent)) {
            Trace("send failed: %d\n", SocketLastError());
            dwRet = TCP_FAILED;
            if (sent > 0) {
                // Part of the message is on the stream and the rest can no
                // longer follow it: the peer would read garbage from here on.
                ::shutdown(m_Socket.load(), SD_BOTH);
            }
        }
    }
    Trace("CTcpConnection::Send() (%x %x) exit (dwRet=%x)\n", Hex(this), Hex(m_pCTcp), dwRet);
    return dwRet;
}

std::uint32_t CTcpConnection::Disconnect()
{
    std::shared_lock call(m_CallGuard);
    Trace("CTcpConnection::Disconnect() (%x %x)...\n", Hex(this), Hex(m_pCTcp));
    if (const SOCKET socket = m_Socket.load(); socket != INVALID_SOCKET) {
        ::shutdown(socket, SD_BOTH);
    }
    Trace("CTcpConnection::Disconnect() (%x %x) exit (dwRet=%x)\n", Hex(this), Hex(m_pCTcp), 0u);
    return 0;
}

// ---------------------------------------------------------------- CTcp

CTcp::CTcp(std::uint32_t dwFlags) : m_dwFlags(dwFlags)
{
    // The reaper starts with the first connection: a worker started here
    // could call into the object while a derived constructor still builds it.
}

CTcp::~CTcp()
{
    StopAll();
}

void CTcp::StopWorkers()
{
    StopAll();
}

std::uint32_t CTcp::Init()
{
    return CUdp::Init();
}

std::uint32_t CTcp::Exit()
{
    return CUdp::Exit();
}

std::uint32_t CTcp::Resolve(const char* pszHost)
{
    return CUdp::Resolve(pszHost);
}

void CTcp::OnReceive(std::uint16_t, std::uintptr_t, std::uint16_t, std::uintptr_t, void*, CTcpConnection*)
{
}

void CTcp::StartReaper()
{
    CMutexLocker lock(m_Lock);
    if (!m_bReaperStarted && !IsStopping()) {
        m_bReaperStarted = true;
        Begin(1);
    }
}

CTcpConnection* CTcp::CreateConnection(std::uint32_t dwFlags, const sockaddr_in& addr, SOCKET listenSocket)
{
    // Held while the thread starts, so that neither the reaper nor StopAll
    // can delete the connection before it has started; its thread needs the
    // lock only to register a successor.
    CMutexLocker lock(m_Lock);
    if (IsStopping()) {
        return nullptr;
    }
    try {
        m_ConnList.push_back(
            std::make_unique<CTcpConnection>(CTcpConnection::Key{}, this, dwFlags, addr, listenSocket));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    CTcpConnection* pConn = m_ConnList.back().get();
    pConn->Begin(0);
    pConn->Trace("CTcpConnection()  (%x %x) exit\n", Hex(pConn), Hex(this));
    return pConn;
}

std::unique_ptr<CTcpConnection> CTcp::TakeFirstConnection()
{
    CMutexLocker lock(m_Lock);
    if (m_ConnList.empty()) {
        return nullptr;
    }
    std::unique_ptr<CTcpConnection> pConn = std::move(m_ConnList.front());
    m_ConnList.pop_front();
    return pConn;
}

std::uint32_t CTcp::Connect(const char* pszHost, std::uint16_t wPort, CTcpConnection** ppConn)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(wPort);
    addr.sin_addr.s_addr = Resolve(pszHost);
    Trace("Connect: %x\n", static_cast<unsigned>(addr.sin_addr.s_addr));
    StartReaper();
    // The connection keeps its own copy of the address: a second Connect
    // must not redirect a first one that has not connected yet.
    CTcpConnection* pConn = CreateConnection(m_dwFlags | TCP_ROLE_CLIENT, addr, INVALID_SOCKET);
    if (ppConn != nullptr) {
        *ppConn = pConn;
    }
    return TCP_FAILED;
}

std::uint32_t CTcp::Listen(std::uint16_t wPort)
{
    if (IsStopping()) {
        return TCP_FAILED;
    }
    StartReaper();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(wPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);

    SOCKET socket = SocketOpen(SOCK_STREAM, false);
    if (socket == INVALID_SOCKET) {
        Trace("socket error %d\n", SocketLastError());
    } else {
        const int on = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            Trace("bind error %d\n", SocketLastError());
            // NOTE: Linux lets an unbound socket listen on a port of its own
            // choosing, where no client would look for it. Other platforms
            // refuse that listen; here it is not made, so the waiting
            // connection finds no usable socket and ends at once.
            Trace("listen error %d\n", SOCKET_EINVAL);
            closesocket(socket);
            socket = INVALID_SOCKET;
        } else if (::listen(socket, 256) != 0) {
            Trace("listen error %d\n", SocketLastError());
        }
    }
    {
        CMutexLocker lock(m_Lock);
        m_ListenSocket = socket;
        if (socket != INVALID_SOCKET) {
            m_ListenSockets.push_back(socket);
        }
    }
    CreateConnection(m_dwFlags | TCP_ROLE_SERVER, addr, socket);
    return TCP_FAILED;
}

std::uint16_t CTcp::GetListenPort() const
{
    const SOCKET socket = m_ListenSocket.load();
    return socket == INVALID_SOCKET ? 0 : SocketLocalPort(socket);
}

std::uint32_t CTcp::GetConnectionCount()
{
    CMutexLocker lock(m_Lock);
    return static_cast<std::uint32_t>(m_ConnList.size());
}

void CTcp::OnThread()
{
    Trace("TCP:OnThread\n");
    // Held across the deletions, so that a finished connection counts until
    // it is gone. A finished connection's thread never takes it.
    CMutexLocker lock(m_Lock);
    for (auto it = m_ConnList.begin(); it != m_ConnList.end();) {
        if ((*it)->m_bDone == 0) {
            ++it;
            continue;
        }
        (*it)->Disconnect();
        it = m_ConnList.erase(it);
    }
}

void CTcp::StopAll()
{
    std::lock_guard stopLock(m_StopLock);
    m_bStopping = true;
    Trace("CTcp destructor %x\n", Hex(this));

    // Shutting a listening socket down wakes its waiting connection, which
    // then ends; the socket itself is closed only after every connection
    // thread has ended, so that its number cannot be reused under them.
    std::vector<SOCKET> listenSockets;
    bool bReaper = false;
    {
        CMutexLocker lock(m_Lock);
        listenSockets.swap(m_ListenSockets);
        m_ListenSocket = INVALID_SOCKET;
        bReaper = std::exchange(m_bReaperStarted, false);
    }
    for (const SOCKET socket : listenSockets) {
        ::shutdown(socket, SD_BOTH);
    }

    Trace("CTcp destructor end thread enter\n");
    if (bReaper) {
        End(1);
    }
    Trace("CTcp destructor end thread exit\n");

    // One at a time and without the lock held across the deletion: a
    // connection that has just accepted a client registers its successor
    // under the lock, and the deletion waits for that connection's thread.
    Trace("CTcp destructor get lock 1\n");
    std::unique_ptr<CTcpConnection> pConn = TakeFirstConnection();
    Trace("CTcp destructor got lock 1\n");
    while (pConn != nullptr) {
        pConn->Disconnect();
        Trace("CTcp destructor delete pConn\n");
        pConn.reset();
        Trace("CTcp destructor delete pConn exit\n");
        Trace("CTcp destructor get lock 2\n");
        pConn = TakeFirstConnection();
        Trace("CTcp destructor got lock 2\n");
    }

    for (const SOCKET socket : listenSockets) {
        const int result = closesocket(socket);
        Trace("Clisten listensock: %d\n", result);
    }
}
