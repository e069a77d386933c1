// The transfer socket and file; see tftp_transport.h.

#include "tftp/tftp_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include <netinet/in.h>
#include <netinet/udp.h>
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

bool TftpTransport::SendRun(const std::uint8_t* data, std::size_t length, std::size_t segment)
{
    if (length <= segment)
        return Send(data, length);
    if (!noSegmentation) {
        iovec part = {const_cast<std::uint8_t*>(data), length};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
        msghdr message = {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_UDP;
        header->cmsg_type = UDP_SEGMENT;
        header->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
        const std::uint16_t size = static_cast<std::uint16_t>(segment);
        std::memcpy(CMSG_DATA(header), &size, sizeof size);
        for (;;) {
            const ssize_t n = sendmsg(socket.Get(), &message, MSG_NOSIGNAL);
            if (n >= 0)
                return static_cast<std::size_t>(n) == length;
            if (errno != EINTR)
                break;
        }
        // An old kernel, or a route whose MTU is below one datagram: the
        // blocks leave one by one from now on.
        if (errno != EINVAL && errno != EIO && errno != ENOPROTOOPT && errno != EOPNOTSUPP)
            return false;
        noSegmentation = true;
    }
    while (length > 0) {
        iovec datagrams[64];
        std::size_t count = 0;
        for (; length > 0 && count < std::size(datagrams); ++count) {
            const std::size_t size = std::min(segment, length);
            datagrams[count] = {const_cast<std::uint8_t*>(data), size};
            data += size;
            length -= size;
        }
        if (!SendEach(std::span<const iovec>(datagrams, count)))
            return false;
    }
    return true;
}
