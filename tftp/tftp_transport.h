#pragma once
// What a transfer's loops touch outside memory: the transfer socket, which
// is connected to the client, and the local file. Used only by the thread
// that owns the transfer; the stop flag is the one thing another thread
// writes.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "platform/file.h"
#include "platform/file_mapping.h"
#include "platform/native_types.h"
#include "platform/socket.h"

// The transfer's file and socket, and the file's mapping; see platform/.
using CUniqueFd = vindle::platform::UniqueFd;
using CFileMapping = vindle::platform::FileMapping;

inline constexpr std::size_t TFTP_MAX_RUN_DATAGRAMS = 64;

// How a wait for the client's next datagram ended.
enum class TftpWait
{
    Data,     // a datagram of `length` bytes arrived
    Timeout,  // nothing within the socket's receive timeout
    Stopped,  // the server is stopping
    Failed,   // the socket failed, or the datagram did not fit
};

struct TftpTransport
{
    CUniqueFd socket;
    CUniqueFd file;
    // Set by the server when it stops; it also shuts the socket's read side
    // down, which wakes a blocked receive.
    const std::atomic<bool>* stopping = nullptr;

    // Waits up to the socket's receive timeout (SO_RCVTIMEO, so one system
    // call per packet) for one datagram of at most `capacity` bytes. A longer
    // datagram counts as a failed receive.
    TftpWait Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& length);
    // Sends one datagram; false unless all of it left.
    bool Send(const std::uint8_t* data, std::size_t length);
    // Sends each group of `perDatagram` consecutive parts as a datagram of
    // its own, in order, with as few system calls as the kernel allows;
    // false unless all of them left whole.
    bool SendEach(std::span<const iovec> parts, std::size_t perDatagram);
    // Sends the datagrams that `parts` make up, `perDatagram` consecutive
    // parts each, in order: one system call for all of them where the kernel
    // segments UDP (GSO), else as SendEach would. Every datagram but the
    // last must be `segment` bytes long, and there are at most
    // DatagramsPerRun(segment) of them.
    bool SendRun(std::span<const iovec> parts, std::size_t perDatagram, std::size_t segment);
    // The most datagrams of `segment` bytes that one SendRun takes: the
    // kernel segments at most TFTP_MAX_RUN_DATAGRAMS per call, and 65507
    // bytes (one UDP datagram's payload) in all.
    static std::size_t DatagramsPerRun(std::size_t segment)
    {
        return std::clamp<std::size_t>(65507 / segment, 1, TFTP_MAX_RUN_DATAGRAMS);
    }

    // Set once the kernel or the route refused to segment: SendRun then
    // sends datagram by datagram for the rest of the transfer.
    bool noSegmentation = false;
};

// Receive and Send run once per block: inline, so that the transfer loops
// pay for the system call alone.
inline TftpWait TftpTransport::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    for (;;) {
        // NOTE: recv would cut a longer datagram silently; MSG_TRUNC makes it
        // return the real length so that the overflow is seen.
        const auto n = recv(socket.Get(), buffer, capacity, SOCKET_RECV_TRUNC);
        // A stop shuts the socket down, which wakes the recv with 0 bytes.
        if (stopping != nullptr && stopping->load(std::memory_order_relaxed))
            return TftpWait::Stopped;
        if (n < 0) {
            const int error = SocketLastError();
            if (error == SOCKET_EINTR)
                continue;
            // Windows reports the receive time-out as ETIMEDOUT.
            if (error == SOCKET_EAGAIN || error == SOCKET_EWOULDBLOCK || error == SOCKET_ETIMEDOUT)
                return TftpWait::Timeout;
            return TftpWait::Failed;
        }
        if (static_cast<std::size_t>(n) > capacity)
            return TftpWait::Failed;
        length = static_cast<std::size_t>(n);
        return TftpWait::Data;
    }
}

inline bool TftpTransport::Send(const std::uint8_t* data, std::size_t length)
{
    for (;;) {
        const auto n = send(socket.Get(), data, length, SOCKET_SEND_FLAGS);
        if (n >= 0)
            return static_cast<std::size_t>(n) == length;
        if (SocketLastError() != SOCKET_EINTR)
            return false;
    }
}
