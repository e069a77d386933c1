#pragma once
// A socket of the test's side: owns its descriptor (closed on destruction,
// movable), binds on loopback or a given address, listens, connects and
// accepts, and waits for data with a deadline, so a missing peer fails the
// test instead of hanging it. Setting it up never throws; failures are
// test failures or an invalid socket (Ok()).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/native_types.h"
#include "platform/poll.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include "tests/common/wait.h"

class TestSocket final
{
public:
    TestSocket() = default;
    explicit TestSocket(int fd) : m_fd(fd) {}
    TestSocket(TestSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    TestSocket& operator=(TestSocket&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ~TestSocket() { Close(); }

    // A UDP socket bound to address:port (network byte order address, host
    // byte order port; port 0: the system chooses). Invalid when the bind
    // fails.
    static TestSocket Udp(std::uint32_t address = htonl(INADDR_LOOPBACK), std::uint16_t port = 0)
    {
        TestSocket udp(static_cast<int>(SocketOpen(SOCK_DGRAM, false)));
        if (!udp.Bind(address, port))
            udp.Close();
        return udp;
    }
    // A TCP socket listening on a loopback port the system chooses.
    static TestSocket ListenLoopback()
    {
        TestSocket listener(static_cast<int>(SocketOpen(SOCK_STREAM, false)));
        if (!listener.Bind(htonl(INADDR_LOOPBACK), 0) || ::listen(listener.m_fd, 16) != 0)
            ADD_FAILURE() << "listen on loopback: " << std::strerror(errno);
        return listener;
    }
    static TestSocket ConnectLoopback(std::uint16_t port)
    {
        TestSocket client(static_cast<int>(SocketOpen(SOCK_STREAM, false)));
        const sockaddr_in to = Loopback(port);
        if (::connect(client.m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            ADD_FAILURE() << "connect to port " << port << ": " << std::strerror(errno);
        return client;
    }
    static sockaddr_in Loopback(std::uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    bool Ok() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // The local port, host byte order; 0 when there is none.
    std::uint16_t Port() const
    {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return 0;
        return ntohs(address.sin_port);
    }
    // True when data (or the end of a stream) arrived before the deadline.
    bool WaitReadable(std::chrono::milliseconds timeout = WAIT) const
    {
        vindle::platform::PollItem item{static_cast<vindle::platform::NativeHandle>(m_fd),
                                        vindle::platform::kPollReadable, 0};
        return vindle::platform::PollHandles(&item, 1, static_cast<int>(timeout.count())) ==
               vindle::platform::PollResult::kReady;
    }

    TestSocket Accept(std::chrono::milliseconds timeout = WAIT) const
    {
        if (!WaitReadable(timeout)) {
            ADD_FAILURE() << "no connection to accept";
            return TestSocket();
        }
        sockaddr_in peer{};
        return TestSocket(static_cast<int>(SocketAccept(static_cast<SOCKET>(m_fd), peer)));
    }
    void Write(const std::string& bytes) const
    {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), SOCKET_SEND_FLAGS),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly count bytes, or what arrived before the deadline.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout = WAIT) const
    {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitReadable(left))
                break;
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        return bytes;
    }
    // True when the other side ends the stream (or resets it) before the
    // deadline; data before the end is read and dropped.
    bool WaitForEnd(std::chrono::milliseconds timeout = WAIT) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitReadable(left))
                return false;
            char chunk[4096];
            if (::recv(m_fd, chunk, sizeof chunk, 0) <= 0)
                return true;
        }
    }

    void SendTo(const std::vector<std::uint8_t>& datagram, const sockaddr_in& to) const
    {
        ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    // The next datagram before the deadline (at most maxSize bytes) and,
    // if asked, its sender; nullopt when none came.
    std::optional<std::vector<std::uint8_t>> ReceiveFrom(std::chrono::milliseconds timeout = WAIT,
                                                         sockaddr_in* from = nullptr,
                                                         std::size_t maxSize = 70000) const
    {
        if (!WaitReadable(timeout))
            return std::nullopt;
        std::vector<std::uint8_t> datagram(maxSize);
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n = ::recvfrom(m_fd, datagram.data(), datagram.size(), 0,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (n < 0)
            return std::nullopt;
        datagram.resize(static_cast<std::size_t>(n));
        if (from != nullptr)
            *from = sender;
        return datagram;
    }

    // Binds to address:port (network byte order address, host byte order
    // port; port 0: the system chooses).
    bool Bind(std::uint32_t address, std::uint16_t port)
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = address;
        return m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }

private:
    void Close()
    {
        if (m_fd >= 0)
            closesocket(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
};
