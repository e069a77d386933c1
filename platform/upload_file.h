// A file received under a temporary name in its target's folder and put in
// place only once complete: an upload never empties or half-replaces the
// file it replaces, a reader that opened the old file keeps reading it, and
// an upload that ends any other way leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>

#include "platform/home_files.h"

namespace vindle::platform {

// Bytes an unprivileged writer may still put into the file system of the
// folder `target` found; as good as unlimited when the system does not say.
std::uint64_t FreeSpace(const HomeTarget& target);

class UploadFile final
{
public:
    UploadFile() = default;
    // An upload that was not committed leaves no trace.
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    // Creates the temporary file beside `target` (whose folder and name it
    // takes over) and hands its handle to `file`. A replacement takes the
    // old file's permissions (and owner, where the server may give files
    // away). False when no file could be created.
    [[nodiscard]] bool Create(HomeTarget& target, HomeCalls calls, UniqueFd& file);

    enum class Placed
    {
        Ok,
        Exists,  // not replacing, and the name appeared meanwhile
        Failed,  // nothing changed
    };
    // Makes the data in `file` durable, puts it under the name (replacing
    // the old file in one step when `replace`) and closes `file`. On failure
    // the temporary file is gone and the old file, or its absence, is as it was.
    [[nodiscard]] Placed Commit(UniqueFd& file, bool replace);

private:
    [[nodiscard]] bool NameTemporary(int file);
    [[nodiscard]] Placed Publish(int file, bool replace);
    void Discard();

    UniqueFd m_folder;
    std::string m_folderPath;
    std::string m_name;
    std::string m_temporary;  // hidden name of the data; empty while unnamed
    bool m_active = false;
};

}  // namespace vindle::platform
