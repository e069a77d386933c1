// Uploads through a temporary file; see tftp_upload.h.

#include "tftp/tftp_upload.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Attempts at a fresh hidden name before the folder counts as unusable.
constexpr int NAME_ATTEMPTS = 16;

std::string ProcPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// An unnamed file gets its name through /proc/self/fd; without /proc (a
// bare chroot, say) the upload uses a hidden name from the start.
bool ProcLinkWorks(int fd)
{
    struct stat viaProc = {};
    struct stat direct = {};
    return stat(ProcPath(fd).c_str(), &viaProc) == 0 && fstat(fd, &direct) == 0 &&
           viaProc.st_dev == direct.st_dev && viaProc.st_ino == direct.st_ino;
}

// Bytes an unprivileged writer may still put into the folder's file system;
// as good as unlimited when the file system does not say.
std::uint64_t FreeSpace(int folder)
{
    struct statvfs info = {};
    if (fstatvfs(folder, &info) != 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string HiddenName()
{
    static std::atomic<unsigned> counter{0};
    unsigned long long random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
        random = static_cast<unsigned long long>(getpid()) << 32 | counter.fetch_add(1);
    char name[40];
    std::snprintf(name, sizeof name, ".vindle-upload-%016llx", random);
    return name;
}

}  // namespace

CTftpUpload::~CTftpUpload()
{
    if (m_active)
        Discard();
}

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
    struct stat folder = {};
    if (target.name == "." || fstat(target.folder.Get(), &folder) != 0)
        return invalid;
    if (rules.guard != nullptr && !TftpWriteAllowed(*rules.guard, folder, target.name))
        return {false, TFTP_ERR_VIOLATION};
    if (target.exists && !rules.overwrite)
        return {false, TFTP_ERR_EXISTS};
    // Renaming over a FIFO, a device or a folder would not write into it,
    // but it is no file an upload was meant to replace.
    if (target.exists && !S_ISREG(target.info.st_mode))
        return invalid;
    // Refused before a byte arrives, rather than after the disk filled up.
    if (rules.announcedSize > FreeSpace(target.folder.Get()))
        return {false, TFTP_ERR_DISK_FULL};

    CUniqueFd data;
    if (calls == TftpFsCalls::Modern) {
        data.Reset(openat(target.folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (data.Valid() && !ProcLinkWorks(data.Get()))
            data.Reset();
    }
    for (int attempt = 0; !data.Valid() && attempt < NAME_ATTEMPTS; ++attempt) {
        std::string name = HiddenName();
        data.Reset(openat(target.folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (data.Valid())
            m_temporary = std::move(name);
        else if (errno != EEXIST)
            break;
    }
    if (!data.Valid())
        return invalid;
    if (target.exists) {
        // The new file takes the old one's permissions (and owner, where the
        // server may give files away), as a rewrite in place would keep them.
        if (fchown(data.Get(), target.info.st_uid, target.info.st_gid) != 0) {
            // Not root: the file stays the server's.
        }
        if (fchmod(data.Get(), target.info.st_mode & 0777) != 0) {
            // The default permissions stay.
        }
    }
    m_folder.Reset(target.folder.Release());
    m_name = std::move(target.name);
    m_replacing = target.exists;
    m_overwrite = rules.overwrite;
    m_active = true;
    file.Reset(data.Release());
    return {};
}

std::uint32_t CTftpUpload::Commit(CUniqueFd& file)
{
    if (!m_active || !file.Valid())
        return TFTP_UPLOAD_FAILED;
    m_active = false;
    // The name only ever leads to data that is on the disk: a crash right
    // after the rename must not leave an empty file where the old one was.
    std::uint32_t status = TFTP_UPLOAD_FAILED;
    if (fsync(file.Get()) == 0)
        status = Publish(file.Get(), m_overwrite);
    else
        Discard();
    // After fsync a failing close loses nothing.
    (void)file.Close();
    return status;
}

bool CTftpUpload::NameTemporary(int file)
{
    if (!m_temporary.empty())
        return true;
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        std::string name = HiddenName();
        if (linkat(AT_FDCWD, ProcPath(file).c_str(), m_folder.Get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_temporary = std::move(name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

std::uint32_t CTftpUpload::Publish(int file, bool replace)
{
    if (replace) {
        // One rename: a reader sees the old file or the new one, never a mix.
        if (!NameTemporary(file) ||
            renameat(m_folder.Get(), m_temporary.c_str(), m_folder.Get(), m_name.c_str()) != 0) {
            Discard();
            return TFTP_UPLOAD_FAILED;
        }
        m_temporary.clear();
        return TFTP_UPLOAD_OK;
    }
    // A link never replaces: a name that appeared meanwhile is kept.
    const int linked =
        m_temporary.empty()
            ? linkat(AT_FDCWD, ProcPath(file).c_str(), m_folder.Get(), m_name.c_str(), AT_SYMLINK_FOLLOW)
            : linkat(m_folder.Get(), m_temporary.c_str(), m_folder.Get(), m_name.c_str(), 0);
    const int error = errno;
    Discard();
    if (linked == 0)
        return TFTP_UPLOAD_OK;
    return error == EEXIST ? TFTP_UPLOAD_EXISTS : TFTP_UPLOAD_FAILED;
}

void CTftpUpload::Discard()
{
    if (!m_temporary.empty()) {
        (void)unlinkat(m_folder.Get(), m_temporary.c_str(), 0);
        m_temporary.clear();
    }
}
