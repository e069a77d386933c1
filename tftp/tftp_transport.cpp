// The transfer socket and file; see tftp_transport.h.

#include "tftp/tftp_transport.h"

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

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

TftpWait TftpTransport::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    for (;;) {
        // NOTE: recv would cut a longer datagram silently; MSG_TRUNC makes it
        // return the real length so that the overflow is seen.
        const ssize_t n = recv(socket.Get(), buffer, capacity, MSG_TRUNC);
        // A stop shuts the socket down, which wakes the recv with 0 bytes.
        if (stopping != nullptr && stopping->load(std::memory_order_relaxed))
            return TftpWait::Stopped;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return TftpWait::Timeout;
            return TftpWait::Failed;
        }
        if (static_cast<std::size_t>(n) > capacity)
            return TftpWait::Failed;
        length = static_cast<std::size_t>(n);
        return TftpWait::Data;
    }
}

bool TftpTransport::Send(const std::uint8_t* data, std::size_t length)
{
    for (;;) {
        const ssize_t n = send(socket.Get(), data, length, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<std::size_t>(n) == length;
        if (errno != EINTR)
            return false;
    }
}

bool TftpTransport::SendEach(std::span<const iovec> datagrams)
{
    constexpr std::size_t BATCH = 64;
    mmsghdr messages[BATCH];
    while (!datagrams.empty()) {
        const std::size_t count = std::min(datagrams.size(), BATCH);
        for (std::size_t j = 0; j < count; ++j) {
            messages[j] = {};
            messages[j].msg_hdr.msg_iov = const_cast<iovec*>(&datagrams[j]);
            messages[j].msg_hdr.msg_iovlen = 1;
        }
        const int n = sendmmsg(socket.Get(), messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (int j = 0; j < n; ++j) {
            if (messages[j].msg_len != datagrams[static_cast<std::size_t>(j)].iov_len)
                return false;
        }
        datagrams = datagrams.subspan(static_cast<std::size_t>(n));
    }
    return true;
}
