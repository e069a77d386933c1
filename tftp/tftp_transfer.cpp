// The transfer thread: set-up (own socket, request parsing, name resolution,
// file, options), the common end, and the registry of running transfers.
// Runs on the transfer's own thread and owns its TftpRequest; see
// tftp_transfer.h.

#include "tftp/tftp_transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/datagrams.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "net/address_text.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_open.h"
#include "tftp/tftp_options.h"
#include "tftp/tftp_path.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_upload.h"

// --- Registry ------------------------------------------------------------------

TftpTransferRegistry::Admission TftpTransferRegistry::Admit(TftpTransferSlot& slot, std::uint32_t maxTotal,
                                                            std::uint32_t maxPerClient)
{
    std::lock_guard lock(m_mutex);
    TftpTransferSlot* displace = nullptr;
    if (m_running >= maxTotal) {
        for (TftpTransferSlot* other : m_slots) {
            if (other->counted && !other->acknowledged) {
                displace = other;
                break;
            }
        }
        if (displace == nullptr)
            return Admission::TooMany;
    }
    const auto it = m_perClient.find(slot.clientIp);
    std::uint32_t count = it == m_perClient.end() ? 0 : it->second;
    if (displace != nullptr && displace->clientIp == slot.clientIp)
        --count;
    if (count >= maxPerClient)
        return Admission::TooManyFromClient;
    if (displace != nullptr) {
        Uncount(*displace);
        displace->displaced.store(true);
        displace->ended.store(true);
        // NOTE: shutting the read side of a UDP socket down wakes a blocked
        // recv, which then returns 0; the send side stays usable for the
        // ERROR.
        if (displace->socket >= 0)
            vindle::platform::InterruptReceive(displace->socket);
    }
    ++m_perClient[slot.clientIp];
    ++m_running;
    slot.counted = true;
    slot.ended.store(m_stopping);
    m_slots.push_back(&slot);
    return Admission::Admitted;
}

void TftpTransferRegistry::Uncount(TftpTransferSlot& slot)
{
    if (!slot.counted)
        return;
    slot.counted = false;
    --m_running;
    // The table only holds clients with transfers, so that it stays small
    // however many addresses a flood comes from.
    const auto it = m_perClient.find(slot.clientIp);
    if (it != m_perClient.end() && --it->second == 0)
        m_perClient.erase(it);
}

void TftpTransferRegistry::Release(TftpTransferSlot& slot)
{
    std::lock_guard lock(m_mutex);
    Uncount(slot);
    m_slots.remove(&slot);
}

void TftpTransferRegistry::Acknowledged(TftpTransferSlot& slot)
{
    std::lock_guard lock(m_mutex);
    slot.acknowledged = true;
}

std::size_t TftpTransferRegistry::Running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void TftpTransferRegistry::AddSocket(TftpTransferSlot& slot, int fd)
{
    std::lock_guard lock(m_mutex);
    slot.socket = fd;
    // An end that came before the socket must still be seen.
    if (slot.ended.load())
        vindle::platform::InterruptReceive(fd);
}

void TftpTransferRegistry::RemoveSocket(TftpTransferSlot& slot)
{
    std::lock_guard lock(m_mutex);
    slot.socket = -1;
}

void TftpTransferRegistry::Stop()
{
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (TftpTransferSlot* slot : m_slots) {
        slot->ended.store(true);
        if (slot->socket >= 0)
            vindle::platform::InterruptReceive(slot->socket);
    }
}

void TftpTransferRegistry::Reset()
{
    std::lock_guard lock(m_mutex);
    m_stopping = false;
}

// --- Shared by the loops -----------------------------------------------------

namespace {

constexpr const char* MSG_COMMUNICATION = "Communication Error";

// Keeps a transfer socket in the registry for the life of the transfer.
class CTransferRegistration final
{
public:
    CTransferRegistration(TftpTransferRegistry& registry, TftpTransferSlot& slot, int fd)
        : m_registry(registry)
        , m_slot(slot)
    {
        m_registry.AddSocket(slot, fd);
    }
    ~CTransferRegistration() { m_registry.RemoveSocket(m_slot); }
    CTransferRegistration(const CTransferRegistration&) = delete;
    CTransferRegistration& operator=(const CTransferRegistration&) = delete;

private:
    TftpTransferRegistry& m_registry;
    TftpTransferSlot& m_slot;
};

}  // namespace

std::string SystemErrorText(int error)
{
    return vindle::platform::ErrnoText(error);
}

std::string ClientAddressText(const TftpRequest& r)
{
    return FormatIpv4(r.client.sin_addr.s_addr);
}

void CommunicationError(TftpRequest& r)
{
    r.errorLength = 0;
    r.message = MSG_COMMUNICATION;
    ReportTransfer(r, MSG_COMMUNICATION);
}

bool SendControl(TftpRequest& r)
{
    if (r.transport.Send(r.control.data(), r.controlLength))
        return true;
    CommunicationError(r);
    return false;
}

void ReportCompleted(TftpRequest& r, const char* how)
{
    ReportLine(*r.server->reporter, "Client %s:%u %s, %u Blocks %s", ClientAddressText(r).c_str(),
               static_cast<unsigned>(ntohs(r.client.sin_port)), EscapeReportText(r.localPath).c_str(),
               r.blockCount, how);
    r.finished = true;
}

bool ReplyEndsTransfer(TftpRequest& r, std::span<const std::uint8_t> reply)
{
    const std::uint16_t opcode = GetU16(reply.data());
    // A request sent to the transfer's port is no reply: a client that
    // repeats its request does so at the server's port.
    if (opcode == TFTP_RRQ || opcode == TFTP_WRQ)
        return false;
    if (opcode != TFTP_ERROR) {
        SetTransferError(r, TFTP_ERR_OPCODE);
        return true;
    }
    std::string text = ClientErrorText(reply);
    if (r.write) {
        // Without the client prefix, unlike the same end of a read.
        ReportLine(*r.server->reporter, "%s", text.c_str());
    } else {
        // The line names the client twice: the report's own prefix comes
        // in front of this text.
        ReportTransfer(r, "Client " + ClientAddressText(r) + ":" + std::to_string(ntohs(r.client.sin_port)) +
                              ", " + text);
    }
    r.errorLength = 0;
    r.message = std::move(text);
    return true;
}

void FailAfterRetries(TftpRequest& r, std::uint16_t expectedBlock)
{
    // The block numbers wrapped around and the client never acknowledged
    // block 0: it cannot count past 65535.
    if (r.blockCount != 0 && expectedBlock == 0)
        SetTransferError(r, TFTP_ERR_WRAPPED);
    else
        SetTransferError(r, TFTP_ERR_TIMEOUT);
}

std::size_t BuildErrorPacket(std::span<std::uint8_t> packet, std::uint16_t code, std::string_view text)
{
    const std::size_t room = packet.size() - TFTP_HEADER - 1;
    if (text.size() > room)
        text = text.substr(0, room);
    PutU16(packet.data(), TFTP_ERROR);
    PutU16(packet.data() + 2, code);
    std::memcpy(packet.data() + TFTP_HEADER, text.data(), text.size());
    packet[TFTP_HEADER + text.size()] = 0;
    return TFTP_HEADER + text.size() + 1;
}

void SetTransferError(TftpRequest& request, std::uint16_t code, std::string_view text)
{
    request.errorLength = BuildErrorPacket(request.errorPacket, code, text);
    request.message.assign(text.substr(0, request.errorLength - TFTP_HEADER - 1));
}

void SetTransferError(TftpRequest& request, const TftpError& error)
{
    SetTransferError(request, error.code, error.text);
}

void PublishTransferEvent(const TftpRequest& request, TftpTransferEvent::Kind kind)
{
    const TftpEventHub* events = request.server->events;
    if (events == nullptr)
        return;
    TftpTransferEvent event;
    event.kind = kind;
    event.client = request.client;
    event.file = request.fileName;
    event.bytesSent = request.bytesSent;
    event.fileSize = request.write ? 0 : request.transferSize;
    event.write = request.write;
    if (kind == TftpTransferEvent::Kind::Failed)
        event.message = request.message;
    events->Publish(event);
}

// --- Set-up ------------------------------------------------------------------

namespace {

// Binds the transfer socket to the listening address, on a port of the
// configured range (or any port).
bool BindTransferSocket(TftpRequest& r)
{
    const TftpConfig& config = r.server->settings->config;
    const ListenEndpoint& endpoint = config.endpoints[r.endpointIndex];
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = endpoint.ip;
    std::uint32_t port = config.portLow;
    const std::uint32_t high = config.portHigh;
    for (;;) {
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (bind(r.transport.socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (port == 0 || port >= high)
            return false;
        ++port;
    }
}

// Binds the transfer socket and connects it to the client; from then on
// errors leave from the transfer's own port.
bool ConnectToClient(TftpRequest& r)
{
    if (!BindTransferSocket(r)) {
        SetTransferError(r, TFTP_ERR_NO_PORT);
        return false;
    }
    if (connect(r.transport.socket.Get(), reinterpret_cast<const sockaddr*>(&r.client), sizeof r.client) !=
        0) {
        SetTransferError(r, TFTP_ERR_CONNECT);
        return false;
    }
    r.connected = true;
    return true;
}

bool OpenLocalFile(TftpRequest& r, const TftpParsedRequest& request, std::string_view relativeName,
                   CTftpUpload& upload)
{
    const TftpConfig& config = r.server->settings->config;
    const TftpFileStatus status =
        request.opcode == TFTP_RRQ
            ? OpenForReading(r.localPath, relativeName, r.transport.file, r.transferSize)
            : upload.Begin(r.localPath, relativeName,
                           {.overwrite = config.overwrite,
                            .guard = &config.writeGuard,
                            .announcedSize = AnnouncedSize(request)},
                           r.transport.file);
    if (!status.ok)
        SetTransferError(r, status.error);
    if (request.opcode == TFTP_WRQ)
        r.transferSize = 0;
    return status.ok;
}

// Resolves the requested name within the homes and opens the file it
// names: for reading, or as the upload's temporary file.
bool OpenRequestedFile(TftpRequest& r, CTftpUpload& upload)
{
    const TftpParsedRequest& request = r.parse.request;
    const auto homes = r.server->homes->Snapshot();
    TftpPathResult path = ResolveRequestName(request.fileName, homes);
    if (!path.ok) {
        SetTransferError(r, path.error);
        return false;
    }
    r.localPath = std::move(path.localPath);
    r.textMode = IsTextMode(request.mode);
    return OpenLocalFile(r, request, path.relativeName, upload);
}

// Grants the options the request asks for within the server's limits,
// applies them to the record and the socket, and builds the answer to the
// request: the OACK, or ACK 0 when there is nothing to confirm.
bool ApplyOptions(TftpRequest& r)
{
    const TftpSettings& settings = *r.server->settings;
    TftpOptionLimits limits;
    limits.maxBlockSize = std::min(settings.maxBlockSize, TFTP_MAX_BLKSIZE);
    limits.defaultInterval = settings.defaultInterval;
    limits.maxWindowSize = std::min(settings.maxWindowSize, TFTP_MAX_WINDOWSIZE);
    limits.fileSize = r.transferSize;
    const TftpNegotiation negotiation = NegotiateOptions(r.parse.request, limits);
    r.blockSize = negotiation.blockSize;
    r.timeoutSeconds = negotiation.timeoutSeconds;
    r.windowSize = negotiation.windowSize;
    if (!vindle::platform::SetReceiveTimeout(r.transport.socket.Get(), r.timeoutSeconds)) {
        SetTransferError(r, TFTP_ENOTDEFINED, SystemErrorText(errno));
        return false;
    }
    if (negotiation.oackMode) {
        std::memcpy(r.control.data(), negotiation.oack.data(), negotiation.oackLength);
        r.controlLength = negotiation.oackLength;
    } else {
        PutU16(r.control.data(), TFTP_ACK);
        PutU16(r.control.data() + 2, 0);
        r.controlLength = TFTP_HEADER;
    }
    return true;
}

void ServeTransfer(TftpRequest& r)
{
    r.blockSize = TFTP_DEFAULT_BLKSIZE;
    r.timeoutSeconds = TimeoutForInterval(r.server->settings->defaultInterval);
    r.transport.stopping = &r.slot.ended;
    r.transport.socket.Reset(SocketOpen(SOCK_DGRAM, false));
    if (!r.transport.socket.Valid()) {
        SetTransferError(r, TFTP_ERR_SOCKET);
        return;
    }
    const CTransferRegistration registration(*r.server->registry, r.slot, r.transport.socket.Get());
    if (!ConnectToClient(r))
        return;
    // A malformed request is answered here, from the transfer's own port.
    if (!r.parse.ok) {
        SetTransferError(r, r.parse.error);
        return;
    }
    CTftpUpload upload;
    if (!OpenRequestedFile(r, upload) || !ApplyOptions(r))
        return;
    PublishTransferEvent(r, TftpTransferEvent::Kind::Started);
    // A write that ends before its last block leaves nothing behind: the
    // upload's temporary file goes with it, a file it would have replaced
    // stays as it was.
    if (!r.write)
        ReadTransfer(r);
    else
        WriteTransfer(r, upload);
}

void SendErrorPacket(TftpRequest& r)
{
    if (r.connected) {
        (void)send(r.transport.socket.Get(), r.errorPacket.data(), r.errorLength, SOCKET_SEND_FLAGS);
    } else {
        (void)sendto(r.listenSocket, r.errorPacket.data(), r.errorLength, 0,
                     reinterpret_cast<const sockaddr*>(&r.client), sizeof r.client);
    }
}

}  // namespace

void TransferThread(std::unique_ptr<TftpRequest> request)
{
    TftpRequest& r = *request;
    ServeTransfer(r);
    if (r.errorLength != 0) {
        ReportTransfer(r, r.message);
        SendErrorPacket(r);
    }
    // The socket and the file close and the transfer stops counting against
    // the limits before the owner hears of the end.
    r.transport.file.Reset();
    r.transport.socket.Reset();
    r.server->registry->Release(r.slot);
    PublishTransferEvent(r, r.finished ? TftpTransferEvent::Kind::Finished : TftpTransferEvent::Kind::Failed);
}
