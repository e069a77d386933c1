// POSIX side of the file mapping: mmap.
#include "platform/file_mapping.h"

#include <cstdint>

#include <sys/mman.h>
#include <sys/stat.h>

namespace vindle::platform {

FileMapping::~FileMapping()
{
    if (m_data != nullptr)
        munmap(const_cast<std::uint8_t*>(m_data), m_size);
}

bool FileMapping::Map(int fd)
{
    struct stat status = {};
    if (m_data != nullptr || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > SIZE_MAX)
        return false;
    const auto size = static_cast<std::size_t>(status.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED)
        return false;
    // Read ahead of the sends, as a sequential read() would.
    (void)madvise(data, size, MADV_SEQUENTIAL);
    m_data = static_cast<const std::uint8_t*>(data);
    m_size = size;
    return true;
}

}  // namespace vindle::platform
