// POSIX side of the lookups beneath a home: openat2, else a walk with
// O_NOFOLLOW.
#include "platform/home_files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/stat_facts.h"

namespace vindle::platform {

namespace {

// As many links as the kernel itself follows in one lookup.
constexpr int MAX_LINK_HOPS = 40;
// Folders held open at once while walking; far deeper than any served tree.
constexpr std::size_t MAX_WALK_DEPTH = 256;
// openat2 reports EAGAIN when a rename raced with its ".." handling.
constexpr int KERNEL_RETRIES = 3;

using Components = std::vector<std::string>;

// The components of a path; empty ones and "." are dropped.
Components Split(std::string_view path)
{
    Components parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        start = end + 1;
    }
    return parts;
}

// The home folder, held open for the lookup, and the absolute spellings an
// in-home absolute link may start with: the configured path and the real one.
struct Home
{
    UniqueFd fd;
    std::vector<Components> anchors;
};

bool OpenHome(std::string_view localPath, std::string_view relativeName, Home& home)
{
    if (!localPath.ends_with(relativeName))
        return false;
    const std::string path(localPath.substr(0, localPath.size() - relativeName.size()));
    home.fd.Reset(open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!home.fd.Valid())
        return false;
    if (path.starts_with('/'))
        home.anchors.push_back(Split(path));
    if (char* real = realpath(path.empty() ? "." : path.c_str(), nullptr)) {
        home.anchors.push_back(Split(real));
        std::free(real);
    }
    return true;
}

// The part of an absolute link target below the home, or false when the
// target does not start with one of the home's spellings. A ".." before the
// end of the home's spelling never matches, so it cannot climb out.
bool BelowHome(const Home& home, std::string_view target, Components& rest)
{
    const Components parts = Split(target);
    for (const Components& anchor : home.anchors) {
        if (anchor.size() > parts.size())
            continue;
        bool match = true;
        for (std::size_t i = 0; i < anchor.size() && match; ++i)
            match = parts[i] == anchor[i];
        if (match) {
            rest.assign(parts.begin() + static_cast<std::ptrdiff_t>(anchor.size()), parts.end());
            return true;
        }
    }
    return false;
}

bool ReadLink(int folder, const char* name, std::string& target)
{
    char buffer[PATH_MAX];
    const ssize_t n = readlinkat(folder, name, buffer, sizeof buffer);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

// Reads the link `name` in `folder`, counted against the hop limit, into
// the components to resolve in its place. An absolute target must lie below
// the home; `fromHome` then says that resolution starts again there.
HomeLookup ReadLinkTarget(const Home& home, int folder, const char* name, int& hops, Components& splice,
                                bool& fromHome)
{
    std::string target;
    if (++hops > MAX_LINK_HOPS)
        return HomeLookup::Escapes;
    if (!ReadLink(folder, name, target))
        return HomeLookup::NotFound;
    fromHome = target.starts_with('/');
    if (fromHome)
        return BelowHome(home, target, splice) ? HomeLookup::Found : HomeLookup::Escapes;
    splice = Split(target);
    return HomeLookup::Found;
}

int OpenAt2(int folder, const char* path, std::uint64_t flags)
{
    open_how how{};
    how.flags = flags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = syscall(SYS_openat2, folder, path, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN || attempt == KERNEL_RETRIES)
            return static_cast<int>(fd);
    }
}

// Whether a failed openat2 leaves the decision to the walk: the kernel
// lacks the call (or a seccomp filter refuses it with EPERM), it met an
// absolute link (EXDEV), which may still point into the home by its full
// path, or it kept racing with renames.
bool WalkDecides(int error)
{
    return error == ENOSYS || error == EPERM || error == EXDEV || error == EAGAIN;
}

// Opens the folder `path` names beneath the home by hand: one component at
// a time with O_NOFOLLOW, a link's target spliced into the rest of the
// path, ".." taken from the folders already held open rather than from the
// file system. Every folder on the way stays open, so a concurrent rename
// cannot carry the walk out of the home.
HomeLookup WalkToFolder(const Home& home, const Components& path, int& hops, UniqueFd& folder)
{
    std::deque<UniqueFd> held;  // the folders below the home, innermost last
    std::deque<std::string> pending(path.begin(), path.end());
    while (!pending.empty()) {
        const std::string part = std::move(pending.front());
        pending.pop_front();
        if (part == "..") {
            if (held.empty())
                return HomeLookup::Escapes;
            held.pop_back();
            continue;
        }
        const int current = held.empty() ? home.fd.Get() : held.back().Get();
        UniqueFd next(openat(current, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info = {};
        if (!next.Valid() || fstat(next.Get(), &info) != 0)
            return HomeLookup::NotFound;
        if (S_ISLNK(info.st_mode)) {
            Components splice;
            bool fromHome = false;
            const HomeLookup link = ReadLinkTarget(home, next.Get(), "", hops, splice, fromHome);
            if (link != HomeLookup::Found)
                return link;
            if (fromHome)
                held.clear();
            pending.insert(pending.begin(), splice.begin(), splice.end());
            continue;
        }
        if (!S_ISDIR(info.st_mode) || held.size() == MAX_WALK_DEPTH)
            return HomeLookup::NotFound;
        held.emplace_back(next.Release());
    }
    if (held.empty())
        folder.Reset(fcntl(home.fd.Get(), F_DUPFD_CLOEXEC, 0));
    else
        folder.Reset(held.back().Release());
    return folder.Valid() ? HomeLookup::Found : HomeLookup::NotFound;
}

HomeLookup OpenFolder(const Home& home, const Components& path, HomeCalls calls, int& hops,
                            UniqueFd& folder)
{
    if (calls == HomeCalls::Modern) {
        std::string joined = ".";
        for (const std::string& part : path)
            joined += "/" + part;
        const int fd = OpenAt2(home.fd.Get(), joined.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        folder.Reset(fd);
        if (folder.Valid())
            return HomeLookup::Found;
        if (error == ELOOP)
            return HomeLookup::Escapes;
        if (!WalkDecides(error))
            return HomeLookup::NotFound;
    }
    return WalkToFolder(home, path, hops, folder);
}

HomeLookup LookUp(const Home& home, std::string_view relativeName, HomeCalls calls,
                        HomeTarget& target)
{
    Components path = Split(relativeName);
    int hops = 0;
    for (;;) {
        // A name that ends in ".." (from a link's target) names a folder.
        if (!path.empty() && path.back() == "..")
            path.emplace_back(".");
        const std::string last = path.empty() ? "." : path.back();
        if (!path.empty())
            path.pop_back();
        const HomeLookup status = OpenFolder(home, path, calls, hops, target.folder);
        if (status != HomeLookup::Found)
            return status;
        target.name = last;
        struct stat info = {};
        target.exists = fstatat(target.folder.Get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (!target.exists) {
            if (errno != ENOENT)
                return HomeLookup::NotFound;
            return HomeLookup::Found;
        }
        if (!S_ISLNK(info.st_mode)) {
            DescribeStat(info, target.info);
            return HomeLookup::Found;
        }
        // The last component is a link: look its target up from the same
        // folder (or from the home for an absolute one that stays inside).
        Components splice;
        bool fromHome = false;
        const HomeLookup link =
            ReadLinkTarget(home, target.folder.Get(), last.c_str(), hops, splice, fromHome);
        if (link != HomeLookup::Found)
            return link;
        if (fromHome)
            path.clear();
        path.insert(path.end(), splice.begin(), splice.end());
    }
}

}  // namespace

HomeLookup LookUpBeneath(std::string_view localPath, std::string_view relativeName, HomeCalls calls,
                               HomeTarget& target)
{
    Home home;
    if (!OpenHome(localPath, relativeName, home))
        return HomeLookup::NotFound;
    return LookUp(home, relativeName, calls, target);
}

HomeOpen OpenBeneathForReading(std::string_view localPath, std::string_view relativeName, UniqueFd& file,
                               std::uint64_t& size, HomeCalls calls)
{
    const HomeOpen notFound = HomeOpen::NotFound;
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Home home;
    if (!OpenHome(localPath, relativeName, home))
        return notFound;
    bool walk = calls == HomeCalls::Portable;
    if (!walk) {
        const std::string name = relativeName.empty() ? std::string(".") : std::string(relativeName);
        const int fd = OpenAt2(home.fd.Get(), name.c_str(), flags);
        const int error = errno;
        file.Reset(fd);
        if (!file.Valid()) {
            if (error == ELOOP)
                return HomeOpen::Escapes;
            if (!WalkDecides(error))
                return notFound;
            walk = true;
        }
    }
    if (walk) {
        HomeTarget target;
        switch (LookUp(home, relativeName, HomeCalls::Portable, target)) {
        case HomeLookup::Escapes:
            return HomeOpen::Escapes;
        case HomeLookup::NotFound:
            return notFound;
        case HomeLookup::Found:
            break;
        }
        // O_NOFOLLOW: a link put in its place since the lookup is refused.
        const int fd = openat(target.folder.Get(), target.name.c_str(), flags | O_NOFOLLOW);
        const int error = errno;
        file.Reset(fd);
        if (!file.Valid())
            return error == ELOOP ? HomeOpen::Escapes : notFound;
    }
    struct stat info = {};
    const int status = fcntl(file.Get(), F_GETFL);
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
        fcntl(file.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        file.Reset();
        return notFound;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return HomeOpen::Opened;
}

}  // namespace vindle::platform
