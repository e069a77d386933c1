#include "support.h"

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

std::uint16_t FreeUdpPort()
{
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    socklen_t length = sizeof addr;
    std::uint16_t port = 0;
    if (probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    if (probe >= 0)
        ::close(probe);
    return port;
}

std::uint32_t Ipv4(const char* pszDotted)
{
    in_addr addr{};
    inet_pton(AF_INET, pszDotted, &addr);
    return addr.s_addr;
}

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    m_readFd = fds[0];
    m_savedFd = ::dup(1);
    ::dup2(fds[1], 1);
    ::close(fds[1]);
}

StdoutCapture::~StdoutCapture()
{
    Stop();
}

void StdoutCapture::Drain(int timeoutMs)
{
    pollfd wait{m_readFd, POLLIN, 0};
    char buffer[512];
    while (m_readFd >= 0 && ::poll(&wait, 1, timeoutMs) > 0) {
        const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_text.append(buffer, static_cast<std::size_t>(n));
        timeoutMs = 0;
    }
}

bool StdoutCapture::WaitForText(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::fflush(stdout);
        Drain(0);
        if (m_text.find(text) != std::string::npos)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        // Blocks until output arrives (or 10 ms pass, to look at stdio again).
        pollfd wait{m_readFd, POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 10)));
    }
}

const std::string& StdoutCapture::Stop()
{
    if (m_savedFd >= 0) {
        std::fflush(stdout);
        ::dup2(m_savedFd, 1);
        ::close(m_savedFd);
        m_savedFd = -1;
        Drain(0);
        ::close(m_readFd);
        m_readFd = -1;
    }
    return m_text;
}

}  // namespace nettest
