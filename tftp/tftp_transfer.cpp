// The transfer thread: set-up (own socket, request parsing, name resolution,
// file, options) and the read and write loops. Runs on its own thread and
// owns its TftpRequest; see tftp_transfer.h.

#include "tftp/tftp_transfer.h"

#include <cerrno>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "tftp/tftp_config.h"
#include "tftp/tftp_open.h"
#include "tftp/tftp_options.h"
#include "tftp/tftp_path.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_upload.h"

std::uint16_t g_tftpFirstDataBlock = 1;

namespace
{

// Sockets of the running transfers, so that a stop can wake their blocking
// receives. Touched once at the start and once at the end of a transfer.
std::mutex g_transferMutex;
std::vector<int> g_transferSockets;
std::atomic<bool> g_transfersStopping{false};

// Keeps a transfer socket in the registry for the life of the transfer.
class CTransferRegistration final
{
public:
    explicit CTransferRegistration(int fd) : m_fd(fd)
    {
        std::lock_guard lock(g_transferMutex);
        g_transferSockets.push_back(fd);
        // A stop that came before the registration must still be seen.
        if (g_transfersStopping.load())
            shutdown(fd, SHUT_RD);
    }
    ~CTransferRegistration()
    {
        std::lock_guard lock(g_transferMutex);
        std::erase(g_transferSockets, m_fd);
    }
    CTransferRegistration(const CTransferRegistration&) = delete;
    CTransferRegistration& operator=(const CTransferRegistration&) = delete;

private:
    int m_fd;
};

} // namespace

void StopTransfers()
{
    std::lock_guard lock(g_transferMutex);
    g_transfersStopping.store(true);
    // NOTE: shutting the read side of a UDP socket down wakes a blocked
    // recv, which then returns 0; the send side stays usable for the ERROR.
    for (int fd : g_transferSockets)
        shutdown(fd, SHUT_RD);
}

void ResetTransferStop()
{
    g_transfersStopping.store(false);
}

void CUniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}

int CUniqueFd::Close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd >= 0 ? close(fd) : 0;
}

namespace
{

constexpr const char* MSG_COMMUNICATION = "Communication Error";
// Raw bytes read from a text-mode file per read call.
constexpr std::size_t TEXT_READ_CHUNK = 16384;

enum class Wait
{
    Data,       // a datagram of `length` bytes arrived
    Timeout,    // nothing within the timeout
    Stopped,    // the server is stopping
    Failed,     // the socket failed, or the datagram did not fit
};

void PutU16(std::uint8_t* p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t GetU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::string SystemError(int error)
{
    char text[256];
    // GNU strerror_r returns the text, which need not be in `text`.
    return strerror_r(error, text, sizeof text);
}

std::string ClientAddress(const TftpRequest& r)
{
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &r.client.sin_addr, text, sizeof text);
    return text;
}

void CommunicationError(TftpRequest& r)
{
    r.errorLength = 0;
    ReportTransfer(r, MSG_COMMUNICATION);
}

// Waits up to the transfer's timeout (SO_RCVTIMEO, so one system call per
// packet) and receives one datagram of at most `capacity` bytes. A longer
// datagram counts as a failed receive.
Wait Receive(TftpRequest& r, std::uint8_t* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    for (;;) {
        // NOTE: recv would cut a longer datagram silently; MSG_TRUNC makes it
        // return the real length so that the overflow is seen.
        const ssize_t n = recv(r.transferSocket.Get(), buffer, capacity, MSG_TRUNC);
        // A stop shuts the socket down, which wakes the recv with 0 bytes.
        if (g_transfersStopping.load(std::memory_order_relaxed))
            return Wait::Stopped;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Wait::Timeout;
            return Wait::Failed;
        }
        if (static_cast<std::size_t>(n) > capacity)
            return Wait::Failed;
        length = static_cast<std::size_t>(n);
        return Wait::Data;
    }
}

// Receive for the transfer loops: a stop or a failed receive ends the
// transfer here (its error is set, false comes back); a timeout gives
// length 0.
bool ReceiveOrEnd(TftpRequest& r, std::uint8_t* buffer, std::size_t capacity, std::size_t& length)
{
    switch (Receive(r, buffer, capacity, length)) {
    case Wait::Stopped:
        SetTransferError(r, TFTP_ERR_SHUTDOWN);
        return false;
    case Wait::Failed:
        CommunicationError(r);
        return false;
    case Wait::Data:
    case Wait::Timeout:
        break;
    }
    return true;
}

bool Send(TftpRequest& r, const std::uint8_t* data, std::size_t length)
{
    for (;;) {
        const ssize_t n = send(r.transferSocket.Get(), data, length, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<std::size_t>(n) == length;
        if (errno != EINTR)
            return false;
    }
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

// --- Reading the local file ------------------------------------------------

void NotifyProgress(TftpRequest& r)
{
    const TftpProgressFunction notifier = ProgressNotifier.load(std::memory_order_acquire);
    void* receiver = ProgressReceiver.load(std::memory_order_acquire);
    if (notifier == nullptr || receiver == nullptr)
        return;
    // An empty file is complete from the start.
    std::uint64_t percent = 100;
    if (r.transferSize != 0)
        percent = r.bytesRead * 100 / r.transferSize;
    if (percent > 100)
        percent = 100;   // the file grew while being read
    // Only changes are passed on: a read per 512-byte block would otherwise
    // flood the receiver with the same value.
    if (static_cast<std::int32_t>(percent) == r.lastPercent)
        return;
    r.lastPercent = static_cast<std::int32_t>(percent);
    notifier(receiver, r.lastPercent);
}

// Reads up to `size` raw bytes; returns the count, or -1 with errno set.
ssize_t ReadFull(int fd, std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Fills `data` with up to one block of translated text; returns the count,
// or -1 with errno set. Fewer than a block's bytes mean the end of the text.
ssize_t ReadTextBlock(TftpRequest& r, std::uint8_t* data)
{
    std::size_t produced = 0;
    bool atEof = false;
    while (produced < r.blockSize && !r.textRead.ended) {
        if (r.textPosition == r.textLength && !atEof) {
            const ssize_t n = ReadFull(r.file.Get(), r.textBuffer.get(), TEXT_READ_CHUNK);
            if (n < 0)
                return -1;
            r.textPosition = 0;
            r.textLength = static_cast<std::size_t>(n);
            atEof = static_cast<std::size_t>(n) < TEXT_READ_CHUNK;
            r.bytesRead += static_cast<std::uint64_t>(n);
            NotifyProgress(r);
        }
        const TextReadStep step = TextModeRead(
            r.textRead,
            std::span<const std::uint8_t>(r.textBuffer.get() + r.textPosition, r.textLength - r.textPosition),
            std::span<std::uint8_t>(data + produced, r.blockSize - produced), atEof);
        r.textPosition += step.consumed;
        produced += step.produced;
        if (atEof && r.textPosition == r.textLength && !r.textRead.pendingCr)
            break;
    }
    return static_cast<ssize_t>(produced);
}

// --- Read transfer -----------------------------------------------------------
//
// Block indexes count from 1 (0 stands for the OACK) and do not wrap; the
// 16-bit number on the wire is derived from them. The file is read ahead
// into a ring of `slots` blocks: block n sits in slot (n - 1) % slots. While
// block k waits for its acknowledgment the following blocks are already in
// memory, so an ACK is answered by a send without a file read in between.
// The ring holds at least two blocks (the classic double buffer) and about
// 256 KB of smaller ones, so that one read call serves many of them. Each
// slot keeps room for the 4-byte header in front of its data: the DATA
// packet then leaves as one contiguous buffer with a plain send.

constexpr std::size_t READ_AHEAD_BYTES = 262144;

struct ReadState
{
    std::uint8_t* ring = nullptr;
    std::vector<std::uint32_t> lengths;   // data bytes per slot
    std::size_t slots = 2;
    std::uint64_t filled = 0;             // highest block read into the ring
    std::uint64_t last = 0;               // the final (short) block, once known
};

std::uint16_t WireBlock(std::uint64_t index)
{
    if (index == 0)
        return 0;
    return static_cast<std::uint16_t>(index - 1 + g_tftpFirstDataBlock);
}

std::size_t SlotStride(const TftpRequest& r)
{
    return TFTP_HEADER + r.blockSize;
}

// The packet of slot `slot`: header, then the block's data.
std::uint8_t* SlotPacket(TftpRequest& r, ReadState& s, std::size_t slot)
{
    return s.ring + slot * SlotStride(r);
}

std::uint8_t* SlotData(TftpRequest& r, ReadState& s, std::uint64_t index)
{
    return SlotPacket(r, s, (index - 1) % s.slots) + TFTP_HEADER;
}

// Reads up to `size` raw bytes into the data parts of `count` slots from
// slot `first` on (wrapping around the ring); returns the count, or -1 with
// errno set. Fewer bytes than asked for mean the end of the file.
ssize_t ReadSlots(TftpRequest& r, ReadState& s, std::size_t first, std::size_t count)
{
    // Small enough for the stack and below every platform's IOV_MAX.
    constexpr std::size_t MAX_PARTS = 512;
    iovec parts[MAX_PARTS];
    std::size_t done = 0;
    std::size_t slot = first;
    while (count > 0) {
        const std::size_t batch = std::min(count, MAX_PARTS);
        for (std::size_t j = 0; j < batch; ++j) {
            parts[j] = {SlotPacket(r, s, slot) + TFTP_HEADER, r.blockSize};
            slot = slot + 1 == s.slots ? 0 : slot + 1;
        }
        const std::size_t wanted = batch * r.blockSize;
        std::size_t got = 0;
        std::size_t part = 0;
        while (got < wanted) {
            const ssize_t n = readv(r.file.Get(), parts + part, static_cast<int>(batch - part));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (n == 0)
                return static_cast<ssize_t>(done + got);
            got += static_cast<std::size_t>(n);
            // A short read of a regular file: go on behind the bytes read.
            std::size_t rest = static_cast<std::size_t>(n);
            while (part < batch && rest >= parts[part].iov_len) {
                rest -= parts[part].iov_len;
                ++part;
            }
            if (rest > 0) {
                parts[part].iov_base = static_cast<std::uint8_t*>(parts[part].iov_base) + rest;
                parts[part].iov_len -= rest;
            }
        }
        done += got;
        count -= batch;
    }
    return static_cast<ssize_t>(done);
}

// Records the blocks filled+1.. that `bytes` of raw file data make up; a
// short total marks the final block.
void TakeBinaryBlocks(TftpRequest& r, ReadState& s, std::size_t count, std::size_t bytes)
{
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint64_t index = s.filled + 1;
        const std::size_t offset = j * r.blockSize;
        const std::size_t length = bytes > offset ? std::min<std::size_t>(r.blockSize, bytes - offset) : 0;
        s.lengths[(index - 1) % s.slots] = static_cast<std::uint32_t>(length);
        s.filled = index;
        // Progress counts each block as it is taken from the read, as if
        // it had been read on its own.
        r.bytesRead += length;
        NotifyProgress(r);
        if (length < r.blockSize) {
            s.last = index;
            r.file.Close();
            return;
        }
    }
}

// Reads up to `count` further blocks into free slots; stops at the end of the
// file. A failure sets the transfer's error (the platform's text).
bool Fill(TftpRequest& r, ReadState& s, std::size_t count)
{
    if (r.textMode) {
        for (std::size_t j = 0; j < count && s.last == 0; ++j) {
            const std::uint64_t index = s.filled + 1;
            const ssize_t n = ReadTextBlock(r, SlotData(r, s, index));
            if (n < 0) {
                SetTransferError(r, TFTP_ENOTDEFINED, SystemError(errno));
                return false;
            }
            s.lengths[(index - 1) % s.slots] = static_cast<std::uint32_t>(n);
            s.filled = index;
            if (static_cast<std::size_t>(n) < r.blockSize) {
                s.last = index;
                r.file.Close();
            }
        }
        return true;
    }
    // The free slots may wrap around the end of the ring; one vectored read
    // fills them all the same.
    const ssize_t n = ReadSlots(r, s, s.filled % s.slots, count);
    if (n < 0) {
        SetTransferError(r, TFTP_ENOTDEFINED, SystemError(errno));
        return false;
    }
    const std::size_t bytes = static_cast<std::size_t>(n);
    TakeBinaryBlocks(r, s, count, bytes);
    return true;
}

// Sends what the client must acknowledge next: the OACK, or block k (header
// and data in one datagram); then reads ahead once the ring holds nothing
// beyond block k.
bool SendCurrent(TftpRequest& r, ReadState& s, std::uint64_t k)
{
    if (k == 0)
        return Send(r, r.control.data(), r.controlLength);
    const std::size_t slot = (k - 1) % s.slots;
    std::uint8_t* packet = SlotPacket(r, s, slot);
    PutU16(packet, TFTP_DATA);
    PutU16(packet + 2, WireBlock(k));
    if (!Send(r, packet, TFTP_HEADER + s.lengths[slot]))
        return false;
    // Every slot but block k's is acknowledged and free.
    if (s.last == 0 && s.filled == k)
        (void)Fill(r, s, s.slots - 1);   // a failure leaves its error in the record
    return true;
}

void ReadTransfer(TftpRequest& r, bool oackMode)
{
    ReadState s;
    if (r.textMode)
        r.textBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(TEXT_READ_CHUNK);
    else
        s.slots = std::max<std::size_t>(2, READ_AHEAD_BYTES / r.blockSize);
    // Every byte sent was read into the ring first: zeroing it would only
    // cost a pass over up to 256 KB per transfer.
    r.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(s.slots * SlotStride(r));
    s.ring = r.buffer.get();
    s.lengths.assign(s.slots, 0);
    // The OACK leaves before the file is read, so the client's ACK 0 is on
    // its way while the first blocks are read.
    if (oackMode && !Send(r, r.control.data(), r.controlLength)) {
        CommunicationError(r);
        return;
    }
    if (!Fill(r, s, s.slots))
        return;

    // Without options the request itself stands for the acknowledgment of
    // block 0, and block 1 goes out at once.
    std::uint64_t k = oackMode ? 0 : 1;
    bool sendNow = !oackMode;
    for (;;) {
        if (sendNow && !SendCurrent(r, s, k)) {
            if (r.errorLength == 0)
                CommunicationError(r);
            return;
        }
        sendNow = true;
        if (r.errorLength != 0)
            return;   // a read-ahead failed
        std::size_t length = 0;
        for (;;) {
            if (!ReceiveOrEnd(r, r.packet.data(), r.packet.size(), length))
                return;
            if (length < TFTP_HEADER) {
                if (r.retries >= TFTP_MAX_RETRIES) {
                    FailAfterRetries(r, WireBlock(k));
                    return;
                }
                ++r.retries;
                break;   // send block k again
            }
            const std::uint16_t opcode = GetU16(r.packet.data());
            if (opcode == TFTP_ACK) {
                if (GetU16(r.packet.data() + 2) == WireBlock(k)) {
                    if (k != 0 && k == s.last) {
                        ++r.blockCount;
                        ReportLine("Client %s:%u %s, %u Blocks Served", ClientAddress(r).c_str(),
                                   static_cast<unsigned>(ntohs(r.client.sin_port)),
                                   EscapeReportText(r.localPath).c_str(), r.blockCount);
                        return;
                    }
                    if (k != 0)
                        ++r.blockCount;
                    ++k;
                    r.retries = 0;
                }
                // Matching or not, every acknowledgment is answered with
                // block k: a duplicate ACK gets the current block at once.
                break;
            }
            if (opcode == TFTP_RRQ)
                break;
            if (opcode == TFTP_ERROR) {
                const char* text = reinterpret_cast<const char*>(r.packet.data() + 4);
                char line[TFTP_REQUEST_MAX + 64];
                std::snprintf(line, sizeof line, "Client %s:%u, Error Code %i at Client, %.*s",
                              ClientAddress(r).c_str(), static_cast<unsigned>(ntohs(r.client.sin_port)),
                              static_cast<int>(GetU16(r.packet.data() + 2)),
                              static_cast<int>(strnlen(text, length - 4)), text);
                ReportTransfer(r, line);
                return;
            }
            SetTransferError(r, TFTP_ERR_OPCODE);
            return;
        }
    }
}

// --- Write transfer ----------------------------------------------------------

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Small blocks are collected and written about 64 KB at a time; large
// binary blocks go to the file directly.
constexpr std::size_t WRITE_BEHIND_BYTES = 65536;
constexpr std::uint32_t WRITE_DIRECT_BLKSIZE = 16384;

bool WritesCollected(const TftpRequest& r)
{
    return r.textMode || r.blockSize < WRITE_DIRECT_BLKSIZE;
}

bool FlushWrites(TftpRequest& r)
{
    if (r.pendingLength == 0)
        return true;
    const bool ok = WriteAll(r.file.Get(), r.textBuffer.get(), r.pendingLength);
    r.pendingLength = 0;
    return ok;
}

bool StoreData(TftpRequest& r, const std::uint8_t* data, std::size_t size)
{
    if (!WritesCollected(r))
        return WriteAll(r.file.Get(), data, size);
    // Text mode may double every byte (LF to CR LF).
    const std::size_t room = r.textMode ? 2 * size : size;
    if (r.pendingLength + room > r.textCapacity && !FlushWrites(r))
        return false;
    std::uint8_t* tail = r.textBuffer.get() + r.pendingLength;
    if (r.textMode) {
        r.pendingLength += TextModeWrite(r.textWrite, std::span<const std::uint8_t>(data, size),
                                         std::span<std::uint8_t>(tail, r.textCapacity - r.pendingLength));
    } else {
        std::memcpy(tail, data, size);
        r.pendingLength += size;
    }
    return true;
}

void WriteTransfer(TftpRequest& r, CTftpUpload& upload)
{
    const std::size_t capacity = r.blockSize + TFTP_HEADER;
    r.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (WritesCollected(r)) {
        r.textCapacity = std::max<std::size_t>(WRITE_BEHIND_BYTES, 2 * r.blockSize);
        r.textBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(r.textCapacity);
    }
    std::uint8_t* packet = r.buffer.get();
    std::uint16_t block = 0;   // the last block received
    if (!Send(r, r.control.data(), r.controlLength)) {
        CommunicationError(r);
        return;
    }
    for (;;) {
        std::size_t length = 0;
        if (!ReceiveOrEnd(r, packet, capacity, length))
            return;
        if (length < TFTP_HEADER) {
            if (r.retries >= TFTP_MAX_RETRIES) {
                FailAfterRetries(r, block);
                return;
            }
            if (!Send(r, r.control.data(), r.controlLength)) {
                CommunicationError(r);
                return;
            }
            ++r.retries;
            continue;
        }
        const std::uint16_t opcode = GetU16(packet);
        if (opcode == TFTP_DATA) {
            const std::uint16_t number = GetU16(packet + 2);
            if (number != static_cast<std::uint16_t>(block + 1))
                continue;   // a duplicate or stray block: no ACK, no count
            block = number;
            ++r.blockCount;
            PutU16(r.control.data(), TFTP_ACK);
            PutU16(r.control.data() + 2, block);
            r.controlLength = TFTP_HEADER;
            const std::size_t dataLength = length - TFTP_HEADER;
            if (dataLength >= r.blockSize) {
                // The ACK leaves before the data is written, so that the
                // client's next block travels while the disk works.
                if (!Send(r, r.control.data(), r.controlLength)) {
                    CommunicationError(r);
                    return;
                }
                if (!StoreData(r, packet + TFTP_HEADER, dataLength)) {
                    SetTransferError(r, TFTP_ERR_DISK_FULL);
                    return;
                }
                r.retries = 0;
                continue;
            }
            // The last block is acknowledged only once it is stored and the
            // file is in place: the client takes that ACK as success.
            if (!StoreData(r, packet + TFTP_HEADER, dataLength) || !FlushWrites(r)) {
                SetTransferError(r, TFTP_ERR_DISK_FULL);
                return;
            }
            if (const std::uint32_t placed = upload.Commit(r.file); placed != TFTP_UPLOAD_OK) {
                SetTransferError(r, placed == TFTP_UPLOAD_EXISTS ? TFTP_ERR_EXISTS : TFTP_ERR_DISK_FULL);
                return;
            }
            if (!Send(r, r.control.data(), r.controlLength)) {
                CommunicationError(r);
                return;
            }
            ReportLine("Client %s:%u %s, %u Blocks Received", ClientAddress(r).c_str(),
                       static_cast<unsigned>(ntohs(r.client.sin_port)), EscapeReportText(r.localPath).c_str(),
                       r.blockCount);
            return;
        }
        if (opcode == TFTP_ERROR) {
            const char* text = reinterpret_cast<const char*>(packet + 4);
            ReportLine("Error Code %i at Client, %s", static_cast<int>(GetU16(packet + 2)),
                       EscapeReportText(std::string_view(text, strnlen(text, length - 4))).c_str());
            return;
        }
        SetTransferError(r, TFTP_ERR_OPCODE);
        return;
    }
}

// --- Set-up ------------------------------------------------------------------

// Binds the transfer socket to the listening address, on a port of the
// configured range (or any port).
bool BindTransferSocket(TftpRequest& r)
{
    const ListenEndpoint& endpoint = g_tftpConfig.endpoints[r.endpointIndex];
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = endpoint.ip;
    std::uint32_t port = g_tftpConfig.portLow;
    const std::uint32_t high = g_tftpConfig.portHigh;
    for (;;) {
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (bind(r.transferSocket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (port == 0 || port >= high)
            return false;
        ++port;
    }
}

bool OpenLocalFile(TftpRequest& r, std::uint16_t opcode, std::string_view relativeName, CTftpUpload& upload)
{
    const TftpFileStatus status = opcode == TFTP_RRQ
        ? OpenForReading(r.localPath, relativeName, r.file, r.transferSize)
        : upload.Begin(r.localPath, relativeName,
                       {.overwrite = g_tftpConfig.overwrite, .guard = &g_tftpConfig.writeGuard}, r.file);
    if (!status.ok)
        SetTransferError(r, status.error);
    if (opcode == TFTP_WRQ)
        r.transferSize = 0;
    return status.ok;
}

void ServeTransfer(TftpRequest& r)
{
    r.blockSize = TFTP_DEFAULT_BLKSIZE;
    r.timeoutSeconds = TimeoutForInterval(DefaultInterval);

    r.transferSocket.Reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!r.transferSocket.Valid()) {
        SetTransferError(r, TFTP_ERR_SOCKET);
        return;
    }
    const CTransferRegistration registration(r.transferSocket.Get());
    if (!BindTransferSocket(r)) {
        SetTransferError(r, TFTP_ERR_NO_PORT);
        return;
    }
    if (connect(r.transferSocket.Get(), reinterpret_cast<const sockaddr*>(&r.client), sizeof r.client) != 0) {
        SetTransferError(r, TFTP_ERR_CONNECT);
        return;
    }
    r.connected = true;

    const TftpRequestParse parse =
        ParseTftpRequest(std::span<const std::uint8_t>(r.packet.data(), r.packetLength));
    if (!parse.ok) {
        SetTransferError(r, parse.error);
        return;
    }
    const auto homes = TftpHomeSnapshot();
    TftpPathResult path = ResolveRequestName(parse.request.fileName, homes);
    if (!path.ok) {
        SetTransferError(r, path.error);
        return;
    }
    r.localPath = std::move(path.localPath);
    r.textMode = IsTextMode(parse.request.mode);
    CTftpUpload upload;
    if (!OpenLocalFile(r, parse.request.opcode, path.relativeName, upload))
        return;

    TftpOptionLimits limits;
    limits.maxBlockSize = MaxBlockSize > TFTP_MAX_BLKSIZE ? TFTP_MAX_BLKSIZE : MaxBlockSize;
    limits.defaultInterval = DefaultInterval;
    limits.fileSize = r.transferSize;
    const TftpNegotiation negotiation = NegotiateOptions(parse.request, limits);
    r.blockSize = negotiation.blockSize;
    r.timeoutSeconds = negotiation.timeoutSeconds;
    const timeval timeout{static_cast<time_t>(r.timeoutSeconds), 0};
    if (setsockopt(r.transferSocket.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        SetTransferError(r, TFTP_ENOTDEFINED, SystemError(errno));
        return;
    }
    if (negotiation.oackMode) {
        std::memcpy(r.control.data(), negotiation.oack.data(), negotiation.oackLength);
        r.controlLength = negotiation.oackLength;
    } else {
        PutU16(r.control.data(), TFTP_ACK);
        PutU16(r.control.data() + 2, 0);
        r.controlLength = TFTP_HEADER;
    }
    if (parse.request.opcode == TFTP_RRQ) {
        ReadTransfer(r, negotiation.oackMode);
    } else {
        WriteTransfer(r, upload);
        // A write that ends early keeps what was received (and acknowledged)
        // under a new name; a file it would have replaced stays as it was.
        if (r.file.Valid()) {
            (void)FlushWrites(r);
            upload.EndEarly(r.file);
        }
    }
}

void SendErrorPacket(TftpRequest& r)
{
    if (r.connected) {
        (void)send(r.transferSocket.Get(), r.errorPacket.data(), r.errorLength, MSG_NOSIGNAL);
    } else {
        (void)sendto(r.listenSocket, r.errorPacket.data(), r.errorLength, 0,
                     reinterpret_cast<const sockaddr*>(&r.client), sizeof r.client);
    }
}

} // namespace

void SetTransferError(TftpRequest& request, std::uint16_t code, std::string_view text)
{
    const std::size_t room = request.errorPacket.size() - TFTP_HEADER - 1;
    if (text.size() > room)
        text = text.substr(0, room);
    PutU16(request.errorPacket.data(), TFTP_ERROR);
    PutU16(request.errorPacket.data() + 2, code);
    std::memcpy(request.errorPacket.data() + TFTP_HEADER, text.data(), text.size());
    request.errorPacket[TFTP_HEADER + text.size()] = 0;
    request.errorLength = TFTP_HEADER + text.size() + 1;
    request.message.assign(text);
}

void SetTransferError(TftpRequest& request, const TftpError& error)
{
    SetTransferError(request, error.code, error.text);
}

void TransferThread(std::unique_ptr<TftpRequest> request)
{
    ServeTransfer(*request);
    if (request->errorLength != 0) {
        ReportTransfer(*request, request->message);
        SendErrorPacket(*request);
    }
    ReleaseTransfer(std::move(request));
}

void ReleaseTransfer(std::unique_ptr<TftpRequest> request)
{
    // The record's members close the file and the socket and free the buffers.
    request.reset();
}
