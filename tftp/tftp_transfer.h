#pragma once
// One read or write transfer, served on its own thread. The listener
// allocates a TftpRequest per datagram; TransferThread takes ownership and
// frees it on every path. Everything a transfer touches lives in its
// record (socket, file, packets) or in the state of its read or write loop
// (the loop's buffers); what it shares with its server (settings, home
// entries, report sink, event handler, the registry that lets a stop reach
// it) is reached through the record's context, which the server keeps alive
// until every transfer has ended.
//
// The set-up and the thread entry are in tftp_transfer.cpp, the read loop in
// tftp_read.cpp and the write loop in tftp_write.cpp.

#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/native_types.h"

#include "tftp/tftp_event.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_transport.h"
#include "tftp/tftp_wire.h"

class CTftpUpload;
class TftpHomes;
class TftpReporter;
struct TftpSettings;

// One transfer as the registry of its server sees it, from its admission
// to its release. Owned by the transfer's record; the registry keeps a
// pointer to it meanwhile. `ended` and `displaced` are written by the
// registry (any thread) and read by the transfer's thread; the rest belongs
// to the registry and is touched under its lock.
struct TftpTransferSlot
{
    std::uint32_t clientIp = 0;  // network order
    // Set when the transfer is to end: the server stops, or a new request
    // took its place (`displaced`, set first).
    std::atomic<bool> ended{false};
    std::atomic<bool> displaced{false};

    int socket = -1;            // shut down to wake the transfer's receive
    bool acknowledged = false;  // the client has answered once
    bool counted = false;       // counts against the limits
};

// The running transfers of one server: how many there are per client, and
// their sockets, so that a stop can wake their blocking receives. Touched at
// the start and the end of each transfer and at its first acknowledgment,
// never per packet. Any thread.
class TftpTransferRegistry final
{
public:
    enum class Admission
    {
        Admitted,
        TooMany,            // the server runs its maximum of transfers
        TooManyFromClient,  // this client address runs its maximum
    };

    // Counts a new transfer of the slot's client unless that would exceed
    // a limit. At the server's maximum the oldest transfer that no client
    // has answered yet gives up its place: requests that are never answered
    // cannot hold every slot for their whole timeout. A slot admitted while
    // the registry stops is ended at once.
    [[nodiscard]] Admission Admit(TftpTransferSlot& slot, std::uint32_t maxTotal, std::uint32_t maxPerClient);
    // Forgets a slot that Admit let in.
    void Release(TftpTransferSlot& slot);
    // The client answered: the transfer keeps its place from now on.
    void Acknowledged(TftpTransferSlot& slot);
    std::size_t Running() const;

    // Keeps the transfer's socket reachable while the transfer runs. The
    // socket of a slot ended meanwhile is shut down at once.
    void AddSocket(TftpTransferSlot& slot, int fd);
    void RemoveSocket(TftpTransferSlot& slot);
    // Ends every running transfer and every one started until Reset.
    void Stop();
    void Reset();

private:
    void Uncount(TftpTransferSlot& slot);

    mutable std::mutex m_mutex;
    std::size_t m_running = 0;
    std::unordered_map<std::uint32_t, std::uint32_t> m_perClient;
    std::list<TftpTransferSlot*> m_slots;  // in the order of admission
    bool m_stopping = false;
};

// What the transfers of one server run share with it. The server fills it
// before its request loop starts and keeps it unchanged until every
// transfer has ended.
struct TftpServerContext
{
    const TftpSettings* settings = nullptr;
    const TftpHomes* homes = nullptr;
    const TftpReporter* reporter = nullptr;
    const TftpEventHub* events = nullptr;
    TftpTransferRegistry* registry = nullptr;
};

// One transfer's record: what its read or write loop shares with the
// set-up, the report and the server (the client, the sockets, the request,
// the options in force, the progress and the outcome). Each loop keeps its
// own buffers in a state of its own for as long as it runs: the read-ahead
// ring and the text being translated (ReadState, tftp_read.cpp), the block
// received and the bytes waiting to be written (WriteState, tftp_write.cpp).
struct TftpRequest
{
    const TftpServerContext* server = nullptr;
    TftpTransferSlot slot;

    // The client and the sockets.
    sockaddr_in client{};
    int listenSocket = -1;  // not owned
    std::uint8_t endpointIndex = 0;
    bool connected = false;  // errors go out on the transfer socket
    TftpTransport transport;

    // The datagram the listener received and, for a read or write request,
    // what it asks for. The parse's views lead into `packet`, which holds
    // nothing else.
    std::array<std::uint8_t, TFTP_REQUEST_MAX> packet{};
    std::size_t packetLength = 0;
    TftpRequestParse parse;
    std::string fileName;   // as the client sent it
    std::string localPath;  // empty until resolved
    bool write = false;
    bool textMode = false;

    // The options in force once negotiated.
    std::uint64_t transferSize = 0;  // the file size sent with "tsize"
    std::uint32_t blockSize = TFTP_DEFAULT_BLKSIZE;
    std::uint32_t timeoutSeconds = 2;
    std::uint32_t windowSize = 1;  // blocks per acknowledgment (RFC 7440)
    // The ACK 0 or the OACK that answers the request; a write sends its
    // later ACKs from here too.
    std::array<std::uint8_t, TFTP_OACK_MAX> control{};
    std::size_t controlLength = 0;

    // Progress.
    std::uint8_t retries = 0;      // waits without progress
    bool answered = false;         // the client has acknowledged once
    std::uint32_t blockCount = 0;  // ACKs matched (read) or blocks received (write)
    std::uint64_t bytesSent = 0;   // read: data sent; write: data received

    // The outcome.
    bool finished = false;  // ended normally
    std::array<std::uint8_t, TFTP_ERROR_MAX> errorPacket{};
    std::size_t errorLength = 0;  // 0: no error to send
    std::string message;          // what ended the transfer, as reported
};

// Serves the request, which the registry admitted, to its end and frees it;
// releases its admission before the closing event. Thread entry.
void TransferThread(std::unique_ptr<TftpRequest> request);

// Fills the record's error packet (opcode 5, code, text) and its message.
void SetTransferError(TftpRequest& request, const TftpError& error);
void SetTransferError(TftpRequest& request, std::uint16_t code, std::string_view text);

// Raises a transfer event of the request (its client, name, sizes and
// message) with the server's handler.
void PublishTransferEvent(const TftpRequest& request, TftpTransferEvent::Kind kind);

// --- Shared by the read and write loops ---------------------------------------

// Ends the transfer without an ERROR packet: "Communication Error".
void CommunicationError(TftpRequest& r);
// Sends the control packet (the OACK or an ACK); a failed send ends the
// transfer with "Communication Error" and false comes back.
bool SendControl(TftpRequest& r);
// Receive for the transfer loops: a stop or a failed receive ends the
// transfer here (its error is set, false comes back); a timeout gives
// length 0. Inline: it waits for every block.
inline bool ReceiveOrEnd(TftpRequest& r, std::uint8_t* buffer, std::size_t capacity, std::size_t& length)
{
    switch (r.transport.Receive(buffer, capacity, length)) {
    case TftpWait::Stopped:
        SetTransferError(r, r.slot.displaced.load() ? TFTP_ERR_TOO_MANY : TFTP_ERR_SHUTDOWN);
        return false;
    case TftpWait::Failed:
        CommunicationError(r);
        return false;
    case TftpWait::Data:
    case TftpWait::Timeout:
        break;
    }
    return true;
}
// The client answered: from its first answer on the transfer keeps its
// place at the server's maximum.
inline void NoteAnswered(TftpRequest& r)
{
    if (!r.answered) {
        r.answered = true;
        r.server->registry->Acknowledged(r.slot);
    }
}
// The error after the retries ran out: "Timeout", or "File too large for
// client" when the block numbers wrapped to 0 unacknowledged.
void FailAfterRetries(TftpRequest& r, std::uint16_t expectedBlock);
// The transfer ended normally: "Client %s:%u %s, %u Blocks <how>" with the
// client, the local path and the block count.
void ReportCompleted(TftpRequest& r, const char* how);
// A reply other than the one the loop waits for (DATA or ACK, at least the
// 4-byte header): a repeated request is ignored (false); the client's ERROR,
// whose report text becomes the transfer's message, and every other opcode
// end the transfer (true).
bool ReplyEndsTransfer(TftpRequest& r, std::span<const std::uint8_t> reply);

// Inline: the read and write loops call them for every block.
inline void PutU16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

inline std::uint16_t GetU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Builds an ERROR packet (opcode 5, code, text and its NUL) into `packet`,
// cutting the text to fit; returns its length. `packet` holds at least 5
// bytes. Pure.
std::size_t BuildErrorPacket(std::span<std::uint8_t> packet, std::uint16_t code, std::string_view text);

std::string ClientAddressText(const TftpRequest& r);
std::string SystemErrorText(int error);

// The loops; the request is set up, the file open, the control packet (ACK 0
// or the OACK) built.
void ReadTransfer(TftpRequest& r);
void WriteTransfer(TftpRequest& r, CTftpUpload& upload);
