// POSIX side of the socket layer.
#include "platform/socket.h"

#include <cstring>

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>

namespace {

// Name of the interface that carries IPv4 address dwAddr (network byte
// order), or false when no interface has it.
bool FindInterfaceOf(std::uint32_t dwAddr, char (&name)[IF_NAMESIZE])
{
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return false;
    bool bFound = false;
    for (const ifaddrs* p = pList; p != nullptr && !bFound; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in addr;
        std::memcpy(&addr, p->ifa_addr, sizeof addr);
        if (addr.sin_addr.s_addr == dwAddr) {
            std::strncpy(name, p->ifa_name, IF_NAMESIZE - 1);
            name[IF_NAMESIZE - 1] = '\0';
            bFound = true;
        }
    }
    freeifaddrs(pList);
    return bFound;
}

}  // namespace

int SocketLastError()
{
    return errno;
}

void SocketSetLastError(int error)
{
    errno = error;
}

SOCKET SocketOpen(int type, bool nonBlocking)
{
    return ::socket(AF_INET, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

SOCKET SocketAccept(SOCKET listening, sockaddr_in& peer)
{
    socklen_t peerLength = sizeof peer;
    return ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
}

void SocketSetBlocking(SOCKET socket)
{
    const int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
}

std::string SocketErrorText(int error)
{
    return std::strerror(error);
}

bool LowPortsNeedPrivilege()
{
    return true;
}

int SocketSetReceiveBuffer(SOCKET socket, int wanted)
{
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int granted = 0;
    socklen_t length = sizeof granted;
    getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    // NOTE: Linux caps SO_RCVBUF at net.core.rmem_max (about 200 KiB by
    // default, a few hundred replies) and reports the doubled value it
    // reserves. A process with CAP_NET_ADMIN may go past the cap.
    if (granted < wanted) {
        setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted);
        length = sizeof granted;
        getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    }
    return granted;
}

int SocketWaitReadable(SOCKET socket, const timeval& timeout)
{
    pollfd wait{};
    wait.fd = socket;
    wait.events = POLLIN;
    const int timeoutMs = static_cast<int>(timeout.tv_sec * 1000 + timeout.tv_usec / 1000);
    const int result = ::poll(&wait, 1, timeoutMs);
    // A signal is not a failure of the socket; the caller just waits again.
    if (result < 0 && errno == EINTR)
        return 0;
    if (result > 0 && (wait.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return result;
}

std::uint16_t SocketLocalPort(SOCKET socket)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool SocketIsBound(SOCKET socket)
{
    return SocketLocalPort(socket) != 0;
}

int SocketBindUdpEndpoint(SOCKET socket, std::uint32_t dwAddr, std::uint16_t wPort, int* pbDeviceBound)
{
    *pbDeviceBound = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(wPort);
    local.sin_addr.s_addr = dwAddr;

    char ifName[IF_NAMESIZE];
    if (dwAddr != INADDR_ANY && FindInterfaceOf(dwAddr, ifName) &&
        setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, ifName,
                   static_cast<socklen_t>(std::strlen(ifName))) == 0) {
        local.sin_addr.s_addr = INADDR_ANY;
        if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            *pbDeviceBound = 1;
            return 0;
        }
        // Untie it again and try the plain bind below.
        setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, "", 0);
        local.sin_addr.s_addr = dwAddr;
    }
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

long SocketSendFrom(SOCKET socket, std::uint32_t dwSourceAddr, const sockaddr_in& to, const void* pData,
                    std::size_t length)
{
    if (dwSourceAddr == INADDR_ANY)
        return ::sendto(socket, pData, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);

    iovec data{const_cast<void*>(pData), length};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;

    cmsghdr* pHeader = CMSG_FIRSTHDR(&message);
    pHeader->cmsg_level = IPPROTO_IP;
    pHeader->cmsg_type = IP_PKTINFO;
    pHeader->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    // The source address both picks the route and is put into the header.
    info.ipi_spec_dst.s_addr = dwSourceAddr;
    std::memcpy(CMSG_DATA(pHeader), &info, sizeof info);
    return ::sendmsg(socket, &message, 0);
}
