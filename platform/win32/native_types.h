// Windows side of the native names: Winsock 2 itself, plus the few POSIX
// spellings the endpoint code shares with the other side. Included through
// platform/native_types.h only.
#pragma once

#include <cstddef>
#include <cstdint>

#include <winsock2.h>
#include <ws2tcpip.h>

// Winsock takes buffers and option values as char pointers and lengths as
// int; these overloads take the void pointers the endpoint code passes.
// With a char buffer the library's own declaration stays the better match.
inline int setsockopt(SOCKET s, int level, int name, const void* value, int length)
{
    return ::setsockopt(s, level, name, static_cast<const char*>(value), length);
}
inline int getsockopt(SOCKET s, int level, int name, void* value, socklen_t* length)
{
    return ::getsockopt(s, level, name, static_cast<char*>(value), length);
}
inline int recv(SOCKET s, void* data, int length, int flags)
{
    return ::recv(s, static_cast<char*>(data), length, flags);
}
inline int send(SOCKET s, const void* data, int length, int flags)
{
    return ::send(s, static_cast<const char*>(data), length, flags);
}
inline int recvfrom(SOCKET s, void* data, int length, int flags, sockaddr* from, socklen_t* fromLength)
{
    return ::recvfrom(s, static_cast<char*>(data), length, flags, from, fromLength);
}
inline int sendto(SOCKET s, const void* data, int length, int flags, const sockaddr* to, int toLength)
{
    return ::sendto(s, static_cast<const char*>(data), length, flags, to, toLength);
}
inline int poll(WSAPOLLFD* fds, unsigned long count, int timeoutMs)
{
    return ::WSAPoll(fds, count, timeoutMs);
}

// A piece of a datagram gathered from several buffers, as POSIX spells it.
struct iovec
{
    void* iov_base;
    std::size_t iov_len;
};

// Windows has no SIGPIPE on sockets and no such flag.
inline constexpr int SOCKET_SEND_FLAGS = 0;
// A datagram larger than the buffer fails with WSAEMSGSIZE instead.
inline constexpr int SOCKET_RECV_TRUNC = 0;
// NOTE: Winsock has no per-call non-blocking send: a send on a blocking
// socket waits for room, so the endpoint's send time-out does not apply.
inline constexpr int SOCKET_SEND_NOWAIT = 0;

// Error codes of the socket calls, as SocketLastError() reports them.
inline constexpr int SOCKET_EINTR = WSAEINTR;
inline constexpr int SOCKET_EAGAIN = WSAEWOULDBLOCK;
inline constexpr int SOCKET_EWOULDBLOCK = WSAEWOULDBLOCK;
// A non-blocking connect under way reports "would block" on Windows.
inline constexpr int SOCKET_EINPROGRESS = WSAEWOULDBLOCK;
inline constexpr int SOCKET_ENOTCONN = WSAENOTCONN;
inline constexpr int SOCKET_ETIMEDOUT = WSAETIMEDOUT;
inline constexpr int SOCKET_ECANCELED = WSAECANCELLED;
inline constexpr int SOCKET_EADDRNOTAVAIL = WSAEADDRNOTAVAIL;
inline constexpr int SOCKET_EINVAL = WSAEINVAL;
inline constexpr int SOCKET_EBADF = WSAENOTSOCK;
inline constexpr int SOCKET_EADDRINUSE = WSAEADDRINUSE;
inline constexpr int SOCKET_EACCES = WSAEACCES;
// Winsock has no separate "not permitted".
inline constexpr int SOCKET_EPERM = WSAEACCES;

namespace vindle::platform {

// Anything the readiness wait can watch: sockets only (WSAPoll).
using NativeHandle = SOCKET;
inline constexpr NativeHandle kNoHandle = INVALID_SOCKET;

}  // namespace vindle::platform
