// The write loop of a transfer (WRQ): acknowledging DATA blocks and storing
// them. Runs on the transfer's thread; see tftp_transfer.h.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "tftp/netascii.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftp_upload.h"

namespace {

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = vindle::platform::WriteFile(fd, data, size);
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

// File bytes received but not written yet: small blocks, and every block
// of text after its translation.
struct WriteBehind
{
    std::unique_ptr<std::uint8_t[]> bytes;  // `capacity` bytes once data came
    std::size_t capacity = 0;
    std::size_t length = 0;  // bytes waiting
    TextWriteState translation;
};

// What a write keeps for as long as it runs, besides its record.
struct WriteState
{
    explicit WriteState(std::uint32_t blockSize)
        : capacity(blockSize + TFTP_HEADER)
        , received(std::make_unique_for_overwrite<std::uint8_t[]>(capacity))
    {
    }

    // The client's latest datagram: a DATA packet of the block size at most.
    std::size_t capacity;
    std::unique_ptr<std::uint8_t[]> received;
    WriteBehind pending;
    std::uint16_t block = 0;  // the last block received in order
    // Windows (RFC 7440): blocks taken since the last ACK went out, and
    // blocks out of order since the last one in order.
    std::uint32_t inWindow = 0;
    std::uint32_t strays = 0;
};

// Writes what was collected but not stored yet.
bool FlushWrites(TftpRequest& r, WriteBehind& pending)
{
    if (pending.length == 0)
        return true;
    const bool ok = WriteAll(r.transport.file.Get(), pending.bytes.get(), pending.length);
    pending.length = 0;
    return ok;
}

bool WritesCollected(const TftpRequest& r)
{
    return r.textMode || r.blockSize < WRITE_DIRECT_BLKSIZE;
}

bool StoreData(TftpRequest& r, WriteBehind& pending, const std::uint8_t* data, std::size_t size)
{
    if (!WritesCollected(r))
        return WriteAll(r.transport.file.Get(), data, size);
    // Allocated with the first data, so that a client that never sends any
    // holds no more than its packet buffer.
    if (!pending.bytes) {
        pending.capacity = std::max<std::size_t>(WRITE_BEHIND_BYTES, 2 * r.blockSize);
        pending.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(pending.capacity);
    }
    // Text mode may double every byte (LF to CR LF).
    const std::size_t room = r.textMode ? 2 * size : size;
    if (pending.length + room > pending.capacity && !FlushWrites(r, pending))
        return false;
    std::uint8_t* tail = pending.bytes.get() + pending.length;
    if (r.textMode) {
        pending.length += TextModeWrite(pending.translation, std::span<const std::uint8_t>(data, size),
                                        std::span<std::uint8_t>(tail, pending.capacity - pending.length));
    } else {
        std::memcpy(tail, data, size);
        pending.length += size;
    }
    return true;
}

// Whether a write goes on after a datagram or a timeout.
enum class WriteStep
{
    Continue,
    Ended,  // the record says how
};

// Nothing came within the timeout: the last ACK goes out again, until the
// retries run out.
WriteStep AnswerTimeout(TftpRequest& r, WriteState& w)
{
    if (r.retries >= TFTP_MAX_RETRIES) {
        FailAfterRetries(r, w.block);
        return WriteStep::Ended;
    }
    if (!SendControl(r))
        return WriteStep::Ended;
    ++r.retries;
    w.inWindow = 0;
    return WriteStep::Continue;
}

// In lock-step a duplicate or stray block gets no ACK and no count. In a
// window it shows a gap, or a window sent again because our ACK was lost:
// the last block in order is acknowledged, once per window's worth of
// strays, so that a re-sent window draws one ACK and not one per block.
WriteStep TakeStray(TftpRequest& r, WriteState& w)
{
    if (r.windowSize > 1 && w.strays++ % r.windowSize == 0) {
        w.inWindow = 0;
        if (!SendControl(r))
            return WriteStep::Ended;
    }
    return WriteStep::Continue;
}

// The last block is acknowledged only once it is stored and the file is in
// place: the client takes that ACK as success.
WriteStep FinishUpload(TftpRequest& r, WriteState& w, CTftpUpload& upload, std::span<const std::uint8_t> data)
{
    if (!StoreData(r, w.pending, data.data(), data.size()) || !FlushWrites(r, w.pending)) {
        SetTransferError(r, TFTP_ERR_DISK_FULL);
        return WriteStep::Ended;
    }
    if (const std::uint32_t placed = upload.Commit(r.transport.file); placed != TFTP_UPLOAD_OK) {
        SetTransferError(r, placed == TFTP_UPLOAD_EXISTS ? TFTP_ERR_EXISTS : TFTP_ERR_DISK_FULL);
        return WriteStep::Ended;
    }
    if (SendControl(r))
        ReportCompleted(r, "Received");
    return WriteStep::Ended;
}

// Takes the DATA packet of `length` bytes received: the next block in
// order is counted, acknowledged and stored.
WriteStep TakeData(TftpRequest& r, WriteState& w, CTftpUpload& upload, std::size_t length)
{
    const std::uint16_t number = GetU16(w.received.get() + 2);
    if (number != static_cast<std::uint16_t>(w.block + 1))
        return TakeStray(r, w);
    w.strays = 0;
    NoteAnswered(r);
    w.block = number;
    ++r.blockCount;
    PutU16(r.control.data(), TFTP_ACK);
    PutU16(r.control.data() + 2, w.block);
    r.controlLength = TFTP_HEADER;
    const std::span<const std::uint8_t> data(w.received.get() + TFTP_HEADER, length - TFTP_HEADER);
    r.bytesSent += data.size();
    if (data.size() < r.blockSize)
        return FinishUpload(r, w, upload, data);
    // The ACK leaves before the data is written, so that the client's next
    // block travels while the disk works. In a window only its last block
    // is acknowledged; the ACK built for the others is the one a timeout
    // sends.
    if (++w.inWindow >= r.windowSize) {
        w.inWindow = 0;
        if (!SendControl(r))
            return WriteStep::Ended;
    }
    if (!StoreData(r, w.pending, data.data(), data.size())) {
        SetTransferError(r, TFTP_ERR_DISK_FULL);
        return WriteStep::Ended;
    }
    r.retries = 0;
    return WriteStep::Continue;
}

}  // namespace

void WriteTransfer(TftpRequest& r, CTftpUpload& upload)
{
    WriteState w(r.blockSize);
    if (!SendControl(r))
        return;
    for (;;) {
        std::size_t length = 0;
        if (!ReceiveOrEnd(r, w.received.get(), w.capacity, length))
            return;
        WriteStep step = WriteStep::Continue;
        if (length < TFTP_HEADER)
            step = AnswerTimeout(r, w);
        else if (GetU16(w.received.get()) == TFTP_DATA)
            step = TakeData(r, w, upload, length);
        else if (ReplyEndsTransfer(r, std::span<const std::uint8_t>(w.received.get(), length)))
            step = WriteStep::Ended;
        if (step == WriteStep::Ended)
            return;
    }
}
