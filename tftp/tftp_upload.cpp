// Uploads through a temporary file; see tftp_upload.h.

#include "tftp/tftp_upload.h"

TftpFileStatus CTftpUpload::Begin(std::string_view localPath, std::string_view relativeName,
                                  const TftpUploadRules& rules, CUniqueFd& file, TftpFsCalls calls)
{
    const TftpFileStatus invalid{false, TFTP_ERR_INVALID_PATH};
    TftpTarget target;
    switch (LookUpBeneath(localPath, relativeName, calls, target)) {
    case TftpLookupStatus::Escapes:
        return {false, TFTP_ERR_VIOLATION};
    case TftpLookupStatus::NotFound:
        return invalid;
    case TftpLookupStatus::Found:
        break;
    }
    vindle::platform::FileFacts folder;
    if (target.name == "." || !vindle::platform::FileFactsOf(target.folder.Get(), folder))
        return invalid;
    if (rules.guard != nullptr && !TftpWriteAllowed(*rules.guard, folder, target.name))
        return {false, TFTP_ERR_VIOLATION};
    if (target.exists && !rules.overwrite)
        return {false, TFTP_ERR_EXISTS};
    // Renaming over a FIFO, a device or a folder would not write into it,
    // but it is no file an upload was meant to replace.
    if (target.exists && !target.info.regular)
        return invalid;
    // Refused before a byte arrives, rather than after the disk filled up.
    if (rules.announcedSize > vindle::platform::FreeSpace(target))
        return {false, TFTP_ERR_DISK_FULL};

    if (!m_file.Create(target, calls, file))
        return invalid;
    m_overwrite = rules.overwrite;
    return {};
}

std::uint32_t CTftpUpload::Commit(CUniqueFd& file)
{
    switch (m_file.Commit(file, m_overwrite)) {
    case vindle::platform::UploadFile::Placed::Ok:
        return TFTP_UPLOAD_OK;
    case vindle::platform::UploadFile::Placed::Exists:
        return TFTP_UPLOAD_EXISTS;
    case vindle::platform::UploadFile::Placed::Failed:
        break;
    }
    return TFTP_UPLOAD_FAILED;
}
