// Windows side of the datagram batches: one WSASend per datagram, gathered
// from its parts; Windows has no UDP segmentation to ask for.
#include "platform/datagrams.h"

#include <cerrno>

namespace vindle::platform {

bool SendDatagrams(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram)
{
    WSABUF buffers[8];
    if (perDatagram > 8)
        return false;
    for (std::size_t first = 0; first + perDatagram <= parts.size(); first += perDatagram) {
        std::size_t length = 0;
        for (std::size_t p = 0; p < perDatagram; ++p) {
            buffers[p].buf = static_cast<char*>(parts[first + p].iov_base);
            buffers[p].len = static_cast<ULONG>(parts[first + p].iov_len);
            length += parts[first + p].iov_len;
        }
        DWORD sent = 0;
        if (::WSASend(socket, buffers, static_cast<DWORD>(perDatagram), &sent, 0, nullptr, nullptr) != 0 ||
            sent != length)
            return false;
    }
    return true;
}

bool SendSegmented(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram, std::size_t,
                   bool& noSegmentation)
{
    noSegmentation = true;
    return SendDatagrams(socket, parts, perDatagram);
}

void PrepareServerSocket(SOCKET socket)
{
    const BOOL on = TRUE;
    (void)setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
    // SIO_UDP_CONNRESET, spelled out: mingw's headers keep it in mstcpip.h.
    constexpr DWORD UDP_CONNRESET = _WSAIOW(IOC_VENDOR, 12);
    BOOL report = FALSE;
    DWORD returned = 0;
    (void)::WSAIoctl(socket, UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

void InterruptReceive(SOCKET socket)
{
    // Windows keeps no "read side shut" state: a receive not begun yet is
    // kept short instead, and the one under way is cancelled.
    const DWORD shortest = 1;
    (void)setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &shortest, sizeof shortest);
    (void)::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

bool SetReceiveTimeout(SOCKET socket, unsigned seconds)
{
    const DWORD milliseconds = seconds * 1000;
    if (setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &milliseconds, sizeof milliseconds) == 0)
        return true;
    errno = EINVAL;
    return false;
}

bool LastSendFaulted()
{
    return ::WSAGetLastError() == WSAEFAULT;
}

}  // namespace vindle::platform
