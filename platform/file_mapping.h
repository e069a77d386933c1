// A read-only mapping of a whole regular file, unmapped on destruction.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vindle::platform {

// On POSIX no one reads the mapping in user space: the kernel copies a
// datagram's data from it, so a file cut short meanwhile fails that send
// (EFAULT) instead of raising SIGBUS.
class FileMapping final
{
public:
    FileMapping() = default;
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    // Maps the file open as `fd` (see platform/file.h), as large as it is
    // now; false (and nothing mapped) for an empty or irregular file or a
    // failed mapping.
    bool Map(int fd);
    bool Valid() const { return m_data != nullptr; }
    const std::uint8_t* Data() const { return m_data; }
    std::uint64_t Size() const { return m_size; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace vindle::platform
