// Sockets behind one interface. The endpoint classes use the Winsock-style
// names that platform/native_types.h provides, so that their code reads the
// same on every platform; the functions below are the pieces whose code
// differs between the platforms: the 10 ms readiness wait, the last-error
// query and the adapter binding of UDP endpoints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_types.h"


// A readiness wait's timeout in whole milliseconds.
inline int TimeoutMilliseconds(const timeval& timeout)
{
    return static_cast<int>(timeout.tv_sec * 1000 + timeout.tv_usec / 1000);
}

// The socket library's error code of the last failed call on this thread.
int SocketLastError();
// Sets what SocketLastError() reports, for failures found without a call.
void SocketSetLastError(int error);

// A new IPv4 socket of `type` (SOCK_STREAM, SOCK_DGRAM) that child processes
// do not inherit, non-blocking when asked. INVALID_SOCKET on failure.
SOCKET SocketOpen(int type, bool nonBlocking);
// Accepts a client on `listening` (not inherited either); INVALID_SOCKET on failure.
SOCKET SocketAccept(SOCKET listening, sockaddr_in& peer);
// Makes `socket` blocking again.
void SocketSetBlocking(SOCKET socket);
// The text for a SocketLastError() code.
std::string SocketErrorText(int error);
// True where binding a port below 1024 needs a privilege (POSIX); Windows
// needs none, but its firewall may ask the user the first time.
bool LowPortsNeedPrivilege();

// Asks for a receive buffer of `wanted` bytes; returns what the system granted.
int SocketSetReceiveBuffer(SOCKET socket, int wanted);

// Waits until `socket` is readable or `timeout` has passed.
// Returns > 0 when readable (also on end of stream or a pending error, so the
// following receive reports it), 0 on timeout, < 0 when the wait failed.
int SocketWaitReadable(SOCKET socket, const timeval& timeout);

// True when `socket` has a local address: it was bound, or a send bound it
// implicitly to a port the system chose.
bool SocketIsBound(SOCKET socket);

// The local port of `socket` in host byte order; 0 when it has none.
std::uint16_t SocketLocalPort(SOCKET socket);

// Binds a UDP endpoint socket to local IPv4 address `dwAddr` (network byte
// order) and `wPort` (host byte order).
//
// NOTE: on Linux a socket bound to a unicast address never sees broadcasts,
// which a discovery endpoint on an adapter address must receive. So for a
// nonzero address the socket is bound to the wildcard address but tied to the
// interface that owns `dwAddr` (SO_BINDTODEVICE): it then receives unicast
// and broadcast datagrams arriving on that interface only. Where that is not
// possible (no interface owns the address, or no permission) it falls back to
// a plain bind to `dwAddr`. Address 0 binds the wildcard address as usual.
//
// Returns 0 on success, SOCKET_ERROR on failure (SocketLastError() says why).
// *pbDeviceBound tells whether the socket was tied to an interface, in which
// case sends should go through SocketSendFrom with `dwAddr` as source.
int SocketBindUdpEndpoint(SOCKET socket, std::uint32_t dwAddr, std::uint16_t wPort, int* pbDeviceBound);

// sendto() that fixes the source address to `dwSourceAddr` (network byte
// order; 0 lets the system choose). A socket bound to the wildcard address
// finds no route to 255.255.255.255 on a host without a default route; with
// an explicit source address the limited broadcast leaves through the
// interface that owns it. Returns the byte count or SOCKET_ERROR.
long SocketSendFrom(SOCKET socket, std::uint32_t dwSourceAddr, const sockaddr_in& to, const void* pData,
                    std::size_t length);
