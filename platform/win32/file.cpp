// Windows side of the native files: HANDLEs held as ints (Windows keeps
// handle values within 32 bits), errors translated to errno values so that
// the callers' texts and checks stay those of POSIX.
#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <iphlpapi.h>
#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/text.h"

namespace vindle::platform {

namespace win32 {

int ErrnoFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    default:
        return EIO;
    }
}

void DescribeHandle(const BY_HANDLE_FILE_INFORMATION& info, FileFacts& facts)
{
    facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.regular = !facts.folder && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    facts.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts.modified = static_cast<std::int64_t>(static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime)
                                                   << 32 |
                                               info.ftLastWriteTime.dwLowDateTime) *
                     100;
}

}  // namespace win32

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        win32::CloseNative(m_fd);
    m_fd = fd;
}

int UniqueFd::Close()
{
    const int fd = m_fd;
    m_fd = -1;
    if (fd >= 0 && !win32::CloseNative(fd)) {
        errno = EIO;
        return -1;
    }
    return 0;
}

long ReadFile(int fd, void* data, std::size_t size)
{
    DWORD got = 0;
    const DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(win32::AsHandle(fd), data, wanted, &got, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE)
            return 0;
        errno = win32::ErrnoFor(error);
        return -1;
    }
    return static_cast<long>(got);
}

long ReadVector(int fd, const iovec* parts, int count)
{
    long done = 0;
    for (int i = 0; i < count; ++i) {
        const long n = ReadFile(fd, parts[i].iov_base, parts[i].iov_len);
        if (n < 0)
            return done > 0 ? done : -1;
        done += n;
        if (static_cast<std::size_t>(n) < parts[i].iov_len)
            break;
    }
    return done;
}

long WriteFile(int fd, const void* data, std::size_t size)
{
    DWORD put = 0;
    const DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(win32::AsHandle(fd), data, wanted, &put, nullptr)) {
        errno = win32::ErrnoFor(::GetLastError());
        return -1;
    }
    return static_cast<long>(put);
}

long WriteStandardOutput(const void* data, std::size_t size)
{
    DWORD put = 0;
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE ||
        !::WriteFile(out, data, static_cast<DWORD>(size), &put, nullptr))
        return -1;
    return static_cast<long>(put);
}

void IgnoreBrokenPipes() {}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

bool FileFactsOf(int fd, FileFacts& facts)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(win32::AsHandle(fd), &info))
        return false;
    win32::DescribeHandle(info, facts);
    return true;
}

bool PathFacts(const char* path, FileFacts& facts)
{
    // Backup semantics: folders open too; no access asked, so a locked file
    // still tells who it is.
    const HANDLE handle = ::CreateFileW(win32::Utf16(path).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    if (ok)
        win32::DescribeHandle(info, facts);
    return ok;
}

std::string ProgramPath()
{
    std::wstring path(32768, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size())
        return {};
    path.resize(n);
    // The program splits paths at '/', which Windows takes as well.
    std::string utf8 = win32::Utf8(path);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return utf8;
}

std::vector<std::uint32_t> InterfaceAddresses()
{
    std::vector<std::uint32_t> addresses;
    ULONG size = 16384;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_INET,
                                        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return addresses;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET)
                continue;
            sockaddr_in in{};
            std::memcpy(&in, address, sizeof in);
            addresses.push_back(in.sin_addr.s_addr);
        }
    }
    return addresses;
}

}  // namespace vindle::platform
