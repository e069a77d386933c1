// POSIX side of uploads: O_TMPFILE named through /proc, else a hidden
// name; renameat or linkat puts the data in place.
#include "platform/upload_file.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vindle::platform {

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

std::uint64_t FreeSpace(const HomeTarget& target)
{
    struct statvfs info = {};
    if (fstatvfs(target.folder.Get(), &info) != 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

UploadFile::~UploadFile()
{
    if (m_active)
        Discard();
}

bool UploadFile::Create(HomeTarget& target, HomeCalls calls, UniqueFd& file)
{
    UniqueFd data;
    if (calls == HomeCalls::Modern) {
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
        return false;
    if (target.exists) {
        // The new file takes the old one's permissions (and owner, where the
        // server may give files away), as a rewrite in place would keep them.
        if (fchown(data.Get(), target.info.owner, target.info.group) != 0) {
            // Not root: the file stays the server's.
        }
        if (fchmod(data.Get(), target.info.mode & 0777) != 0) {
            // The default permissions stay.
        }
    }
    m_folder.Reset(target.folder.Release());
    m_name = std::move(target.name);
    m_active = true;
    file.Reset(data.Release());
    return true;
}

UploadFile::Placed UploadFile::Commit(UniqueFd& file, bool replace)
{
    if (!m_active || !file.Valid())
        return Placed::Failed;
    m_active = false;
    // The name only ever leads to data that is on the disk: a crash right
    // after the rename must not leave an empty file where the old one was.
    Placed status = Placed::Failed;
    if (fsync(file.Get()) == 0)
        status = Publish(file.Get(), replace);
    else
        Discard();
    // After fsync a failing close loses nothing.
    (void)file.Close();
    return status;
}

bool UploadFile::NameTemporary(int file)
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

UploadFile::Placed UploadFile::Publish(int file, bool replace)
{
    if (replace) {
        // One rename: a reader sees the old file or the new one, never a mix.
        if (!NameTemporary(file) ||
            renameat(m_folder.Get(), m_temporary.c_str(), m_folder.Get(), m_name.c_str()) != 0) {
            Discard();
            return Placed::Failed;
        }
        m_temporary.clear();
        return Placed::Ok;
    }
    // A link never replaces: a name that appeared meanwhile is kept.
    const int linked =
        m_temporary.empty()
            ? linkat(AT_FDCWD, ProcPath(file).c_str(), m_folder.Get(), m_name.c_str(), AT_SYMLINK_FOLLOW)
            : linkat(m_folder.Get(), m_temporary.c_str(), m_folder.Get(), m_name.c_str(), 0);
    const int error = errno;
    Discard();
    if (linked == 0)
        return Placed::Ok;
    return error == EEXIST ? Placed::Exists : Placed::Failed;
}

void UploadFile::Discard()
{
    if (!m_temporary.empty()) {
        (void)unlinkat(m_folder.Get(), m_temporary.c_str(), 0);
        m_temporary.clear();
    }
}

}  // namespace vindle::platform
