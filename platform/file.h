// Native files held as an int: a descriptor on POSIX; on Windows a HANDLE,
// whose value Windows keeps within 32 bits so that it fits (INVALID_HANDLE_VALUE
// becomes -1 as well). The byte-level calls the TFTP transfers make on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/native_types.h"

namespace vindle::platform {

// Closes a file on destruction.
class UniqueFd final
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Hands the file over to the caller, who closes it.
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1);
    // Closes now and returns 0, or -1 with errno set.
    int Close();

private:
    int m_fd = -1;
};

// Reads up to `size` bytes at the file position: the count, 0 at the end,
// -1 with errno set on failure (on Windows too, translated).
long ReadFile(int fd, void* data, std::size_t size);
// Reads into `count` buffers in turn, as ReadFile.
long ReadVector(int fd, const iovec* parts, int count);
// Writes up to `size` bytes: the count, or -1 with errno set.
long WriteFile(int fd, const void* data, std::size_t size);

// Writes up to `size` bytes to standard output past stdio: the count or -1.
long WriteStandardOutput(const void* data, std::size_t size);

// From now on a write to a pipe nobody reads fails instead of ending the
// program (POSIX SIGPIPE ignored; Windows has no such signal).
void IgnoreBrokenPipes();

// The system's text for an errno value.
std::string ErrnoText(int error);

// Facts about an open file or a named one.
struct FileFacts
{
    bool regular = false;
    bool folder = false;
    std::uint64_t size = 0;
    // Identity: device and inode (POSIX), volume serial and file index (Windows).
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // POSIX permissions and owner; a replacement takes them over.
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
    // Last change of the content, in nanoseconds of the system's clock.
    std::int64_t modified = 0;
};

bool FileFactsOf(int fd, FileFacts& facts);
bool PathFacts(const char* path, FileFacts& facts);

// The full path of the running program; empty when the system does not say.
std::string ProgramPath();

// Every IPv4 address of the machine's interfaces (network byte order), in
// the system's order, loopback included.
std::vector<std::uint32_t> InterfaceAddresses();

}  // namespace vindle::platform
