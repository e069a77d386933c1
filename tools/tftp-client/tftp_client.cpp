// Blocking read and write transfers of the TFTP client (see tftp_client.h).
// Everything runs on the caller's thread; the socket, buffers and file of a
// transfer live in the Transfer object on its stack.
#include "tools/tftp-client/tftp_client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One more than the largest legal DATA packet, so that an oversized block
// shows up as such instead of being silently cut.
constexpr std::size_t RECEIVE_BUFFER = TFTP_HEADER + TFTP_MAX_BLKSIZE + 1;

class CFd final
{
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool Resolve(const std::string& host, std::uint16_t port, sockaddr_in& out)
{
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    out.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

std::string ModeName(TftpMode mode)
{
    return mode == TftpMode::Netascii ? "netascii" : "octet";
}

// The options of a request. `writeSize` is null for a read; for a write it
// points to the size to announce, or is null when the size is unknown.
std::vector<TftpOption> RequestedOptions(const TftpClientOptions& options, bool write,
                                         const std::uint64_t* writeSize)
{
    std::vector<TftpOption> requested;
    if (!options.useOptions)
        return requested;
    if (options.blksize != 0)
        requested.push_back({"blksize", std::to_string(options.blksize)});
    // RFC 2349: a read request carries 0, a write request the size.
    if (options.tsize && !write)
        requested.push_back({"tsize", "0"});
    else if (options.tsize && writeSize != nullptr)
        requested.push_back({"tsize", std::to_string(*writeSize)});
    // Only the receiving side of a window is built here: reads alone ask.
    if (options.windowsize > 1 && !write)
        requested.push_back({"windowsize", std::to_string(options.windowsize)});
    return requested;
}

// State of one transfer: the socket, the server's transfer ID once known,
// the last control packet for re-sending, and the bounded wait.
class Transfer final
{
public:
    enum class Event
    {
        Packet,   // m_packet holds a parsed packet from the peer
        Timeout,  // the wait ended without one
        Failed,   // m_result is filled in
    };

    Transfer(const TftpClientOptions& options, TftpTransferResult& result)
        : m_options(options)
        , m_result(result)
        , m_buffer(RECEIVE_BUFFER)
    {
    }

    bool Open()
    {
        if (m_options.timeout.count() <= 0)
            return Fail(TFTP_CLIENT_ERR_ARGUMENT, "timeout must be positive");
        if (!Resolve(m_options.server, m_options.port, m_server))
            return Fail(TFTP_CLIENT_ERR_SOCKET, "cannot resolve " + m_options.server);
        m_fd = std::make_unique<CFd>(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (m_fd->Get() < 0)
            return Fail(TFTP_CLIENT_ERR_SOCKET, std::string("socket: ") + std::strerror(errno));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(m_fd->Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            return Fail(TFTP_CLIENT_ERR_SOCKET, std::string("bind: ") + std::strerror(errno));
        return true;
    }

    bool Fail(std::uint32_t status, std::string message)
    {
        m_result.status = status;
        m_result.message = std::move(message);
        return false;
    }

    // Tells the server why the client gives up, then records the failure.
    bool Abort(std::uint16_t code, const std::string& text)
    {
        const std::vector<std::uint8_t> error = BuildTftpError(code, text);
        SendTo(error, m_locked ? m_peer : m_server);
        return Fail(TFTP_CLIENT_ERR_PROTOCOL, text);
    }

    // Sends a control packet that is re-sent on a timeout, and starts a new
    // wait for the answer.
    bool SendControl(std::span<const std::uint8_t> bytes)
    {
        m_control.assign(bytes.begin(), bytes.end());
        m_deadline = Clock::now() + m_options.timeout;
        return Resend();
    }

    bool Resend()
    {
        if (!SendTo(m_control, m_locked ? m_peer : m_server))
            return Fail(TFTP_CLIENT_ERR_SOCKET, std::string("send: ") + std::strerror(errno));
        return true;
    }

    // After a wait without progress: re-send, or give up after the retries.
    bool Retry()
    {
        if (++m_retries > m_options.retries)
            return Fail(TFTP_CLIENT_ERR_TIMEOUT,
                        m_locked ? "timeout during transfer" : "no answer from server");
        m_deadline = Clock::now() + m_options.timeout;
        return Resend();
    }

    void Progress() { m_retries = 0; }

    // A new wait for the next packet without sending anything.
    void Rearm() { m_deadline = Clock::now() + m_options.timeout; }

    // The ACK delay of a slow receiver, spent before a new block's ACK.
    void PauseBeforeAck()
    {
        if (m_options.ackDelay.count() <= 0)
            return;
        if (m_options.pause)
            m_options.pause(m_options.ackDelay);
        else
            std::this_thread::sleep_for(m_options.ackDelay);
    }

    // Counts a DATA or ACK datagram (either direction); true when it is the
    // one the options say to lose.
    bool Lose(std::span<const std::uint8_t> bytes)
    {
        if (bytes.size() < TFTP_HEADER || bytes[0] != 0)
            return false;
        if (bytes[1] == TFTP_DATA)
            return ++m_dataCount == m_options.dropData;
        if (bytes[1] == TFTP_ACK)
            return ++m_ackCount == m_options.dropAck;
        return false;
    }

    // Waits until m_deadline for a packet from the server. Datagrams from
    // other endpoints get ERROR 5 and do not extend the wait.
    Event Next()
    {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
            if (left.count() <= 0)
                return Event::Timeout;
            pollfd pfd{m_fd->Get(), POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()) + 1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                Fail(TFTP_CLIENT_ERR_SOCKET, std::string("poll: ") + std::strerror(errno));
                return Event::Failed;
            }
            if (ready == 0)
                continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(m_fd->Get(), m_buffer.data(), m_buffer.size(), MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                // NOTE: an ICMP port unreachable from an earlier send shows
                // up here as ECONNREFUSED on Linux; the server is not there.
                if (errno == ECONNREFUSED)
                    continue;
                Fail(TFTP_CLIENT_ERR_SOCKET, std::string("recv: ") + std::strerror(errno));
                return Event::Failed;
            }
            const bool fromServerHost = from.sin_addr.s_addr == m_server.sin_addr.s_addr;
            if (m_locked ? !SameEndpoint(from, m_peer) : !fromServerHost) {
                const std::vector<std::uint8_t> error = BuildTftpError(TFTP_EBADID, "Unknown transfer ID");
                SendTo(error, from);
                continue;
            }
            if (static_cast<std::size_t>(got) > m_buffer.size()) {
                Abort(TFTP_EBADOP, "datagram larger than any TFTP packet");
                return Event::Failed;
            }
            const std::span<const std::uint8_t> datagram(m_buffer.data(), static_cast<std::size_t>(got));
            std::optional<TftpPacket> packet = ParseTftpPacket(datagram);
            if (!packet) {
                Abort(TFTP_EBADOP, "malformed packet");
                return Event::Failed;
            }
            if (Lose(datagram))
                continue;
            if (!m_locked) {
                // RFC 1350: the port the first answer comes from is the
                // server's transfer ID for the rest of the transfer.
                m_peer = from;
                m_locked = true;
            }
            m_packet = std::move(*packet);
            return Event::Packet;
        }
    }

    bool SendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to)
    {
        if (Lose(bytes))
            return true;
        for (;;) {
            const ssize_t sent = ::sendto(m_fd->Get(), bytes.data(), bytes.size(), 0,
                                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (sent >= 0)
                return true;
            if (errno != EINTR)
                return false;
        }
    }

    bool ServerError()
    {
        m_result.errorCode = m_packet.errorCode;
        return Fail(TFTP_CLIENT_ERR_SERVER, m_packet.text);
    }

    const TftpClientOptions& m_options;
    TftpTransferResult& m_result;
    std::vector<std::uint8_t> m_buffer;
    std::unique_ptr<CFd> m_fd;
    sockaddr_in m_server{};
    sockaddr_in m_peer{};
    bool m_locked = false;
    std::vector<std::uint8_t> m_control;
    Clock::time_point m_deadline{};
    unsigned m_retries = 0;
    std::uint64_t m_dataCount = 0;
    std::uint64_t m_ackCount = 0;
    TftpPacket m_packet;
};

bool ValidBlksize(std::uint32_t blksize)
{
    return blksize == 0 || (blksize >= TFTP_MIN_BLKSIZE && blksize <= TFTP_MAX_BLKSIZE);
}

// Applies an OACK; false (with the client's ERROR 8 sent) when it is not
// acceptable.
bool TakeOack(Transfer& transfer, std::span<const TftpOption> requested)
{
    if (requested.empty())
        return transfer.Abort(TFTP_EOPTNEG, "OACK to a request without options");
    TftpOackTerms terms = TftpAcceptOack(requested, transfer.m_packet.options);
    if (!terms.error.empty())
        return transfer.Abort(TFTP_EOPTNEG, terms.error);
    transfer.m_result.optionsAcknowledged = true;
    transfer.m_result.blksize = terms.blksize;
    transfer.m_result.windowsize = terms.windowsize;
    transfer.m_result.tsize = terms.tsize;
    return true;
}

bool RunGet(Transfer& transfer, const std::string& name, const TftpSink& sink)
{
    const TftpClientOptions& options = transfer.m_options;
    TftpTransferResult& result = transfer.m_result;
    const std::vector<TftpOption> requested = RequestedOptions(options, false, nullptr);
    const std::vector<std::uint8_t> request =
        BuildTftpRequest(TFTP_RRQ, name, ModeName(options.mode), requested);
    if (request.empty())
        return transfer.Fail(TFTP_CLIENT_ERR_ARGUMENT, "file name too long for a request");
    if (!transfer.SendControl(request))
        return false;

    TftpNetasciiDecoder decoder;
    std::vector<std::uint8_t> decoded;
    std::uint16_t expected = 1;
    bool dataSeen = false;
    std::uint8_t ack[TFTP_HEADER];
    // Windowed reads (RFC 7440): blocks taken since the last ACK, and blocks
    // out of order since the last one in order.
    unsigned inWindow = 0;
    std::uint64_t strays = 0;
    for (;;) {
        const Transfer::Event event = transfer.Next();
        if (event == Transfer::Event::Failed)
            return false;
        if (event == Transfer::Event::Timeout) {
            // The rest of a window did not come: acknowledge what did, so
            // that the server goes on from there.
            if (inWindow > 0) {
                BuildTftpAck(static_cast<std::uint16_t>(expected - 1), ack);
                transfer.m_control.assign(ack, ack + TFTP_HEADER);
                inWindow = 0;
            }
            if (!transfer.Retry())
                return false;
            continue;
        }
        const TftpPacket& packet = transfer.m_packet;
        switch (packet.opcode) {
        case TFTP_ERROR:
            return transfer.ServerError();
        case TFTP_OACK:
            if (dataSeen)
                continue;  // a late duplicate; the transfer is past it
            if (!result.optionsAcknowledged) {
                if (!TakeOack(transfer, requested))
                    return false;
                transfer.Progress();
                BuildTftpAck(0, ack);
                if (!transfer.SendControl(ack))
                    return false;
            } else if (!transfer.Resend()) {
                return false;  // our ACK 0 was lost
            }
            continue;
        case TFTP_DATA:
            break;
        default:
            return transfer.Abort(TFTP_EBADOP, "unexpected packet during a read");
        }
        if (packet.block != expected) {
            if (result.windowsize > 1) {
                // A gap, or a window sent again because our ACK was lost:
                // acknowledge the last block in order, once per window's
                // worth of such blocks, so a re-sent window draws one ACK
                // and not one per block.
                if (strays++ % result.windowsize == 0) {
                    BuildTftpAck(static_cast<std::uint16_t>(expected - 1), ack);
                    inWindow = 0;
                    if (!transfer.SendControl(ack))
                        return false;
                }
                continue;
            }
            // The previous block again: our ACK was lost, say it again.
            const bool previous = static_cast<std::uint16_t>(expected - 1) == packet.block;
            if (previous && (dataSeen || result.optionsAcknowledged) && !transfer.Resend())
                return false;
            continue;
        }
        if (packet.data.size() > result.blksize)
            return transfer.Abort(TFTP_EBADOP, "DATA block larger than the block size");
        dataSeen = true;
        bool stored;
        if (options.mode == TftpMode::Netascii) {
            decoded.clear();
            decoder.Decode(packet.data, decoded);
            if (packet.data.size() < result.blksize)
                decoder.Finish(decoded);
            stored = sink(decoded);
        } else {
            stored = sink(packet.data);
        }
        if (!stored) {
            transfer.Abort(TFTP_ENOSPACE, "Disk full or allocation exceeded");
            return transfer.Fail(TFTP_CLIENT_ERR_LOCAL, "cannot store the received data");
        }
        result.bytes += packet.data.size();
        ++result.blocks;
        transfer.Progress();
        strays = 0;
        const bool last = packet.data.size() < result.blksize;
        if (++inWindow >= result.windowsize || last) {
            inWindow = 0;
            transfer.PauseBeforeAck();
            BuildTftpAck(expected, ack);
            if (!transfer.SendControl(ack))
                return false;
        } else {
            transfer.Rearm();
        }
        if (last)
            return true;
        // Block numbers wrap from 65535 to 0, as most servers do; files of
        // more than 65535 blocks then still arrive in order.
        ++expected;
    }
}

// Draws block-sized pieces from the source, netascii-encoding on the way
// when asked to.
class BlockReader final
{
public:
    BlockReader(const TftpSource& source, bool netascii) : m_source(source), m_netascii(netascii) {}

    std::optional<std::size_t> Fill(std::span<std::uint8_t> out)
    {
        if (!m_netascii)
            return m_source(out);
        while (m_pending.size() - m_offset < out.size() && !m_end) {
            std::vector<std::uint8_t> raw(out.size());
            std::optional<std::size_t> got = m_source(raw);
            if (!got)
                return std::nullopt;
            if (*got < raw.size())
                m_end = true;
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_offset));
            m_offset = 0;
            TftpNetasciiEncode(std::span<const std::uint8_t>(raw.data(), *got), m_pending);
        }
        const std::size_t take = std::min(out.size(), m_pending.size() - m_offset);
        std::memcpy(out.data(), m_pending.data() + m_offset, take);
        m_offset += take;
        return take;
    }

private:
    const TftpSource& m_source;
    bool m_netascii;
    bool m_end = false;
    std::vector<std::uint8_t> m_pending;
    std::size_t m_offset = 0;
};

bool RunPut(Transfer& transfer, const std::string& name, const TftpSource& source,
            std::optional<std::uint64_t> size)
{
    const TftpClientOptions& options = transfer.m_options;
    TftpTransferResult& result = transfer.m_result;
    // In netascii the octets on the wire differ from the local size, so
    // there is no size to announce.
    const std::uint64_t announced = size.value_or(0);
    const bool known = size.has_value() && options.mode == TftpMode::Octet;
    const std::vector<TftpOption> requested = RequestedOptions(options, true, known ? &announced : nullptr);
    const std::vector<std::uint8_t> request =
        BuildTftpRequest(TFTP_WRQ, name, ModeName(options.mode), requested);
    if (request.empty())
        return transfer.Fail(TFTP_CLIENT_ERR_ARGUMENT, "file name too long for a request");
    if (!transfer.SendControl(request))
        return false;

    BlockReader reader(source, options.mode == TftpMode::Netascii);
    std::vector<std::uint8_t> data;
    std::uint16_t block = 0;  // the DATA block awaiting its ACK; 0 = the request
    bool started = false;
    bool lastSent = false;
    for (;;) {
        const Transfer::Event event = transfer.Next();
        if (event == Transfer::Event::Failed)
            return false;
        if (event == Transfer::Event::Timeout) {
            if (!transfer.Retry())
                return false;
            continue;
        }
        const TftpPacket& packet = transfer.m_packet;
        if (packet.opcode == TFTP_ERROR)
            return transfer.ServerError();
        if (packet.opcode == TFTP_OACK) {
            if (started)
                continue;
            if (!TakeOack(transfer, requested))
                return false;
        } else if (packet.opcode == TFTP_ACK) {
            // Only the ACK of the outstanding block moves on; an older one is
            // a duplicate and re-sending on it would double the traffic.
            if (packet.block != block)
                continue;
        } else {
            return transfer.Abort(TFTP_EBADOP, "unexpected packet during a write");
        }
        if (started && lastSent)
            return true;
        started = true;
        transfer.Progress();
        data.resize(TFTP_HEADER + result.blksize);
        std::optional<std::size_t> got =
            reader.Fill(std::span<std::uint8_t>(data.data() + TFTP_HEADER, result.blksize));
        if (!got) {
            transfer.Abort(TFTP_EUNDEF, "local read error");
            return transfer.Fail(TFTP_CLIENT_ERR_LOCAL, "cannot read the local file");
        }
        ++block;
        data[0] = 0;
        data[1] = TFTP_DATA;
        data[2] = static_cast<std::uint8_t>(block >> 8);
        data[3] = static_cast<std::uint8_t>(block & 0xFF);
        data.resize(TFTP_HEADER + *got);
        lastSent = *got < result.blksize;
        result.bytes += *got;
        ++result.blocks;
        if (!transfer.SendControl(data))
            return false;
    }
}

bool RefusedOptions(const TftpClientOptions& options, const TftpTransferResult& result)
{
    return options.useOptions && result.status == TFTP_CLIENT_ERR_SERVER &&
           result.errorCode == TFTP_EOPTNEG && !result.optionsAcknowledged && result.blocks == 0;
}

}  // namespace

TftpOackTerms TftpAcceptOack(std::span<const TftpOption> requested, std::span<const TftpOption> acknowledged)
{
    TftpOackTerms terms;
    for (const TftpOption& option : acknowledged) {
        const TftpOption* asked = nullptr;
        for (const TftpOption& r : requested)
            if (TftpEqualNoCase(r.name, option.name))
                asked = &r;
        if (asked == nullptr) {
            terms.error = "option " + option.name + " was not requested";
            return terms;
        }
        const std::optional<std::uint64_t> value = ParseTftpNumber(option.value);
        if (TftpEqualNoCase(option.name, "blksize")) {
            const std::optional<std::uint64_t> limit = ParseTftpNumber(asked->value);
            if (!value || !limit || *value < TFTP_MIN_BLKSIZE || *value > *limit) {
                terms.error = "blksize " + option.value + " not acceptable";
                return terms;
            }
            terms.blksize = static_cast<std::uint32_t>(*value);
        } else if (TftpEqualNoCase(option.name, "windowsize")) {
            const std::optional<std::uint64_t> limit = ParseTftpNumber(asked->value);
            if (!value || !limit || *value < 1 || *value > *limit) {
                terms.error = "windowsize " + option.value + " not acceptable";
                return terms;
            }
            terms.windowsize = static_cast<std::uint16_t>(*value);
        } else if (TftpEqualNoCase(option.name, "tsize")) {
            if (!value) {
                terms.error = "tsize " + option.value + " not a number";
                return terms;
            }
            terms.tsize = *value;
        }
    }
    return terms;
}

TftpTransferResult TftpGet(const TftpClientOptions& options, const std::string& name, const TftpSink& sink)
{
    TftpTransferResult result;
    if (!ValidBlksize(options.blksize)) {
        result.message = "blksize must lie in 8..65464";
        return result;
    }
    if (options.windowsize == 0) {
        result.message = "windowsize must lie in 1..65535";
        return result;
    }
    {
        Transfer transfer(options, result);
        if (transfer.Open() && RunGet(transfer, name, sink))
            result.status = TFTP_CLIENT_OK;
    }
    if (RefusedOptions(options, result)) {
        // RFC 2347: a server that refuses the options answers ERROR 8, and
        // the client may ask again without them.
        TftpClientOptions plain = options;
        plain.useOptions = false;
        return TftpGet(plain, name, sink);
    }
    return result;
}

TftpTransferResult TftpPut(const TftpClientOptions& options, const std::string& name,
                           const TftpSource& source, std::optional<std::uint64_t> size)
{
    TftpTransferResult result;
    if (!ValidBlksize(options.blksize)) {
        result.message = "blksize must lie in 8..65464";
        return result;
    }
    {
        Transfer transfer(options, result);
        if (transfer.Open() && RunPut(transfer, name, source, size))
            result.status = TFTP_CLIENT_OK;
    }
    if (RefusedOptions(options, result)) {
        // RFC 2347: a server that refuses the options answers ERROR 8, and
        // the client may ask again without them.
        TftpClientOptions plain = options;
        plain.useOptions = false;
        return TftpPut(plain, name, source, size);
    }
    return result;
}

namespace {

class CFile final
{
public:
    CFile(const char* path, const char* mode) : m_file(std::fopen(path, mode)) {}
    explicit CFile(FILE* file) : m_file(file) {}
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    FILE* Get() const { return m_file; }
    // False when buffered data could not be written out.
    bool Close()
    {
        FILE* file = m_file;
        m_file = nullptr;
        return file == nullptr || std::fclose(file) == 0;
    }

private:
    FILE* m_file;
};

}  // namespace

TftpTransferResult TftpGetFile(const TftpClientOptions& options, const std::string& name,
                               const std::string& localPath)
{
    TftpTransferResult result;
    std::string temporary = localPath + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        result.status = TFTP_CLIENT_ERR_LOCAL;
        result.message = "cannot create " + temporary + ": " + std::strerror(errno);
        return result;
    }
    // mkstemp makes the file private; a downloaded file is an ordinary one.
    (void)::fchmod(fd, 0644);
    CFile file(::fdopen(fd, "wb"));
    if (file.Get() == nullptr) {
        ::close(fd);
        ::unlink(temporary.c_str());
        result.status = TFTP_CLIENT_ERR_LOCAL;
        result.message = "cannot open " + temporary;
        return result;
    }
    result = TftpGet(options, name, [&file](std::span<const std::uint8_t> bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) == bytes.size();
    });
    const bool closed = file.Close();
    if (result.status == TFTP_CLIENT_OK && !closed) {
        result.status = TFTP_CLIENT_ERR_LOCAL;
        result.message = "cannot write " + localPath;
    }
    if (result.status == TFTP_CLIENT_OK && ::rename(temporary.c_str(), localPath.c_str()) != 0) {
        result.status = TFTP_CLIENT_ERR_LOCAL;
        result.message = "cannot rename to " + localPath + ": " + std::strerror(errno);
    }
    if (result.status != TFTP_CLIENT_OK)
        ::unlink(temporary.c_str());
    return result;
}

TftpTransferResult TftpPutFile(const TftpClientOptions& options, const std::string& name,
                               const std::string& localPath)
{
    TftpTransferResult result;
    CFile file(localPath.c_str(), "rb");
    if (file.Get() == nullptr) {
        result.status = TFTP_CLIENT_ERR_LOCAL;
        result.message = "cannot open " + localPath + ": " + std::strerror(errno);
        return result;
    }
    std::optional<std::uint64_t> size;
    if (std::fseek(file.Get(), 0, SEEK_END) == 0) {
        const long end = std::ftell(file.Get());
        if (end >= 0)
            size = static_cast<std::uint64_t>(end);
        std::rewind(file.Get());
    }
    return TftpPut(
        options, name,
        [&file](std::span<std::uint8_t> out) -> std::optional<std::size_t> {
            const std::size_t got = std::fread(out.data(), 1, out.size(), file.Get());
            if (got < out.size() && std::ferror(file.Get()))
                return std::nullopt;
            return got;
        },
        size);
}

std::string TftpDescribe(const TftpTransferResult& result)
{
    switch (result.status) {
    case TFTP_CLIENT_OK:
        return "ok";
    case TFTP_CLIENT_ERR_SERVER:
        return "server error " + std::to_string(result.errorCode) + ": " + result.message;
    case TFTP_CLIENT_ERR_TIMEOUT:
        return "timeout: " + result.message;
    case TFTP_CLIENT_ERR_PROTOCOL:
        return "protocol error: " + result.message;
    case TFTP_CLIENT_ERR_LOCAL:
        return "local error: " + result.message;
    case TFTP_CLIENT_ERR_SOCKET:
        return "socket error: " + result.message;
    default:
        return "invalid request: " + result.message;
    }
}
