// POSIX side of the native files: descriptors.
#include "platform/file.h"

#include <csignal>
#include <cstring>

#include <ifaddrs.h>
#include <unistd.h>

#include "platform/posix/stat_facts.h"

namespace vindle::platform {

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::Close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd >= 0 ? ::close(fd) : 0;
}

long ReadFile(int fd, void* data, std::size_t size)
{
    return static_cast<long>(::read(fd, data, size));
}

long WriteFile(int fd, const void* data, std::size_t size)
{
    return static_cast<long>(::write(fd, data, size));
}

long ReadVector(int fd, const iovec* parts, int count)
{
    return static_cast<long>(::readv(fd, parts, count));
}

long WriteStandardOutput(const void* data, std::size_t size)
{
    return static_cast<long>(::write(STDOUT_FILENO, data, size));
}

void IgnoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

std::string ErrnoText(int error)
{
    char text[256];
    // GNU strerror_r returns the text, which need not be in `text`.
    return strerror_r(error, text, sizeof text);
}

bool FileFactsOf(int fd, FileFacts& facts)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return false;
    DescribeStat(info, facts);
    return true;
}

bool PathFacts(const char* path, FileFacts& facts)
{
    struct stat info = {};
    if (::stat(path, &info) != 0)
        return false;
    DescribeStat(info, facts);
    return true;
}

std::string ProgramPath()
{
    // The length the server has always allowed a path.
    constexpr std::size_t MAX_PATH_LENGTH = 4095;
    char path[MAX_PATH_LENGTH + 1];
    const ssize_t n = ::readlink("/proc/self/exe", path, MAX_PATH_LENGTH);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<std::size_t>(n));
}

std::vector<std::uint32_t> InterfaceAddresses()
{
    std::vector<std::uint32_t> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        addresses.push_back(address.sin_addr.s_addr);
    }
    freeifaddrs(list);
    return addresses;
}

}  // namespace vindle::platform
