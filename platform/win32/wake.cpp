// Windows side of the wake handle: a non-blocking loopback datagram socket
// connected to itself, so that WSAPoll can wait on it with the sockets.
#include "platform/wake.h"

#include "platform/socket.h"

namespace vindle::platform {

WakeHandle::WakeHandle()
{
    const SOCKET socket = SocketOpen(SOCK_DGRAM, true);
    if (socket == INVALID_SOCKET)
        return;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        ::connect(socket, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
        ::closesocket(socket);
        return;
    }
    m_handle = socket;
}

WakeHandle::~WakeHandle()
{
    if (m_handle != kNoHandle)
        ::closesocket(m_handle);
}

void WakeHandle::Wake() const
{
    if (m_handle == kNoHandle)
        return;
    const char one = 1;
    // A full buffer already wakes the waiter; nothing to do on failure.
    ::send(m_handle, &one, 1, 0);
}

void WakeHandle::Drain() const
{
    if (m_handle == kNoHandle)
        return;
    char buffer[64];
    while (::recv(m_handle, buffer, sizeof buffer, 0) > 0) {
    }
}

}  // namespace vindle::platform
