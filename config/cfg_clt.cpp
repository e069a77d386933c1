// Configuration client; see cfg_clt.h.

#include "config/cfg_clt.h"

#include <cstdio>
#include <cstring>

#include "net/core_output.h"

namespace {

// The text of slot 0 of an "error" message, which may run on over the
// following slots; the area always ends with a NUL (ParseReply keeps its
// last byte free).
std::string AreaText(const CfgFields& fields, std::uint32_t dwSlot)
{
    const char* pszText = fields.m_szField[dwSlot];
    const std::size_t room = sizeof fields - static_cast<std::size_t>(pszText - fields.m_szField[0]);
    return std::string(pszText, ::strnlen(pszText, room));
}

}  // namespace

CCfgClt::CCfgClt() : CTcp(TCP_OPT_LENGTH_PREFIX)
{
}

CCfgClt::~CCfgClt() = default;

void CCfgClt::OnDisconnected(std::int32_t)
{
}

void CCfgClt::OnConnected()
{
}

void CCfgClt::OnStatus(std::int32_t, std::int32_t)
{
}

void CCfgClt::OnInfo()
{
}

bool CCfgClt::IsConnected() const
{
    std::lock_guard lock(m_ConnLock);
    return m_pConnection != nullptr;
}

std::uint32_t CCfgClt::Connect(const char* pszHost, std::uint16_t wPort, CTcpConnection** ppConn)
{
    // Counted before the attempt starts, so that its end can never come
    // first.
    {
        std::lock_guard lock(m_WaitLock);
        ++m_dwAttempts;
    }
    CTcpConnection* pConn = nullptr;
    const std::uint32_t dwStatus = CTcp::Connect(pszHost, wPort, &pConn);
    if (ppConn != nullptr) {
        *ppConn = pConn;
    }
    if (pConn == nullptr) {
        {
            std::lock_guard lock(m_WaitLock);
            if (m_dwAttempts > 0) {
                --m_dwAttempts;
            }
        }
        m_WaitChanged.notify_all();
    }
    return dwStatus;
}

std::uint32_t CCfgClt::Disconnect()
{
    std::lock_guard lock(m_ConnLock);
    if (m_pConnection == nullptr) {
        return CFG_FAILED;
    }
    return m_pConnection->Disconnect();
}

std::string CCfgClt::GetField(std::uint32_t dwSlot) const
{
    if (dwSlot >= CFG_MAX_FIELDS) {
        return {};
    }
    std::lock_guard lock(m_FieldLock);
    return AreaText(m_Fields, dwSlot);
}

std::int32_t CCfgClt::GetLastResult() const
{
    std::lock_guard lock(m_FieldLock);
    return m_nLastResult;
}

CfgCommandResult CCfgClt::RunCommand(std::string_view command, std::chrono::milliseconds timeout,
                                     std::stop_token stopToken)
{
    CfgCommandResult result;
    {
        std::lock_guard lock(m_FieldLock);
        std::memset(&m_Fields, 0, sizeof m_Fields);
    }
    // A longer command would have to be cut, and the box would read a NUL
    // inside one as its end: either way it may mean something else to it.
    if (command.size() > CFG_MAX_COMMAND_LENGTH || command.find('\0') != std::string_view::npos) {
        return result;
    }
    if (stopToken.stop_requested()) {
        // Whoever asked for the stop wants no command to go out any more.
        result.outcome = CfgOutcome::Cancelled;
        return result;
    }
    std::uint8_t buffer[CFG_COMMAND_BUFFER_SIZE] = {};
    std::memcpy(buffer, command.data(), command.size());

    std::uint32_t dwReplySeq = 0;
    std::uint32_t dwEndSeq = 0;
    std::uint32_t dwCancelSeq = 0;
    {
        std::lock_guard connLock(m_ConnLock);
        if (m_pConnection == nullptr || m_bReady == 0) {
            return result;
        }
        std::uint32_t payloadLength = 0;
        {
            std::lock_guard lock(m_FieldLock);
            payloadLength = EncryptBuffer(m_Cipher, buffer, static_cast<std::uint32_t>(command.size() + 1));
        }
        {
            // Taken before the send: an answer or an end that follows it at
            // once is already counted against this command.
            std::lock_guard lock(m_WaitLock);
            dwReplySeq = m_dwReplySeq;
            dwEndSeq = m_dwEndSeq;
            dwCancelSeq = m_dwCancelSeq;
            m_pCommandConn = m_pConnection;
        }
        if (m_pConnection->Send(buffer, static_cast<std::uint16_t>(payloadLength)) != TCP_OK) {
            return result;
        }
    }

    std::unique_lock lock(m_WaitLock);
    m_WaitChanged.wait_for(lock, stopToken, timeout, [&] {
        return m_dwReplySeq != dwReplySeq || m_dwEndSeq != dwEndSeq || m_dwCancelSeq != dwCancelSeq;
    });
    // An answer that arrived together with the end still counts.
    if (m_dwReplySeq != dwReplySeq) {
        result.outcome = CfgOutcome::Answered;
        result.fields = m_ReplyFields;
        if (m_nReplyResult < 0) {
            result.status = CFG_ERROR_REPLY;
            result.text = AreaText(m_ReplyFields, 0);
        } else {
            result.status = CFG_OK;
            result.fieldCount = static_cast<std::uint32_t>(m_nReplyResult);
        }
    } else if (m_dwEndSeq != dwEndSeq) {
        result.outcome = CfgOutcome::Disconnected;
    } else if (m_dwCancelSeq != dwCancelSeq || stopToken.stop_requested()) {
        result.outcome = CfgOutcome::Cancelled;
    } else {
        result.outcome = CfgOutcome::TimedOut;
    }
    return result;
}

void CCfgClt::CancelCommand()
{
    {
        std::lock_guard lock(m_WaitLock);
        ++m_dwCancelSeq;
    }
    m_WaitChanged.notify_all();
}

bool CCfgClt::WaitReady(std::chrono::milliseconds timeout, std::stop_token stopToken)
{
    std::unique_lock lock(m_WaitLock);
    return m_WaitChanged.wait_for(lock, stopToken, timeout,
                                  [&] {
                                      return (m_bHasConnection && m_bReady != 0) ||
                                             (!m_bHasConnection && m_dwAttempts == 0);
                                  }) &&
           m_bHasConnection && m_bReady != 0;
}

void CCfgClt::StopWorkers()
{
    // The TCP layer delivers nothing once it stops: forget the connection
    // here, so that no command is sent over one about to be deleted, and end
    // a waiting command.
    {
        std::lock_guard lock(m_ConnLock);
        m_bStopped = true;
        m_pConnection = nullptr;
    }
    {
        std::lock_guard lock(m_WaitLock);
        ++m_dwEndSeq;
        m_bHasConnection = false;
        m_dwAttempts = 0;
        m_pCommandConn = nullptr;
    }
    m_WaitChanged.notify_all();
    CTcp::StopWorkers();
}

void CCfgClt::OnReceive(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength, std::uintptr_t, void*,
                        CTcpConnection* pConn)
{
    switch (wMsg) {
    case TCP_CONNECT_IND: {
        CoreOutput(CoreStream::Out, "TCP_CONNECT_IND:\n");
        {
            std::lock_guard lock(m_FieldLock);
            BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &m_Cipher);
        }
        bool bKept = false;
        {
            std::lock_guard lock(m_ConnLock);
            if (!m_bStopped) {
                m_pConnection = pConn;
                bKept = true;
            }
        }
        {
            std::lock_guard lock(m_WaitLock);
            if (m_dwAttempts > 0) {
                --m_dwAttempts;
            }
            m_bHasConnection = bKept;
        }
        m_WaitChanged.notify_all();
        OnConnected();
        break;
    }
    case TCP_DATA_IND:
        OnData(reinterpret_cast<std::uint8_t*>(data), wLength);
        break;
    case TCP_DISCONNECT_IND: {
        CoreOutput(CoreStream::Out, "TCP_DISCONNECT_IND:\n");
        // The connection is forgotten before the callback, so that
        // IsConnected() there tells the end of the current connection
        // (false) from an older attempt that ends late, for instance a failed
        // connect reporting after its pause (true: the current one lives on).
        bool bCurrent = false;
        {
            std::lock_guard lock(m_ConnLock);
            bCurrent = m_pConnection == pConn;
            if (bCurrent) {
                m_pConnection = nullptr;
            }
        }
        OnDisconnected(CFG_DISCONNECTED);
        {
            std::lock_guard lock(m_WaitLock);
            if (bCurrent) {
                m_bHasConnection = false;
            }
            // An attempt that never connected ends here; one that did was
            // counted off when it connected.
            if (pConn->GetState() == TCP_STATE_IDLE && m_dwAttempts > 0) {
                --m_dwAttempts;
            }
            // A command waiting for this connection's answer would otherwise
            // wait out its whole timeout (an hour for updates).
            if (m_pCommandConn == pConn) {
                ++m_dwEndSeq;
                m_pCommandConn = nullptr;
            }
        }
        m_WaitChanged.notify_all();
        break;
    }
    default:
        break;
    }
}

void CCfgClt::OnData(std::uint8_t* pData, std::uint16_t wLength)
{
    // One byte more than any payload, so that a text without NUL ends here.
    char text[TCP_RECV_BUFFER_SIZE + 1] = {};
    std::size_t textLength = 0;
    if (wLength % CFG_BLOCK_SIZE == 0 && wLength <= TCP_RECV_BUFFER_SIZE) {
        {
            std::lock_guard lock(m_FieldLock);
            DecryptBuffer(m_Cipher, pData, wLength);
        }
        std::memcpy(text, pData, wLength);
        textLength = ::strnlen(text, wLength);
    }
    // Otherwise the payload cannot be decrypted block by block; it is taken
    // as a message without keyword and none of it is read.

    // The debug line is cut to its 256-byte buffer but keeps its line end.
    char line[256];
    constexpr int textMax = static_cast<int>(sizeof line - sizeof "DataIn: \n");
    std::snprintf(line, sizeof line, "DataIn: %.*s\n", textMax, text);
    CoreOutput(CoreStream::Err, line);

    // Counted before the callbacks run, so that they see it up to date.
    const bool bFirstMessage = m_dwMsgCount.fetch_add(1) == 0;

    CfgFields fields;
    std::uint32_t dwKind = CFG_REPLY_NONE;
    const std::int32_t nResult = ParseReply(std::string_view(text, textLength), fields, dwKind);
    CoreOutputF(CoreStream::Err, "Msg: %d\n", static_cast<int>(dwKind));
    {
        std::lock_guard lock(m_FieldLock);
        m_Fields = fields;
        m_nLastResult = nResult;
    }

    switch (dwKind) {
    case CFG_REPLY_ERROR:
    case CFG_REPLY_OK: {
        std::lock_guard lock(m_WaitLock);
        m_ReplyFields = fields;
        m_nReplyResult = nResult;
        ++m_dwReplySeq;
    }
        m_WaitChanged.notify_all();
        break;
    case CFG_REPLY_STATUS:
        OnStatus(CfgFieldToInt(fields.m_szField[0]), CfgFieldToInt(fields.m_szField[1]));
        break;
    case CFG_REPLY_INFO: {
        std::lock_guard lock(m_WaitLock);
        m_bReady = 1;
    }
        m_WaitChanged.notify_all();
        OnInfo();
        break;
    default:
        if (bFirstMessage) {
            OnDisconnected(CFG_NO_KEYWORD);
        }
        break;
    }
}
