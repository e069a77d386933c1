// POSIX side of the datagram batches: sendmmsg, and UDP_SEGMENT on sendmsg.
#include "platform/datagrams.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <netinet/udp.h>

namespace vindle::platform {

bool SendDatagrams(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram)
{
    constexpr std::size_t BATCH = 64;
    mmsghdr messages[BATCH];
    while (!parts.empty()) {
        const std::size_t count = std::min(parts.size() / perDatagram, BATCH);
        for (std::size_t j = 0; j < count; ++j) {
            messages[j] = {};
            messages[j].msg_hdr.msg_iov = const_cast<iovec*>(&parts[j * perDatagram]);
            messages[j].msg_hdr.msg_iovlen = perDatagram;
        }
        const int n = sendmmsg(socket, messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
            std::size_t length = 0;
            for (std::size_t p = 0; p < perDatagram; ++p)
                length += parts[j * perDatagram + p].iov_len;
            if (messages[j].msg_len != length)
                return false;
        }
        parts = parts.subspan(static_cast<std::size_t>(n) * perDatagram);
    }
    return true;
}

bool SendSegmented(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram, std::size_t segment,
                   bool& noSegmentation)
{
    if (parts.size() > perDatagram && !noSegmentation) {
        std::size_t length = 0;
        for (const iovec& part : parts)
            length += part.iov_len;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint16_t))] = {};
        msghdr message = {};
        message.msg_iov = const_cast<iovec*>(parts.data());
        message.msg_iovlen = parts.size();
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_UDP;
        header->cmsg_type = UDP_SEGMENT;
        header->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
        const std::uint16_t size = static_cast<std::uint16_t>(segment);
        std::memcpy(CMSG_DATA(header), &size, sizeof size);
        for (;;) {
            const ssize_t n = sendmsg(socket, &message, MSG_NOSIGNAL);
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
    return SendDatagrams(socket, parts, perDatagram);
}

void PrepareServerSocket(SOCKET) {}

void InterruptReceive(SOCKET socket)
{
    // NOTE: shutting the read side of a UDP socket down wakes a blocked
    // recv, which then returns 0; the send side stays usable.
    shutdown(socket, SHUT_RD);
}

bool SetReceiveTimeout(SOCKET socket, unsigned seconds)
{
    const timeval timeout{static_cast<time_t>(seconds), 0};
    return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool LastSendFaulted()
{
    return errno == EFAULT;
}

}  // namespace vindle::platform
