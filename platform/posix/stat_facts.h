// POSIX side: a stat result as the neutral FileFacts.
#pragma once

#include <sys/stat.h>

#include "platform/file.h"

namespace vindle::platform {

inline void DescribeStat(const struct stat& info, FileFacts& facts)
{
    facts.regular = S_ISREG(info.st_mode);
    facts.folder = S_ISDIR(info.st_mode);
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.device = static_cast<std::uint64_t>(info.st_dev);
    facts.inode = static_cast<std::uint64_t>(info.st_ino);
    facts.mode = static_cast<unsigned>(info.st_mode);
    facts.owner = static_cast<unsigned>(info.st_uid);
    facts.group = static_cast<unsigned>(info.st_gid);
    facts.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

}  // namespace vindle::platform
