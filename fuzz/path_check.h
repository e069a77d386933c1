#pragma once
// What a resolved request name must satisfy, shared by the targets that
// resolve names: the local path is a home path with the relative name
// appended, and the relative name cannot climb out of it.

#include <span>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tftp/tftp_path.h"

inline bool HasDotDotComponent(std::string_view path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

inline void CheckResolution(std::string_view name, std::span<const TftpHomeEntry> homes,
                            const TftpPathResult& result)
{
    if (!result.ok) {
        const std::string_view text = result.error.text;
        FUZZ_CHECK(result.localPath.empty());
        FUZZ_CHECK(text == TFTP_ERR_VIOLATION.text || text == TFTP_ERR_NO_ALIAS_DIR.text ||
                   text == TFTP_ERR_BAD_ALIAS.text || text == TFTP_ERR_NAME_TOO_LONG.text ||
                   text == TFTP_ERR_INVALID_PATH.text);
        FUZZ_CHECK(result.error.code == TFTP_EACCESS);
        return;
    }
    FUZZ_CHECK(!homes.empty());
    const std::string_view relative = result.relativeName;
    FUZZ_CHECK(!HasDotDotComponent(relative));
    FUZZ_CHECK(relative.find('\\') == std::string_view::npos);
    FUZZ_CHECK(result.localPath.size() <= TFTP_MAX_PATH);
    FUZZ_CHECK(relative.size() <= name.size());
    // The home it lies in: the bare directory, or the alias named first.
    bool inside = false;
    for (const TftpHomeEntry& home : homes) {
        if (result.localPath == home.path + std::string(relative))
            inside = true;
        if (home.alias.empty())
            break;
    }
    FUZZ_CHECK(inside);
}
