// Windows side: HANDLEs and SOCKETs held as the ints platform/file.h hands
// out, and the errno values the callers understand.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "platform/file.h"

namespace vindle::platform::win32 {

// Windows keeps handle values within 32 bits; -1 stays INVALID_HANDLE_VALUE.
inline HANDLE AsHandle(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(fd));
}

inline int FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(reinterpret_cast<INT_PTR>(handle));
}

// A UniqueFd holds files and sockets alike; a socket must go through
// closesocket, which refuses any other handle without closing it.
inline bool CloseNative(int fd)
{
    const SOCKET socket = static_cast<SOCKET>(static_cast<INT_PTR>(fd));
    if (::closesocket(socket) == 0)
        return true;
    if (::WSAGetLastError() != WSAENOTSOCK && ::WSAGetLastError() != WSANOTINITIALISED)
        return false;
    return ::CloseHandle(AsHandle(fd)) != 0;
}

int ErrnoFor(DWORD error);
void DescribeHandle(const BY_HANDLE_FILE_INFORMATION& info, FileFacts& facts);

}  // namespace vindle::platform::win32
