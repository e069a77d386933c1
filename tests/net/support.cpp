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

}  // namespace nettest
