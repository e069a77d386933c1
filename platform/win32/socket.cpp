// Windows side of the socket layer (Winsock 2).
#include "platform/socket.h"

#include "platform/win32/text.h"

namespace {

// Winsock is started before main and stopped after it by this one object, so
// that no program and no test has to remember it.
class SocketLibrary {
public:
    SocketLibrary()
    {
        WSADATA data;
        m_bStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~SocketLibrary()
    {
        if (m_bStarted)
            ::WSACleanup();
    }
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

private:
    bool m_bStarted = false;
};

const SocketLibrary g_socketLibrary;

}  // namespace

int SocketLastError()
{
    return ::WSAGetLastError();
}

void SocketSetLastError(int error)
{
    ::WSASetLastError(error);
}

SOCKET SocketOpen(int type, bool nonBlocking)
{
    const SOCKET socket = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket != INVALID_SOCKET && nonBlocking) {
        u_long on = 1;
        ::ioctlsocket(socket, FIONBIO, &on);
    }
    return socket;
}

SOCKET SocketAccept(SOCKET listening, sockaddr_in& peer)
{
    int peerLength = sizeof peer;
    return ::accept(listening, reinterpret_cast<sockaddr*>(&peer), &peerLength);
}

void SocketSetBlocking(SOCKET socket)
{
    u_long off = 0;
    ::ioctlsocket(socket, FIONBIO, &off);
}

std::string SocketErrorText(int error)
{
    wchar_t* pText = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&pText),
                                          0, nullptr);
    std::wstring text(pText != nullptr ? pText : L"", length);
    ::LocalFree(pText);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
        text.pop_back();
    if (text.empty())
        return "socket error " + std::to_string(error);
    return vindle::platform::win32::Utf8(text);
}

bool LowPortsNeedPrivilege()
{
    return false;
}

int SocketSetReceiveBuffer(SOCKET socket, int wanted)
{
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&wanted), sizeof wanted);
    int granted = 0;
    int length = sizeof granted;
    ::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length);
    return granted;
}

int SocketWaitReadable(SOCKET socket, const timeval& timeout)
{
    WSAPOLLFD wait{};
    wait.fd = socket;
    wait.events = POLLRDNORM;
    const int result = ::WSAPoll(&wait, 1, TimeoutMilliseconds(timeout));
    if (result > 0 && (wait.revents & POLLNVAL) != 0) {
        ::WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    return result;
}

std::uint16_t SocketLocalPort(SOCKET socket)
{
    sockaddr_in local{};
    int length = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool SocketIsBound(SOCKET socket)
{
    return SocketLocalPort(socket) != 0;
}

// Windows delivers broadcasts to a socket bound to an adapter's unicast
// address, so the plain bind serves discovery as well.
int SocketBindUdpEndpoint(SOCKET socket, std::uint32_t dwAddr, std::uint16_t wPort, int* pbDeviceBound)
{
    *pbDeviceBound = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(wPort);
    local.sin_addr.s_addr = dwAddr;
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

long SocketSendFrom(SOCKET socket, std::uint32_t /*dwSourceAddr*/, const sockaddr_in& to, const void* pData,
                    std::size_t length)
{
    // The socket is bound to the source address already (see above).
    return ::sendto(socket, static_cast<const char*>(pData), static_cast<int>(length), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
