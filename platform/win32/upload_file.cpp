// Windows side of uploads: a hidden file beside the target, flushed, closed
// and moved over the name with MoveFileExW only when complete.
#include "platform/upload_file.h"

#include <atomic>
#include <cstdio>

#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/text.h"

namespace vindle::platform {

namespace {

constexpr int NAME_ATTEMPTS = 16;

std::string HiddenName()
{
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const unsigned long long random =
        static_cast<unsigned long long>(::GetCurrentProcessId()) << 32 ^
        static_cast<unsigned long long>(now.QuadPart) ^ counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    char name[40];
    std::snprintf(name, sizeof name, ".vindle-upload-%016llx", random);
    return name;
}

std::wstring Join(const std::string& folder, const std::string& name)
{
    return win32::Utf16(folder) + L"\\" + win32::Utf16(name);
}

}  // namespace

std::uint64_t FreeSpace(const HomeTarget& target)
{
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(win32::Utf16(target.folderPath).c_str(), &available, nullptr, nullptr))
        return UINT64_MAX;
    return available.QuadPart;
}

UploadFile::~UploadFile()
{
    if (m_active)
        Discard();
}

bool UploadFile::Create(HomeTarget& target, HomeCalls, UniqueFd& file)
{
    UniqueFd data;
    for (int attempt = 0; !data.Valid() && attempt < NAME_ATTEMPTS; ++attempt) {
        std::string name = HiddenName();
        data.Reset(win32::FromHandle(::CreateFileW(Join(target.folderPath, name).c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                   FILE_ATTRIBUTE_HIDDEN, nullptr)));
        if (data.Valid())
            m_temporary = std::move(name);
        else if (::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!data.Valid())
        return false;
    m_folder.Reset(target.folder.Release());
    m_folderPath = std::move(target.folderPath);
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
    // The name only ever leads to data that is on the disk.
    const bool flushed = ::FlushFileBuffers(win32::AsHandle(file.Get())) != 0;
    // Closed before the move: Windows moves no file that is open without
    // shared deletion.
    (void)file.Close();
    if (!flushed) {
        Discard();
        return Placed::Failed;
    }
    return Publish(-1, replace);
}

bool UploadFile::NameTemporary(int)
{
    return !m_temporary.empty();
}

UploadFile::Placed UploadFile::Publish(int, bool replace)
{
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(Join(m_folderPath, m_temporary).c_str(), Join(m_folderPath, m_name).c_str(), flags)) {
        m_temporary.clear();
        return Placed::Ok;
    }
    const DWORD error = ::GetLastError();
    Discard();
    return !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? Placed::Exists
                                                                                     : Placed::Failed;
}

void UploadFile::Discard()
{
    if (!m_temporary.empty()) {
        (void)::DeleteFileW(Join(m_folderPath, m_temporary).c_str());
        m_temporary.clear();
    }
}

}  // namespace vindle::platform
