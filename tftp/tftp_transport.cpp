// The transfer socket and file; see tftp_transport.h.

#include "tftp/tftp_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

CFileMapping::~CFileMapping()
{
    if (m_data != nullptr)
        munmap(const_cast<std::uint8_t*>(m_data), m_size);
}

bool CFileMapping::Map(int fd)
{
    struct stat status = {};
    if (m_data != nullptr || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > SIZE_MAX)
        return false;
    const auto size = static_cast<std::size_t>(status.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED)
        return false;
    // Read ahead of the sends, as a sequential read() would.
    (void)madvise(data, size, MADV_SEQUENTIAL);
    m_data = static_cast<const std::uint8_t*>(data);
    m_size = size;
    return true;
}

bool TftpTransport::SendEach(std::span<const iovec> parts, std::size_t perDatagram)
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
        const int n = sendmmsg(socket.Get(), messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
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

bool TftpTransport::SendRun(std::span<const iovec> parts, std::size_t perDatagram, std::size_t segment)
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
    return SendEach(parts, perDatagram);
}
