// POSIX side of the native names: Winsock-style names mapped onto POSIX
// sockets. Included through platform/native_types.h only.
#pragma once

#include <cerrno>
#include <cstdint>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

using SOCKET = int;

// All bits set, as the endpoint classes expect of "no socket".
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Directions for shutdown().
inline constexpr int SD_RECEIVE = SHUT_RD;
inline constexpr int SD_SEND = SHUT_WR;
inline constexpr int SD_BOTH = SHUT_RDWR;

// Flags for send() on stream sockets. NOTE: on Linux a send on a socket whose
// peer has gone raises SIGPIPE, which ends the process; MSG_NOSIGNAL turns it
// into an ordinary EPIPE failure as on other platforms.
inline constexpr int SOCKET_SEND_FLAGS = MSG_NOSIGNAL;

// Receive and send flags with no counterpart on every platform.
inline constexpr int SOCKET_RECV_TRUNC = MSG_TRUNC;
inline constexpr int SOCKET_SEND_NOWAIT = MSG_DONTWAIT;

// Error codes of the socket calls, as SocketLastError() reports them.
inline constexpr int SOCKET_EINTR = EINTR;
inline constexpr int SOCKET_EAGAIN = EAGAIN;
inline constexpr int SOCKET_EWOULDBLOCK = EWOULDBLOCK;
inline constexpr int SOCKET_EINPROGRESS = EINPROGRESS;
inline constexpr int SOCKET_ENOTCONN = ENOTCONN;
inline constexpr int SOCKET_ETIMEDOUT = ETIMEDOUT;
inline constexpr int SOCKET_ECANCELED = ECANCELED;
inline constexpr int SOCKET_EADDRNOTAVAIL = EADDRNOTAVAIL;
inline constexpr int SOCKET_EINVAL = EINVAL;
inline constexpr int SOCKET_EBADF = EBADF;
inline constexpr int SOCKET_EADDRINUSE = EADDRINUSE;
inline constexpr int SOCKET_EACCES = EACCES;
inline constexpr int SOCKET_EPERM = EPERM;

inline int closesocket(SOCKET socket)
{
    return ::close(socket);
}

namespace vindle::platform {

// Anything the readiness wait can watch: a socket or an eventfd.
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace vindle::platform
