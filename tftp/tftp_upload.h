#pragma once
// A write request's file, received under a temporary name in the target's
// folder and put in place only once its last block is stored: an upload
// never empties or half-replaces the file it replaces, a reader that opened
// the old file keeps reading it to its end, and an upload that ends any
// other way leaves nothing behind. Owned by the transfer
// thread that serves the write request; the received data goes through the
// descriptor Begin hands out.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/upload_file.h"
#include "tftp/tftp_open.h"
#include "tftp/tftp_write_guard.h"

// Statuses of CTftpUpload::Commit.
inline constexpr std::uint32_t TFTP_UPLOAD_OK = 0;
// Overwriting is off and the name appeared while the data arrived.
inline constexpr std::uint32_t TFTP_UPLOAD_EXISTS = 0x80000000u;
// The data could not be made durable or put in place; nothing changed.
inline constexpr std::uint32_t TFTP_UPLOAD_FAILED = 0xFFFFFFFFu;

struct TftpUploadRules
{
    bool overwrite = false;
    const TftpWriteGuard* guard = nullptr;  // nullptr: no guard
    std::uint64_t announcedSize = 0;        // what the client says it sends; 0: unknown
};

class CTftpUpload final
{
public:
    CTftpUpload() = default;
    // An upload that was not committed leaves no trace.
    ~CTftpUpload() = default;
    CTftpUpload(const CTftpUpload&) = delete;
    CTftpUpload& operator=(const CTftpUpload&) = delete;

    // Finds where the name leads beneath its home (see LookUpBeneath) and
    // creates the temporary file there; its descriptor goes to `file`.
    // Errors: "Access violation" for a name that leads out of the home and
    // for what the guard protects; "File already exists" when overwriting
    // is off and the name exists; "Invalid Path" when the folder is missing,
    // the existing file is not a regular file, or no file can be created;
    // "Disk full or allocation exceeded" when the announced size exceeds the
    // space free in the folder's file system.
    [[nodiscard]] TftpFileStatus Begin(std::string_view localPath, std::string_view relativeName,
                                       const TftpUploadRules& rules, CUniqueFd& file,
                                       TftpFsCalls calls = TftpFsCalls::Modern);

    // Makes the data in `file` durable (fsync), puts it under the name
    // (replacing the old file in one rename when overwriting) and closes
    // `file`. On failure the temporary file is gone and the old file, or the
    // absence of one, is as it was.
    [[nodiscard]] std::uint32_t Commit(CUniqueFd& file);

private:
    vindle::platform::UploadFile m_file;
    bool m_overwrite = false;
};
