// Windows side of the lookups beneath a home. Windows opens by name only, so
// the walk holds every folder on the way open without sharing deletion (no
// one can rename or replace it meanwhile), opens each component with
// FILE_FLAG_OPEN_REPARSE_POINT and refuses every reparse point (symbolic
// links, junctions, mount points) instead of following it, and compares the
// final path of what it opened with the home's. Names Windows would read as
// devices, streams or other roots are refused before any open.
#include "platform/home_files.h"

#include <cwctype>
#include <vector>

#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/text.h"
#include "platform/windows_names.h"

namespace vindle::platform {

namespace {

constexpr DWORD SHARE_NO_DELETE = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::vector<std::wstring> Split(std::string_view path)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.push_back(win32::Utf16(part));
        start = end + 1;
    }
    return parts;
}

std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(1024, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= path.size()) {
        path.resize(n + 1);
        n = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (n == 0 || n >= path.size())
        return {};
    path.resize(n);
    for (wchar_t& c : path)
        c = static_cast<wchar_t>(std::towlower(c));
    return path;
}

// Opens `path` itself (a reparse point is opened, not followed).
HANDLE OpenItem(const std::wstring& path, DWORD access, DWORD share)
{
    return ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

struct Walk
{
    std::wstring homeFinal;            // the home's final path, lower case
    std::vector<UniqueFd> held;        // the home and the folders below it
    std::wstring folderPath;           // full path of the innermost folder
};

bool Beneath(const Walk& walk, HANDLE handle)
{
    const std::wstring path = FinalPath(handle);
    return path.size() > walk.homeFinal.size() && path.compare(0, walk.homeFinal.size(), walk.homeFinal) == 0 &&
           (path[walk.homeFinal.size()] == L'\\' || walk.homeFinal.back() == L'\\');
}

HomeLookup OpenHome(std::string_view localPath, std::string_view relativeName, Walk& walk)
{
    if (!localPath.ends_with(relativeName))
        return HomeLookup::NotFound;
    const std::string_view home = localPath.substr(0, localPath.size() - relativeName.size());
    const std::wstring given = win32::Utf16(home.empty() ? std::string_view(".") : home);
    std::wstring full(32768, L'\0');
    const DWORD n = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size())
        return HomeLookup::NotFound;
    full.resize(n);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    // The home itself may be reached through a link: it is the user's choice.
    UniqueFd folder(win32::FromHandle(::CreateFileW(full.c_str(), FILE_LIST_DIRECTORY, SHARE_NO_DELETE, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    if (!folder.Valid())
        return HomeLookup::NotFound;
    walk.homeFinal = FinalPath(win32::AsHandle(folder.Get()));
    if (walk.homeFinal.empty())
        return HomeLookup::NotFound;
    walk.folderPath = full;
    walk.held.push_back(std::move(folder));
    return HomeLookup::Found;
}

// Looks at the item `name` in the innermost folder: false when it is a
// reparse point or lies elsewhere than beneath the home.
HomeLookup Inspect(const Walk& walk, HANDLE item, BY_HANDLE_FILE_INFORMATION& info)
{
    if (!::GetFileInformationByHandle(item, &info))
        return HomeLookup::NotFound;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !Beneath(walk, item))
        return HomeLookup::Escapes;
    return HomeLookup::Found;
}

HomeLookup LookUp(std::string_view localPath, std::string_view relativeName, Walk& walk, HomeTarget& target)
{
    if (CheckWindowsName(relativeName) != WindowsNameFault::None)
        return HomeLookup::Escapes;
    if (const HomeLookup home = OpenHome(localPath, relativeName, walk); home != HomeLookup::Found)
        return home;
    std::vector<std::wstring> parts = Split(relativeName);
    for (const std::wstring& part : parts)
        if (part == L"..")
            return HomeLookup::Escapes;
    const std::wstring last = parts.empty() ? L"." : parts.back();
    if (!parts.empty())
        parts.pop_back();
    for (const std::wstring& part : parts) {
        const std::wstring path = walk.folderPath + L"\\" + part;
        UniqueFd next(win32::FromHandle(OpenItem(path, FILE_LIST_DIRECTORY, SHARE_NO_DELETE)));
        if (!next.Valid())
            return HomeLookup::NotFound;
        BY_HANDLE_FILE_INFORMATION info{};
        if (const HomeLookup seen = Inspect(walk, win32::AsHandle(next.Get()), info); seen != HomeLookup::Found)
            return seen;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return HomeLookup::NotFound;
        walk.held.push_back(std::move(next));
        walk.folderPath = path;
    }
    target.folder.Reset(walk.held.back().Release());
    target.folderPath = win32::Utf8(walk.folderPath);
    target.name = win32::Utf8(last);
    target.exists = false;
    if (last == L".")
        return HomeLookup::Found;
    const UniqueFd item(win32::FromHandle(
        OpenItem(walk.folderPath + L"\\" + last, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)));
    if (!item.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? HomeLookup::Found : HomeLookup::NotFound;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (const HomeLookup seen = Inspect(walk, win32::AsHandle(item.Get()), info); seen != HomeLookup::Found)
        return seen;
    target.exists = true;
    win32::DescribeHandle(info, target.info);
    return HomeLookup::Found;
}

}  // namespace

HomeLookup LookUpBeneath(std::string_view localPath, std::string_view relativeName, HomeCalls,
                         HomeTarget& target)
{
    Walk walk;
    return LookUp(localPath, relativeName, walk, target);
}

HomeOpen OpenBeneathForReading(std::string_view localPath, std::string_view relativeName, UniqueFd& file,
                               std::uint64_t& size, HomeCalls)
{
    Walk walk;
    HomeTarget target;
    switch (LookUp(localPath, relativeName, walk, target)) {
    case HomeLookup::Escapes:
        return HomeOpen::Escapes;
    case HomeLookup::NotFound:
        return HomeOpen::NotFound;
    case HomeLookup::Found:
        break;
    }
    if (!target.exists || !target.info.regular)
        return HomeOpen::NotFound;
    // Others may go on reading and writing, and replace the file: a reader
    // keeps the data it opened, as on POSIX.
    const std::wstring path = win32::Utf16(target.folderPath) + L"\\" + win32::Utf16(target.name);
    file.Reset(win32::FromHandle(::CreateFileW(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING,
                                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? HomeOpen::Locked
                                                                                 : HomeOpen::NotFound;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (Inspect(walk, win32::AsHandle(file.Get()), info) != HomeLookup::Found ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        file.Reset();
        return HomeOpen::Escapes;
    }
    FileFacts facts;
    win32::DescribeHandle(info, facts);
    size = facts.size;
    return HomeOpen::Opened;
}

}  // namespace vindle::platform
