// POSIX side of the file facts: stat, access and realpath.
#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace vindle::platform {

InputFile InspectInputFile(const std::string& path)
{
    InputFile file;
    struct stat fileStat = {};
    if (::stat(path.c_str(), &fileStat) != 0) {
        file.error = std::strerror(errno);
        return file;
    }
    if (!S_ISREG(fileStat.st_mode)) {
        file.state = InputFile::State::NotRegular;
        return file;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        file.state = InputFile::State::Unreadable;
        file.error = std::strerror(errno);
        return file;
    }
    file.state = InputFile::State::Readable;
    file.size = static_cast<std::uint64_t>(fileStat.st_size);
    char* real = ::realpath(path.c_str(), nullptr);
    file.fullPath = real ? real : path;
    std::free(real);
    return file;
}

}  // namespace vindle::platform
