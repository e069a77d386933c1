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

#include <sys/socket.h>
#include <sys/uio.h>

// Closes a file descriptor on destruction.
class CUniqueFd final
{
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Hands the descriptor over to the caller, who closes it.
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1);
    // Closes now and returns close()'s result (0, or -1 with errno set).
    int Close();

private:
    int m_fd = -1;
};

// A read-only mapping of a whole regular file, unmapped on destruction. No
// one reads it in user space: the kernel copies a datagram's data from it,
// so a file cut short meanwhile fails that send (EFAULT) instead of raising
// SIGBUS.
class CFileMapping final
{
public:
    CFileMapping() = default;
    ~CFileMapping();
    CFileMapping(const CFileMapping&) = delete;
    CFileMapping& operator=(const CFileMapping&) = delete;

    // Maps the file open as `fd`, as large as it is now; false (and nothing
    // mapped) for an empty or irregular file or a failed mapping.
    bool Map(int fd);
    bool Valid() const { return m_data != nullptr; }
    const std::uint8_t* Data() const { return m_data; }
    std::uint64_t Size() const { return m_size; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

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
        const ssize_t n = recv(socket.Get(), buffer, capacity, MSG_TRUNC);
        // A stop shuts the socket down, which wakes the recv with 0 bytes.
        if (stopping != nullptr && stopping->load(std::memory_order_relaxed))
            return TftpWait::Stopped;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
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
        const ssize_t n = send(socket.Get(), data, length, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<std::size_t>(n) == length;
        if (errno != EINTR)
            return false;
    }
}
