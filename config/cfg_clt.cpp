// Configuration client; see cfg_clt.h.

#include "config/cfg_clt.h"

#include <chrono>
#include <cstdio>
#include <cstring>

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
    // The area is contiguous and always ends with a NUL (ParseReply keeps
    // its last byte free), so the text of slot 0 of an "error" message may
    // run on into the next slots.
    const char* pszText = m_Fields.m_szField[dwSlot];
    const std::size_t room = sizeof m_Fields - static_cast<std::size_t>(pszText - m_Fields.m_szField[0]);
    return std::string(pszText, ::strnlen(pszText, room));
}

std::int32_t CCfgClt::GetLastResult() const
{
    std::lock_guard lock(m_FieldLock);
    return m_nLastResult;
}

std::uint32_t CCfgClt::SendCommand(const char* pszCommand, std::uint32_t dwTimeoutMs,
                                   std::uint32_t* pdwFieldCount, CfgFields* pReply)
{
    std::uint8_t buffer[CFG_COMMAND_BUFFER_SIZE];
    const std::size_t length = ::strnlen(pszCommand, sizeof buffer);
    {
        std::lock_guard lock(m_FieldLock);
        std::memset(&m_Fields, 0, sizeof m_Fields);
    }
    // A longer command would have to be cut, and a cut command may mean
    // something else to the box.
    if (length > CFG_MAX_COMMAND_LENGTH) {
        return CFG_FAILED;
    }
    std::memcpy(buffer, pszCommand, length);
    buffer[length] = 0;

    std::uint32_t dwReplySeq = 0;
    {
        std::lock_guard connLock(m_ConnLock);
        if (m_pConnection == nullptr || m_bReady == 0) {
            return CFG_FAILED;
        }
        std::uint32_t payloadLength = 0;
        {
            std::lock_guard lock(m_FieldLock);
            payloadLength = EncryptBuffer(m_Cipher, buffer, static_cast<std::uint32_t>(length + 1));
        }
        {
            std::lock_guard lock(m_FieldLock);
            dwReplySeq = m_dwReplySeq;
        }
        m_hResponseEvent.Reset();
        const std::uint32_t dwSent = m_pConnection->Send(buffer, static_cast<std::uint16_t>(payloadLength));
        if (dwSent != 0) {
            return dwSent;
        }
    }

    if (!m_hResponseEvent.WaitFor(std::chrono::milliseconds(dwTimeoutMs))) {
        return CFG_FAILED;
    }
    std::lock_guard lock(m_FieldLock);
    if (m_dwReplySeq == dwReplySeq) {
        return CFG_FAILED;   // woken by the end of the connection: no answer can come
    }
    if (pReply != nullptr) {
        *pReply = m_ReplyFields;
    }
    if (m_nReplyResult < 0) {
        return CFG_ERROR_REPLY;
    }
    if (pdwFieldCount != nullptr) {
        *pdwFieldCount = static_cast<std::uint32_t>(m_nReplyResult);
    }
    return CFG_OK;
}

void CCfgClt::OnReceive(std::uint16_t wMsg, std::uintptr_t data, std::uint16_t wLength, std::uintptr_t,
                        void*, CTcpConnection* pConn)
{
    switch (wMsg) {
    case TCP_CONNECT_IND: {
        std::fputs("TCP_CONNECT_IND:\n", stdout);
        std::fflush(stdout);
        {
            std::lock_guard lock(m_FieldLock);
            BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &m_Cipher);
        }
        {
            std::lock_guard lock(m_ConnLock);
            m_pConnection = pConn;
        }
        OnConnected();
        break;
    }
    case TCP_DATA_IND:
        OnData(reinterpret_cast<std::uint8_t*>(data), wLength);
        break;
    case TCP_DISCONNECT_IND: {
        std::fputs("TCP_DISCONNECT_IND:\n", stdout);
        std::fflush(stdout);
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
        // A command waiting for this connection's answer would otherwise
        // wait out its whole timeout (an hour for updates).
        if (bCurrent) {
            m_hResponseEvent.Set();
        }
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
    std::fputs(line, stderr);

    // Counted before the callbacks run, so that they see it up to date.
    const bool bFirstMessage = m_dwMsgCount.fetch_add(1) == 0;

    CfgFields fields;
    std::uint32_t dwKind = REPLY_NONE;
    const std::int32_t nResult = ParseReply(std::string_view(text, textLength), fields, dwKind);
    std::fprintf(stderr, "Msg: %d\n", static_cast<int>(dwKind));
    {
        std::lock_guard lock(m_FieldLock);
        m_Fields = fields;
        m_nLastResult = nResult;
        if (dwKind == REPLY_OK || dwKind == REPLY_ERROR) {
            m_ReplyFields = fields;
            m_nReplyResult = nResult;
            ++m_dwReplySeq;
        }
    }

    switch (dwKind) {
    case REPLY_ERROR:
    case REPLY_OK:
        m_hResponseEvent.Set();
        break;
    case REPLY_STATUS:
        OnStatus(CfgFieldToInt(fields.m_szField[0]), CfgFieldToInt(fields.m_szField[1]));
        break;
    case REPLY_INFO:
        m_bReady = 1;
        OnInfo();
        break;
    default:
        if (bFirstMessage) {
            OnDisconnected(CFG_NO_KEYWORD);
        }
        break;
    }
}
