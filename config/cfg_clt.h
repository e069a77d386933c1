// Client of a box's configuration service (TCP port 1000).
//
// CCfgClt is a TCP endpoint with one connection at a time. Messages in both
// directions are NUL-terminated texts, padded and encrypted as in
// cfg_codec.h, each in a length-prefixed frame. The box sends an "info"
// message after accepting; from then on commands are accepted. A command is
// answered by the next message holding "ok" or "error"; "status" and "info"
// messages may arrive at any time.
//
// Threads: OnReceive and the four On... callbacks run on the connection's
// thread. RunCommand, CancelCommand, WaitReady, Connect,
// Disconnect and the field queries may be called from any thread; one
// command at a time is assumed (a second command while one waits would take
// its answer). The fields, the results and the connection pointer are
// guarded by locks, so a reader never sees a half written message.
//
// A derived class that overrides a callback follows the guard rule of
// thread.h; once its guard has run, no callback arrives.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>

#include "config/blowfish.h"
#include "config/cfg_codec.h"
#include "net/tcp.h"

// TCP port of the configuration service on a box.
inline constexpr std::uint16_t CFG_SERVICE_PORT = 1000;

// Statuses of a command (CfgCommandResult::status).
inline constexpr std::uint32_t CFG_OK = 0;               // "ok" arrived; fields hold its fields
inline constexpr std::uint32_t CFG_FAILED = 0xFFFFFFFF;  // no connection, not ready, send failed or timeout
inline constexpr std::uint32_t CFG_ERROR_REPLY = 0x80000000;  // "error" arrived; field 0 holds its text

// OnDisconnected reasons.
inline constexpr std::int32_t CFG_DISCONNECTED = 0;
inline constexpr std::int32_t CFG_NO_KEYWORD =
    static_cast<std::int32_t>(0x80000001u);  // connection stays open

// Largest command text RunCommand accepts.
inline constexpr std::size_t CFG_MAX_COMMAND_LENGTH = CFG_COMMAND_BUFFER_SIZE - 1;

// How a command wait ended.
enum class CfgOutcome
{
    Answered,      // "ok" or "error" arrived (see status)
    Disconnected,  // the connection the command went out on ended first
    Cancelled,     // CancelCommand or a stop request ended the wait
    TimedOut,      // no answer within the timeout
    NotSent,       // no connection, not ready, too long, or the send failed
};

struct CfgCommandResult
{
    CfgOutcome outcome = CfgOutcome::NotSent;
    std::uint32_t status = CFG_FAILED;  // CFG_OK for "ok", CFG_ERROR_REPLY for "error", else CFG_FAILED
    std::string text;                   // the box's error text (field slot 0 of "error"), else empty
    CfgFields fields{};                 // the answer's fields
    std::uint32_t fieldCount = 0;
};

class CCfgClt : public CTcp
{
public:
    CCfgClt();
    ~CCfgClt() override;

    // CTcp::Connect, counted, so that WaitReady knows whether an attempt is
    // still under way. Always TCP_FAILED, as CTcp::Connect.
    std::uint32_t Connect(const char* pszHost, std::uint16_t wPort, CTcpConnection** ppConn = nullptr);

    // Sends one command and waits for "ok"/"error", the end of the
    // connection it went out on, a CancelCommand from another thread, a stop
    // request on stopToken, or the timeout, and says which. NotSent: no
    // connection, no "info" yet, a command longer than 1023 characters or
    // holding a NUL, or a failed send (nothing or not all sent). Cancelled
    // without sending when stopToken has a stop request already. The field
    // slots are cleared first. The end of an older connection attempt does
    // not end the wait.
    [[nodiscard]] CfgCommandResult RunCommand(std::string_view command, std::chrono::milliseconds timeout,
                                              std::stop_token stopToken = {});
    // Ends a waiting RunCommand with Cancelled. A command that starts after
    // the call is not affected. Any thread.
    void CancelCommand();
    // Waits until a connection exists and the box's "info" has arrived
    // (true), or until no connection exists and no attempt is under way any
    // more, a stop request on stopToken, or the timeout (false). Call it
    // after Connect.
    [[nodiscard]] bool WaitReady(std::chrono::milliseconds timeout, std::stop_token stopToken = {});

    // Shuts the current connection down (it ends with OnDisconnected(0)).
    // Returns 0, or CFG_FAILED when there is no connection.
    std::uint32_t Disconnect();

    // A field slot of the last parsed message as text (slot 0 of an "error"
    // message holds its whole text); empty for a slot beyond 15.
    std::string GetField(std::uint32_t dwSlot) const;
    std::int32_t GetLastResult() const;
    std::uint32_t GetMessageCount() const { return m_dwMsgCount.load(); }
    bool IsReady() const { return m_bReady.load() != 0; }
    bool IsConnected() const;

    void OnReceive(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength, std::uintptr_t reserved,
                   void* pContext, CTcpConnection* pConn) override;
    // Forgets the connection and ends a waiting command (Disconnected)
    // before the TCP layer stops, which delivers no more indications.
    void StopWorkers() override;

    // Callbacks on the connection's thread; they do nothing here. During
    // OnDisconnected(0) the ended connection is already forgotten:
    // IsConnected() is true only when an older attempt ended late.
    virtual void OnDisconnected(std::int32_t nReason);
    virtual void OnConnected();
    virtual void OnStatus(std::int32_t nA, std::int32_t nB);
    virtual void OnInfo();

protected:
    // Keyed with the box key on every new connection before OnConnected;
    // guarded by m_FieldLock (a command may encrypt while a reconnect keys).
    BlowfishContext m_Cipher{};

private:
    void OnData(std::uint8_t* pData, std::uint16_t wLength);

    // Guards m_pConnection. RunCommand holds it while it sends, so the
    // connection cannot be deleted under it: TCP_DISCONNECT_IND takes it to
    // forget the connection, and the TCP layer deletes a connection only
    // after that indication has returned.
    mutable std::mutex m_ConnLock;
    CTcpConnection* m_pConnection = nullptr;
    bool m_bStopped = false;  // guarded by m_ConnLock

    // Guards the fields, the last result and the cipher.
    mutable std::mutex m_FieldLock;
    CfgFields m_Fields{};
    std::int32_t m_nLastResult = 0;

    // Guards everything a wait looks at; m_WaitChanged announces a change.
    std::mutex m_WaitLock;
    std::condition_variable_any m_WaitChanged;
    CfgFields m_ReplyFields{};  // of the last "ok" or "error"
    std::int32_t m_nReplyResult = 0;
    std::uint32_t m_dwReplySeq = 0;   // counts "ok" and "error" messages
    std::uint32_t m_dwEndSeq = 0;     // counts ends of the current connection
    std::uint32_t m_dwCancelSeq = 0;  // counts CancelCommand calls
    std::uint32_t m_dwAttempts = 0;   // Connect calls not yet connected or ended
    bool m_bHasConnection = false;    // a connection is established (m_pConnection set)
    // The connection the last command went out on; its end ends the wait.
    const CTcpConnection* m_pCommandConn = nullptr;

    std::atomic<std::uint32_t> m_dwMsgCount{0};
    std::atomic<int> m_bReady{0};

    // Last: the connection thread stops before any member goes.
    CWorkerGuard m_StopGuard{*this};
};
