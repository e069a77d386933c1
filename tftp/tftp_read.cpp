// The read loop of a transfer (RRQ): the read-ahead ring, sending blocks and
// matching acknowledgments, and the progress it reports. Runs on the
// transfer's thread; see tftp_transfer.h.

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/datagrams.h"
#include "platform/file.h"
#include "tftp/netascii.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_transfer.h"

namespace {

// Raw bytes read from a text-mode file per read call.
constexpr std::size_t TEXT_READ_CHUNK = 16384;

// Reads up to `size` raw bytes; returns the count, or -1 with errno set.
ssize_t ReadFull(int fd, std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = vindle::platform::ReadFile(fd, data + done, size - done);
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

// A text-mode file on its way to the wire: raw file bytes read ahead of
// their translation, and where the translation stands.
struct TextSource
{
    std::unique_ptr<std::uint8_t[]> raw;  // TEXT_READ_CHUNK bytes once the read starts
    std::size_t length = 0;               // bytes read into `raw`
    std::size_t position = 0;             // bytes of them translated
    TextReadState translation;
};

// Fills `block` with translated text as far as the file goes; returns the
// count, or -1 with errno set. Fewer bytes than `block` holds mean the end
// of the text.
ssize_t ReadTextBlock(int fd, TextSource& text, std::span<std::uint8_t> block)
{
    std::size_t produced = 0;
    bool atEof = false;
    while (produced < block.size() && !text.translation.ended) {
        if (text.position == text.length && !atEof) {
            const ssize_t n = ReadFull(fd, text.raw.get(), TEXT_READ_CHUNK);
            if (n < 0)
                return -1;
            text.position = 0;
            text.length = static_cast<std::size_t>(n);
            atEof = static_cast<std::size_t>(n) < TEXT_READ_CHUNK;
        }
        const TextReadStep step = TextModeRead(
            text.translation,
            std::span<const std::uint8_t>(text.raw.get() + text.position, text.length - text.position),
            block.subspan(produced), atEof);
        text.position += step.consumed;
        produced += step.produced;
        if (atEof && text.position == text.length && !text.translation.pendingCr)
            break;
    }
    return static_cast<ssize_t>(produced);
}

// Block indexes count from 1 (0 stands for the OACK) and do not wrap; the
// 16-bit number on the wire is derived from them. The file is read ahead
// into a ring of `slots` blocks: block n sits in slot (n - 1) % slots. While
// block k waits for its acknowledgment the following blocks are already in
// memory, so an ACK is answered by a send without a file read in between.
//
// The ring starts as the classic double buffer and grows to its full size
// once the client has acknowledged the first blocks: about 256 KB of small
// blocks, so that one read call serves many of them, and at least two large
// ones. A client that never acknowledges thus holds two blocks, not 256 KB.
// Each slot keeps room for the 4-byte header in front of its data: the DATA
// packet then leaves as one contiguous buffer with a plain send.

constexpr std::size_t READ_AHEAD_BYTES = 262144;
constexpr std::size_t FIRST_SLOTS = 2;

// The size and modification time of the file being read. A file that is
// cut, grown or rewritten while it is read would reach the client as a mix
// of old, new and (from a cut mapping) zero bytes: the stamp taken when the
// transfer began is compared whenever bytes leave the file.
struct FileStamp
{
    std::uint64_t size = 0;
    std::int64_t modified = 0;
};

bool TakeStamp(int fd, FileStamp& stamp)
{
    vindle::platform::FileFacts info;
    if (!vindle::platform::FileFactsOf(fd, info))
        return false;
    stamp.size = info.size;
    stamp.modified = info.modified;
    return true;
}

// What a read keeps for as long as it runs, besides its record.
struct ReadState
{
    FileStamp opened;
    // Set for a binary file sent in windows: the data then leaves straight
    // from the file's pages, and the ring holds only the headers.
    CFileMapping mapping;
    std::unique_ptr<std::uint8_t[]> ring;  // `slots` DATA packets of the block size
    std::vector<std::uint32_t> lengths;    // data bytes per slot
    std::size_t slots = FIRST_SLOTS;
    std::size_t fullSlots = FIRST_SLOTS;  // the size the ring grows to
    std::uint64_t filled = 0;             // highest block read into the ring
    std::uint64_t last = 0;               // the final (short) block, once known
    std::uint64_t sent = 0;               // highest block sent
    std::uint64_t nextPercentAt = 0;      // bytes sent from which the percent moves on
    std::int32_t lastPercent = -1;        // of the last Progress event
    TextSource text;                      // text mode only
    // The client's latest datagram: an ACK, an ERROR, or anything else
    // that fits a request.
    std::array<std::uint8_t, TFTP_REQUEST_MAX> reply;
};

// A file that changed under the transfer ends it as a failed read does:
// what the client has is no copy of any one state of the file.
void FileChanged(TftpRequest& r)
{
    SetTransferError(r, TFTP_ENOTDEFINED, SystemErrorText(EIO));
}

bool Unchanged(TftpRequest& r, const ReadState& s)
{
    FileStamp now;
    if (TakeStamp(r.transport.file.Get(), now) && now.size == s.opened.size &&
        now.modified == s.opened.modified)
        return true;
    FileChanged(r);
    return false;
}

// Block `index` is the last one: the file is done with once it is known to
// be the file the transfer began with. A mapped file stays open, as its
// pages are read only when they are sent.
bool TakeLastBlock(TftpRequest& r, ReadState& s, std::uint64_t index)
{
    s.last = index;
    if (!Unchanged(r, s))
        return false;
    if (!s.mapping.Valid())
        r.transport.file.Close();
    return true;
}

// The number block `index` carries on the wire: 65535 is followed by 0.
std::uint16_t WireBlock(std::uint64_t index)
{
    return static_cast<std::uint16_t>(index);
}

std::size_t SlotStride(const TftpRequest& r)
{
    return TFTP_HEADER + r.blockSize;
}

// The packet of slot `slot`: header, then the block's data.
std::uint8_t* SlotPacket(const TftpRequest& r, const ReadState& s, std::size_t slot)
{
    return s.ring.get() + slot * SlotStride(r);
}

std::uint8_t* SlotData(const TftpRequest& r, const ReadState& s, std::uint64_t index)
{
    return SlotPacket(r, s, (index - 1) % s.slots) + TFTP_HEADER;
}

void AllocateRing(TftpRequest& r, ReadState& s, std::size_t slots)
{
    // Every byte sent was read into the ring first: zeroing it would only
    // cost a pass over up to 256 KB per transfer.
    s.ring = std::make_unique_for_overwrite<std::uint8_t[]>(slots * SlotStride(r));
    s.slots = slots;
    s.lengths.assign(slots, 0);
}

// Moves to the full ring while block k is the only one held: its packet
// moves along, every other slot is free.
void GrowRing(TftpRequest& r, ReadState& s, std::uint64_t k)
{
    const std::unique_ptr<std::uint8_t[]> old = std::move(s.ring);
    const std::uint8_t* packet = old.get() + (k - 1) % s.slots * SlotStride(r);
    const std::uint32_t length = s.lengths[(k - 1) % s.slots];
    AllocateRing(r, s, s.fullSlots);
    const std::size_t slot = (k - 1) % s.slots;
    std::copy(packet, packet + TFTP_HEADER + length, SlotPacket(r, s, slot));
    s.lengths[slot] = length;
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
            const ssize_t n =
                vindle::platform::ReadVector(r.transport.file.Get(), parts + part, static_cast<int>(batch - part));
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
// short total marks the final block, which must end the file where it
// ended at the start.
bool TakeBinaryBlocks(TftpRequest& r, ReadState& s, std::size_t count, std::size_t bytes)
{
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint64_t index = s.filled + 1;
        const std::size_t offset = j * r.blockSize;
        const std::size_t length = bytes > offset ? std::min<std::size_t>(r.blockSize, bytes - offset) : 0;
        s.lengths[(index - 1) % s.slots] = static_cast<std::uint32_t>(length);
        s.filled = index;
        if (length < r.blockSize) {
            if ((index - 1) * r.blockSize + length != s.opened.size) {
                s.last = index;
                FileChanged(r);
                return false;
            }
            return TakeLastBlock(r, s, index);
        }
    }
    return true;
}

// Reads up to `count` further blocks into free slots; stops at the end of the
// file. A failure sets the transfer's error (the platform's text).
bool Fill(TftpRequest& r, ReadState& s, std::size_t count)
{
    if (r.textMode) {
        for (std::size_t j = 0; j < count && s.last == 0; ++j) {
            const std::uint64_t index = s.filled + 1;
            const ssize_t n =
                ReadTextBlock(r.transport.file.Get(), s.text, std::span(SlotData(r, s, index), r.blockSize));
            if (n < 0) {
                SetTransferError(r, TFTP_ENOTDEFINED, SystemErrorText(errno));
                return false;
            }
            s.lengths[(index - 1) % s.slots] = static_cast<std::uint32_t>(n);
            s.filled = index;
            if (static_cast<std::size_t>(n) < r.blockSize && !TakeLastBlock(r, s, index))
                return false;
        }
        return true;
    }
    if (s.mapping.Valid()) {
        // Nothing to read: the blocks are where the mapping says, up to the
        // size the file had when it was mapped.
        const std::uint64_t offset = std::min(s.filled * r.blockSize, s.mapping.Size());
        return TakeBinaryBlocks(r, s, count,
                                std::min<std::uint64_t>(count * r.blockSize, s.mapping.Size() - offset));
    }
    // The free slots may wrap around the end of the ring; one vectored read
    // fills them all the same.
    const ssize_t n = ReadSlots(r, s, s.filled % s.slots, count);
    if (n < 0) {
        SetTransferError(r, TFTP_ENOTDEFINED, SystemErrorText(errno));
        return false;
    }
    return TakeBinaryBlocks(r, s, count, static_cast<std::size_t>(n));
}

// Counts block k as sent the first time it leaves and raises a Progress
// event when the share sent moved by a percent. An empty file is complete
// with its only block.
void CountSent(TftpRequest& r, ReadState& s, std::uint64_t k, std::uint32_t length)
{
    if (k <= s.sent)
        return;
    s.sent = k;
    r.bytesSent += length;
    if (k == s.last && r.bytesSent < r.transferSize)
        r.bytesSent = r.transferSize;  // text mode sends fewer bytes than the file holds
    // Most blocks leave the percent as it is: no division for them.
    if (r.bytesSent < s.nextPercentAt)
        return;
    std::int32_t percent = 100;
    if (r.transferSize != 0 && r.bytesSent < r.transferSize) {
        percent = static_cast<std::int32_t>(r.bytesSent * 100 / r.transferSize);
        // The fewest bytes that make the next percent.
        s.nextPercentAt = ((static_cast<std::uint64_t>(percent) + 1) * r.transferSize + 99) / 100;
    }
    if (percent == s.lastPercent)
        return;
    s.lastPercent = percent;
    PublishTransferEvent(r, TftpTransferEvent::Kind::Progress);
}

// Writes the DATA header in front of block n in the ring; returns its slot.
std::size_t StampBlock(const TftpRequest& r, const ReadState& s, std::uint64_t n)
{
    const std::size_t slot = (n - 1) % s.slots;
    std::uint8_t* packet = SlotPacket(r, s, slot);
    PutU16(packet, TFTP_DATA);
    PutU16(packet + 2, WireBlock(n));
    return slot;
}

// The parts of block n's DATA packet, for TftpTransport::SendRun: the
// packet as it lies in the ring, or its header there and its data in the
// mapped file. Returns how many parts it wrote (the same for every block).
std::size_t PacketParts(const TftpRequest& r, const ReadState& s, std::uint64_t n, iovec* parts)
{
    const std::size_t slot = (n - 1) % s.slots;
    std::uint8_t* packet = SlotPacket(r, s, slot);
    const std::uint32_t length = s.lengths[slot];
    if (!s.mapping.Valid()) {
        parts[0] = {packet, TFTP_HEADER + length};
        return 1;
    }
    parts[0] = {packet, TFTP_HEADER};
    parts[1] = {const_cast<std::uint8_t*>(s.mapping.Data()) + (n - 1) * r.blockSize, length};
    return 2;
}

// Once the window k..n is out and the ring holds nothing beyond it, every
// other slot is acknowledged and free: the ring reads ahead into them
// (growing to its full size first). Most blocks find blocks ahead already
// and return at the test, which is therefore kept inline.
void ReadAheadInto(TftpRequest& r, ReadState& s, std::uint64_t k, std::uint64_t n)
{
    if (s.slots < s.fullSlots)
        GrowRing(r, s, k);
    (void)Fill(r, s, s.slots - (n - k + 1));  // a failure leaves its error in the record
}

inline void ReadAheadBehind(TftpRequest& r, ReadState& s, std::uint64_t k, std::uint64_t n)
{
    if (s.last == 0 && s.filled == n)
        ReadAheadInto(r, s, k, n);
}

// Lock-step, the common case, sends its one block straight away: it is in
// the ring already, read ahead behind the block before it.
std::optional<std::uint64_t> SendBlock(TftpRequest& r, ReadState& s, std::uint64_t k)
{
    const std::size_t slot = StampBlock(r, s, k);
    if (!r.transport.Send(SlotPacket(r, s, slot), TFTP_HEADER + s.lengths[slot]))
        return std::nullopt;
    CountSent(r, s, k, s.lengths[slot]);
    ReadAheadBehind(r, s, k, k);
    return k;
}

// Stamps the blocks from `from` on of the window that starts at block k,
// reading into the ring what it does not hold yet; returns the last block
// stamped (from - 1 when there is none, or a read failed before it).
std::uint64_t StampWindow(TftpRequest& r, ReadState& s, std::uint64_t k, std::uint64_t from)
{
    const std::uint64_t end = k + r.windowSize - 1;
    for (std::uint64_t n = from;; ++n) {
        // The ring has room for a window; what it does not hold yet is read
        // into the slots of blocks already acknowledged, never into those of
        // the window.
        if (n > s.filled) {
            // A file that grew since it was opened can outrun a ring sized
            // after it: the window then ends with the blocks held.
            const std::size_t free = s.slots - static_cast<std::size_t>(s.filled - k + 1);
            if (s.last != 0 || free == 0 || !Fill(r, s, free) || n > s.filled)
                return n - 1;
        }
        (void)StampBlock(r, s, n);
        if (n == end || n == s.last)
            return n;
    }
}

// Sends the stamped blocks from..n in as few system calls as the kernel
// allows: all but the window's last block are full, so the window is made
// of runs of equally sized datagrams.
bool SendRuns(TftpRequest& r, const ReadState& s, std::uint64_t from, std::uint64_t n)
{
    const std::size_t stride = SlotStride(r);
    const std::uint64_t perRun = TftpTransport::DatagramsPerRun(stride);
    iovec parts[2 * TFTP_MAX_RUN_DATAGRAMS];
    for (std::uint64_t first = from; first <= n;) {
        const std::uint64_t last = std::min(n, first + perRun - 1);
        std::size_t count = 0;
        std::size_t perDatagram = 1;
        for (std::uint64_t b = first; b <= last; ++b) {
            perDatagram = PacketParts(r, s, b, parts + count);
            count += perDatagram;
        }
        if (!r.transport.SendRun(std::span<const iovec>(parts, count), perDatagram, stride))
            return false;
        first = last + 1;
    }
    return true;
}

// Sends what the client must acknowledge next: the OACK, or the blocks
// from `from` on of the window that starts at block k (header and data in
// one datagram each), up to the window's end and none past the last block.
// Returns the last block sent (0 for the OACK, from - 1 when the window
// holds no further block). Reads ahead once the ring holds nothing beyond
// the window; a read failure leaves its error in the record and sends no
// more.
std::optional<std::uint64_t> SendWindow(TftpRequest& r, ReadState& s, std::uint64_t k, std::uint64_t from)
{
    if (k == 0) {
        if (!r.transport.Send(r.control.data(), r.controlLength))
            return std::nullopt;
        return 0;
    }
    if (r.windowSize == 1 && k <= s.filled)
        return SendBlock(r, s, k);
    const std::uint64_t n = StampWindow(r, s, k, from);
    if (n < from)
        return n;  // nothing left to send, or a read failure before the first block
    // Mapped pages are read as they leave: the file must still be the one
    // mapped, or a cut would send zeros and a rewrite new bytes.
    if (s.mapping.Valid() && !Unchanged(r, s))
        return std::nullopt;
    if (!SendRuns(r, s, from, n)) {
        // A mapped page that cannot be read (the file was cut short since,
        // or the disk failed) refuses the whole run: the client hears of it
        // as of a failed read.
        if (s.mapping.Valid() && vindle::platform::LastSendFaulted())
            FileChanged(r);
        return std::nullopt;
    }
    for (std::uint64_t b = from; b <= n; ++b)
        CountSent(r, s, b, s.lengths[(b - 1) % s.slots]);
    ReadAheadBehind(r, s, k, n);
    return n;
}

// Where the acknowledged wire block `wire` lies: a block of the window
// k..end, or k - 1 (the block before the window, acknowledged already).
// A window is at most 65535 blocks, so the numbers k - 1..end are distinct
// on the wire even across the wrap from 65535 to 0.
std::optional<std::uint64_t> AcknowledgedIndex(std::uint64_t k, std::uint64_t end, std::uint16_t wire)
{
    const std::uint16_t offset = static_cast<std::uint16_t>(wire - WireBlock(k));
    if (offset <= end - k)
        return k + offset;
    if (k > 0 && wire == WireBlock(k - 1))
        return k - 1;
    return std::nullopt;
}

// Where a read stands: k is the first block the client has not
// acknowledged, end the last one sent. A reply that does not move k on
// (the block before the window again, or in lock-step any other block) is
// answered with the window at most once per timeout, so that a stream of
// them cannot multiply the data sent; the first one after progress is
// answered at once.
struct ReadCursor
{
    std::uint64_t k = 0;
    std::uint64_t end = 0;
    bool repeatAnswered = false;
    std::chrono::steady_clock::time_point repeatAnsweredAt{};
};

// What a reply during a read asks for.
enum class ReadStep
{
    SendFrom,  // send the window's blocks from `from` on
    Wait,      // nothing to send; wait for the next reply
    Served,    // the last block is acknowledged
    Ended,     // the transfer is over; the record says how
};

struct ReadAnswer
{
    ReadStep step = ReadStep::Wait;
    std::uint64_t from = 0;
};

ReadAnswer AnswerAck(const TftpRequest& r, const ReadState& s, ReadCursor& c, std::uint16_t wire)
{
    const std::optional<std::uint64_t> acked = AcknowledgedIndex(c.k, c.end, wire);
    if (acked && *acked >= c.k) {
        if (*acked != 0 && *acked == s.last)
            return {ReadStep::Served};
        // The blocks after the one acknowledged are still on their way:
        // only blocks the window now takes in that never left are sent.
        c.k = *acked + 1;
        c.repeatAnswered = false;
        return {ReadStep::SendFrom, std::max(c.k, c.end + 1)};
    }
    // A stray from an earlier window: answering it would send a whole
    // window more.
    if (!acked && r.windowSize > 1 && c.k != 0)
        return {ReadStep::Wait};
    // In a window the ACK of the block before it says that none of the
    // window arrived; in lock-step any other ACK asks for block k again.
    const auto now = std::chrono::steady_clock::now();
    if (c.repeatAnswered && now - c.repeatAnsweredAt < std::chrono::seconds(r.timeoutSeconds))
        return {ReadStep::Wait};
    c.repeatAnswered = true;
    c.repeatAnsweredAt = now;
    return {ReadStep::SendFrom, c.k};
}

// Answers an ACK and counts the blocks it acknowledged; the ACK of the
// last block ends the read as served.
ReadAnswer TakeAck(TftpRequest& r, const ReadState& s, ReadCursor& c, std::uint16_t wire)
{
    const std::uint64_t k = c.k;
    const ReadAnswer answer = AnswerAck(r, s, c, wire);
    const bool served = answer.step == ReadStep::Served;
    if (c.k != k || served) {
        // Blocks are counted as they are acknowledged; the OACK (index 0)
        // is no block.
        r.blockCount = static_cast<std::uint32_t>(served ? s.last : c.k - 1);
        r.retries = 0;
        NoteAnswered(r);
    }
    if (!served)
        return answer;
    // The last pages may have changed while they left.
    if (!s.mapping.Valid() || Unchanged(r, s))
        ReportCompleted(r, "Served");
    return {ReadStep::Ended};
}

// Waits for the client's replies until one asks for blocks (SendFrom) or
// the transfer is over (Ended). A wait without a reply asks for the window
// again, until the retries run out.
ReadAnswer AwaitReply(TftpRequest& r, ReadState& s, ReadCursor& c)
{
    for (;;) {
        std::size_t length = 0;
        if (!ReceiveOrEnd(r, s.reply.data(), s.reply.size(), length))
            return {ReadStep::Ended};
        if (length < TFTP_HEADER) {
            if (r.retries >= TFTP_MAX_RETRIES) {
                FailAfterRetries(r, WireBlock(c.k));
                return {ReadStep::Ended};
            }
            ++r.retries;
            return {ReadStep::SendFrom, c.k};
        }
        if (GetU16(s.reply.data()) != TFTP_ACK) {
            if (ReplyEndsTransfer(r, std::span<const std::uint8_t>(s.reply.data(), length)))
                return {ReadStep::Ended};
            continue;
        }
        const ReadAnswer answer = TakeAck(r, s, c, GetU16(s.reply.data() + 2));
        if (answer.step != ReadStep::Wait)
            return answer;
    }
}

// Sizes the ring for the transfer and, for a binary file sent in windows,
// maps the file; false when the file is no longer the one opened.
bool PrepareRing(TftpRequest& r, ReadState& s)
{
    if (!TakeStamp(r.transport.file.Get(), s.opened) || s.opened.size != r.transferSize) {
        FileChanged(r);
        return false;
    }
    if (r.textMode)
        s.text.raw = std::make_unique_for_overwrite<std::uint8_t[]>(TEXT_READ_CHUNK);
    else
        s.fullSlots = std::max<std::size_t>(FIRST_SLOTS, READ_AHEAD_BYTES / r.blockSize);
    std::size_t firstSlots = std::min(FIRST_SLOTS, s.fullSlots);
    if (r.windowSize > 1) {
        // A window must be held whole until it is acknowledged, plus one
        // slot to read ahead into; never more blocks than the file makes up,
        // so that a large window on a small file costs no more than the file.
        const std::uint64_t fileBlocks = r.transferSize / r.blockSize + 1;
        const std::size_t window =
            static_cast<std::size_t>(std::min<std::uint64_t>(r.windowSize, fileBlocks));
        // A binary file is sent from a mapping: no read-ahead, and no copy
        // of its data before the kernel's own.
        if (!r.textMode && s.mapping.Map(r.transport.file.Get()))
            s.fullSlots = window + 1;
        else
            s.fullSlots = std::max(s.fullSlots, window + 1);
        firstSlots = s.fullSlots;
    }
    AllocateRing(r, s, firstSlots);
    return true;
}

}  // namespace

void ReadTransfer(TftpRequest& r)
{
    // Without options the request itself stands for the acknowledgment of
    // block 0, and block 1 goes out at once.
    const bool oackMode = GetU16(r.control.data()) == TFTP_OACK;
    ReadState s;
    if (!PrepareRing(r, s))
        return;
    // The OACK leaves before the file is read, so the client's ACK 0 is on
    // its way while the first blocks are read.
    if (oackMode && !SendControl(r))
        return;
    if (!Fill(r, s, s.slots))
        return;
    ReadCursor c;
    c.k = oackMode ? 0 : 1;
    ReadAnswer next{oackMode ? ReadStep::Wait : ReadStep::SendFrom, c.k};
    for (;;) {
        if (next.step == ReadStep::SendFrom) {
            const std::optional<std::uint64_t> sent = SendWindow(r, s, c.k, next.from);
            if (!sent) {
                if (r.errorLength == 0)
                    CommunicationError(r);
                return;
            }
            c.end = std::max(c.end, *sent);
            if (r.errorLength != 0)
                return;  // a read-ahead failed
        }
        next = AwaitReply(r, s, c);
        if (next.step == ReadStep::Ended)
            return;
    }
}
