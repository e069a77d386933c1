// The write loop of a transfer (WRQ): acknowledging DATA blocks and storing
// them. Runs on the transfer's thread; see tftp_transfer.h.

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file.h"
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

// Writes what was collected but not stored yet.
bool FlushWrites(TftpRequest& r)
{
    if (r.pendingLength == 0)
        return true;
    const bool ok = WriteAll(r.transport.file.Get(), r.textBuffer.get(), r.pendingLength);
    r.pendingLength = 0;
    return ok;
}

bool WritesCollected(const TftpRequest& r)
{
    return r.textMode || r.blockSize < WRITE_DIRECT_BLKSIZE;
}

bool StoreData(TftpRequest& r, const std::uint8_t* data, std::size_t size)
{
    if (!WritesCollected(r))
        return WriteAll(r.transport.file.Get(), data, size);
    // Allocated with the first data, so that a client that never sends any
    // holds no more than its packet buffer.
    if (!r.textBuffer) {
        r.textCapacity = std::max<std::size_t>(WRITE_BEHIND_BYTES, 2 * r.blockSize);
        r.textBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(r.textCapacity);
    }
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

}  // namespace

void WriteTransfer(TftpRequest& r, CTftpUpload& upload)
{
    const std::size_t capacity = r.blockSize + TFTP_HEADER;
    r.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    std::uint8_t* packet = r.buffer.get();
    std::uint16_t block = 0;  // the last block received
    // Windows (RFC 7440): blocks taken since the last ACK went out, and
    // blocks out of order since the last one in order.
    std::uint32_t inWindow = 0;
    std::uint32_t strays = 0;
    if (!r.transport.Send(r.control.data(), r.controlLength)) {
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
            if (!r.transport.Send(r.control.data(), r.controlLength)) {
                CommunicationError(r);
                return;
            }
            ++r.retries;
            inWindow = 0;
            continue;
        }
        const std::uint16_t opcode = GetU16(packet);
        if (opcode == TFTP_DATA) {
            const std::uint16_t number = GetU16(packet + 2);
            if (number != static_cast<std::uint16_t>(block + 1)) {
                // In lock-step a duplicate or stray block gets no ACK and no
                // count. In a window it shows a gap, or a window sent again
                // because our ACK was lost: acknowledge the last block in
                // order, once per window's worth of strays, so that a
                // re-sent window draws one ACK and not one per block.
                if (r.windowSize > 1 && strays++ % r.windowSize == 0) {
                    inWindow = 0;
                    if (!r.transport.Send(r.control.data(), r.controlLength)) {
                        CommunicationError(r);
                        return;
                    }
                }
                continue;
            }
            strays = 0;
            NoteAnswered(r);
            block = number;
            ++r.blockCount;
            PutU16(r.control.data(), TFTP_ACK);
            PutU16(r.control.data() + 2, block);
            r.controlLength = TFTP_HEADER;
            const std::size_t dataLength = length - TFTP_HEADER;
            r.bytesSent += dataLength;
            if (dataLength >= r.blockSize) {
                // The ACK leaves before the data is written, so that the
                // client's next block travels while the disk works. In a
                // window only its last block is acknowledged; the ACK built
                // for the others is the one a timeout sends.
                if (++inWindow >= r.windowSize) {
                    inWindow = 0;
                    if (!r.transport.Send(r.control.data(), r.controlLength)) {
                        CommunicationError(r);
                        return;
                    }
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
            if (const std::uint32_t placed = upload.Commit(r.transport.file); placed != TFTP_UPLOAD_OK) {
                SetTransferError(r, placed == TFTP_UPLOAD_EXISTS ? TFTP_ERR_EXISTS : TFTP_ERR_DISK_FULL);
                return;
            }
            if (!r.transport.Send(r.control.data(), r.controlLength)) {
                CommunicationError(r);
                return;
            }
            ReportCompleted(r, "Received");
            return;
        }
        // A request sent to the transfer's port is no reply: a client that
        // repeats its request does so at the server's port.
        if (opcode == TFTP_RRQ || opcode == TFTP_WRQ)
            continue;
        if (opcode == TFTP_ERROR) {
            // Reported without the client prefix, unlike the same end of a read.
            const std::string text = ClientErrorText(std::span<const std::uint8_t>(packet, length));
            ReportLine(*r.server->reporter, "%s", text.c_str());
            ClientEndedTransfer(r, text);
            return;
        }
        SetTransferError(r, TFTP_ERR_OPCODE);
        return;
    }
}
