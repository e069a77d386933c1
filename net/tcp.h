// TCP endpoint and its connections.
//
// CTcp owns any number of CTcpConnection objects. Each connection runs its
// whole life on a thread of its own: it connects (client role) or waits for a
// client on a listening socket (server role), then receives, and reports
// everything through the endpoint's virtual OnReceive with a message code.
// When its life is over it marks itself done and wakes the endpoint's own
// worker, the reaper, which deletes it.
//
// Threads and ownership:
// - OnReceive runs on the connection's thread; indications of one connection
//   come in order (TCP_CONNECT_IND, any number of TCP_DATA_IND,
//   TCP_DISCONNECT_IND, or TCP_DISCONNECT_IND alone when it never connected).
// - The endpoint owns its connections. A connection pointer (from Connect or
//   OnReceive) stays valid until TCP_DISCONNECT_IND for it has been delivered
//   and returned; Send and Disconnect may be called from any thread until
//   then.
// - m_Lock guards m_ConnList. The reaper holds it while it deletes finished
//   connections; StopAll never holds it across a deletion.
// - A derived class that overrides OnReceive or Output follows the guard
//   rule of thread.h; its guard calls StopWorkers (StopAll), after which the
//   derived class receives no indication. An endpoint is never destroyed (nor
//   StopAll called) from one of its own callbacks: that would wait for the
//   calling thread itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "net/frame_splitter.h"
#include "net/socket_api.h"
#include "net/thread.h"

// Message codes of OnReceive.
inline constexpr std::uint16_t TCP_CONNECT_IND = 1;     // data: peer's dotted address, length: peer's port
inline constexpr std::uint16_t TCP_DATA_IND = 2;        // data: receive buffer, length: byte count
inline constexpr std::uint16_t TCP_DISCONNECT_IND = 3;  // data and length 0

// Role and option flags of the endpoint and its connections.
inline constexpr std::uint32_t TCP_ROLE_CLIENT = 0x1;
inline constexpr std::uint32_t TCP_ROLE_SERVER = 0x2;
inline constexpr std::uint32_t TCP_OPT_NODELAY = 0x10000;        // switch off send coalescing
inline constexpr std::uint32_t TCP_OPT_LENGTH_PREFIX = 0x20000;  // 2-byte little-endian length per message

// Connection states (m_dwState).
inline constexpr std::uint32_t TCP_STATE_IDLE = 0;          // not yet connected
inline constexpr std::uint32_t TCP_STATE_CONNECTED = 1;     // the receive loop runs
inline constexpr std::uint32_t TCP_STATE_DISCONNECTED = 2;  // over; waits to be deleted

inline constexpr std::size_t TCP_RECV_BUFFER_SIZE = 2048;
// Largest payload of one frame in the length-prefixed mode: a frame (length
// and payload) must fit the 2048-byte buffer of either side.
inline constexpr std::size_t TCP_MAX_FRAME_PAYLOAD = TCP_RECV_BUFFER_SIZE - 2;

// Statuses of Connect, Listen and CTcpConnection::Send.
inline constexpr std::uint32_t TCP_OK = 0;
inline constexpr std::uint32_t TCP_FAILED = 0xFFFFFFFF;

// How long Send waits for a peer that does not read before it gives up.
inline constexpr int TCP_SEND_TIMEOUT_MS = 5000;

class CTcp;

class CTcpConnection final : public CThread
{
    // Lets only CTcp create connections, through std::make_unique.
    class Key
    {
        friend class CTcp;
        Key() = default;
    };

public:
    // A client connects to addr; a server waits for a client on
    // listenSocket (owned by the endpoint). The thread is started by the
    // endpoint once the connection is in its list.
    CTcpConnection(Key, CTcp* pOwner, std::uint32_t dwFlags, const sockaddr_in& addr, SOCKET listenSocket);
    ~CTcpConnection() override;

    // Sends wLength bytes; in the length-prefixed mode as one frame, so at
    // most TCP_MAX_FRAME_PAYLOAD bytes. Returns TCP_OK when everything was
    // handed to the network, TCP_FAILED when the payload is too long, the
    // socket is closed or shut down, or the peer took nothing for
    // TCP_SEND_TIMEOUT_MS. A frame that went out only in part cannot be
    // completed, so the connection is then shut down. Callable from any
    // thread; concurrent calls are sent one after the other.
    [[nodiscard]] std::uint32_t Send(const std::uint8_t* pData, std::uint16_t wLength);
    // Shuts the socket down in both directions; the connection then ends by
    // itself with TCP_DISCONNECT_IND. Always 0.
    std::uint32_t Disconnect();
    void SetContext(void* pContext);
    // A connection's trace lines go to its endpoint's Output.
    long Output(const char* pszLine) override;

    std::uint32_t GetState() const { return m_dwState.load(); }
    std::uint32_t GetFlags() const { return m_dwFlags; }

    void OnThread() override;
    void OnThreadStart() override;
    void OnThreadEnd() override;
    void OnThreadInitEnd() override;

private:
    friend class CTcp;

    bool AcceptClient(char* pszPeer, std::size_t peerSize, std::uint16_t& wPeerPort);
    bool ConnectToServer();
    void ReceiveLoop();
    // Receives one whole frame into m_RecvBuf (count: its length). False
    // when the connection must end at once (failure, stop, a frame too
    // long); true with count 0 at the end of the stream, also inside a
    // frame, and for an empty frame.
    bool ReceiveFrame(TcpFrameSplitter& frames, std::size_t& count);
    // Waits until m_Socket is readable: > 0 readable, < 0 stop or failure.
    int WaitReadable();
    bool SendAll(const std::uint8_t* pData, std::size_t length, std::size_t& sent);
    void Indicate(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength);

    std::atomic<int> m_bDone{0};
    std::atomic<SOCKET> m_Socket{INVALID_SOCKET};
    std::uint8_t m_RecvBuf[TCP_RECV_BUFFER_SIZE];
    std::atomic<std::uint32_t> m_dwState{TCP_STATE_IDLE};
    pollfd m_ReadSet{};
    timeval m_SelectTimeout{0, 10000};
    CTcp* const m_pCTcp;  // the owner, for the connection's whole life
    std::atomic<void*> m_pContext{nullptr};
    const std::uint32_t m_dwFlags;

    // Set when the connection starts ending, so that a Send waiting for the
    // peer gives up at once.
    std::atomic<int> m_bEnding{0};
    const sockaddr_in m_Addr;     // client role: where to connect
    const SOCKET m_ListenSocket;  // server role: where to accept
    std::mutex m_SendLock;        // one frame at a time on the stream
    // Held shared by Send and Disconnect, taken once exclusively before the
    // connection is marked done: a call that started before the end has
    // returned before the reaper may delete the object.
    std::shared_mutex m_CallGuard;
};

class CTcp : public CThread
{
public:
    explicit CTcp(std::uint32_t dwFlags = 0);
    ~CTcp() override;

    // Starts a client connection to host:wPort (host byte order). The outcome
    // arrives through OnReceive: TCP_CONNECT_IND, or TCP_DISCONNECT_IND alone
    // when the connection cannot be made (also for address 0, which is what
    // a name that cannot be resolved gives). *ppConn (if given) receives the
    // new connection. Always TCP_FAILED (the result carries no information).
    std::uint32_t Connect(const char* pszHost, std::uint16_t wPort, CTcpConnection** ppConn = nullptr);
    // Opens a listening socket on every local address and wPort (0: the
    // system chooses, see GetListenPort) and starts one connection that waits
    // for a client; each accepted client leaves a new waiting connection.
    // When the port cannot be bound, that connection ends at once with
    // TCP_DISCONNECT_IND. Always TCP_FAILED.
    std::uint32_t Listen(std::uint16_t wPort);
    // The local port of the last listening socket, host byte order; 0 when
    // there is none.
    std::uint16_t GetListenPort() const;
    // Number of connection objects not yet deleted.
    std::uint32_t GetConnectionCount();

    [[nodiscard]] static std::uint32_t Init();
    static std::uint32_t Exit();
    // Shared with the UDP endpoint: network-byte-order address or 0.
    static std::uint32_t Resolve(const char* pszHost);

    // The reaper: deletes every finished connection, one trigger at a time.
    void OnThread() override;

    // One indication of pConn (see the message codes). data holds a pointer
    // or 0; reserved is always 0; pContext is the connection's context.
    virtual void OnReceive(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength,
                           std::uintptr_t reserved, void* pContext, CTcpConnection* pConn);

    // Closes the listening sockets, stops the reaper, then shuts down and
    // deletes every connection without further indications. Idempotent; the
    // destructor of CTcp and StopWorkers (so a CWorkerGuard) call it.
    void StopAll();
    void StopWorkers() override;

protected:
    // The connections, in the order they were created; guarded by m_Lock.
    std::list<std::unique_ptr<CTcpConnection>> m_ConnList;
    std::atomic<SOCKET> m_ListenSocket{INVALID_SOCKET};
    std::uint32_t m_dwFlags;
    CMutex m_Lock;

private:
    friend class CTcpConnection;

    // Adds a connection to the list and starts it; null when the endpoint
    // is stopping or nothing can be allocated.
    CTcpConnection* CreateConnection(std::uint32_t dwFlags, const sockaddr_in& addr, SOCKET listenSocket);
    // Takes the first connection out of the list; null when it is empty.
    std::unique_ptr<CTcpConnection> TakeFirstConnection();
    void StartReaper();
    bool IsStopping() const { return m_bStopping.load(); }

    // Every listening socket ever opened; a waiting connection keeps using
    // the one it was started on, so they are closed only by StopAll.
    std::vector<SOCKET> m_ListenSockets;
    std::atomic<bool> m_bStopping{false};
    bool m_bReaperStarted = false;  // guarded by m_Lock
    std::mutex m_StopLock;          // StopAll runs once at a time
};
