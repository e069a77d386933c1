// Several datagrams on a connected UDP socket with as few system calls as
// the system allows: sendmmsg and UDP segmentation on Linux; elsewhere one
// send per datagram.
#pragma once

#include <cstddef>
#include <span>

#include "platform/native_types.h"

namespace vindle::platform {

// Sends each group of `perDatagram` consecutive parts as a datagram of its
// own, in order; false unless all of them left whole.
bool SendDatagrams(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram);

// Sends the datagrams `parts` make up, `perDatagram` parts each, in order:
// one system call for all of them where the kernel segments UDP, every
// datagram but the last `segment` bytes long. Once the kernel or the route
// refuses to segment, `noSegmentation` is set and the datagrams leave as
// SendDatagrams sends them, then and in later calls.
bool SendSegmented(SOCKET socket, std::span<const iovec> parts, std::size_t perDatagram, std::size_t segment,
                   bool& noSegmentation);

// Wakes a thread blocked in a receive on `socket`, from another thread, and
// keeps later receives from blocking: POSIX shuts the read side down (a
// receive returns 0); Windows cancels the receive under way and cuts the
// receive time-out to a millisecond.
void InterruptReceive(SOCKET socket);

// Readies a UDP socket that will serve a port for requests, before its
// bind. Windows: the port is this socket's alone (another server's wildcard
// bind does not share it, and ours fails as on POSIX), and an ICMP "port
// unreachable" for an earlier send does not fail the next receive. POSIX
// needs nothing.
void PrepareServerSocket(SOCKET socket);

// Lets a receive on `socket` wait `seconds` at most (SO_RCVTIMEO); false
// with errno set when the system refused.
bool SetReceiveTimeout(SOCKET socket, unsigned seconds);

// True when the last failed send on this thread read from memory that could
// not be read (a mapped file cut short meanwhile: EFAULT).
bool LastSendFaulted();

}  // namespace vindle::platform
